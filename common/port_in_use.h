// A port that another program holds: the driver refuses every batch that names it with
// ERROR_BUSY until that program lets go of it. Kavit waits for such a port; kavit-check names it.
#pragma once

#include "lptio/lptio.h"

// The first of LPT1, LPT2 and LPT3 that another handle (a running Kavit.exe or kavit-check, say)
// holds; 0 for none. Asks only when the driver's device is open.
PortCode BusyPort(TLptPortConnection& connection);
