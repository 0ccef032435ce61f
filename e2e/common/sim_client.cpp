#include "e2e/common/sim_client.h"

#include <cstdio>

std::string Win32ErrorText(DWORD error) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = 0;
    char line[320];
    snprintf(line, sizeof(line), "error %lu (%s)", static_cast<unsigned long>(error),
             n ? text : "no text");
    return line;
}

bool TSimDevice::Open() {
    Close();
    handle =
        CreateFileA(LPT_USER_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    lastError = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return IsOpen();
}

void TSimDevice::Close() {
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

bool TSimDevice::Control(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                         DWORD* returned) {
    DWORD n = 0;
    if (!IsOpen()) {
        lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    BOOL ok =
        DeviceIoControl(handle, code, const_cast<void*>(in), inLength, out, outLength, &n, nullptr);
    lastError = ok ? 0 : GetLastError();
    if (returned)
        *returned = n;
    return ok != FALSE;
}

bool TSimDevice::ChangeButtons(int pad, USHORT press, USHORT release) {
    TSimButtons change = {};
    change.press[pad - 1] = press;
    change.release[pad - 1] = release;
    return Control(SIM_IOCTL_SET_BUTTONS, &change, sizeof(change), nullptr, 0);
}

bool TSimDevice::SetPorts(ULONG mask) {
    return Control(SIM_IOCTL_SET_PORTS, &mask, sizeof(mask), nullptr, 0);
}

bool TSimDevice::SetFaults(ULONG mask) {
    return Control(SIM_IOCTL_SET_FAULTS, &mask, sizeof(mask), nullptr, 0);
}

bool TSimDevice::Reset() {
    return Control(SIM_IOCTL_RESET, nullptr, 0, nullptr, 0);
}

bool TSimDevice::ClearLog() {
    return Control(SIM_IOCTL_CLEAR_LOG, nullptr, 0, nullptr, 0);
}

bool TSimDevice::GetState(TSimState& state) {
    DWORD n = 0;
    state = TSimState();
    return Control(SIM_IOCTL_GET_STATE, nullptr, 0, &state, sizeof(state), &n) &&
           n == sizeof(state);
}

bool TSimDevice::ReadLog(ULONG& first, std::vector<TSimLogEntry>& entries, bool* lost) {
    // 64 KiB answers; the caller's vector keeps the entries, so this buffer is the only copy.
    static thread_local std::vector<BYTE> buffer(sizeof(TSimLogHeader) +
                                                 4095 * sizeof(TSimLogEntry));
    if (lost)
        *lost = false;
    for (;;) {
        DWORD n = 0;
        ULONG from = first;
        if (!Control(SIM_IOCTL_READ_LOG, &from, sizeof(from), buffer.data(),
                     static_cast<DWORD>(buffer.size()), &n))
            return false;
        if (n < sizeof(TSimLogHeader))
            return false;
        const TSimLogHeader* header = reinterpret_cast<const TSimLogHeader*>(buffer.data());
        const TSimLogEntry* got = reinterpret_cast<const TSimLogEntry*>(header + 1);
        if (header->first != first && lost)
            *lost = true;
        entries.insert(entries.end(), got, got + header->count);
        first = header->first + header->count;
        if (header->count == 0 || first >= header->total)
            return true;
    }
}

bool TSimDevice::ReadPorts(BYTE* pairs, DWORD count) {
    return Batch(LPT_IOCTL_READ_PORTS, pairs, 2 * count, 2 * count);
}

bool TSimDevice::WritePorts(BYTE* pairs, DWORD count) {
    return Batch(LPT_IOCTL_WRITE_PORTS, pairs, 2 * count, 2 * count);
}

bool TSimDevice::Batch(DWORD code, BYTE* buffer, DWORD inLength, DWORD outLength) {
    DWORD n = 0;
    SetLastError(0);
    DeviceIoControl(handle, code, buffer, inLength, buffer, outLength, &n, nullptr);
    lastError = GetLastError();
    return lastError == 0;
}

namespace DriverService {

namespace {

struct TScHandle {
    SC_HANDLE handle;
    explicit TScHandle(SC_HANDLE h) : handle(h) {}
    ~TScHandle() {
        if (handle)
            CloseServiceHandle(handle);
    }
    TScHandle(const TScHandle&) = delete;
    TScHandle& operator=(const TScHandle&) = delete;
};

// Waits up to `ms` for the device to be there (or gone).
bool WaitDevice(bool present, DWORD ms) {
    for (DWORD start = GetTickCount(); TSimDevice().Open() != present; Sleep(10))
        if (GetTickCount() - start > ms)
            return false;
    return true;
}

} // namespace

TPresence Probe(std::string& detail) {
    TScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.handle) {
        detail = "OpenSCManagerA: " + Win32ErrorText(GetLastError());
        return Unknown;
    }
    // Creating the service tells the three states apart on Windows and Wine alike: it fails
    // with 1073 for an ordinary entry and with 1072 for one marked for deletion.
    TScHandle created(CreateServiceA(manager.handle, Name, DisplayName, SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_NORMAL, "C:\\probe-only.sys", nullptr, nullptr,
                                     nullptr, nullptr, nullptr));
    if (created.handle) {
        DeleteService(created.handle);
        detail = "no service";
        return Absent;
    }
    DWORD error = GetLastError();
    detail = "CreateServiceA: " + Win32ErrorText(error);
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE)
        return MarkedForDelete;
    return error == ERROR_SERVICE_EXISTS ? Registered : Unknown;
}

bool Remove(std::string& reason) {
    {
        TScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager.handle) {
            reason = "OpenSCManagerA: " + Win32ErrorText(GetLastError());
            return false;
        }
        TScHandle service(OpenServiceA(manager.handle, Name, SERVICE_ALL_ACCESS));
        if (service.handle) {
            SERVICE_STATUS status;
            ControlService(service.handle, SERVICE_CONTROL_STOP, &status);
            DeleteService(service.handle); // fails harmlessly when already marked
        } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            reason = "OpenServiceA: " + Win32ErrorText(GetLastError());
            return false;
        }
    }
    DWORD start = GetTickCount();
    for (;;) {
        TScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        TScHandle service(manager.handle ? OpenServiceA(manager.handle, Name, SERVICE_QUERY_STATUS)
                                         : nullptr);
        if (!service.handle && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST)
            break;
        if (GetTickCount() - start > 5000) {
            reason = "service \"lptwdmio\" still registered 5 s after stop and delete";
            return false;
        }
        Sleep(10);
    }
    if (!WaitDevice(false, 3000)) {
        reason = "device \\\\.\\LptAccessAgent still opens after the service was removed "
                 "(loaded by another service?)";
        return false;
    }
    return true;
}

bool Install(const std::string& path, std::string& reason) {
    TScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.handle) {
        reason = "OpenSCManagerA: " + Win32ErrorText(GetLastError());
        return false;
    }
    TScHandle service(CreateServiceA(manager.handle, Name, DisplayName, SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr));
    if (!service.handle) {
        reason = "CreateServiceA(\"" + path + "\"): " + Win32ErrorText(GetLastError());
        return false;
    }
    if (!StartServiceA(service.handle, 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        reason = "StartServiceA: " + Win32ErrorText(GetLastError());
        DeleteService(service.handle);
        return false;
    }
    if (!WaitDevice(true, 3000)) {
        reason = "service started but \\\\.\\LptAccessAgent does not open";
        return false;
    }
    return true;
}

} // namespace DriverService
