// kavit-check.exe --once: the lines a script reads, and the driver service it leaves.
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

void CopyCheck(TEnv& env) {
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

// Runs kavit-check.exe of the case's directory from C:\ with `args`, output caught, to its end.
TCheckRun RunCheck(TEnv& env, const char* args) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
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
    std::string commandLine = "\"" + exe + "\" " + args;
    BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  "C:\\", &startup, &info);
    DWORD startError = GetLastError();
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    TCheckRun run;
    if (started) {
        CloseHandle(info.hThread);
        bool ended = WaitUntil(
            [&] {
                Drain(outRead, run.out);
                Drain(errRead, run.err);
                return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0;
            },
            CheckDeadlineMs, 5);
        if (!ended)
            TerminateProcess(info.hProcess, 999);
        WaitForSingleObject(info.hProcess, 5000);
        Drain(outRead, run.out);
        Drain(errRead, run.err);
        GetExitCodeProcess(info.hProcess, &run.exitCode);
        CloseHandle(info.hProcess);
        if (!ended) {
            CloseHandle(outRead);
            CloseHandle(errRead);
            Fail("kavit-check %s still running after %lu s; printed: %s", args,
                 static_cast<unsigned long>(CheckDeadlineMs / 1000), run.out.c_str());
        }
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    if (!started)
        Fail("CreateProcessA(%s): %s", exe.c_str(), Win32ErrorText(startError).c_str());
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

// The driver, port and held lines of --once, and the exit status.
void ExpectOnce(const TCheckRun& run, const char* driverPrefix, bool driverOk, const char* port,
                const std::string& held, DWORD exitCode) {
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

// The name Kavit gives the first port of a SIM_PORT_* mask.
const char* FirstPortName(ULONG ports) {
    if (ports & SIM_PORT_LPT1)
        return "LPT1";
    if (ports & SIM_PORT_LPT2)
        return "LPT2";
    if (ports & SIM_PORT_LPT3)
        return "LPT3";
    return "none";
}

void NoDriverFile(TEnv& env) {
    env.MakeProgramDir(false, false);
    CopyCheck(env);
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
    env.MakeProgramDir(true, false);
    CopyCheck(env);
    env.UnloadDriver();
    TCheckRun run = RunCheck(env, "--once");
    ExpectOnce(run, "", true, FirstPortName(SIM_PORTS_DEFAULT), "", 0);
    Expect(LineStarting(run, "folder: ") == "folder: safe", "no line \"folder: safe\": %s",
           Quoted(run).c_str());
    env.ExpectServiceRemoved("after kavit-check installed the driver");
}

// A folder every user may change: kavit-check installs nothing, says why on its driver and
// folder lines, and fails.
void UnsafeFolder(TEnv& env) {
    env.MakeProgramDir(true, false);
    CopyCheck(env);
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
    env.MakeProgramDir(true, false);
    CopyCheck(env);
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
    ExpectOnce(run, "", true, FirstPortName(ports), list, 0);
    std::vector<TKeyEvent> keys = KeyHook::Events();
    Expect(keys.empty(), "kavit-check sent %zu key events, first: %s", keys.size(),
           keys.empty() ? "" : Describe(keys[0]).c_str());
    // The harness installed this service; kavit-check must leave it alone.
    std::string detail;
    Expect(DriverService::Probe(detail) == DriverService::Registered,
           "kavit-check removed a service it did not install (%s)", detail.c_str());
}

void NoPort(TEnv& env) {
    env.MakeProgramDir(true, false);
    CopyCheck(env);
    env.PreloadDriver(0);
    TCheckRun run = RunCheck(env, "--once");
    ExpectOnce(run, "", true, "none", "", 1);
}

} // namespace

void AddCheckCases(std::vector<TCase>& cases) {
    cases.push_back({"check_once_no_driver_file", NoDriverFile, false});
    cases.push_back({"check_once_installs_and_removes", InstallsAndRemoves, false});
    cases.push_back({"check_once_ports_and_held", PortsAndHeld, false});
    cases.push_back({"check_once_no_port", NoPort, false});
    cases.push_back({"check_once_unsafe_folder", UnsafeFolder, false});
}
