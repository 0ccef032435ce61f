/* The simulated build of LPTWDMIO.SYS: what its users share with it.
 *
 * That build answers the protocol's codes (wire/lpt_protocol.h) from registers kept in memory, and
 * a handful of private codes with which a test or the pad simulator presses pad buttons, plugs
 * ports in and out, injects failures and reads back what was done. The build that ships answers
 * none of the private codes.
 *
 * Included by the kernel-mode driver (C, <ntddk.h>) and by user-mode programs (<windows.h>), so it
 * uses only the types both share. */
#ifndef KAVIT_DRIVER_SIMPORT_H
#define KAVIT_DRIVER_SIMPORT_H

#include "wire/lpt_protocol.h"

/* Private control codes, beside the protocol's (wire/lpt_protocol.h), same type, method and access.
 *                                   function   input                 output */
#define SIM_IOCTL_SET_BUTTONS LPT_CONTROL_CODE(0x800) /* TSimButtons           nothing */
#define SIM_IOCTL_SET_PORTS LPT_CONTROL_CODE(0x801)   /* ULONG port mask       nothing */
#define SIM_IOCTL_RESET LPT_CONTROL_CODE(0x802)       /* nothing               nothing */
#define SIM_IOCTL_GET_STATE LPT_CONTROL_CODE(0x803)   /* nothing               TSimState */
#define SIM_IOCTL_READ_LOG                                                                         \
    LPT_CONTROL_CODE(0x804) /* ULONG first index     TSimLogHeader + entries */
#define SIM_IOCTL_SET_FAULTS LPT_CONTROL_CODE(0x805) /* ULONG fault mask      nothing */
#define SIM_IOCTL_CLEAR_LOG LPT_CONTROL_CODE(0x806)  /* nothing               nothing */
#define SIM_IOCTL_PRINT LPT_CONTROL_CODE(0x807)      /* ULONG port mask       nothing */
#define SIM_IOCTL_PRINT_DONE LPT_CONTROL_CODE(0x808) /* ULONG port mask       nothing */

/* Sharing a port, as parport does. The handle that sends a private code is the test bench: its
 * batches reach the registers like a probe on the wires and hold no port. Every other handle
 * takes a port at its first batch that names it and holds it until its cleanup; a batch naming a
 * port that another handle or a print job holds fails whole with ERROR_BUSY. SIM_IOCTL_PRINT
 * starts a print job on each port of the mask: it takes a free port at once and waits for a held
 * one, which it gets when the holder's next batch does not name that port, or at its cleanup.
 * SIM_IOCTL_PRINT_DONE ends the print jobs of the mask. */

/* Port mask bits (SIM_IOCTL_SET_PORTS, TSimState.ports). */
#define SIM_PORT_LPT1 0x1
#define SIM_PORT_LPT2 0x2
#define SIM_PORT_LPT3 0x4
#define SIM_PORTS_DEFAULT SIM_PORT_LPT1 /* after loading and after a reset: a PC with one port */

/* Fault mask bits: while set, every read (write) batch is refused as if the port had gone away. */
#define SIM_FAULT_READS 0x1
#define SIM_FAULT_WRITES 0x2

/* Buttons: bit b-1 stands for button b (1..12) of a pad. The new state of pad p is
 * (old & ~release[p]) | press[p], so one call can press, release, or set a whole pad. */
typedef struct TSimButtons {
    USHORT press[2];
    USHORT release[2];
} TSimButtons;

typedef struct TSimState {
    ULONGLONG frequency; /* ticks per second of TSimLogEntry.time, 0 when there is no clock */
    ULONGLONG loadStamp; /* clock reading when the driver loaded: tells a reloaded driver apart */
    USHORT buttons[2];   /* pressed buttons of pad 1 and pad 2 */
    ULONG ports;         /* present ports, SIM_PORT_* */
    ULONG faults;        /* SIM_FAULT_* */
    ULONG readCalls;     /* read batches received since the last reset or log clear */
    ULONG writeCalls;    /* write batches received */
    ULONG failedCalls;   /* batches refused (bad address, fault injected, bad buffer) */
    ULONG logTotal;      /* accesses logged since the last reset or log clear */
    ULONG openHandles;   /* opens minus closes of the device since the driver loaded */
    UCHAR data[3];       /* data register of LPT1..LPT3 as stored */
    UCHAR control[3];    /* control register of LPT1..LPT3 */
    UCHAR reserved[2];
    ULONG held;       /* ports a handle holds, SIM_PORT_* bits */
    ULONG printing;   /* ports a simulated print job holds */
    ULONG waiting;    /* ports a simulated print job waits for */
    ULONG mixedCalls; /* LPT_IOCTL_RUN_PAIRS batches received */
} TSimState;

/* One register access. A refused batch is logged too, each pair flagged SIM_OP_REFUSED. */
#define SIM_OP_READ 1
#define SIM_OP_WRITE 2
#define SIM_OP_REFUSED 0x80

typedef struct TSimLogEntry {
    ULONGLONG time; /* performance counter at the access */
    ULONG call;     /* 1-based number of the port batch (of any kind) that carried it */
    UCHAR op;       /* SIM_OP_READ or SIM_OP_WRITE, maybe | SIM_OP_REFUSED */
    UCHAR address;  /* register address as sent: port in the high nibble, register below */
    UCHAR value;    /* value written, or value answered */
    UCHAR reserved;
} TSimLogEntry;

/* The driver keeps the last SIM_LOG_CAPACITY accesses. Entry i (0-based since the last clear)
 * is lost once i < logTotal - SIM_LOG_CAPACITY; SIM_IOCTL_READ_LOG then starts at the oldest kept.
 */
#define SIM_LOG_CAPACITY 32768

typedef struct TSimLogHeader {
    ULONG first; /* index of the first entry that follows */
    ULONG count; /* entries that follow */
    ULONG total; /* logTotal at the time of the call */
    ULONG reserved;
} TSimLogHeader;

#endif
