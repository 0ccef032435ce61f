// kavit-check.exe: the lines --once prints for a script, the live view, and the driver service
// it leaves, alone or beside Kavit.
#include <algorithm>
#include <cstring>
#include <utility>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

const DWORD CheckDeadlineMs = 30000;

struct TCheckRun {
    DWORD exitCode = 0;
    std::string out, err;
    std::vector<std::string> lines; // of out, without line ends
};

// A program directory (with the driver unless told not to, without Kavit.exe unless told to)
// holding kavit-check.exe.
void CheckDir(TEnv& env, bool withDriver = true, bool withKavit = false) {
    env.MakeProgramDir(withDriver, withKavit);
    std::string from = env.paths.dist + "kavit-check.exe";
    if (!CopyFileA(from.c_str(), (env.dir + "kavit-check.exe").c_str(), FALSE))
        Fail("program under test missing: CopyFileA(%s): %s", from.c_str(),
             Win32ErrorText(GetLastError()).c_str());
}

// Whatever the pipe holds now, without waiting for more.
void Drain(HANDLE pipe, std::string& text) {
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ||
            got == 0)
            return;
        text.append(buffer, got);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// kavit-check.exe of the case's directory, started from C:\ with `args`, its output caught and
// no console input. It is ended, if it still runs, when this goes.
class TCheck {
  public:
    TCheck(TEnv& env, const char* args) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE outWrite, errWrite;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0) ||
            !CreatePipe(&errRead, &errWrite, &inherit, 0))
            Fail("CreatePipe: %s", Win32ErrorText(GetLastError()).c_str());
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        PROCESS_INFORMATION info = {};
        std::string exe = env.dir + "kavit-check.exe";
        std::string commandLine = "\"" + exe + "\"" + (*args ? " " : "") + args;
        BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, "C:\\", &startup, &info);
        DWORD startError = GetLastError();
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        if (nul != INVALID_HANDLE_VALUE)
            CloseHandle(nul);
        if (!started) {
            CloseReaders();
            Fail("CreateProcessA(%s): %s", exe.c_str(), Win32ErrorText(startError).c_str());
        }
        CloseHandle(info.hThread);
        process = info.hProcess;
    }
    ~TCheck() {
        CloseReaders();
        TerminateProcess(process, 999);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    // Waits until the output holds `text`; fails with `what` otherwise.
    void ExpectPrinted(const char* text, const char* what) {
        auto printed = [&] {
            Catch();
            return out.find(text) != std::string::npos;
        };
        if (!WaitUntil(printed, CheckDeadlineMs, 5))
            Fail("%s; printed: %s", what, out.c_str());
    }
    // Waits for the end and gives the exit status; fails with `what` when it does not come
    // within `deadlineMs`.
    DWORD ExpectEnd(const char* what, DWORD deadlineMs = 5000) {
        auto ended = [&] {
            Catch();
            return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        };
        if (!WaitUntil(ended, deadlineMs, 5))
            Fail("%s; printed: %s", what, out.c_str());
        Catch();
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        return exitCode;
    }
    // Stops reading its output, as a reader that goes away does (kavit-check | head -3).
    void CloseReader() {
        if (outRead)
            CloseHandle(outRead);
        outRead = nullptr;
    }
    std::string out, err;

  private:
    void Catch() {
        if (outRead)
            Drain(outRead, out);
        if (errRead)
            Drain(errRead, err);
    }
    void CloseReaders() {
        CloseReader();
        if (errRead)
            CloseHandle(errRead);
        errRead = nullptr;
    }
    HANDLE outRead = nullptr, errRead = nullptr;
    HANDLE process = nullptr;
};

// Runs kavit-check with `args` to its end.
TCheckRun RunCheck(TEnv& env, const char* args) {
    TCheck check(env, args);
    TCheckRun run;
    run.exitCode = check.ExpectEnd(Format("kavit-check %s still running after %lu s", args,
                                          static_cast<unsigned long>(CheckDeadlineMs / 1000))
                                       .c_str(),
                                   CheckDeadlineMs);
    run.out = check.out;
    run.err = check.err;
    run.lines = Lines(run.out);
    return run;
}

std::string Quoted(const TCheckRun& run) {
    std::string all;
    for (const std::string& line : run.lines)
        all += (all.empty() ? "\"" : ", \"") + line + "\"";
    return "[" + all + "]" + (run.err.empty() ? "" : "; error output: " + run.err);
}

// The line of --once that starts with `prefix` ("driver: "), empty when there is none.
std::string LineStarting(const TCheckRun& run, const std::string& prefix) {
    for (const std::string& line : run.lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line;
    return std::string();
}

// What --once says about the system and the folder. The values depend on the Windows (or Wine)
// it runs on: only the lines' coming is checked here.
const char* const SystemLinePrefixes[] = {
    "windows: ", "test signing: ", "secure boot: ", "memory integrity: ", "folder: "};

// The driver, port and held lines of --once, the system lines after them, and the exit status.
void ExpectOnce(const TCheckRun& run, const char* driverPrefix, bool driverOk, const char* port,
                const std::string& held, DWORD exitCode) {
    for (const char* prefix : SystemLinePrefixes)
        Expect(LineStarting(run, prefix).size() > strlen(prefix), "no line \"%s...\": %s", prefix,
               Quoted(run).c_str());
    std::string driver = LineStarting(run, "driver: ");
    if (driverOk)
        Expect(driver == "driver: ok", "no line \"driver: ok\": %s", Quoted(run).c_str());
    else
        Expect(driver.compare(0, strlen(driverPrefix), driverPrefix) == 0,
               "no line starts \"%s\": %s", driverPrefix, Quoted(run).c_str());
    std::string wantPort = std::string("port: ") + port;
    Expect(LineStarting(run, "port: ") == wantPort, "no line \"%s\": %s", wantPort.c_str(),
           Quoted(run).c_str());
    std::string wantHeld = held.empty() ? "held:" : "held: " + held;
    Expect(LineStarting(run, "held:") == wantHeld, "no line \"%s\": %s", wantHeld.c_str(),
           Quoted(run).c_str());
    Expect(run.exitCode == exitCode, "exit status %lu, expected %lu; printed %s",
           static_cast<unsigned long>(run.exitCode), static_cast<unsigned long>(exitCode),
           Quoted(run).c_str());
}

void NoDriverFile(TEnv& env) {
    CheckDir(env, false);
    env.UnloadDriver();
    TCheckRun run = RunCheck(env, "--once");
    // The file is looked for before anything else: Wine's service manager answers a missing
    // file with another error than Windows' does.
    ExpectOnce(run, "driver: the driver file LPTWDMIO.SYS is missing from ", false, "none", "", 1);
    std::string dir = env.dir;
    Expect(run.lines[0].find(dir) != std::string::npos, "the reason names no directory %s: %s",
           dir.c_str(), run.lines[0].c_str());
    Expect(run.lines[0].find("(error 2") != std::string::npos,
           "the reason gives no error 2 (file not found): %s", run.lines[0].c_str());
    env.ExpectServiceRemoved("after kavit-check found no driver file");
}

void InstallsAndRemoves(TEnv& env) {
    CheckDir(env);
    env.UnloadDriver();
    TCheckRun run = RunCheck(env, "--once");
    ExpectOnce(run, "", true, "LPT1", "", 0); // the port the driver has after loading
    Expect(LineStarting(run, "folder: ") == "folder: safe", "no line \"folder: safe\": %s",
           Quoted(run).c_str());
    env.ExpectServiceRemoved("after kavit-check installed the driver");
}

// A folder every user may change: kavit-check installs nothing, says why on its driver and
// folder lines, and fails.
void UnsafeFolder(TEnv& env) {
    CheckDir(env);
    env.UnloadDriver();
    OpenToEveryone(env.dir);
    TCheckRun run = RunCheck(env, "--once");
    std::string reason = env.dir + " can be changed by Everyone (S-1-1-0): write data";
    ExpectOnce(run, ("driver: not loaded, because " + reason).c_str(), false, "none", "", 1);
    Expect(LineStarting(run, "folder: ") == "folder: " + reason, "no line \"folder: %s\": %s",
           reason.c_str(), Quoted(run).c_str());
    std::string detail;
    Expect(DriverService::Probe(detail) == DriverService::Absent,
           "kavit-check left a service behind: %s", detail.c_str());
}

void PortsAndHeld(TEnv& env) {
    CheckDir(env);
    const ULONG ports = SIM_PORT_LPT2 | SIM_PORT_LPT3;
    env.PreloadDriver(ports);
    // One button on each input line, on four different select steps.
    std::vector<std::pair<int, int>> held = {{2, 12}, {1, 3}, {2, 1}, {1, 8}};
    for (const auto& [pad, button] : held)
        Press(env, pad, button);
    std::sort(held.begin(), held.end());
    std::string list;
    for (const auto& [pad, button] : held)
        list += Format("%s%d:%d", list.empty() ? "" : " ", pad, button);
    KeyHook::Clear();
    TCheckRun run = RunCheck(env, "--once");
    ExpectOnce(run, "", true, "LPT2", list, 0);
    ExpectNoKeys("sent by kavit-check");
    // The harness installed this service; kavit-check must leave it alone.
    ExpectServiceKept("kavit-check removed a service it did not install");
}

void NoPort(TEnv& env) {
    CheckDir(env);
    env.PreloadDriver(0);
    TCheckRun run = RunCheck(env, "--once");
    ExpectOnce(run, "", true, "none", "", 1);
}

// The live view with Interval=-5 in Kavit.ini still follows a press, and ends, removing the
// service it installed, once the reader of its output is gone (kavit-check | head -3).
void LiveViewPaceAndReaderGone(TEnv& env) {
    CheckDir(env);
    TIniValues ini = StandardIni(1);
    ini.interval = static_cast<uint32_t>(-5);
    env.WriteIni(ini);
    env.UnloadDriver();
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    env.OpenSim();
    Press(env, 1, 3);
    check.ExpectPrinted("\n 3 * ", "the live view did not show pad 1 button 3 held (Interval=-5)");

    check.CloseReader();
    Release(env, 1, 3); // the next picture differs, so kavit-check writes, and that fails
    env.sim.Close();
    DWORD exitCode = check.ExpectEnd("kavit-check still runs 5 s after its output's reader left");
    Expect(exitCode == 0, "exit status %lu after the reader went away, expected 0 as after Esc",
           static_cast<unsigned long>(exitCode));
    env.ExpectServiceRemoved("after kavit-check's reader went away");
}

// The driver unloaded under the live view: the reason given is that, not the last error's text.
void LiveViewDriverGone(TEnv& env) {
    CheckDir(env);
    env.PreloadDriver(SIM_PORTS_DEFAULT);
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    env.UnloadDriver();
    DWORD exitCode = check.ExpectEnd("kavit-check still runs 5 s after the driver went away");
    const char want[] = "The port stopped answering (the port driver went away";
    Expect(check.out.find(want) != std::string::npos, "no \"%s\"; printed: %s", want,
           check.out.c_str());
    Expect(exitCode == 1, "exit status %lu after the driver went away, expected 1",
           static_cast<unsigned long>(exitCode));
}

// The live view installs the driver, Kavit opens the device beside it, and the live view ends
// (its output's reader gone, the way out Ctrl-C takes too): the service stays while Kavit holds
// the device, and the driver goes on answering Kavit's batches; Kavit, the last one out, removes
// it at "Exit". The live view holds the PC's ports (one program at a time has a port), so Kavit
// started beside it waits for them: only the driver's answers show.
void CheckThenKavitLastOneOut(TEnv& env) {
    CheckDir(env, true, true);
    env.WriteIni(StandardIni(1));
    env.UnloadDriver();
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    TKavit& kavit = env.StartKavit();
    ExpectNoNotice(kavit, "Kavit");
    env.OpenSim();
    check.CloseReader();
    Press(env, 1, 3); // a changed picture: kavit-check writes, and that ends it
    check.ExpectEnd("kavit-check still runs 5 s after its output's reader left");
    ExpectServiceKept("kavit-check removed the service Kavit still holds");
    env.ClearLog();
    Expect(WaitUntil([&] { return !env.PollLog().empty(); }, 3000),
           "Kavit's batches no longer reach the driver");
    env.sim.Close();
    env.ExitKavit(kavit, "after Kavit, the last one out, exited");
}

// The live view holds LPT1 and LPT2 when Kavit starts beside it. Once kavit-check has ended,
// Kavit finds the port by itself, in the order it always tries (LPT1 first): a press gives its
// key within two seconds.
void KavitWaitsForAPortInUse(TEnv& env) {
    CheckDir(env, true, true);
    TIniValues ini = StandardIni(1);
    env.WriteIni(ini);
    env.PreloadDriver(SIM_PORT_LPT1 | SIM_PORT_LPT2);
    TKavit* kavit = nullptr;
    {
        TCheck check(env, "");
        check.ExpectPrinted("Pad 1:", "no live view within the deadline");
        kavit = &env.StartKavit();
        ExpectNoNotice(*kavit, "Kavit");
    } // kavit-check ends here, as when its window is closed
    env.OpenSim();
    KeyHook::Clear();
    Press(env, 1, 5);
    ExpectKeys(env.WaitKeys(1, 2000), {KeyOf(ini.presets[0], 1, 5, false)},
               "the first key within 2 s of kavit-check's end");
    env.WaitPasses(1, Lpt1);
    env.sim.Close();
    env.ExitKavit(*kavit);
}

} // namespace

KAVIT_E2E_CASE(check_once_no_driver_file, NoDriverFile)
KAVIT_E2E_CASE(check_once_installs_and_removes, InstallsAndRemoves)
KAVIT_E2E_CASE(check_once_ports_and_held, PortsAndHeld)
KAVIT_E2E_CASE(check_once_no_port, NoPort)
KAVIT_E2E_CASE(check_once_unsafe_folder, UnsafeFolder)
KAVIT_E2E_CASE(check_live_pace_and_reader_gone, LiveViewPaceAndReaderGone)
KAVIT_E2E_CASE(check_live_driver_gone, LiveViewDriverGone)
KAVIT_E2E_CASE(robust_check_then_kavit_last_one_out, CheckThenKavitLastOneOut)
KAVIT_E2E_CASE(robust_kavit_waits_for_port_in_use, KavitWaitsForAPortInUse)
