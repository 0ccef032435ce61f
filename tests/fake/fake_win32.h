// The test side of the Win32 stand-in: what the code under test called, and how each function
// answers in the running test.
//
//   fake::Reset();                                   // in SetUp: empty log, default answers
//   fake::on.DeviceIoControl = [](...) { ... };      // script one function
//   EXPECT_EQ(fake::CallsTo("CreateFileA")[0].text[0], "\\\\.\\LptAccessAgent");
//
// Default answers describe a plain NT machine without the port driver: the device cannot be
// opened, ADVAPI32.DLL and its six service functions work, files live in fake::files, the
// program is C:\Kavit\Kavit.exe, and the message queue ends the loop when it runs dry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fake {

// ---- checked reads -----------------------------------------------------------------------------
// A call that went missing must fail the tests that look for it, not read past the end of the
// log. A read past the end of a Checked sequence reports "what[index] of size" here: the host
// tests make that a failure of the running test (tests/fake/report_bad_reads.cpp); with no
// handler set the message goes to stderr and the program aborts.
extern void (*badReadHandler)(const std::string& message);
void BadRead(const std::string& what, size_t index, size_t size);

template <typename T> void MarkBlank(T&) {}

// A vector whose element reads (operator[], front, back) are checked: out of range, they report
// through BadRead and answer a blank element instead. A blank call's own fields read as blanks
// without reporting again. `what` names the sequence in the report.
template <typename T> class Checked : public std::vector<T> {
  public:
    using std::vector<T>::vector;
    Checked(std::vector<T> elements, std::string name = "")
        : std::vector<T>(std::move(elements)), what(std::move(name)) {}

    const T& operator[](size_t i) const { return Read(i); }
    T& operator[](size_t i) { return Read(i); }
    const T& front() const { return Read(0); }
    T& front() { return Read(0); }
    const T& back() const { return Read(this->empty() ? 0 : this->size() - 1); }
    T& back() { return Read(this->empty() ? 0 : this->size() - 1); }

    std::string what;
    bool blank = false; // part of a blank element: reads past the end are not reported

  private:
    T& Read(size_t i) const {
        const std::vector<T>& elements = *this;
        if (i < elements.size())
            return const_cast<T&>(elements[i]);
        if (!blank)
            BadRead(what.empty() ? "a checked sequence" : what, i, elements.size());
        static T scratch;
        scratch = T();
        MarkBlank(scratch);
        return scratch;
    }
};

struct Call {
    explicit Call(std::string name = "", Checked<uint64_t> a = {}, Checked<std::string> t = {},
                  Checked<uint8_t> b = {});
    std::string fn;
    Checked<uint64_t> args;    // numeric arguments and handles, in order
    Checked<std::string> text; // string arguments, in order ("<null>" for a null pointer)
    Checked<uint8_t> bytes;    // a buffer as it was handed over (device batch, tray record)
};
void MarkBlank(Call& call);

// ---- the call log ----------------------------------------------------------------------------
extern Checked<Call> calls;
extern bool recording; // off: nothing is logged (benchmarks)
Checked<Call> CallsTo(const std::string& fn);
size_t Count(const std::string& fn);

// ---- scripted answers ------------------------------------------------------------------------
struct Handlers {
    // kernel32
    std::function<BOOL(LPOSVERSIONINFOA)> GetVersionExA;
    std::function<HANDLE(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>
        CreateFileA;
    std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
    std::function<BOOL(HANDLE)> FlushFileBuffers;
    std::function<BOOL(LPCSTR, LPCSTR, DWORD)> MoveFileExA;
    std::function<BOOL(LPCSTR)> DeleteFileA;
    std::function<DWORD(LPCSTR)> GetFileAttributesA;
    std::function<BOOL(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>
        DeviceIoControl;
    std::function<BOOL(HANDLE)> CloseHandle;
    std::function<HMODULE(LPCSTR)> LoadLibraryA;
    std::function<FARPROC(HMODULE, LPCSTR)> GetProcAddress;
    std::function<BOOL(HMODULE)> FreeLibrary;
    std::function<DWORD(HMODULE, LPSTR, DWORD)> GetModuleFileNameA;
    std::function<HMODULE(LPCSTR)> GetModuleHandleA;
    std::function<void(DWORD)> Sleep;
    std::function<HANDLE(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR)> CreateMutexA;
    // A thread is not run: the default hands out a handle and keeps its routine in `thread`.
    std::function<HANDLE(LPTHREAD_START_ROUTINE, LPVOID)> CreateThread;
    std::function<DWORD(DWORD, const HANDLE*)> WaitForMultipleObjects; // default: the first
    // The program's path as Windows keeps it (modulePathWide), its 8.3 form, and the conversion
    // to the ANSI code page: characters below 0x80 convert, any other becomes '?'.
    std::function<DWORD(HMODULE, LPWSTR, DWORD)> GetModuleFileNameW;
    std::function<DWORD(LPCWSTR, LPWSTR, DWORD)> GetShortPathNameW;
    // advapi32, reached through GetProcAddress
    std::function<SC_HANDLE(LPCSTR, LPCSTR, DWORD)> OpenSCManagerA;
    std::function<BOOL(SC_HANDLE)> CloseServiceHandle;
    std::function<SC_HANDLE(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR,
                            LPDWORD, LPCSTR, LPCSTR, LPCSTR)>
        CreateServiceA;
    std::function<BOOL(SC_HANDLE, DWORD, LPCSTR*)> StartServiceA;
    std::function<SC_HANDLE(SC_HANDLE, LPCSTR, DWORD)> OpenServiceA;
    std::function<BOOL(SC_HANDLE)> DeleteService;
    std::function<BOOL(SC_HANDLE, DWORD, LPSERVICE_STATUS)> ControlService;
    std::function<BOOL(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR,
                       LPCSTR, LPCSTR)>
        ChangeServiceConfigA;
    // user32, gdi32
    std::function<HWND(LPCSTR, LPCSTR)> FindWindowA;
    std::function<int(LONG, LPSTR, int)> GetKeyNameTextA; // default: no name (0)
    std::function<int(HWND, LPCSTR, LPCSTR, UINT)> MessageBoxA;
    std::function<HICON(HINSTANCE, LPCSTR)> LoadIconA;
    std::function<ATOM(const WNDCLASSA*)> RegisterClassA;
    std::function<HWND(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                       LPVOID)>
        CreateWindowExA;
    std::function<BOOL(LPMSG, HWND, UINT, UINT)> GetMessageA;
    std::function<BOOL(HMENU, UINT, int, int, int, HWND, const RECT*)> TrackPopupMenu;
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> DefWindowProcA;
    std::function<void(BYTE, BYTE, DWORD, ULONG_PTR)> keybd_event;
    std::function<BOOL(LPPOINT)> GetCursorPos; // default: `cursor`
    std::function<DWORD()> GetMessagePos;      // default: `cursor`, packed as Windows packs it
    std::function<BOOL(DWORD, NOTIFYICONDATAA*)> Shell_NotifyIconA;
    std::function<HINSTANCE(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, int)> ShellExecuteA;
    // x86 port instructions of the direct transport (TLptPortConnection::PortIn / PortOut)
    std::function<BYTE(WORD)> PortIn;
    std::function<void(WORD, BYTE)> PortOut;
};

extern Handlers on;         // answers in force
const Handlers& Defaults(); // the default answers, for wrapping: `auto base = Defaults().X;`
void Reset();               // empty log, files, menus, queue; default answers; last error 0

// ---- well-known values of the default answers -------------------------------------------------
extern const char DevicePath[];          // \\.\LptAccessAgent
extern HMODULE const AdvapiModule;       // what LoadLibraryA("ADVAPI32.DLL") answers
extern SC_HANDLE const ManagerHandle;    // OpenSCManagerA
extern SC_HANDLE const CreatedService;   // CreateServiceA
extern SC_HANDLE const OpenedService;    // OpenServiceA
extern HICON const FirstIconHandle;      // LoadIconA(.., "FIRSTICON")
extern HICON const SecondIconHandle;     // LoadIconA(.., "SECONDICON")
extern HWND const Window;                // CreateWindowExA
extern UINT const TaskbarCreatedMessage; // RegisterWindowMessageA("TaskbarCreated")
extern std::string modulePath;           // GetModuleFileNameA(nullptr, ..), "C:\Kavit\Kavit.exe"
extern std::wstring modulePathWide;      // GetModuleFileNameW; empty: modulePath widened
extern std::map<std::wstring, std::wstring> shortPaths; // GetShortPathNameW; others unchanged
extern LPARAM messageExtraInfo;                         // GetMessageExtraInfo
extern DWORD tickCount;                                 // GetTickCount, 0 after Reset
extern LPTHREAD_START_ROUTINE thread; // the routine of the last CreateThread, or null

// What ExitProcess throws: the process would end here, with this code.
struct ProcessExit {
    UINT code;
};

// ---- access rights ------------------------------------------------------------------------------
// Self-relative security descriptors as GetFileSecurityA hands them out, built from SIDs written
// as text. Ace flags: 0x08 inherit only.
struct Ace {
    uint8_t type; // 0 allow, 1 deny
    uint8_t flags;
    uint32_t mask;
    std::string sid;
};
std::vector<uint8_t> Sid(const std::string& text); // "S-1-5-32-544"
// No owner when `owner` is empty; no DACL at all (a NULL DACL) when `dacl` is false.
std::vector<uint8_t> Descriptor(const std::string& owner, const std::vector<Ace>& aces,
                                bool dacl = true);
// Owner Administrators; SYSTEM and Administrators full, Users read and execute, CREATOR OWNER
// full on what is created inside (inherit only).
std::vector<uint8_t> SafeDescriptor();
// GetFileSecurityA: the descriptor for the path, else SafeDescriptor(); the user is
// S-1-5-21-1-2-3-1001.
extern std::map<std::string, std::vector<uint8_t>> security; // path -> descriptor
extern DWORD volumeFlags;       // GetVolumeInformationA, FS_PERSISTENT_ACLS
extern std::string servicePath; // QueryServiceConfigA's binary path, "C:\Kavit\LPTWDMIO.SYS"

// ---- files: path -> content --------------------------------------------------------------------
extern std::map<std::string, std::string> files;
size_t OpenFileCount(); // file handles not yet closed

// ---- windows, menus, messages ------------------------------------------------------------------
struct MenuItem {
    UINT flags;
    UINT_PTR id;
    std::string text;
};
extern std::map<HMENU, std::vector<MenuItem>> menus; // live menus and their items
extern std::map<UINT_PTR, UINT> timers;              // live timers of the window: id -> period
extern std::deque<MSG> queue;                        // the thread's message queue
extern WNDPROC windowProc;                           // from RegisterClassA
extern bool windowVisible;
extern POINT cursor;                                                // GetCursorPos
void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam); // queue without logging
LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam); // call windowProc on Window directly
// The foreground window and each window's program (QueryFullProcessImageNameA; "": the process
// cannot be opened). A window's process id is its handle's value; Window's is Kavit's own.
extern HWND foreground;
extern std::map<HWND, std::string> windowPrograms;
extern HWND const TaskBar; // class "Shell_TrayWnd"

} // namespace fake
