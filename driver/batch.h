/* Register batches of LPTWDMIO.SYS: what a caller may ask for, checked before any register is
 * touched. Plain C with no Windows header, so that the host tests compile the very same rules.
 * The batch format and its limits are lpt_protocol.h's. */
#ifndef KAVIT_DRIVER_BATCH_H
#define KAVIT_DRIVER_BATCH_H

#include <stdint.h>

#include "lpt_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Control register                bit   line / role
 *   nStrobe, nAutoFeed, nInit,    0-3   output lines on pins 1, 14, 16, 17
 *   nSelectIn
 *   IRQ enable                    4     the port's interrupt: the owner's business, kept
 *   direction                     5     data lines as inputs: kept, or the data pins float
 *   (unused)                      6-7 */
#define LPT_CONTROL_LINES 0x0F

typedef enum TBatchVerdict {
    BatchOk = 0,
    BatchOddLength,     /* input length is not a whole number of pairs */
    BatchEmpty,         /* no pair */
    BatchTooLong,       /* more than LPT_BATCH_MAX_PAIRS pairs */
    BatchOutputShort,   /* output buffer shorter than the input */
    BatchNoSuchPort,    /* a pair names a port other than a found LPT1..LPT3 */
    BatchNoSuchRegister /* a pair names an offset past the control register */
} TBatchVerdict;

/* foundPorts: bit n-1 set when LPTn is there to be reached. `pairs` is read only when the
 * lengths are right. */
TBatchVerdict CheckBatch(const uint8_t* pairs, uint32_t inLength, uint32_t outLength,
                         uint32_t foundPorts);

/* Port index 0..2 and register offset of a checked register address. */
static inline uint32_t BatchPortIndex(uint8_t address) {
    return (uint32_t)(address >> LPT_PORT_SHIFT) - 1;
}
static inline uint32_t BatchRegister(uint8_t address) {
    return address & 0x0Fu;
}

/* The byte to put into the control register when a caller asks for `requested`: only the four
 * output lines follow the request, the rest stays as `current` has it. */
uint8_t ControlRegisterValue(uint8_t current, uint8_t requested);

#ifdef __cplusplus
}
#endif

#endif
