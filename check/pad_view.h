// Reading both pads the way Kavit's scanner drives them, and showing what was read.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "lptio/lptio.h"
#include "scanner/pad_pass.h"
#include "settings/presets.h"

// One pass over the matrix: the status register as last read in each select step, and what each
// button's own read meant.
struct TPadReading {
    BYTE status[StepCount] = {};
    bool held[PadCount][ButtonsPerPad] = {};
};

// One pass of the scanner over both pads, its accesses exactly Kavit's with SecondPlayer=1, each
// button recorded instead of sent. False when the port refused an access.
bool ReadPads(TLptPortConnection& connection, PortCode port, TPadReading& reading);

// Held buttons as "pad:button" pairs, pad 1 first: "1:3 2:12"; empty when none.
std::string HeldList(const TPadReading& reading);

// What the live view shows beside the buttons.
struct TViewSetup {
    PortCode port = 0;
    DWORD interval = 0; // Interval of Kavit.ini; the view's own pace is ViewPeriodMs of it
    const TCodes* preset = nullptr; // the current preset of Kavit.ini; null without one
    // The report's verdicts, "driver: ok, port: LPT1, folder: safe": the view's first line, so
    // that they stay in sight once the report has scrolled away.
    std::string verdicts;
    std::string pace; // PaceLine() of the view's passes so far
};

// The pace the view's own passes keep, which is what this Windows gives Kavit at the same
// Interval: the passes of the last second and the longest gap between two of them.
struct TPaceMeter {
    std::deque<double> passes; // start of each pass, ms on any steady clock
};
void CountPass(TPaceMeter& meter, double ms);
// "pace: 1000/s, longest gap 1.3 ms (Interval=1)"; "pace: measuring" before two passes.
std::string PaceLine(const TPaceMeter& meter, DWORD interval);

// The live view's picture: the same number of lines every time, each padded to one width, so
// that a redraw in place leaves nothing of the previous one; FrameLines() lines of at most 79
// characters, so that it fits an 80 x 25 console.
std::string Frame(const TViewSetup& setup, const TPadReading& reading);
int FrameLines();
