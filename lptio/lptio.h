// LPTIO: byte access to the registers of the PC parallel ports LPT1..LPT3.
//
// Two transports, settled once when the connection is built:
//   driver  - the port-access kernel driver, device \\.\LptAccessAgent, fed batches of
//             register reads and writes through DeviceIoControl;
//   direct  - x86 in/out instructions, only outside the NT family and only without the device.
// On NT without the device the connection installs and starts the driver service "lptwdmio"
// from LPTWDMIO.SYS beside the program, unless that path can be changed by others
// (lptio/driver_place.h). A driver already running is judged by the same rule where its service
// loads it from; from a place others can change, its service is never touched. Otherwise the
// driver belongs to whoever uses it last: at destruction the service is stopped and deleted when
// this connection's handle is the only one open (by the driver's own count, asked through a fresh
// handle when this one no longer answers), or, with a driver that cannot count, when this
// connection installed it.
// The connection shows nothing and raises nothing: every failure is told by a result.
#pragma once

#include <windows.h>
#include <winsvc.h> // not pulled in by a lean windows.h

#include <string>

#include "wire/lpt_protocol.h"
#include "lptio/driver_place.h"

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

extern const char LptDevicePath[];  // "\\.\LptAccessAgent"
extern const char DriverFileName[]; // "LPTWDMIO.SYS", beside the program

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

// Service-manager entry points, resolved from ADVAPI32.DLL at run time.
typedef SC_HANDLE(WINAPI* TOpenSCManagerA)(LPCSTR machine, LPCSTR database, DWORD access);
typedef BOOL(WINAPI* TCloseServiceHandle)(SC_HANDLE handle);
typedef SC_HANDLE(WINAPI* TCreateServiceA)(SC_HANDLE manager, LPCSTR name, LPCSTR displayName,
                                           DWORD access, DWORD serviceType, DWORD startType,
                                           DWORD errorControl, LPCSTR binaryPath,
                                           LPCSTR loadOrderGroup, LPDWORD tagId,
                                           LPCSTR dependencies, LPCSTR account, LPCSTR password);
typedef BOOL(WINAPI* TStartServiceA)(SC_HANDLE service, DWORD argCount, LPCSTR* args);
typedef SC_HANDLE(WINAPI* TOpenServiceA)(SC_HANDLE manager, LPCSTR name, DWORD access);
typedef BOOL(WINAPI* TDeleteService)(SC_HANDLE service);
typedef BOOL(WINAPI* TControlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
typedef BOOL(WINAPI* TChangeServiceConfigA)(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                            DWORD errorControl, LPCSTR binaryPath,
                                            LPCSTR loadOrderGroup, LPDWORD tagId,
                                            LPCSTR dependencies, LPCSTR account, LPCSTR password,
                                            LPCSTR displayName);
typedef BOOL(WINAPI* TQueryServiceConfigA)(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config,
                                           DWORD size, LPDWORD needed);

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

    // Fields, in this order; public so that callers and tests can see the settled state.
    HANDLE deviceHandle;
    bool isNT;
    bool serviceInstalled;
    HMODULE advapiModule;
    std::string driverPath;
    LPCSTR serviceArgs;
    TOpenSCManagerA OpenSCManagerA;
    TCloseServiceHandle CloseServiceHandle;
    TCreateServiceA CreateServiceA;
    TStartServiceA StartServiceA;
    TOpenServiceA OpenServiceA;
    TDeleteService DeleteService;
    TControlService ControlService;
    TChangeServiceConfigA ChangeServiceConfigA;
    bool lpt1Present;
    bool lpt2Present;
    bool lpt3Present;
    // GetLastError() right after a StartServiceA that failed; 0 when the start succeeded or was
    // not tried. Only for telling the user why the driver did not load.
    DWORD serviceStartError;
    // GetLastError() right after a ChangeServiceConfigA that failed to point a service left
    // behind at our driver file (the service was then not started); 0 otherwise.
    DWORD serviceConfigError;
    // The folder rule's verdict on the program's folder and driver file, taken before a service
    // was created or started; PlaceSafe when that never came up. PlaceUnsafe means that nothing
    // was loaded from there.
    TDriverPlace driverPlace;
    // The same rule on the file that the service of a driver already running loads; PlaceSafe
    // when there was none to judge. PlaceUnsafe: the driver is used, its service left alone.
    TDriverPlace runningPlace;
    // The driver answered RunPairs "invalid function": it is older than that code.
    bool runPairsRefused;

  private:
    bool LoadServiceManager();
    bool PointServiceAtOurDriver(SC_HANDLE service);
    void StopService(SC_HANDLE service);
    void RequestStart(SC_HANDLE service);
    void InstallDriverService();
    void TakeOverLeftover();
    void Repoint(SC_HANDLE service);
    bool LastOneOut();
    void RemoveDriverService(bool remove);
};

// I/O address used by the direct transport for a register address.
WORD DirectIoAddress(RegisterAddress address);

// Directory of the running program, with its trailing separator, as the ANSI file functions can
// use it: the folder's short (8.3) form when its real name has characters outside the ANSI code
// page or is too long for them. Empty when there is no such form; `problem` then tells the user
// what is wrong and where to move the program.
std::string ProgramDirectory(std::string* problem = nullptr);
