// One pass over the pad matrix, as Kavit reads the pads: the scanner turns what it reads into key
// events, kavit-check shows it. Both reach the port through this one pass, so the live view makes
// exactly the register accesses Kavit makes, in the same order.
#pragma once

#include <windows.h>

#include "lptio/lptio.h"
#include "wire/pad_wiring.h"

// One button as the pass read it.
struct TButtonRead {
    int step;      // 1..6
    int pad;       // 1 or 2
    int button;    // 1..12
    bool released; // by the test of its input line
    BYTE status;   // the status register as read for this test
};

// Takes the buttons one by one, in the order the pass read them. False ends the pass there.
typedef bool (*TButtonSink)(void* context, const TButtonRead& read);

// How a pass ended: every button handed over, a register access failed (GetLastError() tells
// why), or the sink stopped it.
enum TPassOutcome { PassDone, PassPortFailed, PassStopped };

// Reads the data register once; then for each step writes its select pattern, D6 and D7 as read,
// and tests the input lines of pads 1..`pads` in table order with one status read each. The data
// read is one device call and the six steps are one more (RunPairs); only then is every button
// handed to `sink`, in the order it was read. The data register is left on the last pattern.
TPassOutcome PadPass(TLptPortConnection& connection, PortCode port, int pads, TButtonSink sink,
                     void* context);
