#include "e2e/common/sim_client.h"

#include <cstring>
#include <memory>
#include <type_traits>

std::string Win32ErrorText(DWORD error) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof(text), nullptr);
    while (n > 0 && strchr("\r\n.", text[n - 1]))
        text[--n] = 0;
    return "error " + std::to_string(error) + " (" + (n ? text : "no text") + ")";
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
    bool ok = IsOpen() && DeviceIoControl(handle, code, const_cast<void*>(in), inLength, out,
                                          outLength, returned ? returned : &n, nullptr);
    lastError = ok ? 0 : IsOpen() ? GetLastError() : ERROR_INVALID_HANDLE;
    return ok;
}

bool TSimDevice::ChangeButtons(int pad, USHORT press, USHORT release) {
    TSimButtons change = {};
    change.press[pad - 1] = press;
    change.release[pad - 1] = release;
    return Control(SIM_IOCTL_SET_BUTTONS, &change, sizeof(change));
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
                     static_cast<DWORD>(buffer.size()), &n) ||
            n < sizeof(TSimLogHeader))
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

bool TSimDevice::Batch(DWORD code, BYTE* buffer, DWORD inLength, DWORD outLength) {
    DWORD n = 0;
    SetLastError(0);
    DeviceIoControl(handle, code, buffer, inLength, buffer, outLength, &n, nullptr);
    lastError = GetLastError();
    return lastError == 0;
}

namespace DriverService {

namespace {

struct TScClose {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using TScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, TScClose>;

TScHandle Manager() {
    return TScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

SC_HANDLE Create(SC_HANDLE manager, const char* path) {
    return CreateServiceA(manager, Name, DisplayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
}

bool Fail(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

// False, with what `call` left as the last error: "OpenSCManagerA: error 5 (Access is denied)".
bool Failed(std::string& reason, const std::string& call) {
    DWORD error = GetLastError();
    return Fail(reason, call + ": " + Win32ErrorText(error));
}

template <class F> bool Within(DWORD ms, F done) {
    for (DWORD start = GetTickCount(); !done(); Sleep(10))
        if (GetTickCount() - start > ms)
            return false;
    return true;
}

bool ServiceGone() {
    TScHandle manager = Manager();
    TScHandle service(manager ? OpenServiceA(manager.get(), Name, SERVICE_QUERY_STATUS) : nullptr);
    return !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
}

} // namespace

TPresence Probe(std::string& detail) {
    TScHandle manager = Manager();
    if (!manager) {
        Failed(detail, "OpenSCManagerA");
        return Unknown;
    }
    // Creating the service tells the three states apart on Windows and Wine alike: it fails
    // with 1073 for an ordinary entry and with 1072 for one marked for deletion.
    TScHandle created(Create(manager.get(), "C:\\probe-only.sys"));
    if (created) {
        DeleteService(created.get());
        detail = "no service";
        return Absent;
    }
    DWORD error = GetLastError();
    Failed(detail, "CreateServiceA");
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE)
        return MarkedForDelete;
    return error == ERROR_SERVICE_EXISTS ? Registered : Unknown;
}

bool Remove(std::string& reason) {
    {
        TScHandle manager = Manager();
        if (!manager)
            return Failed(reason, "OpenSCManagerA");
        TScHandle service(OpenServiceA(manager.get(), Name, SERVICE_ALL_ACCESS));
        if (service) {
            SERVICE_STATUS status;
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(service.get()); // fails harmlessly when already marked
        } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            return Failed(reason, "OpenServiceA");
        }
    }
    if (!Within(5000, ServiceGone))
        return Fail(reason, "service \"lptwdmio\" still registered 5 s after stop and delete");
    return Within(3000, [] { return !TSimDevice().Open(); }) ||
           Fail(reason, "device \\\\.\\LptAccessAgent still opens after the service was removed "
                        "(loaded by another service?)");
}

bool Install(const std::string& path, std::string& reason) {
    TScHandle manager = Manager();
    if (!manager)
        return Failed(reason, "OpenSCManagerA");
    TScHandle service(Create(manager.get(), path.c_str()));
    if (!service)
        return Failed(reason, "CreateServiceA(\"" + path + "\")");
    if (!StartServiceA(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        Failed(reason, "StartServiceA");
        DeleteService(service.get());
        return false;
    }
    return Within(3000, [] { return TSimDevice().Open(); }) ||
           Fail(reason, "service started but \\\\.\\LptAccessAgent does not open");
}

} // namespace DriverService
