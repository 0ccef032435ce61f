#pragma once
// The service-manager types and constants live in the stand-in's windows.h.
#include <windows.h>
