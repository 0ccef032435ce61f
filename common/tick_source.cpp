#include "common/tick_source.h"

#include <atomic>

#include "lptio/lptio.h"

namespace {

const DWORD ZeroIntervalPeriod = 10;       // USER_TIMER_MINIMUM, what SetTimer made of 0
const DWORD LongestPeriod = 0x7FFFFFFF;    // USER_TIMER_MAXIMUM; a timer's period is a LONG
const DWORD TimerHighResolution = 0x2;     // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
const DWORD TimerAllAccess = 0x1F0003;     // TIMER_ALL_ACCESS
const UINT FinestResolution = 1;           // ms, for timeBeginPeriod
const int ProcessPowerThrottling = 4;      // PROCESS_INFORMATION_CLASS
const ULONG ThrottlingStateVersion = 1;    // PROCESS_POWER_THROTTLING_CURRENT_VERSION
const ULONG ThrottleExecutionSpeed = 0x1;  // EcoQoS
const ULONG ThrottleTimerResolution = 0x4; // PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION
const DWORD ThreadEndWaitMs = 1000;

struct TThrottlingState { // PROCESS_POWER_THROTTLING_STATE
    ULONG version;
    ULONG controlMask; // what the process decides itself
    ULONG stateMask;   // of those, what is throttled
};

typedef HANDLE(WINAPI* TCreateWaitableTimerExW)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* TSetProcessInformation)(HANDLE, int, LPVOID, DWORD);
typedef UINT(WINAPI* TTimePeriod)(UINT);

HANDLE timer;
HANDLE thread;
HANDLE stopEvent;
HANDLE tickEvent; // without a window: set once a period; auto-reset, so it counts one tick
HWND target;
UINT_PTR targetId;
std::atomic<bool> tickInFlight;
TTimePeriod endPeriod; // set while the resolution is raised: what gives it back
bool throttlingDecided;

HMODULE Kernel32() {
    return GetModuleHandleA("kernel32.dll");
}

// Windows 10 1709 on throttles by these bits; older Windows has no such class (Windows 8 and
// early 10 answer an error, which changes nothing) or no function at all.
void DecideThrottling(ULONG controlMask) {
    TSetProcessInformation set =
        EntryPoint<TSetProcessInformation>(Kernel32(), "SetProcessInformation");
    if (!set)
        return;
    TThrottlingState state = {ThrottlingStateVersion, controlMask, 0};
    set(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
    throttlingDecided = controlMask != 0;
}

// A high-resolution timer keeps a period of 1 ms without a raised resolution; without one, the
// resolution is raised for as long as the ticks run.
HANDLE CreateTickTimer() {
    TCreateWaitableTimerExW createEx =
        EntryPoint<TCreateWaitableTimerExW>(Kernel32(), "CreateWaitableTimerExW");
    HANDLE made =
        createEx ? createEx(nullptr, nullptr, TimerHighResolution, TimerAllAccess) : nullptr;
    if (made)
        return made;
    HMODULE winmm = LoadLibraryA("winmm.dll");
    TTimePeriod begin = winmm ? EntryPoint<TTimePeriod>(winmm, "timeBeginPeriod") : nullptr;
    TTimePeriod end = winmm ? EntryPoint<TTimePeriod>(winmm, "timeEndPeriod") : nullptr;
    if (begin && end && begin(FinestResolution) == 0)
        endPeriod = end;
    return CreateWaitableTimerA(nullptr, FALSE, nullptr);
}

// A tick that comes while the last is still waiting or being handled is dropped.
DWORD WINAPI TickThread(LPVOID) {
    HANDLE waits[2] = {stopEvent, timer};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (!target)
            SetEvent(tickEvent);
        else if (!tickInFlight.exchange(true) && !PostMessageA(target, WM_TIMER, targetId, 0))
            tickInFlight = false;
    }
    return 0;
}

void Close(HANDLE& handle) {
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

} // namespace

bool StartTicks(HWND window, UINT_PTR id, DWORD period) {
    StopTicks();
    if (period == 0 || period > LongestPeriod)
        return false;
    DecideThrottling(ThrottleExecutionSpeed | ThrottleTimerResolution);
    timer = CreateTickTimer();
    // Periodic: the kernel (and Wine) keep the schedule, so a tick that fires late does not
    // delay the ones after it, and periods that pass while nobody waits leave one signal.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(period) * 10000; // relative, in 100 ns units
    target = window;
    targetId = id;
    tickInFlight = false;
    tickEvent = window ? nullptr : CreateEventA(nullptr, FALSE, FALSE, nullptr);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool started =
        timer && stopEvent && (window || tickEvent) &&
        SetWaitableTimer(timer, &due, static_cast<LONG>(period), nullptr, nullptr, FALSE) &&
        (thread = CreateThread(nullptr, 0, TickThread, nullptr, 0, nullptr)) != nullptr;
    // As Windows' own multimedia timer thread: a game's busy threads do not hold a tick back.
    // Posting is all it does.
    if (started)
        SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    else
        StopTicks();
    return started;
}

void TickHandled() {
    tickInFlight = false;
}

HANDLE TickHandle() {
    return tickEvent;
}

void StopTicks() {
    if (thread) {
        SetEvent(stopEvent);
        WaitForSingleObject(thread, ThreadEndWaitMs);
    }
    Close(thread);
    Close(stopEvent);
    Close(tickEvent);
    if (timer)
        CancelWaitableTimer(timer);
    Close(timer);
    if (endPeriod)
        endPeriod(FinestResolution);
    endPeriod = nullptr;
    if (throttlingDecided)
        DecideThrottling(0);
}

DWORD PollPeriodMs(DWORD interval) {
    if (interval == 0)
        return ZeroIntervalPeriod;
    return interval > LongestPeriod ? LongestPeriod : interval;
}
