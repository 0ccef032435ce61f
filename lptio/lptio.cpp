// LPTIO: the port connection, its two transports and the presence test.
#include "lptio/lptio.h"

#include <cstring>
#include <vector>

const char LptDevicePath[] = LPT_USER_PATH;
const char DriverFileName[] = "LPTWDMIO.SYS";

namespace {

// I/O base of each port for the direct transport, by the port an address names: the order
// in which the PC BIOS probes for ports, so LPT1 is the monochrome adapter's 0x3BC, not 0x378.
const WORD IoBaseLpt1 = 0x3BC;
const WORD IoBaseLpt2 = 0x378;
const WORD IoBaseOther = 0x278; // LPT3, and any nibble that names no port

// Patterns written to the data register by the presence test: all lines low, then alternate
// lines, then the other half, so that a stuck or missing line cannot read back all three.
const BYTE ProbePatterns[] = {0x00, 0x55, 0xAA};

// A register that reads all ones or all zeros is what a floating or absent bus gives back.
bool LooksLikeARegister(BYTE value) {
    return value != 0x00 && value != 0xFF;
}

// One batch through the driver, the same buffer in and out. The driver reports a bad batch
// through the last error only, so it is cleared first.
bool DriverBatch(HANDLE device, DWORD code, PortIoPair* pairs, DWORD count) {
    DWORD size = count * static_cast<DWORD>(sizeof(PortIoPair));
    DWORD returned = 0;
    SetLastError(0);
    DeviceIoControl(device, code, pairs, size, pairs, size, &returned, nullptr);
    return GetLastError() == 0;
}

} // namespace

HANDLE OpenLptDevice() {
    return CreateFileA(LptDevicePath, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool CountOpenHandles(HANDLE device, DWORD& count) {
    DWORD answer = 0, returned = 0;
    if (!DeviceIoControl(device, IoctlOpenHandles, nullptr, 0, &answer, sizeof answer, &returned,
                         nullptr) ||
        returned != sizeof answer || answer == 0)
        return false;
    count = answer;
    return true;
}

bool LptDeviceGone(DWORD lastError) {
    switch (lastError) {
    case ERROR_FILE_NOT_FOUND: // the port is not there any more (STATUS_NO_SUCH_DEVICE)
    case ERROR_ACCESS_DENIED:  // the device is being deleted: its driver was stopped under us
                               // (STATUS_DELETE_PENDING; Wine unloads the driver at once)
    case ERROR_INVALID_HANDLE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

WORD DirectIoAddress(RegisterAddress address) {
    WORD base;
    switch (LPT_ADDRESS_PORT(address)) {
    case 1:
        base = IoBaseLpt1;
        break;
    case 2:
        base = IoBaseLpt2;
        break;
    default:
        base = IoBaseOther;
        break;
    }
    // Bit 3 is not part of the offset: a port has eight addresses at most.
    return static_cast<WORD>(base + LPT_ADDRESS_REGISTER(address));
}

namespace {

// The longest name the program opens beside itself through the ANSI file functions
// ("Kavit.ini"): every such path must stay within what they take. The driver's path only goes to
// the service manager, which has no such limit.
const size_t LongestNameBeside = 9;

// Everything up to the last separator; a drive colon ends a directory too ("C:Kavit.exe").
std::string DirectoryPart(const char* path, size_t length) {
    size_t end = 0;
    for (size_t i = 0; i < length; ++i)
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            end = i + 1;
    return std::string(path, end);
}

bool FitsBeside(const std::string& directory) {
    return directory.size() + LongestNameBeside < MAX_PATH;
}

// The program's path read in full as Windows keeps it, shortened to its 8.3 form and then
// converted to the ANSI code page without any best-fit stand-ins; empty when a character has no
// ANSI form (8.3 names switched off, or a short name that is not plain either) or the result is
// still too long.
std::string ShortProgramDirectory() {
    const DWORD WidestPath = 32768; // the longest path Windows has, in characters
    std::vector<WCHAR> wide(WidestPath), shortened(WidestPath);
    DWORD length = GetModuleFileNameW(nullptr, wide.data(), WidestPath);
    if (length == 0 || length >= WidestPath)
        return std::string();
    length = GetShortPathNameW(wide.data(), shortened.data(), WidestPath);
    if (length == 0 || length >= WidestPath)
        return std::string();
    char ansi[MAX_PATH];
    BOOL substituted = FALSE;
    int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortened.data(),
                            static_cast<int>(length), ansi, MAX_PATH, nullptr, &substituted);
    if (bytes <= 0 || substituted)
        return std::string();
    std::string directory = DirectoryPart(ansi, static_cast<size_t>(bytes));
    return FitsBeside(directory) ? directory : std::string();
}

} // namespace

std::string ProgramDirectory(std::string* problem) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A path that fills the buffer was cut off (Windows XP does not even end it with a zero).
    bool cutOff = length == 0 || length >= MAX_PATH;
    std::string directory = DirectoryPart(path, cutOff ? 0 : length);
    // No file name holds a '?': it is what the ANSI functions put for a character that the code
    // page lacks, so such a folder name leads nowhere.
    bool plain = directory.find('?') == std::string::npos;
    if (!cutOff && plain && FitsBeside(directory))
        return directory;
    directory = ShortProgramDirectory();
    if (directory.empty() && problem) {
        std::string shown = length == 0 ? std::string()
                            : cutOff    ? std::string(path, MAX_PATH - 1) + "..."
                                        : std::string(path, length);
        *problem = "Kavit cannot use the folder it was started from:\n" + shown + "\n\n" +
                   (plain ? "Its path is too long for Kavit."
                          : "Its name has characters outside the character set that Windows "
                            "gives Kavit, and Windows has no short (8.3) name for it.") +
                   " Move the Kavit folder to one with a short, plain name, such as " +
                   SafeFolderExample + ".";
    }
    return directory;
}

TLptPortConnection::TLptPortConnection()
    : deviceHandle(INVALID_HANDLE_VALUE), isNT(false), serviceInstalled(false),
      advapiModule(nullptr), driverPath(), serviceArgs(nullptr), OpenSCManagerA(nullptr),
      CloseServiceHandle(nullptr), CreateServiceA(nullptr), StartServiceA(nullptr),
      OpenServiceA(nullptr), DeleteService(nullptr), ControlService(nullptr),
      ChangeServiceConfigA(nullptr), lpt1Present(false), lpt2Present(false), lpt3Present(false),
      serviceStartError(0), serviceConfigError(0), driverPlace(), runningPlace(),
      runPairsRefused(false) {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // Should the query ever fail, count the system as NT: guessing wrong the other way would run
    // privileged port instructions there, which ends the process.
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    GetVersionExA(&version);
    isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;

    deviceHandle = OpenLptDevice();
    if (deviceHandle == INVALID_HANDLE_VALUE && isNT) {
        InstallDriverService();
        deviceHandle = OpenLptDevice();
    } else if (isNT) {
        TakeOverLeftover();
    }

    if (IsOpen()) {
        lpt1Present = PortPresent(PortLpt1);
        lpt2Present = PortPresent(PortLpt2);
        lpt3Present = PortPresent(PortLpt3);
    }
}

TLptPortConnection::~TLptPortConnection() {
    RemoveDriverService(LastOneOut());
}

// Whether the service goes: the last one out removes the driver, whoever installed it; while
// another program holds the device, its service stays. A driver that cannot count goes only if
// this run installed it. Closes the device first, so that nothing of ours holds the driver when
// its service goes.
bool TLptPortConnection::LastOneOut() {
    bool remove = serviceInstalled, counted = false;
    DWORD count = 0;
    if (deviceHandle != INVALID_HANDLE_VALUE) {
        counted = isNT && CountOpenHandles(deviceHandle, count);
        CloseHandle(deviceHandle);
        deviceHandle = INVALID_HANDLE_VALUE;
    }
    // Our handle never opened, or no longer answers (its driver was stopped under it): another
    // program may have loaded the driver since, and only a fresh handle can ask it.
    if (!counted && serviceInstalled) {
        HANDLE fresh = OpenLptDevice();
        if (fresh != INVALID_HANDLE_VALUE) {
            counted = CountOpenHandles(fresh, count);
            CloseHandle(fresh);
        }
    }
    if (counted)
        remove = count == 1;
    return remove && runningPlace.verdict != PlaceUnsafe;
}

bool TLptPortConnection::IsOpen() const {
    return !(deviceHandle == INVALID_HANDLE_VALUE && isNT);
}

bool TLptPortConnection::ReadPorts(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE)
        return DriverBatch(deviceHandle, IoctlReadPorts, pairs, count);
    for (DWORD i = 0; i < count; ++i)
        pairs[i].value = PortIn(DirectIoAddress(pairs[i].address));
    return true;
}

bool TLptPortConnection::WritePorts(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE)
        return DriverBatch(deviceHandle, IoctlWritePorts, pairs, count);
    for (DWORD i = 0; i < count; ++i)
        PortOut(DirectIoAddress(pairs[i].address), pairs[i].value);
    return true;
}

bool TLptPortConnection::RunPairs(PortIoPair* pairs, DWORD count) {
    if (count == 0 || pairs == nullptr || !IsOpen())
        return false;
    if (deviceHandle != INVALID_HANDLE_VALUE && !runPairsRefused) {
        if (DriverBatch(deviceHandle, IoctlRunPairs, pairs, count))
            return true;
        if (GetLastError() != ERROR_INVALID_FUNCTION)
            return false;
        runPairsRefused = true;
    }
    for (DWORD i = 0; i < count; ++i) {
        bool read = (pairs[i].address & PairRead) != 0;
        PortIoPair single = {static_cast<RegisterAddress>(pairs[i].address & ~PairRead),
                             pairs[i].value};
        if (!(read ? ReadPorts(&single, 1) : WritePorts(&single, 1)))
            return false;
        pairs[i].value = single.value;
    }
    return true;
}

BYTE TLptPortConnection::ReadPort(PortCode code, BYTE reg) {
    PortIoPair pair = {static_cast<RegisterAddress>(code | reg), 0};
    ReadPorts(&pair, 1);
    return pair.value;
}

bool TLptPortConnection::WritePort(PortCode code, BYTE reg, BYTE value) {
    PortIoPair pair = {static_cast<RegisterAddress>(code | reg), value};
    return WritePorts(&pair, 1);
}

bool TLptPortConnection::PortPresent(PortCode code) {
    BYTE saved = ReadPort(code, RegData);
    bool ok = true;
    for (BYTE pattern : ProbePatterns) {
        WritePort(code, RegData, pattern);
        if (ok)
            ok = ReadPort(code, RegData) == pattern;
    }
    WritePort(code, RegData, saved);
    if (ok)
        return true;
    // A port in input (bidirectional) mode does not read back its data lines; its control and
    // status registers still show that something is there.
    if (LooksLikeARegister(ReadPort(code, RegControl)))
        return true;
    return LooksLikeARegister(ReadPort(code, RegStatus));
}

// ---- driver service --------------------------------------------------------------------------

namespace {

const char AdvapiLibrary[] = "ADVAPI32.DLL";
const char ServiceName[] = "lptwdmio";
const char ServiceDisplayName[] = "LPT port direct access service";

} // namespace

// Loads ADVAPI32.DLL once and resolves the service-manager entry points; false when this system
// lacks any of them (Windows 95 has the DLL but no service manager). The library stays loaded
// until destruction frees it.
bool TLptPortConnection::LoadServiceManager() {
    if (!advapiModule) {
        advapiModule = LoadLibraryA(AdvapiLibrary);
        if (!advapiModule)
            return false;
        OpenSCManagerA = EntryPoint<TOpenSCManagerA>(advapiModule, "OpenSCManagerA");
        CloseServiceHandle = EntryPoint<TCloseServiceHandle>(advapiModule, "CloseServiceHandle");
        CreateServiceA = EntryPoint<TCreateServiceA>(advapiModule, "CreateServiceA");
        StartServiceA = EntryPoint<TStartServiceA>(advapiModule, "StartServiceA");
        OpenServiceA = EntryPoint<TOpenServiceA>(advapiModule, "OpenServiceA");
        DeleteService = EntryPoint<TDeleteService>(advapiModule, "DeleteService");
        ControlService = EntryPoint<TControlService>(advapiModule, "ControlService");
        ChangeServiceConfigA =
            EntryPoint<TChangeServiceConfigA>(advapiModule, "ChangeServiceConfigA");
    }
    return OpenSCManagerA && CloseServiceHandle && CreateServiceA && StartServiceA &&
           OpenServiceA && DeleteService && ControlService && ChangeServiceConfigA;
}

// A service left behind may point at a file that is gone, elsewhere or another version, and may
// be disabled: it is set to load our file on demand. False, with the reason kept, when the
// service manager refuses; the service must then not be started.
bool TLptPortConnection::PointServiceAtOurDriver(SC_HANDLE service) {
    if (ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, driverPath.c_str(), nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr))
        return true;
    serviceConfigError = GetLastError();
    return false;
}

// Asks a driver service to stop; whether it did shows in what comes next.
void TLptPortConnection::StopService(SC_HANDLE service) {
    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    ControlService(service, SERVICE_CONTROL_STOP, &status);
}

// A failed start (a missing driver file, a driver already running) does not stop anything: the
// next opening of the device tells whether the driver is there. Its reason is kept for whoever
// wants to tell the user.
void TLptPortConnection::RequestStart(SC_HANDLE service) {
    serviceArgs = nullptr;
    if (!StartServiceA(service, 0, &serviceArgs))
        serviceStartError = GetLastError();
    serviceInstalled = true;
}

void TLptPortConnection::InstallDriverService() {
    if (!LoadServiceManager())
        return;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    // Held from before the folder rule until the start has returned: what loads is what was
    // judged.
    TPinnedDriver pinned = PinDriver(ProgramDirectory());
    driverPath = pinned.path;
    driverPlace = pinned.place;
    if (driverPlace.verdict == PlaceUnsafe) {
        CloseServiceHandle(manager);
        return;
    }
    SC_HANDLE service =
        CreateServiceA(manager, ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       driverPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    bool startable = true;
    // Left behind by an earlier run that did not end cleanly: take it over.
    if (!service) {
        service = OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
        if (service)
            startable = PointServiceAtOurDriver(service);
    }
    if (service) {
        if (startable)
            RequestStart(service);
        CloseServiceHandle(service);
    }
    UnpinDriver(pinned);
    CloseServiceHandle(manager);
}

namespace {

// A driver service's path as the file functions take it: the service manager keeps
// "\??\C:\Kavit\LPTWDMIO.SYS" for "C:\Kavit\LPTWDMIO.SYS".
std::string NoNtPrefix(const std::string& path) {
    return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

} // namespace

// The device opened at once: a driver runs already, loaded from the file its service names,
// which is judged by the folder rule. From a place others can change, the driver is used but its
// service is never touched. Otherwise, when nobody else holds the device, it was left behind by a
// run that did not end cleanly: this run takes over its removal, and a service that loads another
// file than ours is stopped, pointed at ours and started again, when ours passes the rule too.
void TLptPortConnection::TakeOverLeftover() {
    DWORD count = 0;
    if (!CountOpenHandles(deviceHandle, count) || !LoadServiceManager())
        return;
    TQueryServiceConfigA queryServiceConfigA =
        EntryPoint<TQueryServiceConfigA>(advapiModule, "QueryServiceConfigA");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    SC_HANDLE service = OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        // 8 KB is the most a service's configuration can take.
        std::vector<BYTE> buffer(8192);
        auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
        DWORD needed = 0;
        std::string running;
        if (queryServiceConfigA &&
            queryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed) &&
            config->lpBinaryPathName)
            running = NoNtPrefix(config->lpBinaryPathName);
        // A service naming a file that is not there (a copy moved away, say) loads nothing from
        // that place again: there is nothing to judge, and it is pointed at ours like any other.
        SetLastError(0);
        DWORD error =
            GetFileAttributesA(running.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        if (running.empty()) {
            runningPlace.verdict = PlaceUnsafe;
            runningPlace.reason = "the service lptwdmio does not tell which file it loads";
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            runningPlace = JudgeDriverPath(running);
        }
        std::string ours = ProgramDirectory() + DriverFileName;
        if (runningPlace.verdict == PlaceSafe && count == 1) {
            serviceInstalled = true;
            driverPath = ours;
            // Repointing at the file it already loads costs a restart of the driver, no more.
            if (!SamePath(running, ours))
                Repoint(service);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// Points a running service at our file, held from its check until the start has returned;
// nothing changes when our place fails the rule.
void TLptPortConnection::Repoint(SC_HANDLE service) {
    TPinnedDriver pinned = PinDriver(ProgramDirectory());
    if (pinned.place.verdict == PlaceSafe) {
        driverPath = pinned.path;
        // Our handle would keep the old driver loaded: it goes before the stop.
        CloseHandle(deviceHandle);
        deviceHandle = INVALID_HANDLE_VALUE;
        StopService(service);
        if (PointServiceAtOurDriver(service))
            RequestStart(service);
        deviceHandle = OpenLptDevice();
    }
    UnpinDriver(pinned);
}

void TLptPortConnection::RemoveDriverService(bool remove) {
    if (remove && isNT && LoadServiceManager()) {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager) {
            SC_HANDLE service = OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
            if (service) {
                // Deleting alone leaves a loaded driver, and with it the service, registered but
                // marked for deletion, until Windows restarts. Stopped, the driver unloads and
                // the deletion is done at once. Neither answer changes what comes next.
                StopService(service);
                DeleteService(service);
                CloseServiceHandle(service);
            }
            CloseServiceHandle(manager);
        }
    }
    serviceInstalled = false;
    // Also when the installation stopped half way: the library is never left loaded.
    if (advapiModule) {
        FreeLibrary(advapiModule);
        advapiModule = nullptr;
    }
}
