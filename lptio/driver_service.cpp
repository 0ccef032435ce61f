// The driver service: installed, taken over and removed through the service manager of
// ADVAPI32.DLL, loaded at run time.
#include "lptio/driver_service.h"

#include <winsvc.h> // not pulled in by a lean windows.h

#include <cstring>
#include <vector>

#include "lptio/lptio.h"

namespace {

const char AdvapiLibrary[] = "ADVAPI32.DLL";
const char ServiceName[] = LPT_SERVICE_NAME;
const char ServiceDisplayName[] = LPT_SERVICE_DISPLAY_NAME;

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

// ADVAPI32.DLL and the entry points resolved from it; null until loaded.
struct TAdvapi {
    HMODULE module = nullptr;
    TOpenSCManagerA OpenSCManagerA = nullptr;
    TCloseServiceHandle CloseServiceHandle = nullptr;
    TCreateServiceA CreateServiceA = nullptr;
    TStartServiceA StartServiceA = nullptr;
    TOpenServiceA OpenServiceA = nullptr;
    TDeleteService DeleteService = nullptr;
    TControlService ControlService = nullptr;
    TChangeServiceConfigA ChangeServiceConfigA = nullptr;
};

TAdvapi advapi;
TDriverService state;
// Always null: its address is the empty argument list of a start.
LPCSTR serviceArgs = nullptr;

// Loads ADVAPI32.DLL once and resolves the service-manager entry points; false when this system
// lacks any of them (Windows 95 has the DLL but no service manager). The library stays loaded
// until EndDriverService frees it.
bool LoadServiceManager() {
    if (!advapi.module) {
        advapi.module = LoadLibraryA(AdvapiLibrary);
        if (!advapi.module)
            return false;
        HMODULE m = advapi.module;
        advapi.OpenSCManagerA = EntryPoint<TOpenSCManagerA>(m, "OpenSCManagerA");
        advapi.CloseServiceHandle = EntryPoint<TCloseServiceHandle>(m, "CloseServiceHandle");
        advapi.CreateServiceA = EntryPoint<TCreateServiceA>(m, "CreateServiceA");
        advapi.StartServiceA = EntryPoint<TStartServiceA>(m, "StartServiceA");
        advapi.OpenServiceA = EntryPoint<TOpenServiceA>(m, "OpenServiceA");
        advapi.DeleteService = EntryPoint<TDeleteService>(m, "DeleteService");
        advapi.ControlService = EntryPoint<TControlService>(m, "ControlService");
        advapi.ChangeServiceConfigA = EntryPoint<TChangeServiceConfigA>(m, "ChangeServiceConfigA");
    }
    return advapi.OpenSCManagerA && advapi.CloseServiceHandle && advapi.CreateServiceA &&
           advapi.StartServiceA && advapi.OpenServiceA && advapi.DeleteService &&
           advapi.ControlService && advapi.ChangeServiceConfigA;
}

// A service left behind may point at a file that is gone, elsewhere or another version, and may
// be disabled: it is set to load our file on demand. False, with the reason kept, when the
// service manager refuses; the service must then not be started.
bool PointServiceAtOurDriver(SC_HANDLE service) {
    if (advapi.ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, state.driverPath.c_str(), nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr))
        return true;
    state.serviceConfigError = GetLastError();
    return false;
}

// Asks a driver service to stop; whether it did shows in what comes next.
void StopService(SC_HANDLE service) {
    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    advapi.ControlService(service, SERVICE_CONTROL_STOP, &status);
}

// A failed start (a missing driver file, a driver already running) does not stop anything: the
// next opening of the device tells whether the driver is there. Its reason is kept for whoever
// wants to tell the user.
void RequestStart(SC_HANDLE service) {
    serviceArgs = nullptr;
    if (!advapi.StartServiceA(service, 0, &serviceArgs))
        state.serviceStartError = GetLastError();
    state.serviceInstalled = true;
}

void InstallDriverService(const std::string& directory) {
    if (!LoadServiceManager())
        return;
    SC_HANDLE manager = advapi.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    // Held from before the folder rule until the start has returned: what loads is what was
    // judged.
    TPinnedDriver pinned = PinDriver(directory);
    state.driverPath = pinned.path;
    state.driverPlace = pinned.place;
    if (state.driverPlace.verdict == PlaceUnsafe) {
        advapi.CloseServiceHandle(manager);
        return;
    }
    SC_HANDLE service = advapi.CreateServiceA(
        manager, ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, state.driverPath.c_str(), nullptr, nullptr,
        nullptr, nullptr, nullptr);
    bool startable = true;
    // Left behind by an earlier run that did not end cleanly: take it over.
    if (!service) {
        service = advapi.OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
        if (service)
            startable = PointServiceAtOurDriver(service);
    }
    if (service) {
        if (startable)
            RequestStart(service);
        advapi.CloseServiceHandle(service);
    }
    UnpinDriver(pinned);
    advapi.CloseServiceHandle(manager);
}

// A driver service's path as the file functions take it: the service manager keeps
// "\??\C:\Kavit\LPTWDMIO.SYS" for "C:\Kavit\LPTWDMIO.SYS".
std::string NoNtPrefix(const std::string& path) {
    return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

// Points a running service at our file, held from its check until the start has returned;
// nothing changes when our place fails the rule. `device` is closed first: it would keep the old
// driver loaded.
void Repoint(SC_HANDLE service, const std::string& directory, HANDLE& device) {
    TPinnedDriver pinned = PinDriver(directory);
    if (pinned.place.verdict == PlaceSafe) {
        state.driverPath = pinned.path;
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
        StopService(service);
        if (PointServiceAtOurDriver(service))
            RequestStart(service);
    }
    UnpinDriver(pinned);
}

// The device opened at once: a driver runs already, loaded from the file its service names,
// which is judged by the folder rule. From a place others can change, the driver is used but its
// service is never touched. Otherwise, when nobody else holds the device, it was left behind by a
// run that did not end cleanly: this run takes over its removal, and a service that loads another
// file than ours is stopped, pointed at ours and started again, when ours passes the rule too.
void TakeOverLeftover(const std::string& directory, HANDLE& device) {
    DWORD count = 0;
    if (!CountOpenHandles(device, count) || !LoadServiceManager())
        return;
    TQueryServiceConfigA queryServiceConfigA =
        EntryPoint<TQueryServiceConfigA>(advapi.module, "QueryServiceConfigA");
    SC_HANDLE manager = advapi.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    SC_HANDLE service = advapi.OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
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
            state.runningPlace.verdict = PlaceUnsafe;
            state.runningPlace.reason = "the service lptwdmio does not tell which file it loads";
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            state.runningPlace = JudgeDriverPath(running);
        }
        std::string ours = directory + DriverFileName;
        if (state.runningPlace.verdict == PlaceSafe && count == 1) {
            state.serviceInstalled = true;
            state.driverPath = ours;
            // Repointing at the file it already loads costs a restart of the driver, no more.
            if (!SamePath(running, ours))
                Repoint(service, directory, device);
        }
        advapi.CloseServiceHandle(service);
    }
    advapi.CloseServiceHandle(manager);
}

void RemoveDriverService(bool remove) {
    if (remove && LoadServiceManager()) {
        SC_HANDLE manager = advapi.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager) {
            SC_HANDLE service = advapi.OpenServiceA(manager, ServiceName, SERVICE_ALL_ACCESS);
            if (service) {
                // Deleting alone leaves a loaded driver, and with it the service, registered but
                // marked for deletion, until Windows restarts. Stopped, the driver unloads and
                // the deletion is done at once. Neither answer changes what comes next.
                StopService(service);
                advapi.DeleteService(service);
                advapi.CloseServiceHandle(service);
            }
            advapi.CloseServiceHandle(manager);
        }
    }
    state = TDriverService();
    // Also when the installation stopped half way: the library is never left loaded.
    if (advapi.module)
        FreeLibrary(advapi.module);
    advapi = TAdvapi();
}

} // namespace

const TDriverService& DriverService() {
    return state;
}

void StartDriverService(const std::string& directory) {
    if (!NtFamily())
        return;
    // A look of our own: the connection opens the device once the service has settled.
    HANDLE device = OpenLptDevice();
    if (device == INVALID_HANDLE_VALUE) {
        InstallDriverService(directory);
        return;
    }
    TakeOverLeftover(directory, device);
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
}

void EndDriverService(DWORD handlesAtClose) {
    DWORD count = handlesAtClose;
    // The connection's handle never opened, or no longer answered (its driver was stopped under
    // it): another program may have loaded the driver since, and only a fresh handle can ask it.
    if (count == 0 && state.serviceInstalled) {
        HANDLE fresh = OpenLptDevice();
        if (fresh != INVALID_HANDLE_VALUE) {
            CountOpenHandles(fresh, count);
            CloseHandle(fresh);
        }
    }
    // The last one out removes the driver, whoever installed it; while another program holds the
    // device, its service stays. A driver that cannot count goes only if this run installed it.
    bool remove = count ? count == 1 : state.serviceInstalled;
    RemoveDriverService(remove && state.runningPlace.verdict != PlaceUnsafe);
}

void ClosePortConnection(TLptPortConnection*& connection) {
    DWORD handles = connection ? connection->CloseDevice() : 0;
    delete connection;
    connection = nullptr;
    EndDriverService(handles);
}

bool ServiceManagerOpens(DWORD& error) {
    error = 0;
    if (!advapi.module || !advapi.OpenSCManagerA || !advapi.CloseServiceHandle)
        return false;
    SC_HANDLE manager = advapi.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        error = GetLastError();
        return false;
    }
    advapi.CloseServiceHandle(manager);
    return true;
}
