// The stand-in's Win32 functions: each logs its call and answers through fake::on.
#include "tests/fake/fake_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>

namespace fake {

Checked<Call> calls(std::vector<Call>(), "fake::calls");
bool recording = true;
void (*badReadHandler)(const std::string& message) = nullptr;
Handlers on;
std::map<std::string, std::string> files;
std::map<HMENU, std::vector<MenuItem>> menus;
std::map<UINT_PTR, UINT> timers;
std::deque<MSG> queue;
WNDPROC windowProc = nullptr;
bool windowVisible = false;
POINT cursor = {640, 480};
HWND foreground;
std::map<HWND, std::string> windowPrograms;
HWND const TaskBar = reinterpret_cast<HWND>(0x7B00);
std::string modulePath = "C:\\Kavit\\Kavit.exe";
std::wstring modulePathWide;
std::map<std::wstring, std::wstring> shortPaths;
LPARAM messageExtraInfo = 0;
std::map<std::string, std::vector<uint8_t>> security;
DWORD volumeFlags = FS_PERSISTENT_ACLS;
std::string servicePath = "C:\\Kavit\\LPTWDMIO.SYS";
DWORD tickCount = 0;
LPTHREAD_START_ROUTINE thread = nullptr;

const char DevicePath[] = "\\\\.\\LptAccessAgent";
HMODULE const AdvapiModule = reinterpret_cast<HMODULE>(0xADA0);
SC_HANDLE const ManagerHandle = reinterpret_cast<SC_HANDLE>(0x5C01);
SC_HANDLE const CreatedService = reinterpret_cast<SC_HANDLE>(0x5E01);
SC_HANDLE const OpenedService = reinterpret_cast<SC_HANDLE>(0x5E02);
HICON const FirstIconHandle = reinterpret_cast<HICON>(0x1C01);
HICON const SecondIconHandle = reinterpret_cast<HICON>(0x1C02);
HWND const Window = reinterpret_cast<HWND>(0x77);
UINT const TaskbarCreatedMessage = 0xC0F0;

namespace {

DWORD lastError = 0;
uintptr_t nextHandle = 0x6000;
uintptr_t nextMenu = 0x3001;
bool paintPending = false;

struct OpenFile {
    std::string path;
    size_t position;
    bool writable;
    DWORD share;
};
std::map<HANDLE, OpenFile> openFiles;

uint64_t Num(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}
std::string Str(LPCSTR s) {
    return s ? std::string(s) : std::string("<null>");
}
// A resource name is either a string or a number below 0x10000.
std::string ResourceName(LPCSTR s) {
    if (reinterpret_cast<uintptr_t>(s) >> 16 == 0)
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(s));
    return s;
}

// Off, nothing is built or copied (a benchmark measures the code, not this log); what a caller
// adds to its call lands here and is dropped with the next one.
Call discarded;

Call& Record(const char* fn, std::initializer_list<uint64_t> args,
             std::initializer_list<std::string> text) {
    calls.push_back(Call{fn, args, text, {}});
    return calls.back();
}

inline Call& Log(const char* fn, std::initializer_list<uint64_t> args,
                 std::initializer_list<std::string> text = {}) {
    if (recording)
        return Record(fn, args, text);
    discarded.args.clear();
    return discarded;
}

bool IsDevicePath(LPCSTR name) {
    return name && std::strncmp(name, "\\\\.\\", 4) == 0;
}

// ---- advapi32 entry points handed out by GetProcAddress ----
SC_HANDLE WINAPI FakeOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    Log("OpenSCManagerA", {access}, {Str(machine), Str(database)});
    return on.OpenSCManagerA(machine, database, access);
}
BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE handle) {
    Log("CloseServiceHandle", {Num(handle)});
    return on.CloseServiceHandle(handle);
}
SC_HANDLE WINAPI FakeCreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR display, DWORD access,
                                    DWORD type, DWORD start, DWORD errorControl, LPCSTR path,
                                    LPCSTR group, LPDWORD tag, LPCSTR dependencies, LPCSTR account,
                                    LPCSTR password) {
    Log("CreateServiceA", {Num(manager), access, type, start, errorControl, Num(tag)},
        {Str(name), Str(display), Str(path), Str(group), Str(dependencies), Str(account),
         Str(password)});
    return on.CreateServiceA(manager, name, display, access, type, start, errorControl, path, group,
                             tag, dependencies, account, password);
}
BOOL WINAPI FakeStartServiceA(SC_HANDLE service, DWORD count, LPCSTR* args) {
    Log("StartServiceA", {Num(service), count, Num(args), args ? Num(*args) : 0xDEAD});
    return on.StartServiceA(service, count, args);
}
SC_HANDLE WINAPI FakeOpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    Log("OpenServiceA", {Num(manager), access}, {Str(name)});
    return on.OpenServiceA(manager, name, access);
}
BOOL WINAPI FakeDeleteService(SC_HANDLE service) {
    Log("DeleteService", {Num(service)});
    return on.DeleteService(service);
}
BOOL WINAPI FakeControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    Log("ControlService", {Num(service), control, Num(status)});
    return on.ControlService(service, control, status);
}
BOOL WINAPI FakeChangeServiceConfigA(SC_HANDLE service, DWORD type, DWORD start, DWORD errorControl,
                                     LPCSTR path, LPCSTR group, LPDWORD tag, LPCSTR dependencies,
                                     LPCSTR account, LPCSTR password, LPCSTR display) {
    Log("ChangeServiceConfigA", {Num(service), type, start, errorControl, Num(tag)},
        {Str(path), Str(group), Str(dependencies), Str(account), Str(password), Str(display)});
    return on.ChangeServiceConfigA(service, type, start, errorControl, path, group, tag,
                                   dependencies, account, password, display);
}
BOOL WINAPI FakeQueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size,
                                    LPDWORD needed) {
    Log("QueryServiceConfigA", {Num(service), size});
    // A service of type 1, demand start, loading `servicePath`.
    DWORD total = static_cast<DWORD>(sizeof *config + servicePath.size() + 1);
    *needed = total;
    if (size < total) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    *config = QUERY_SERVICE_CONFIGA{};
    config->dwServiceType = SERVICE_KERNEL_DRIVER;
    config->dwStartType = SERVICE_DEMAND_START;
    char* path = reinterpret_cast<char*>(config + 1);
    std::memcpy(path, servicePath.c_str(), servicePath.size() + 1);
    config->lpBinaryPathName = path;
    return TRUE;
}
BOOL WINAPI FakeGetFileSecurityA(LPCSTR name, SECURITY_INFORMATION what,
                                 PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) {
    Log("GetFileSecurityA", {what, size}, {Str(name)});
    auto known = security.find(Str(name));
    std::vector<uint8_t> bytes = known == security.end() ? SafeDescriptor() : known->second;
    *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(descriptor));
    return TRUE;
}
BOOL WINAPI FakeQueryFullProcessImageNameA(HANDLE process, DWORD, LPSTR name, PDWORD size) {
    *size = DWORD(snprintf(name, *size, "%s", windowPrograms[HWND(process)].c_str()));
    return TRUE;
}
HANDLE const TokenHandle = reinterpret_cast<HANDLE>(0x70C1);
BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    Log("OpenProcessToken", {Num(process), access});
    *token = TokenHandle;
    return TRUE;
}
BOOL WINAPI FakeGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, LPVOID buffer,
                                    DWORD size, PDWORD needed) {
    Log("GetTokenInformation", {Num(token), DWORD(what), size});
    std::vector<uint8_t> sid = Sid("S-1-5-21-1-2-3-1001");
    DWORD total = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *needed = total;
    if (what != TokenUser || size < total) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(buffer);
    uint8_t* at = static_cast<uint8_t*>(buffer) + sizeof(TOKEN_USER);
    std::copy(sid.begin(), sid.end(), at);
    user->User.Sid = at;
    user->User.Attributes = 0;
    return TRUE;
}

// Through void(*)(), the one function type that every other converts to without a warning.
template <typename F> FARPROC AsFarProc(F f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

Handlers MakeDefaults() {
    Handlers h;
    h.GetVersionExA = [](LPOSVERSIONINFOA info) {
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        return TRUE;
    };
    h.CreateFileA = [](LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                       DWORD disposition, DWORD, HANDLE) -> HANDLE {
        if (IsDevicePath(name)) {
            lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        std::string path = Str(name);
        bool exists = files.count(path) != 0;
        if (disposition == OPEN_EXISTING && !exists) {
            lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        if (disposition == CREATE_NEW && exists) {
            lastError = 80; // ERROR_FILE_EXISTS
            return INVALID_HANDLE_VALUE;
        }
        // Windows' sharing rule: held open without FILE_SHARE_WRITE, no one else may write it.
        for (const auto& open : openFiles)
            if ((access & GENERIC_WRITE) && open.second.path == path &&
                !(open.second.share & FILE_SHARE_WRITE)) {
                lastError = ERROR_SHARING_VIOLATION;
                return INVALID_HANDLE_VALUE;
            }
        if (disposition == CREATE_ALWAYS || disposition == CREATE_NEW)
            files[path].clear();
        HANDLE handle = reinterpret_cast<HANDLE>(nextHandle++);
        openFiles[handle] = OpenFile{path, 0, (access & GENERIC_WRITE) != 0, share};
        return handle;
    };
    h.ReadFile = [](HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
        auto it = openFiles.find(file);
        if (it == openFiles.end()) {
            lastError = 6; // ERROR_INVALID_HANDLE
            return FALSE;
        }
        const std::string& content = files[it->second.path];
        size_t n = std::min<size_t>(toRead,
                                    content.size() - std::min(content.size(), it->second.position));
        if (n)
            std::memcpy(buffer, content.data() + it->second.position, n);
        it->second.position += n;
        if (read)
            *read = static_cast<DWORD>(n);
        return TRUE;
    };
    h.WriteFile = [](HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
        auto it = openFiles.find(file);
        if (it == openFiles.end() || !it->second.writable) {
            lastError = ERROR_ACCESS_DENIED;
            return FALSE;
        }
        std::string& content = files[it->second.path];
        content.resize(std::max(content.size(), it->second.position + toWrite));
        std::memcpy(&content[it->second.position], buffer, toWrite);
        it->second.position += toWrite;
        if (written)
            *written = toWrite;
        return TRUE;
    };
    h.FlushFileBuffers = [](HANDLE) { return TRUE; };
    h.MoveFileExA = [](LPCSTR from, LPCSTR to, DWORD flags) {
        auto source = files.find(Str(from));
        if (source == files.end()) {
            lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
        if (files.count(Str(to)) && !(flags & MOVEFILE_REPLACE_EXISTING)) {
            lastError = 183; // ERROR_ALREADY_EXISTS
            return FALSE;
        }
        std::string content = source->second;
        files.erase(source);
        files[Str(to)] = content;
        return TRUE;
    };
    h.DeleteFileA = [](LPCSTR name) {
        if (!files.erase(Str(name))) {
            lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
        return TRUE;
    };
    h.GetFileAttributesA = [](LPCSTR name) {
        return files.count(Str(name)) ? DWORD(FILE_ATTRIBUTE_NORMAL) : INVALID_FILE_ATTRIBUTES;
    };
    h.DeviceIoControl = [](HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
        lastError = ERROR_INVALID_FUNCTION;
        return FALSE;
    };
    h.CloseHandle = [](HANDLE handle) {
        openFiles.erase(handle);
        return TRUE;
    };
    h.LoadLibraryA = [](LPCSTR name) -> HMODULE {
        if (name && strcasecmp(name, "ADVAPI32.DLL") == 0)
            return AdvapiModule;
        lastError = 126; // ERROR_MOD_NOT_FOUND
        return nullptr;
    };
    h.GetProcAddress = [](HMODULE module, LPCSTR name) -> FARPROC {
        if (name && std::string(name) == "QueryFullProcessImageNameA")
            return AsFarProc(&FakeQueryFullProcessImageNameA);
        if (module != AdvapiModule || !name)
            return nullptr;
        std::string n = name;
        if (n == "OpenSCManagerA")
            return AsFarProc(&FakeOpenSCManagerA);
        if (n == "CloseServiceHandle")
            return AsFarProc(&FakeCloseServiceHandle);
        if (n == "CreateServiceA")
            return AsFarProc(&FakeCreateServiceA);
        if (n == "StartServiceA")
            return AsFarProc(&FakeStartServiceA);
        if (n == "OpenServiceA")
            return AsFarProc(&FakeOpenServiceA);
        if (n == "DeleteService")
            return AsFarProc(&FakeDeleteService);
        if (n == "ControlService")
            return AsFarProc(&FakeControlService);
        if (n == "ChangeServiceConfigA")
            return AsFarProc(&FakeChangeServiceConfigA);
        if (n == "QueryServiceConfigA")
            return AsFarProc(&FakeQueryServiceConfigA);
        if (n == "GetFileSecurityA")
            return AsFarProc(&FakeGetFileSecurityA);
        if (n == "OpenProcessToken")
            return AsFarProc(&FakeOpenProcessToken);
        if (n == "GetTokenInformation")
            return AsFarProc(&FakeGetTokenInformation);
        return nullptr;
    };
    h.FreeLibrary = [](HMODULE) { return TRUE; };
    h.GetModuleFileNameA = [](HMODULE, LPSTR name, DWORD size) -> DWORD {
        if (size == 0)
            return 0;
        // As Windows XP does it: a path that does not fit fills the buffer, unterminated.
        if (modulePath.size() >= size) {
            std::memcpy(name, modulePath.data(), size);
            return size;
        }
        std::memcpy(name, modulePath.data(), modulePath.size());
        name[modulePath.size()] = 0;
        return static_cast<DWORD>(modulePath.size());
    };
    h.CreateMutexA = [](LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) {
        return reinterpret_cast<HANDLE>(0x4D01);
    };
    h.GetModuleFileNameW = [](HMODULE, LPWSTR name, DWORD size) -> DWORD {
        std::wstring path = modulePathWide;
        if (path.empty())
            path.assign(modulePath.begin(), modulePath.end());
        if (path.size() >= size)
            return size;
        std::copy(path.begin(), path.end(), name);
        name[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    };
    h.GetShortPathNameW = [](LPCWSTR longPath, LPWSTR shortPath, DWORD size) -> DWORD {
        auto known = shortPaths.find(longPath);
        std::wstring path = known == shortPaths.end() ? std::wstring(longPath) : known->second;
        if (path.size() >= size)
            return static_cast<DWORD>(path.size() + 1);
        std::copy(path.begin(), path.end(), shortPath);
        shortPath[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    };
    h.GetModuleHandleA = [](LPCSTR) { return reinterpret_cast<HMODULE>(0x400000); };
    h.Sleep = [](DWORD) {};
    h.CreateThread = [](LPTHREAD_START_ROUTINE routine, LPVOID) {
        thread = routine;
        return reinterpret_cast<HANDLE>(0x7710);
    };
    h.WaitForMultipleObjects = [](DWORD, const HANDLE*) { return WAIT_OBJECT_0; };
    h.OpenSCManagerA = [](LPCSTR, LPCSTR, DWORD) { return ManagerHandle; };
    h.CloseServiceHandle = [](SC_HANDLE) { return TRUE; };
    h.CreateServiceA = [](SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR,
                          LPDWORD, LPCSTR, LPCSTR, LPCSTR) { return CreatedService; };
    h.StartServiceA = [](SC_HANDLE, DWORD, LPCSTR*) { return TRUE; };
    h.OpenServiceA = [](SC_HANDLE, LPCSTR, DWORD) { return OpenedService; };
    h.DeleteService = [](SC_HANDLE) { return TRUE; };
    h.ControlService = [](SC_HANDLE, DWORD, LPSERVICE_STATUS) { return TRUE; };
    h.ChangeServiceConfigA = [](SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR,
                                LPCSTR, LPCSTR, LPCSTR) { return TRUE; };
    h.FindWindowA = [](LPCSTR, LPCSTR) -> HWND { return nullptr; };
    h.GetKeyNameTextA = [](LONG, LPSTR name, int size) {
        if (name && size > 0)
            name[0] = 0;
        return 0;
    };
    h.MessageBoxA = [](HWND, LPCSTR, LPCSTR, UINT) { return IDOK; };
    h.LoadIconA = [](HINSTANCE, LPCSTR name) -> HICON {
        std::string n = ResourceName(name);
        if (n == "FIRSTICON")
            return FirstIconHandle;
        if (n == "SECONDICON")
            return SecondIconHandle;
        return nullptr;
    };
    h.RegisterClassA = [](const WNDCLASSA* windowClass) -> ATOM {
        windowProc = windowClass->lpfnWndProc;
        return 0xC001;
    };
    h.CreateWindowExA = [](DWORD, LPCSTR, LPCSTR, DWORD style, int, int, int, int, HWND, HMENU,
                           HINSTANCE, LPVOID) {
        windowVisible = (style & WS_VISIBLE) != 0;
        return Window;
    };
    h.GetMessageA = [](LPMSG msg, HWND, UINT, UINT) -> BOOL {
        // A queue that runs dry ends the loop, as if the quit message had come.
        if (queue.empty()) {
            *msg = MSG{nullptr, WM_QUIT, 0, 0, 0, {0, 0}};
            return FALSE;
        }
        *msg = queue.front();
        queue.pop_front();
        return msg->message != WM_QUIT;
    };
    h.TrackPopupMenu = [](HMENU, UINT, int, int, int, HWND, const RECT*) { return TRUE; };
    h.DefWindowProcA = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    h.keybd_event = [](BYTE, BYTE, DWORD, ULONG_PTR) {};
    h.GetCursorPos = [](LPPOINT point) {
        *point = cursor;
        return TRUE;
    };
    h.GetMessagePos = []() -> DWORD {
        return (static_cast<DWORD>(static_cast<WORD>(cursor.y)) << 16) |
               static_cast<WORD>(cursor.x);
    };
    h.Shell_NotifyIconA = [](DWORD, NOTIFYICONDATAA*) { return TRUE; };
    h.ShellExecuteA = [](HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, int) {
        return reinterpret_cast<HINSTANCE>(42);
    };
    h.PortIn = [](WORD) -> BYTE { return 0xFF; }; // nothing on the bus
    h.PortOut = [](WORD, BYTE) {};
    return h;
}

} // namespace

const Handlers& Defaults() {
    static const Handlers defaults = MakeDefaults();
    return defaults;
}

void Reset() {
    calls.clear();
    recording = true;
    on = Defaults();
    files.clear();
    openFiles.clear();
    menus.clear();
    timers.clear();
    queue.clear();
    windowProc = nullptr;
    windowVisible = false;
    paintPending = false;
    cursor = POINT{640, 480};
    foreground = nullptr;
    windowPrograms.clear();
    modulePath = "C:\\Kavit\\Kavit.exe";
    modulePathWide.clear();
    shortPaths.clear();
    messageExtraInfo = 0;
    security.clear();
    volumeFlags = FS_PERSISTENT_ACLS;
    servicePath = "C:\\Kavit\\LPTWDMIO.SYS";
    tickCount = 0;
    thread = nullptr;
    lastError = 0;
    nextMenu = 0x3001;
}

void BadRead(const std::string& what, size_t index, size_t size) {
    std::string message = "read of " + what + "[" + std::to_string(index) + "], which has " +
                          std::to_string(size) + (size == 1 ? " element" : " elements");
    if (badReadHandler) {
        badReadHandler(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

Call::Call(std::string name, Checked<uint64_t> a, Checked<std::string> t, Checked<uint8_t> b)
    : fn(std::move(name)), args(std::move(a)), text(std::move(t)), bytes(std::move(b)) {
    args.what = fn + " args";
    text.what = fn + " text";
    bytes.what = fn + " bytes";
}

void MarkBlank(Call& call) {
    call.args.blank = call.text.blank = call.bytes.blank = true;
}

Checked<Call> CallsTo(const std::string& fn) {
    Checked<Call> found(std::vector<Call>(), "fake::CallsTo(\"" + fn + "\")");
    for (const Call& c : calls)
        if (c.fn == fn)
            found.push_back(c);
    return found;
}

size_t Count(const std::string& fn) {
    return static_cast<size_t>(
        std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.fn == fn; }));
}

std::vector<uint8_t> Sid(const std::string& text) {
    // S-1-<authority>-<sub>...
    std::vector<uint32_t> parts;
    size_t at = 2;
    while (at < text.size()) {
        size_t end = text.find('-', at);
        parts.push_back(static_cast<uint32_t>(std::stoul(text.substr(at, end - at))));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    std::vector<uint8_t> sid = {uint8_t(parts[0]), uint8_t(parts.size() - 2), 0, 0, 0, 0, 0,
                                uint8_t(parts[1])};
    for (size_t i = 2; i < parts.size(); ++i)
        for (int b = 0; b < 4; ++b)
            sid.push_back(uint8_t(parts[i] >> (8 * b)));
    return sid;
}

namespace {
void PutWord(std::vector<uint8_t>& v, size_t at, uint32_t value, int bytes) {
    for (int b = 0; b < bytes; ++b)
        v[at + b] = uint8_t(value >> (8 * b));
}
} // namespace

std::vector<uint8_t> Descriptor(const std::string& owner, const std::vector<Ace>& aces, bool dacl) {
    std::vector<uint8_t> d(20, 0);
    d[0] = 1;
    PutWord(d, 2, 0x8000 | (dacl ? 0x0004 : 0), 2);
    if (!owner.empty()) {
        PutWord(d, 4, uint32_t(d.size()), 4);
        std::vector<uint8_t> sid = Sid(owner);
        d.insert(d.end(), sid.begin(), sid.end());
    }
    if (dacl) {
        size_t aclAt = d.size();
        PutWord(d, 16, uint32_t(aclAt), 4);
        d.resize(aclAt + 8, 0);
        d[aclAt] = 2;
        for (const Ace& ace : aces) {
            std::vector<uint8_t> sid = Sid(ace.sid);
            size_t at = d.size();
            d.resize(at + 8 + sid.size(), 0);
            d[at] = ace.type;
            d[at + 1] = ace.flags;
            PutWord(d, at + 2, uint32_t(8 + sid.size()), 2);
            PutWord(d, at + 4, ace.mask, 4);
            std::copy(sid.begin(), sid.end(), d.begin() + long(at) + 8);
        }
        PutWord(d, aclAt + 2, uint32_t(d.size() - aclAt), 2);
        PutWord(d, aclAt + 4, uint32_t(aces.size()), 2);
    }
    return d;
}

std::vector<uint8_t> SafeDescriptor() {
    return Descriptor("S-1-5-32-544", {{0, 0, 0x1F01FF, "S-1-5-18"},
                                       {0, 0, 0x1F01FF, "S-1-5-32-544"},
                                       {0, 0, 0x1200A9, "S-1-5-32-545"},
                                       {0, 0x0B, 0x10000000, "S-1-3-0"}});
}

size_t OpenFileCount() {
    return openFiles.size();
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    queue.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
}

LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    return windowProc ? windowProc(Window, message, wParam, lParam) : 0;
}

} // namespace fake

using fake::Log;
using fake::Num;
using fake::on;
using fake::Str;

// ---- kernel32 ----------------------------------------------------------------------------------

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    Log("GetVersionExA", {info->dwOSVersionInfoSize});
    return on.GetVersionExA(info);
}
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    Log("CreateFileA", {access, share, Num(security), disposition, flags, Num(templateFile)},
        {Str(name)});
    return on.CreateFileA(name, access, share, security, disposition, flags, templateFile);
}
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    Log("ReadFile", {Num(file), toRead});
    return on.ReadFile(file, buffer, toRead, read, overlapped);
}
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    Log("WriteFile", {Num(file), toWrite});
    return on.WriteFile(file, buffer, toWrite, written, overlapped);
}
BOOL WINAPI FlushFileBuffers(HANDLE file) {
    Log("FlushFileBuffers", {Num(file)});
    return on.FlushFileBuffers(file);
}
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    Log("MoveFileExA", {flags}, {Str(from), Str(to)});
    return on.MoveFileExA(from, to, flags);
}
BOOL WINAPI DeleteFileA(LPCSTR name) {
    Log("DeleteFileA", {}, {Str(name)});
    return on.DeleteFileA(name);
}
DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    Log("GetFileAttributesA", {}, {Str(name)});
    return on.GetFileAttributesA(name);
}
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    fake::Call& call = Log("DeviceIoControl", {Num(device), code, Num(in), inSize, Num(out),
                                               outSize, Num(returned), Num(overlapped)});
    if (fake::recording && in)
        call.bytes.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inSize);
    return on.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
HANDLE WINAPI GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(-1);
}
DWORD WINAPI GetCurrentProcessId() {
    return Num(fake::Window) & 0xFFFF;
}
HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD processId) {
    HWND window = HWND(uintptr_t(processId)); // see GetWindowThreadProcessId
    return fake::windowPrograms[window].empty() ? nullptr : window;
}
HWND WINAPI GetForegroundWindow() {
    return fake::foreground;
}
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    *processId = window == fake::Window ? GetCurrentProcessId() : DWORD(Num(window));
    return 1;
}
int WINAPI GetClassNameA(HWND window, LPSTR name, int size) {
    return snprintf(name, size_t(size), "%s", window == fake::TaskBar ? "Shell_TrayWnd" : "Other");
}
DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, void*) {
    return 0;
}
BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPSTR,
                                  DWORD) {
    Log("GetVolumeInformationA", {}, {Str(root)});
    if (flags)
        *flags = fake::volumeFlags;
    return TRUE;
}
BOOL WINAPI CloseHandle(HANDLE handle) {
    Log("CloseHandle", {Num(handle)});
    return on.CloseHandle(handle);
}
void WINAPI SetLastError(DWORD error) {
    Log("SetLastError", {error});
    fake::lastError = error;
}
DWORD WINAPI GetLastError() {
    Log("GetLastError", {});
    return fake::lastError;
}
HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    Log("LoadLibraryA", {}, {Str(name)});
    return on.LoadLibraryA(name);
}
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    Log("GetProcAddress", {Num(module)}, {Str(name)});
    return on.GetProcAddress(module, name);
}
BOOL WINAPI FreeLibrary(HMODULE module) {
    Log("FreeLibrary", {Num(module)});
    return on.FreeLibrary(module);
}
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size) {
    Log("GetModuleFileNameA", {Num(module), size});
    return on.GetModuleFileNameA(module, name, size);
}
HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    Log("GetModuleHandleA", {}, {Str(name)});
    return on.GetModuleHandleA(name);
}
void WINAPI Sleep(DWORD ms) {
    Log("Sleep", {ms});
    on.Sleep(ms);
}
DWORD WINAPI GetTickCount() {
    Log("GetTickCount", {});
    return fake::tickCount;
}
void WINAPI ExitProcess(UINT exitCode) {
    Log("ExitProcess", {exitCode});
    throw fake::ProcessExit{exitCode};
}
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE routine,
                           LPVOID parameter, DWORD, LPDWORD) {
    Log("CreateThread", {Num(parameter)});
    return on.CreateThread(routine, parameter);
}
// Events and the timer: nothing waits on them, as no thread runs.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    return reinterpret_cast<HANDLE>(0x7711);
}
BOOL WINAPI SetEvent(HANDLE) {
    return TRUE;
}
DWORD WINAPI WaitForSingleObject(HANDLE, DWORD) {
    return WAIT_OBJECT_0;
}
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD) {
    Log("WaitForMultipleObjects", {count});
    return on.WaitForMultipleObjects(count, handles);
}
HANDLE WINAPI CreateWaitableTimerA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) {
    return reinterpret_cast<HANDLE>(0x7712);
}
BOOL WINAPI SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due, LONG period, void*, LPVOID,
                             BOOL) {
    Log("SetWaitableTimer",
        {Num(timer), static_cast<uint64_t>(due->QuadPart), static_cast<uint64_t>(period)});
    return TRUE;
}
BOOL WINAPI CancelWaitableTimer(HANDLE) {
    return TRUE;
}
BOOL WINAPI SetThreadPriority(HANDLE, int) {
    return TRUE;
}
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
    Log("CreateMutexA", {Num(security), static_cast<uint64_t>(initialOwner)}, {Str(name)});
    return on.CreateMutexA(security, initialOwner, name);
}
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size) {
    Log("GetModuleFileNameW", {Num(module), size});
    return on.GetModuleFileNameW(module, name, size);
}
DWORD WINAPI GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    Log("GetShortPathNameW", {size});
    return on.GetShortPathNameW(longPath, shortPath, size);
}
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                               LPSTR bytes, int byteSize, LPCSTR, LPBOOL usedDefault) {
    Log("WideCharToMultiByte", {codePage, flags, static_cast<uint64_t>(wideLength)});
    if (usedDefault)
        *usedDefault = FALSE;
    if (wideLength < 0 || wideLength > byteSize) {
        fake::lastError = 122; // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    for (int i = 0; i < wideLength; ++i) {
        bool plain = wide[i] >= 0 && wide[i] < 0x80;
        bytes[i] = plain ? static_cast<char>(wide[i]) : '?';
        if (!plain && usedDefault)
            *usedDefault = TRUE;
    }
    return wideLength;
}

// ---- user32, gdi32 -----------------------------------------------------------------------------

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    Log("FindWindowA", {}, {Str(className), Str(windowName)});
    return on.FindWindowA(className, windowName);
}
int WINAPI GetKeyNameTextA(LONG lParam, LPSTR name, int size) {
    Log("GetKeyNameTextA", {static_cast<uint64_t>(lParam)});
    return on.GetKeyNameTextA(lParam, name, size);
}
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Log("MessageBoxA", {Num(owner), type}, {Str(text), Str(caption)});
    return on.MessageBoxA(owner, text, caption, type);
}
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    Log("LoadIconA", {Num(instance)}, {fake::ResourceName(name)});
    return on.LoadIconA(instance, name);
}
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    Log("LoadCursorA", {Num(instance)}, {fake::ResourceName(name)});
    return reinterpret_cast<HCURSOR>(0xC0);
}
HGDIOBJ WINAPI GetStockObject(int object) {
    Log("GetStockObject", {static_cast<uint64_t>(object)});
    return reinterpret_cast<HGDIOBJ>(0xB0 + object);
}
ATOM WINAPI RegisterClassA(const WNDCLASSA* c) {
    Log("RegisterClassA",
        {c->style, Num(reinterpret_cast<void*>(c->lpfnWndProc)),
         static_cast<uint64_t>(c->cbClsExtra), static_cast<uint64_t>(c->cbWndExtra),
         Num(c->hInstance), Num(c->hIcon), Num(c->hCursor), Num(c->hbrBackground)},
        {Str(c->lpszMenuName), Str(c->lpszClassName)});
    return on.RegisterClassA(c);
}
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    Log("CreateWindowExA",
        {exStyle, style, static_cast<uint64_t>(x), static_cast<uint64_t>(y),
         static_cast<uint64_t>(width), static_cast<uint64_t>(height), Num(parent), Num(menu),
         Num(instance), Num(param)},
        {Str(className), Str(windowName)});
    return on.CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, parent,
                              menu, instance, param);
}
UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    Log("RegisterWindowMessageA", {}, {Str(name)});
    return Str(name) == "TaskbarCreated" ? fake::TaskbarCreatedMessage : 0xC100;
}
HMENU WINAPI CreatePopupMenu() {
    HMENU menu = reinterpret_cast<HMENU>(fake::nextMenu++);
    Log("CreatePopupMenu", {Num(menu)});
    fake::menus[menu];
    return menu;
}
BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
    // A popup item's "id" is the submenu handle; its text is a string as usual.
    Log("AppendMenuA", {Num(menu), flags, id}, {Str(text)});
    auto it = fake::menus.find(menu);
    if (it == fake::menus.end())
        return FALSE;
    it->second.push_back(fake::MenuItem{flags, id, text ? text : ""});
    return TRUE;
}
BOOL WINAPI ModifyMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
    Log("ModifyMenuA", {Num(menu), position, flags, id}, {Str(text)});
    auto it = fake::menus.find(menu);
    if (it == fake::menus.end())
        return FALSE;
    std::vector<fake::MenuItem>& items = it->second;
    size_t index = position;
    if (!(flags & MF_BYPOSITION)) {
        index = items.size();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].id == position)
                index = i;
    }
    if (index >= items.size())
        return FALSE;
    items[index] = fake::MenuItem{flags & ~UINT(MF_BYPOSITION), id, text ? text : ""};
    return TRUE;
}
BOOL WINAPI DestroyMenu(HMENU menu) {
    Log("DestroyMenu", {Num(menu)});
    return fake::menus.erase(menu) ? TRUE : FALSE;
}
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, void* callback) {
    Log("SetTimer", {Num(window), id, elapse, Num(callback)});
    fake::timers[id] = elapse;
    return id;
}
BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    Log("KillTimer", {Num(window), id});
    return fake::timers.erase(id) ? TRUE : FALSE;
}
BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    Log("GetMessageA", {Num(window), filterMin, filterMax});
    return on.GetMessageA(msg, window, filterMin, filterMax);
}
BOOL WINAPI TranslateMessage(const MSG* msg) {
    Log("TranslateMessage", {msg->message});
    return FALSE;
}
LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    Log("DispatchMessageA",
        {Num(msg->hwnd), msg->message, msg->wParam, static_cast<uint64_t>(msg->lParam)});
    if (msg->hwnd && fake::windowProc)
        return fake::windowProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    return 0;
}
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Log("DefWindowProcA", {Num(window), message, wParam, static_cast<uint64_t>(lParam)});
    return on.DefWindowProcA(window, message, wParam, lParam);
}
void WINAPI PostQuitMessage(int exitCode) {
    Log("PostQuitMessage", {static_cast<uint64_t>(exitCode)});
    fake::Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Log("PostMessageA", {Num(window), message, wParam, static_cast<uint64_t>(lParam)});
    fake::Post(window, message, wParam, lParam);
    return TRUE;
}
BOOL WINAPI ShowWindow(HWND window, int command) {
    Log("ShowWindow", {Num(window), static_cast<uint64_t>(command)});
    BOOL wasVisible = fake::windowVisible;
    fake::windowVisible = command != SW_HIDE;
    return wasVisible;
}
BOOL WINAPI IsWindowVisible(HWND window) {
    Log("IsWindowVisible", {Num(window)});
    return fake::windowVisible;
}
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    fake::Call& call = Log("InvalidateRect", {Num(window), static_cast<uint64_t>(erase)});
    if (rect)
        for (LONG v : {rect->left, rect->top, rect->right, rect->bottom})
            call.args.push_back(static_cast<uint64_t>(v));
    fake::paintPending = true;
    return TRUE;
}
BOOL WINAPI UpdateWindow(HWND window) {
    Log("UpdateWindow", {Num(window)});
    // Like Windows: a pending update region is painted at once, by a sent WM_PAINT.
    if (fake::paintPending && fake::windowProc) {
        fake::paintPending = false;
        fake::windowProc(window, WM_PAINT, 0, 0);
    }
    return TRUE;
}
HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint) {
    Log("BeginPaint", {Num(window)});
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = reinterpret_cast<HDC>(0xDC);
    fake::paintPending = false;
    return paint->hdc;
}
BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT*) {
    Log("EndPaint", {Num(window)});
    return TRUE;
}
COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
    Log("SetTextColor", {Num(dc), color});
    return 0;
}
BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
    Log("TextOutA",
        {Num(dc), static_cast<uint64_t>(x), static_cast<uint64_t>(y),
         static_cast<uint64_t>(length)},
        {std::string(text, static_cast<size_t>(length))});
    return TRUE;
}
BOOL WINAPI SetForegroundWindow(HWND window) {
    Log("SetForegroundWindow", {Num(window)});
    return TRUE;
}
BOOL WINAPI GetCursorPos(LPPOINT point) {
    Log("GetCursorPos", {});
    return on.GetCursorPos(point);
}
DWORD WINAPI GetMessagePos() {
    Log("GetMessagePos", {});
    return on.GetMessagePos();
}
LPARAM WINAPI GetMessageExtraInfo() {
    Log("GetMessageExtraInfo", {});
    return fake::messageExtraInfo;
}
BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                           const RECT* rect) {
    Log("TrackPopupMenu", {Num(menu), flags, static_cast<uint64_t>(x), static_cast<uint64_t>(y),
                           static_cast<uint64_t>(reserved), Num(owner), Num(rect)});
    return on.TrackPopupMenu(menu, flags, x, y, reserved, owner, rect);
}
void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extraInfo) {
    Log("keybd_event", {vk, scan, flags, extraInfo});
    on.keybd_event(vk, scan, flags, extraInfo);
}

// ---- shell32 -----------------------------------------------------------------------------------

BOOL WINAPI Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data) {
    fake::Call& call = Log("Shell_NotifyIconA", {message, Num(data->hIcon)});
    if (fake::recording)
        call.bytes.assign(reinterpret_cast<uint8_t*>(data),
                          reinterpret_cast<uint8_t*>(data) + data->cbSize);
    return on.Shell_NotifyIconA(message, data);
}
HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, int show) {
    Log("ShellExecuteA", {Num(owner), static_cast<uint64_t>(show)},
        {Str(verb), Str(file), Str(parameters), Str(directory)});
    return on.ShellExecuteA(owner, verb, file, parameters, directory, show);
}
