// How two twelve-button pads are wired to the parallel port: a matrix of six select lines (data
// bits D0..D5) by four input lines (status bits), two input lines per pad.
//
// In each of the six steps of a pass one select line is driven low, the other five high; a
// pressed button whose select line is low pulls its pad's input line low. Button b (1..6) is read
// in step b on its pad's first input line, button b + 6 in the same step on the second one.
#pragma once

#include <windows.h>

#include "lptio/lptio.h"

const int PadCount = 2;
const int StepCount = 6;

// D6 and D7 are no select lines: whatever they held when the pass began is written back with
// every pattern, so that anything else wired there is left alone.
const BYTE KeptDataBits = 0xC0;

// One pattern per step, exactly one of D0..D5 low. Buttons b and b + 6 of both pads share the
// select line of step b.
const BYTE SelectPatterns[StepCount] = {
    // pattern     line low  pin  buttons
    0x1F, //       D5        7    1 and 7
    0x2F, //       D4        6    2 and 8
    0x37, //       D3        5    3 and 9
    0x3B, //       D2        4    4 and 10
    0x3D, //       D1        3    5 and 11
    0x3E, //       D0        2    6 and 12
};

// The four input lines. All four are active low at the connector, but the port presents Busy
// inverted: that bit reads 1 while a button pulls its pin low.
struct TInputLine {
    BYTE mask;        // status register bit
    BYTE releasedBit; // the bit's value while no button pulls the line
    int pad;          // 1 or 2
    int firstButton;  // 1 (buttons 1..6) or 7 (buttons 7..12)
    const char* name; // line name at the connector
    int pin;          // connector pin
};

// {mask, value of that bit while released, pad, first button, line, connector pin}
constexpr TInputLine Pad1First = {StatusAck, StatusAck, 1, 1, "Acknowledge", 10};
constexpr TInputLine Pad1Second = {StatusBusy, 0, 1, 7, "Busy", 11};
constexpr TInputLine Pad2First = {StatusPaperOut, StatusPaperOut, 2, 1, "Paper out", 12};
constexpr TInputLine Pad2Second = {StatusSelect, StatusSelect, 2, 7, "Select", 13};

const int InputLineCount = 4;
constexpr TInputLine InputLines[InputLineCount] = {Pad1First, Pad1Second, Pad2First, Pad2Second};

// True when the status register value shows the line released.
inline bool LineReleasedIn(const TInputLine& line, BYTE status) {
    return (status & line.mask) == line.releasedBit;
}
