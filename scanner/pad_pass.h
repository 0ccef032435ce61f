// One pass over the pad matrix, as Kavit reads the pads: the scanner turns what it reads into key
// events, kavit-check shows it. Both reach the port through this one pass, so the live view makes
// exactly the register accesses Kavit makes, in the same order.
#pragma once

#include <windows.h>

#include "lptio/lptio.h"
#include "scanner/pad_wiring.h"

// One button as the pass read it.
struct TButtonRead {
    int step;      // 1..6
    int pad;       // 1 or 2
    int button;    // 1..12
    bool released; // by the test of its input line
    BYTE status;   // the status register as read for this test
};

// Takes each button the moment its line was read, before the next status read. False ends the
// pass there.
typedef bool (*TButtonSink)(void* context, const TButtonRead& read);

// Reads the data register once; then for each step writes its select pattern, D6 and D7 as read,
// and tests the input lines of pads 1..`pads` in table order with one status read each, handing
// every button to `sink`. The data register is left on the last pattern. False when an access
// failed or the sink ended the pass; what the sink did before stands.
bool PadPass(TLptPortConnection& connection, PortCode port, int pads, TButtonSink sink,
             void* context);
