/* What crosses the wire between a program and LPTWDMIO.SYS: the service and the device, the
 * control codes, how a register is named and how long a batch may be. Plain C with no Windows
 * header of its own, so that the driver (C, <ntddk.h>), the port connection and kavit-check (C++,
 * <windows.h>), the pad simulator, the end-to-end harness and the host tests all include this one
 * file.
 *
 * A batch is an array of {register address, value} pairs, two bytes each. The register address
 * carries the port in its high nibble (1 = LPT1 .. 3 = LPT3) and the register in its low nibble
 * (0 data, 1 status, 2 control): 0x10 is LPT1's data register, 0x21 LPT2's status register. The
 * address is built and taken apart only with the LPT_ADDRESS macros below. */
#ifndef KAVIT_WIRE_LPT_PROTOCOL_H
#define KAVIT_WIRE_LPT_PROTOCOL_H

/* The kernel service that loads the driver. */
#define LPT_SERVICE_NAME "lptwdmio"
#define LPT_SERVICE_DISPLAY_NAME "LPT port direct access service"

/* The device: its kernel name, the link the driver makes, and the path a program opens. */
#define LPT_DEVICE_NAME L"\\Device\\LptAccessAgent"
#define LPT_LINK_NAME L"\\DosDevices\\LptAccessAgent"
#define LPT_USER_PATH "\\\\.\\LptAccessAgent"

/* Every code is CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS). Where
 * no Windows header came first (the host tests of the driver's rules), the same value is spelt
 * out: device type 0x22 in the high word, the function two bits up. */
#if defined(CTL_CODE) && defined(FILE_DEVICE_UNKNOWN)
#define LPT_CONTROL_CODE(function)                                                                 \
    CTL_CODE(FILE_DEVICE_UNKNOWN, (function), METHOD_BUFFERED, FILE_ANY_ACCESS)
#else
#define LPT_CONTROL_CODE(function) ((0x22u << 16) | ((function) << 2))
#endif

/* Control codes. The two batch codes are fixed by the programs that use the driver.
 *   code                   value     input    output
 *   LPT_IOCTL_READ_PORTS   0x220050  pairs    the pairs, each value read from its register
 *   LPT_IOCTL_WRITE_PORTS  0x220060  pairs    the pairs as sent, each value written
 *   LPT_IOCTL_OPEN_HANDLES 0x220070  nothing  ULONG: handles to the device open now, the
 *                                             caller's included; touches no register
 *   LPT_IOCTL_RUN_PAIRS    0x220080  pairs    the pairs carried out in order, one trip into
 *                                             the kernel for a whole pad pass: a pair whose
 *                                             address has LPT_PAIR_READ set reads its register
 *                                             into its value, any other writes its value.
 *                                             A driver older than this code answers
 *                                             ERROR_INVALID_FUNCTION. */
#define LPT_IOCTL_READ_PORTS LPT_CONTROL_CODE(0x014)
#define LPT_IOCTL_WRITE_PORTS LPT_CONTROL_CODE(0x018)
#define LPT_IOCTL_OPEN_HANDLES LPT_CONTROL_CODE(0x01C)
#define LPT_IOCTL_RUN_PAIRS LPT_CONTROL_CODE(0x020)

/* In a LPT_IOCTL_RUN_PAIRS batch: the pair reads its register (bit 3 of the address, which names
 * no register: a port has three). */
#define LPT_PAIR_READ 0x08

/* Register addresses. Bit 3 of the low nibble is LPT_PAIR_READ in a LPT_IOCTL_RUN_PAIRS batch;
 * in the other batches it is part of the offset, and offsets 3 to 15 name no register. */
#define LPT_PORT_COUNT 3
#define LPT_PORT_SHIFT 4 /* the port's number sits in the high nibble */
#define LPT_REG_DATA 0
#define LPT_REG_STATUS 1
#define LPT_REG_CONTROL 2
#define LPT_REGISTER_SPAN 3 /* data, status and control: all a standard port decodes */

/* The address of register `reg` of port `port` (1 = LPT1 .. 3 = LPT3). */
#define LPT_ADDRESS(port, reg) ((unsigned char)((port) << LPT_PORT_SHIFT | (reg)))
/* The port number an address names: 1..3, any other value names no port. */
#define LPT_ADDRESS_PORT(address) (0x0Fu & ((unsigned)(address) >> LPT_PORT_SHIFT))
/* The whole low nibble, as a LPT_IOCTL_READ_PORTS or LPT_IOCTL_WRITE_PORTS batch reads it. */
#define LPT_ADDRESS_OFFSET(address) (0x0Fu & (unsigned)(address))
/* The register an address names, LPT_PAIR_READ left out. */
#define LPT_ADDRESS_REGISTER(address) ((0x0Fu & ~LPT_PAIR_READ) & (unsigned)(address))

/* A port by its data register's address, as the program names ports. */
#define LPT_PORT_LPT1 LPT_ADDRESS(1, LPT_REG_DATA)
#define LPT_PORT_LPT2 LPT_ADDRESS(2, LPT_REG_DATA)
#define LPT_PORT_LPT3 LPT_ADDRESS(3, LPT_REG_DATA)

/* Status register bits                 line         connector pin */
#define LPT_STATUS_SELECT 0x10    /* bit 4  Select       13 */
#define LPT_STATUS_PAPER_OUT 0x20 /* bit 5  Paper out    12 */
#define LPT_STATUS_ACK 0x40       /* bit 6  Acknowledge  10 */
#define LPT_STATUS_BUSY 0x80      /* bit 7  Busy         11, read inverted by the port */

/* Batch limits: 1 to 64 pairs, and an output buffer at least as long as the input. A pad pass is
 * 30 pairs at most; the cap keeps a batch short while a spin lock is held. */
#define LPT_PAIR_SIZE 2
#define LPT_BATCH_MAX_PAIRS 64

#endif
