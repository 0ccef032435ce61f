/* How two twelve-button pads are wired to the parallel port: a matrix of six select lines (data
 * bits D0..D5) by four input lines (status bits), two input lines per pad. Plain C with no Windows
 * header, so that the scanner and kavit-check (C++), the simulated port driver (C, kernel mode),
 * padsim, the end-to-end harness and the host tests all read this one table, and the simulated
 * driver and the host tests answer for the pads with its one model of them (PadStatus).
 *
 * In each of the six steps of a pass one select line is driven low, the other five high; a
 * pressed button whose select line is low pulls its pad's input line low. Button b (1..6) is read
 * in step b on its pad's first input line, button b + 6 in the same step on the second one. */
#ifndef KAVIT_WIRE_PAD_WIRING_H
#define KAVIT_WIRE_PAD_WIRING_H

#include "wire/lpt_protocol.h"

enum {
    PadCount = 2,
    StepCount = 6,
    LinesPerPad = 2,
    InputLineCount = PadCount * LinesPerPad,
    PadButtonCount = StepCount * LinesPerPad /* buttons 1..12 of each pad */
};

/* D6 and D7 are no select lines: whatever they held when a pass began is written back with every
 * pattern, so that anything else wired there is left alone. */
enum { KeptDataBits = 0xC0 };

/* One pattern per step, exactly one of D0..D5 low. Buttons b and b + 6 of both pads share the
 * select line of step b; data bit Dn is connector pin n + 2. */
static const unsigned char SelectPatterns[StepCount] = {
    /* pattern     line low  pin  buttons */
    0x1F, /*       D5        7    1 and 7 */
    0x2F, /*       D4        6    2 and 8 */
    0x37, /*       D3        5    3 and 9 */
    0x3B, /*       D2        4    4 and 10 */
    0x3D, /*       D1        3    5 and 11 */
    0x3E, /*       D0        2    6 and 12 */
};

/* An input line. All four are active low at the connector, but the port presents Busy inverted:
 * that bit reads 1 while a button pulls its pin low. */
typedef struct TInputLine {
    unsigned char mask;        /* status register bit */
    unsigned char releasedBit; /* the bit's value while no button pulls the line */
    int pad;                   /* 1 or 2 */
    int firstButton;           /* 1 (buttons 1..6) or 7 (buttons 7..12) */
    const char* name;          /* line name at the connector */
    int pin;                   /* connector pin */
} TInputLine;

/* The four lines in the order a step tests them, each named by its test:
 * {mask, the bit's value while released, pad, first button, line, connector pin} */
static const TInputLine InputLines[InputLineCount] = {
    {LPT_STATUS_ACK, LPT_STATUS_ACK, 1, 1, "Acknowledge", 10},           /* Pad1FirstReleased */
    {LPT_STATUS_BUSY, 0, 1, 7, "Busy", 11},                              /* Pad1SecondReleased */
    {LPT_STATUS_PAPER_OUT, LPT_STATUS_PAPER_OUT, 2, 1, "Paper out", 12}, /* Pad2FirstReleased */
    {LPT_STATUS_SELECT, LPT_STATUS_SELECT, 2, 7, "Select", 13},          /* Pad2SecondReleased */
};

/* True when the status register value shows the line released. */
static inline int LineReleasedIn(const TInputLine* line, unsigned char status) {
    return (status & line->mask) == line->releasedBit;
}
#ifdef __cplusplus
inline bool LineReleasedIn(const TInputLine& line, unsigned char status) {
    return LineReleasedIn(&line, status) != 0;
}
#endif

/* The pads' answer to a status read: the status register while the data register holds `data`
 * and the buttons of `held` are held (bit b-1 of held[p-1] for button b of pad p), `idle` being
 * what it reads with no button pulling. A held button pulls its pad's line while its select line
 * is low. */
static inline unsigned char PadStatus(const unsigned short held[PadCount], unsigned char data,
                                      unsigned char idle) {
    unsigned char status = idle;
    int k, step;
    for (k = 0; k < InputLineCount; k++) {
        const TInputLine* line = &InputLines[k];
        for (step = 0; step < StepCount; step++) {
            int button = line->firstButton + step;
            unsigned char selectBit = (unsigned char)(~SelectPatterns[step] & 0x3F);
            if (((held[line->pad - 1] >> (button - 1)) & 1u) && !(data & selectBit))
                status = (unsigned char)((status & ~line->mask) | (line->releasedBit ^ line->mask));
        }
    }
    return status;
}

#endif
