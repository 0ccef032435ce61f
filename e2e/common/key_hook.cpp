#include "e2e/common/key_hook.h"

#include <shellapi.h>

#include <atomic>
#include <cstdio>

namespace {

// The hook thread appends, the harness reads: a critical section, which every Windows has (the
// C++ library's mutex needs the posix-thread runtime).
CRITICAL_SECTION eventsLock;
[[maybe_unused]] const bool eventsLockMade = (InitializeCriticalSection(&eventsLock), true);
struct TEventsGuard {
    TEventsGuard() { EnterCriticalSection(&eventsLock); }
    ~TEventsGuard() { LeaveCriticalSection(&eventsLock); }
};
std::vector<TKeyEvent> events;
std::atomic<HWND> watchedWindow{nullptr};
std::atomic<long (*)()> watchProbe{nullptr};
std::atomic<bool> passOn{false};
void (*showEvent)(const TKeyEvent&) = nullptr; // set before the hook thread starts
HANDLE hookThread = nullptr, hookReady = nullptr;
DWORD hookThreadId = 0, hookError = 0;
HHOOK hook = nullptr;

LRESULT CALLBACK LowLevelKeyboard(int code, WPARAM message, LPARAM data) {
    if (code != HC_ACTION)
        return CallNextHookEx(nullptr, code, message, data);
    const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    LARGE_INTEGER now; // the harness's clock, Now()
    QueryPerformanceCounter(&now);
    TKeyEvent event = {key->vkCode, key->scanCode, (key->flags & LLKHF_EXTENDED) != 0,
                       (key->flags & LLKHF_UP) != 0, now.QuadPart};
    HWND window = watchedWindow.load();
    if (window) {
        event.watched = true;
        event.windowAlive = IsWindow(window) != FALSE;
        event.trayIconPresent = TrayIconPresent(window);
        long (*probe)() = watchProbe.load();
        if (probe)
            event.probe = probe();
    }
    if (showEvent) {
        showEvent(event);
    } else {
        TEventsGuard guard;
        events.push_back(event);
    }
    // Kept events are swallowed, no window gets them, unless passed on.
    return showEvent || passOn.load() ? CallNextHookEx(nullptr, code, message, data) : 1;
}

DWORD WINAPI HookThread(LPVOID) {
    hook = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboard, GetModuleHandleA(nullptr), 0);
    hookError = GetLastError();
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before Start returns
    SetEvent(hookReady);
    while (hook && GetMessageA(&msg, nullptr, 0, 0) > 0) // the hook is called from in here
        DispatchMessageA(&msg);
    return hook ? !UnhookWindowsHookEx(hook) : 1;
}

} // namespace

std::string Describe(const TKeyEvent& event) {
    char text[64];
    snprintf(text, sizeof text, "%s vk=0x%02lX scan=0x%02lX ext=%d", event.up ? "up" : "down",
             event.vk, event.scan, event.extended ? 1 : 0);
    return text;
}

namespace KeyHook {

bool Start(std::string& reason, void (*show)(const TKeyEvent&)) {
    showEvent = show;
    hookReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hookThread = CreateThread(nullptr, 0, HookThread, nullptr, 0, &hookThreadId);
    if (!hookThread || WaitForSingleObject(hookReady, 5000) != WAIT_OBJECT_0) {
        reason = "hook thread did not start";
        return false;
    }
    if (!hook)
        reason = "SetWindowsHookExA(WH_KEYBOARD_LL) failed, error " + std::to_string(hookError);
    return hook != nullptr;
}

void Stop() {
    if (!hookThread)
        return;
    PostThreadMessageA(hookThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(hookThread, 2000);
    CloseHandle(hookThread);
    hookThread = nullptr;
}

std::vector<TKeyEvent> Events() {
    TEventsGuard guard;
    return events;
}

void Clear() {
    TEventsGuard guard;
    events.clear();
}

void PassOn(bool on) {
    passOn.store(on);
}

void Watch(HWND window, long (*probe)()) {
    watchProbe.store(probe);
    watchedWindow.store(window);
}

} // namespace KeyHook

bool TrayIconPresent(HWND owner, UINT id) {
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = owner;
    data.uID = id;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}
