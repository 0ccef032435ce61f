// LPTIO: byte access to the registers of the PC parallel ports LPT1..LPT3.
//
// Two transports, settled once when the connection is built:
//   driver  - the port-access kernel driver, device \\.\LptAccessAgent, fed batches of
//             register reads and writes through DeviceIoControl;
//   direct  - x86 in/out instructions, only outside the NT family and only without the device.
// On NT the driver is loaded as a service, which the connection leaves to lptio/driver_service.h:
// readied before the connection is built, ended after its device is closed.
// The connection shows nothing and raises nothing: every failure is told by a result.
#pragma once

#include <windows.h>

#include "wire/lpt_protocol.h"

// A port is named by its high nibble.
typedef BYTE PortCode;
const PortCode PortLpt1 = LPT_PORT_LPT1;
const PortCode PortLpt2 = LPT_PORT_LPT2;
const PortCode PortLpt3 = LPT_PORT_LPT3;

// Register offsets within a port.
const BYTE RegData = LPT_REG_DATA;       // data register, D0..D7 on pins 2..9
const BYTE RegStatus = LPT_REG_STATUS;   // status register, input lines
const BYTE RegControl = LPT_REG_CONTROL; // control register

// A register is named by PortCode OR offset: 0x10 is LPT1 data, 0x21 LPT2 status.
typedef BYTE RegisterAddress;

// Driver control codes.
const DWORD IoctlReadPorts = LPT_IOCTL_READ_PORTS;     // fill each pair's value from its register
const DWORD IoctlWritePorts = LPT_IOCTL_WRITE_PORTS;   // write each pair's value to its register
const DWORD IoctlOpenHandles = LPT_IOCTL_OPEN_HANDLES; // how many handles to the device are open
const DWORD IoctlRunPairs = LPT_IOCTL_RUN_PAIRS;       // each pair read or written, in order
const BYTE PairRead = LPT_PAIR_READ;                   // in RunPairs: this pair reads its register

extern const char LptDevicePath[]; // "\\.\LptAccessAgent"

// Whether this Windows is of the NT family, where the ports are reached only through the driver.
bool NtFamily();

// Opens the driver's device for batches; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenLptDevice();
// Asks the driver how many handles to its device are open, `device` included. False when the
// driver does not answer (one older than the question, or another driver of the same name).
bool CountOpenHandles(HANDLE device, DWORD& count);

// Whether the last error of a batch that failed says the device will not answer again through
// this handle, rather than that the port is busy for a moment (ERROR_BUSY while printing).
bool LptDeviceGone(DWORD lastError);

// An entry point of a library looked up at run time, as its real type. GetProcAddress hands out
// a generic function pointer; going through void(*)() converts it without a function-cast
// warning.
template <typename F> F EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// One register access in a batch; a batch is a packed array of pairs, 2 bytes each.
struct PortIoPair {
    RegisterAddress address;
    BYTE value;
};
static_assert(sizeof(PortIoPair) == LPT_PAIR_SIZE, "the driver expects packed two-byte pairs");

class TLptPortConnection {
  public:
    TLptPortConnection();
    virtual ~TLptPortConnection();
    TLptPortConnection(const TLptPortConnection&) = delete;
    TLptPortConnection& operator=(const TLptPortConnection&) = delete;

    bool IsOpen() const;
    bool ReadPorts(PortIoPair* pairs, DWORD count);
    bool WritePorts(PortIoPair* pairs, DWORD count);
    // The pairs in order, each a read (its address OR PairRead) or a write, in one device call.
    // A driver that does not know the code gets them one call each, from then on.
    bool RunPairs(PortIoPair* pairs, DWORD count);
    BYTE ReadPort(PortCode code, BYTE reg);
    bool WritePort(PortCode code, BYTE reg, BYTE value);
    bool PortPresent(PortCode code);

    static BYTE PortIn(WORD address);
    static void PortOut(WORD address, BYTE value);

    // Closes the driver's device and answers how many handles to it were open just before, this
    // one included (what the driver service's last one out goes by); 0 when the driver did not
    // tell or no device was open. Batches fail from then on on NT.
    DWORD CloseDevice();

    // Fields, in this order; public so that callers and tests can see the settled state.
    HANDLE deviceHandle;
    bool isNT;
    bool lpt1Present;
    bool lpt2Present;
    bool lpt3Present;
    // The driver answered RunPairs "invalid function": it is older than that code.
    bool runPairsRefused;
};

// I/O address used by the direct transport for a register address.
WORD DirectIoAddress(RegisterAddress address);
