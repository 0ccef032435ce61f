// Start-up, message loop and shutdown of the tray program: everything WinMain does.
#pragma once

#include <windows.h>

// Runs the program from its single-instance test to its shutdown and answers the exit code,
// which is 0 on every path. `instance` is the module that holds the icons.
int RunKavit(HINSTANCE instance);
