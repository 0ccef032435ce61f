#include "e2e/harness/key_hook.h"

#include <shellapi.h>

#include <atomic>
#include <cstdio>

#include "e2e/harness/harness.h"

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
HANDLE hookThread = nullptr;
DWORD hookThreadId = 0;
HANDLE hookReady = nullptr;
bool hookInstalled = false;
DWORD hookError = 0;

LRESULT CALLBACK LowLevelKeyboard(int code, WPARAM message, LPARAM data) {
    if (code != HC_ACTION)
        return CallNextHookEx(nullptr, code, message, data);
    const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    TKeyEvent event = {key->vkCode, key->scanCode, (key->flags & LLKHF_EXTENDED) != 0,
                       (key->flags & LLKHF_UP) != 0, Now()};
    HWND window = watchedWindow.load();
    if (window) {
        event.watched = true;
        event.windowAlive = IsWindow(window) != FALSE;
        event.trayIconPresent = TrayIconPresent(window);
        long (*probe)() = watchProbe.load();
        if (probe)
            event.probe = probe();
    }
    {
        TEventsGuard guard;
        events.push_back(event);
    }
    // Unless passed on, swallowed: no window gets it.
    return passOn.load() ? CallNextHookEx(nullptr, code, message, data) : 1;
}

DWORD WINAPI HookThread(LPVOID) {
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, LowLevelKeyboard, GetModuleHandleA(nullptr), 0);
    hookInstalled = hook != nullptr;
    hookError = hook ? 0 : GetLastError();
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before Start returns
    SetEvent(hookReady);
    if (!hook)
        return 1;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnhookWindowsHookEx(hook);
    return 0;
}

} // namespace

std::string Describe(const TKeyEvent& event) {
    return Format("%s vk=0x%02lX scan=0x%02lX ext=%d", event.up ? "up" : "down",
                  static_cast<unsigned long>(event.vk), static_cast<unsigned long>(event.scan),
                  event.extended ? 1 : 0);
}

namespace KeyHook {

bool Start(std::string& reason) {
    hookReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hookThread = CreateThread(nullptr, 0, HookThread, nullptr, 0, &hookThreadId);
    if (!hookThread || WaitForSingleObject(hookReady, 5000) != WAIT_OBJECT_0) {
        reason = "hook thread did not start";
        return false;
    }
    if (!hookInstalled) {
        reason = Format("SetWindowsHookExA(WH_KEYBOARD_LL) failed, error %lu",
                        static_cast<unsigned long>(hookError));
        return false;
    }
    return true;
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

size_t Count() {
    TEventsGuard guard;
    return events.size();
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
    data.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}
