// Reads the simulated driver's access log as the pads see the port: cuts the program's traffic
// into scan passes, checks each has the matrix scan's shape and tells which buttons it found
// pressed, so that the key events the program owed are known exactly, whatever the timing.
#pragma once

#include <string>
#include <vector>

#include "e2e/common/sim_client.h"

struct TPass {
    size_t first = 0;                     // log index of its data-register read
    UCHAR keep = 0;                       // D6/D7 as read at its start
    int calls = 0;                        // device calls that carried its accesses
    ULONGLONG startTime = 0, endTime = 0; // driver clock
    // pressed[pad][button - 1] as this pass read it; pad 2 only when it was scanned.
    bool pressed[2][12] = {};
};

struct TScanLog {
    std::vector<TPass> passes; // complete passes only, in order
    std::string error;         // first access that breaks the pass shape, "" when none
};

// `port` is the port code (0x10, 0x20, 0x30); `twoPads` whether pad 2 is scanned.
TScanLog AnalyzeScan(const std::vector<TSimLogEntry>& log, UCHAR port, bool twoPads);

struct TButtonEvent {
    int pad = 0, button = 0;
    bool down = false;
};

// The events the program owes for what its passes read, all buttons up before the first pass.
std::vector<TButtonEvent> OwedEvents(const TScanLog& scan, bool repeat);

// Ports in the order the log's accesses reach them, runs of one port counted once:
// "1 2 3 1" for presence tests of LPT1, LPT2, LPT3, then LPT1 again.
std::string PortSequence(const std::vector<TSimLogEntry>& log, size_t end);

std::string DescribeAccess(const TSimLogEntry& entry);
