// kavit-e2e: runs Kavit.exe end to end against the simulated port driver, under Wine or Windows.
//
//   kavit-e2e --dist C:\e2e\dist --driver C:\e2e\LPTWDMIO.SYS --work C:\e2e\work
//             [--gtest_filter=E2e.name:E2e.prefix_*] [--measure | --pace LABEL]
//   kavit-e2e --warm-up   starts the Wine desktop and service manager, then ends
//
// A GoogleTest program: its output and exit status report the cases. With --measure it prints
// timing figures instead (see measure.cpp).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

TPaths casePaths;

// measure.cpp: timing figures (--measure) and the pace lines of one Kavit.exe (--pace), not tests.
int RunMeasurements(const TPaths& paths);
int RunPace(const TPaths& paths, const char* label);

namespace {

// Ends a case at its first fatal failure, even one in a helper (GoogleTest's own ASSERT returns
// only from the function it is written in); GoogleTest takes this exception as reported already.
// Added after the printer, which has then shown the failure.
class TEndCaseOnFatalFailure : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (result.fatally_failed())
            throw testing::AssertionException(result);
    }
};

// Prints "kavit-e2e: `text`" on stderr; answers `status`.
int Fail(int status, const std::string& text) {
    fprintf(stderr, "kavit-e2e: %s\n", text.c_str());
    return status;
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir;
}

// A case still running at two looks two minutes apart has hung in a way no wait of its own
// caught: report it and end the run, so that CI sees a failure instead of a timeout.
DWORD WINAPI Watchdog(LPVOID) {
    for (const testing::TestInfo* seen = nullptr;; Sleep(120000)) {
        const testing::TestInfo* now = testing::UnitTest::GetInstance()->current_test_info();
        if (now && now == seen) {
            printf("kavit-e2e: %s still running after 2 minutes or more; run abandoned\n",
                   now->name());
            ExitProcess(1);
        }
        seen = now;
    }
}

// Brings up what the cases rely on, so that they find it running: the desktop with its task bar
// (which holds the tray) and the service manager.
int WarmUp() {
    GetDesktopWindow();
    if (!WaitUntil([] { return FindWindowA("Shell_TrayWnd", nullptr) != nullptr; }, 60000, 20))
        return Fail(1, "no task bar (Shell_TrayWnd) on the desktop");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return Fail(1, "OpenSCManagerA: " + LastErrorText());
    CloseServiceHandle(manager);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Plain LF line ends and no buffering: the output goes to a Unix pipe and is read live.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new TEndCaseOnFatalFailure);
    bool measure = false;
    const char* pace = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--dist" && i + 1 < argc)
            casePaths.dist = WithSlash(argv[++i]);
        else if (arg == "--driver" && i + 1 < argc)
            casePaths.driver = argv[++i];
        else if (arg == "--work" && i + 1 < argc)
            casePaths.work = WithSlash(argv[++i]);
        else if (arg == "--measure")
            measure = true;
        else if (arg == "--pace" && i + 1 < argc)
            pace = argv[++i];
        else if (arg == "--warm-up")
            return WarmUp();
        else
            return Fail(2, "unknown argument " + arg);
    }
    if (casePaths.dist.empty() || casePaths.driver.empty() || casePaths.work.empty())
        return Fail(2, "usage: kavit-e2e --dist DIR --driver LPTWDMIO.SYS --work DIR "
                       "[--gtest_filter=...] [--measure | --pace LABEL]");
    CreateDirectoryA(casePaths.work.c_str(), nullptr);

    std::string reason;
    if (!KeyHook::Start(reason))
        return Fail(1, "no keyboard hook: " + reason);
    if (pace)
        return RunPace(casePaths, pace);
    if (measure)
        return RunMeasurements(casePaths);

    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    int status = RUN_ALL_TESTS();
    DriverService::Remove(reason); // leave the prefix without a loaded driver
    KeyHook::Stop();
    return status;
}
