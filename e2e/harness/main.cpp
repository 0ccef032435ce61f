// kavit-e2e: runs Kavit.exe end to end against the simulated port driver, under Wine or Windows.
//
//   kavit-e2e --dist C:\e2e\dist --driver C:\e2e\LPTWDMIO.SYS --work C:\e2e\work
//             [--only name,name...] [--list] [--measure]
//   kavit-e2e --warm-up   starts the Wine desktop and service manager, then ends
//
// Prints "PASS name" or "FAIL name: reason" per case and closes with "N passed, N failed".
// With --measure it prints timing figures instead (see measure.cpp).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"
#include "e2e/harness/measure.h"

namespace {

const DWORD CaseDeadlineMs = 120000;

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir;
}

bool Selected(const std::string& only, const char* name) {
    if (only.empty())
        return true;
    size_t start = 0;
    while (start <= only.size()) {
        size_t end = only.find(',', start);
        std::string item = only.substr(start, end == std::string::npos ? end : end - start);
        // "driver_" selects every case whose name starts so.
        if (!item.empty() &&
            (item == name || (item.back() == '_' && strncmp(name, item.c_str(), item.size()) == 0)))
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

// A case that outlives its deadline has hung in a way no wait of its own caught: report it and
// end the run, so that CI sees a failure instead of a timeout.
HANDLE caseDone = nullptr;
const char* runningCase = nullptr;
int passedSoFar = 0, failedSoFar = 0;

DWORD WINAPI Watchdog(LPVOID) {
    for (;;) {
        if (WaitForSingleObject(caseDone, CaseDeadlineMs) == WAIT_TIMEOUT && runningCase) {
            printf("FAIL %s: still running after %lu s; run abandoned\n", runningCase,
                   static_cast<unsigned long>(CaseDeadlineMs / 1000));
            printf("%d passed, %d failed\n", passedSoFar, failedSoFar + 1);
            fflush(stdout);
            ExitProcess(1);
        }
    }
}

// Brings up what the cases rely on, so that they find it running: the desktop with its task bar
// (which holds the tray) and the service manager.
int WarmUp() {
    GetDesktopWindow();
    if (!WaitUntil([] { return FindWindowA("Shell_TrayWnd", nullptr) != nullptr; }, 60000, 20)) {
        fprintf(stderr, "kavit-e2e: no task bar (Shell_TrayWnd) on the desktop\n");
        return 1;
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        fprintf(stderr, "kavit-e2e: OpenSCManagerA: %s\n", Win32ErrorText(GetLastError()).c_str());
        return 1;
    }
    CloseServiceHandle(manager);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Plain LF line ends and no buffering: the output goes to a Unix pipe and is read live.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
    TPaths paths;
    std::string only;
    bool list = false, measure = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--dist" && i + 1 < argc)
            paths.dist = WithSlash(argv[++i]);
        else if (arg == "--driver" && i + 1 < argc)
            paths.driver = argv[++i];
        else if (arg == "--work" && i + 1 < argc)
            paths.work = WithSlash(argv[++i]);
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--list")
            list = true;
        else if (arg == "--measure")
            measure = true;
        else if (arg == "--warm-up")
            return WarmUp();
        else {
            fprintf(stderr, "kavit-e2e: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    std::vector<TCase> cases;
    AddDriverCases(cases);
    AddStartupCases(cases);
    AddScanCases(cases);
    AddMenuCases(cases);
    AddCheckCases(cases);
    AddRobustnessCases(cases);
    if (list) {
        for (const TCase& c : cases)
            printf("%s\n", c.name);
        return 0;
    }
    if (paths.dist.empty() || paths.driver.empty() || paths.work.empty()) {
        fprintf(stderr, "usage: kavit-e2e --dist DIR --driver LPTWDMIO.SYS --work DIR "
                        "[--only a,b_] [--list] [--measure]\n");
        return 2;
    }
    CreateDirectoryA(paths.work.c_str(), nullptr);

    std::string reason;
    if (!KeyHook::Start(reason)) {
        printf("FAIL harness_setup: %s\n0 passed, 1 failed\n", reason.c_str());
        return 1;
    }
    if (measure)
        return RunMeasurements(paths);

    caseDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    LONGLONG runStart = Now();
    for (const TCase& c : cases) {
        if (!Selected(only, c.name))
            continue;
        runningCase = c.name;
        SetEvent(caseDone); // restarts the deadline
        std::string failure;
        LONGLONG start = Now();
        try {
            TEnv env(paths, c.name);
            c.run(env);
        } catch (const TCaseFailure& f) {
            failure = f.reason;
        } catch (const std::exception& e) {
            failure = std::string("exception: ") + e.what();
        }
        double seconds = MsBetween(start, Now()) / 1000.0;
        if (failure.empty()) {
            passedSoFar++;
            printf("PASS %s\n", c.name);
        } else {
            failedSoFar++;
            printf("FAIL %s: %s\n", c.name, failure.c_str());
        }
        if (seconds > 20)
            printf("# %s took %.1f s\n", c.name, seconds);
    }
    runningCase = nullptr;
    SetEvent(caseDone);
    std::string cleanup;
    DriverService::Remove(cleanup); // leave the prefix without a loaded driver
    KeyHook::Stop();
    printf("# cases took %.1f s\n", MsBetween(runStart, Now()) / 1000.0);
    printf("%d passed, %d failed\n", passedSoFar, failedSoFar);
    return failedSoFar ? 1 : 0;
}
