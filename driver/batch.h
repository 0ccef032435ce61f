/* Register batches of LPTWDMIO.SYS: what a caller may ask for, checked before any register is
 * touched. Plain C with no Windows header, so that the host tests compile the very same rules.
 * The batch format and its limits are wire/lpt_protocol.h's. */
#ifndef KAVIT_DRIVER_BATCH_H
#define KAVIT_DRIVER_BATCH_H

#include <stdint.h>

#include "wire/lpt_protocol.h"

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
    BatchOddLength,      /* input length is not a whole number of pairs */
    BatchEmpty,          /* no pair */
    BatchTooLong,        /* more than LPT_BATCH_MAX_PAIRS pairs */
    BatchOutputShort,    /* output buffer shorter than the input */
    BatchNoSuchPort,     /* a pair names a port other than a found LPT1..LPT3 */
    BatchNoSuchRegister, /* a pair names an offset past the control register */
    BatchReadOnly        /* a write names the status register */
} TBatchVerdict;

/* What a batch does with its pairs, by its control code. */
enum {
    BatchReads = 0,  /* LPT_IOCTL_READ_PORTS: every pair reads */
    BatchWrites = 1, /* LPT_IOCTL_WRITE_PORTS: every pair writes */
    BatchMixed = 2   /* LPT_IOCTL_RUN_PAIRS: each pair as its LPT_PAIR_READ bit says */
};

/* foundPorts: bit n-1 set when LPTn is there to be reached; kind: BatchReads, BatchWrites or
 * BatchMixed. `pairs` is read only when the lengths are right. The status register is only ever
 * read: on some chips a write there clears the EPP time-out bit, so a batch that would write it
 * is refused whole. */
TBatchVerdict CheckBatch(const uint8_t* pairs, uint32_t inLength, uint32_t outLength,
                         uint32_t foundPorts, int kind);

/* Whether a checked pair of a batch of `kind` reads its register. */
static inline int PairReads(int kind, uint8_t address) {
    return kind == BatchMixed ? (address & LPT_PAIR_READ) != 0 : kind == BatchReads;
}

/* Port index 0..2 and register offset of a checked register address (a read flag dropped). */
static inline uint32_t BatchPortIndex(uint8_t address) {
    return LPT_ADDRESS_PORT(address) - 1;
}
static inline uint32_t BatchRegister(uint8_t address) {
    return LPT_ADDRESS_REGISTER(address);
}

/* The byte to put into the control register when a caller asks for `requested`: only the four
 * output lines follow the request, bits 4 to 7 come from `kept`, the port's own bits as read once
 * when the port was taken (some chipsets read the control register back wrong, so it is not read
 * again for each write). */
uint8_t ControlRegisterValue(uint8_t kept, uint8_t requested);

/* Who may open the device. The two batch codes need no access right of their own (programs built
 * against the driver send them so), so the open is where rights are asked for: both reading and
 * writing data. */
#define OPEN_RIGHT_READ_DATA 0x0001u  /* FILE_READ_DATA */
#define OPEN_RIGHT_WRITE_DATA 0x0002u /* FILE_WRITE_DATA */
#define OPEN_RIGHT_GENERIC_ALL 0x10000000u
#define OPEN_RIGHT_GENERIC_WRITE 0x40000000u
#define OPEN_RIGHT_GENERIC_READ 0x80000000u

/* hasContext: the create request carried a security context. Windows' I/O manager gives one to
 * every create it sends; Wine's gives none, and does not enforce a handle's rights on control
 * codes either, so there the open is let through (nothing could be judged). desired: the
 * context's DesiredAccess; granted: its access state's PreviouslyGrantedAccess (0 without one),
 * where Windows moves the rights its device access check already granted. Generic rights count
 * as the file rights they map to. */
int OpenRightsSuffice(int hasContext, uint32_t desired, uint32_t granted);

#ifdef __cplusplus
}
#endif

#endif
