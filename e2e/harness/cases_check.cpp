// kavit-check.exe: the lines --once prints for a script, the live view, and the driver service
// it leaves, alone or beside Kavit.
#include <algorithm>
#include <cstring>
#include <utility>

#include "e2e/harness/cases.h"

namespace {

const DWORD CheckDeadlineMs = 30000;

const long Unloaded = -1;

// A program directory holding kavit-check.exe (with the driver unless told not to, without
// Kavit.exe unless told to), and the driver service gone or preloaded with `ports`.
void CheckDir(TEnv& env, long ports = Unloaded, bool withDriver = true, bool withKavit = false) {
    env.MakeProgramDir(withDriver, withKavit);
    std::string from = env.paths.dist + "kavit-check.exe";
    ASSERT_TRUE(CopyFileA(from.c_str(), (env.dir + "kavit-check.exe").c_str(), FALSE))
        << "program under test missing: " << from << ": " << LastErrorText();
    ports == Unloaded ? env.UnloadDriver() : env.PreloadDriver(static_cast<ULONG>(ports));
}

// kavit-check.exe of the case's directory, started from C:\ with `args` (none: the live view),
// its output and error output in one pipe, no console input; ended when this goes.
class TCheck {
  public:
    TCheck(TEnv& env, const char* args) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        CreatePipe(&outRead, &startup.hStdOutput, &inherit, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        startup.hStdError = startup.hStdOutput;
        startup.hStdInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr);
        PROCESS_INFORMATION info = {};
        std::string exe = env.dir + "kavit-check.exe",
                    commandLine = "\"" + exe + "\"" + (*args ? " " : "") + args;
        BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, "C:\\", &startup, &info);
        std::string error = LastErrorText();
        CloseHandle(startup.hStdOutput);
        CloseHandle(startup.hStdInput);
        [&] { ASSERT_TRUE(started) << "kavit-check " << args << " did not start: " << error; }();
        CloseHandle(info.hThread);
        process = info.hProcess;
    }
    ~TCheck() {
        CloseReader();
        TerminateProcess(process, 999);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    // Waits until the output holds `text`.
    void ExpectPrinted(const char* text, const char* what) {
        ASSERT_TRUE(
            WaitUntil([&] { return Catch().find(text) != std::string::npos; }, CheckDeadlineMs, 5))
            << what << "; printed: " << out;
    }
    // Waits for the end within `deadlineMs`, then expects the exit status `want` (any if -1).
    void ExpectEnd(long want, const char* what, DWORD deadlineMs = 5000) {
        ASSERT_TRUE(
            WaitUntil([&] { return Catch(), WaitForSingleObject(process, 0) == WAIT_OBJECT_0; },
                      deadlineMs, 5))
            << "kavit-check still runs " << deadlineMs << " ms " << what << "; printed: " << out;
        Catch();
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        ASSERT_TRUE(want < 0 || static_cast<long>(exitCode) == want)
            << "exit status " << exitCode << " " << what << ", expected " << want
            << "; printed: " << Quoted();
    }
    // Stops reading its output, as a reader that goes away does (kavit-check | head -3).
    void CloseReader() { CloseHandle(std::exchange(outRead, nullptr)); }
    std::string Quoted() const { return testing::PrintToString(out); }
    // The line that starts with `prefix` ("driver: "), without its line end; "" when there is none.
    std::string Line(const std::string& prefix) const {
        size_t at = ("\n" + out).find("\n" + prefix); // where it starts in `out`
        return at == std::string::npos ? "" : out.substr(at, out.find_first_of("\r\n", at) - at);
    }
    std::string out;

  private:
    // Whatever the pipe holds now, without waiting for more.
    const std::string& Catch() {
        DWORD available = 0, got = 0;
        char buffer[4096];
        while (outRead && PeekNamedPipe(outRead, nullptr, 0, nullptr, &available, nullptr) &&
               available > 0 &&
               ReadFile(outRead, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr))
            out.append(buffer, got);
        return out;
    }
    HANDLE outRead = nullptr, process = nullptr;
};

// kavit-check --once run to its end: the system lines, its driver line ("driver: ok" when `driver`
// is "", else starting with `driver`), its port, held and folder lines, and its exit status. The
// system lines' values depend on the Windows (or Wine) it runs on: only their coming is checked.
void ExpectOnce(TCheck& run, const std::string& driver, const char* port, const std::string& held,
                long exitCode, const std::string& folder = "safe") {
    run.ExpectEnd(exitCode, "after it started with --once", CheckDeadlineMs);
    for (const char* prefix :
         {"windows: ", "test signing: ", "secure boot: ", "memory integrity: "})
        ASSERT_GT(run.Line(prefix).size(), strlen(prefix))
            << "no line \"" << prefix << "...\": " << run.Quoted();
    std::string want = driver.empty() ? "driver: ok" : driver, line = run.Line("driver: ");
    ASSERT_EQ(driver.empty() ? line : line.substr(0, want.size()), want) << run.Quoted();
    ASSERT_EQ(run.Line("port: "), std::string("port: ") + port) << run.Quoted();
    ASSERT_EQ(run.Line("held:"), held.empty() ? "held:" : "held: " + held) << run.Quoted();
    ASSERT_EQ(run.Line("folder: "), "folder: " + folder) << run.Quoted();
}

TEST_F(E2e, check_once_no_driver_file) {
    CheckDir(env, Unloaded, false);
    TCheck run(env, "--once");
    // The file is looked for before anything else: Wine's service manager answers a missing
    // file with another error than Windows' does.
    ExpectOnce(run, "driver: the driver file LPTWDMIO.SYS is missing from ", "none", "", 1);
    std::string first = run.out.substr(0, run.out.find('\n'));
    ASSERT_NE(first.find(env.dir), std::string::npos) << "the reason names no directory";
    ASSERT_NE(first.find("(error 2"), std::string::npos) << "the reason gives no error 2";
    env.ExpectServiceRemoved("after kavit-check found no driver file");
}

TEST_F(E2e, check_once_installs_and_removes) {
    CheckDir(env);
    TCheck run(env, "--once");
    ExpectOnce(run, "", "LPT1", "", 0); // the port the driver has after loading
    env.ExpectServiceRemoved("after kavit-check installed the driver");
}

TEST_F(E2e, check_once_ports_and_held) {
    CheckDir(env, SIM_PORT_LPT2 | SIM_PORT_LPT3);
    // One button on each input line, on four different select steps.
    const std::pair<int, int> held[] = {{2, 12}, {1, 3}, {2, 1}, {1, 8}};
    for (const auto& [pad, button] : held)
        Press(env, pad, button);
    KeyHook::Clear();
    TCheck run(env, "--once");
    ExpectOnce(run, "", "LPT2", "1:3 1:8 2:1 2:12", 0);
    ExpectNoKeys("sent by kavit-check");
    ExpectServiceKept("kavit-check removed a service it did not install");
}

TEST_F(E2e, check_once_no_port) {
    CheckDir(env, 0);
    TCheck run(env, "--once");
    ExpectOnce(run, "", "none", "", 1);
}

// A folder every user may change: kavit-check installs nothing, says why on its driver and
// folder lines, and fails.
TEST_F(E2e, check_once_unsafe_folder) {
    CheckDir(env);
    OpenToEveryone(env.dir);
    TCheck run(env, "--once");
    std::string reason = env.dir + " can be changed by Everyone (S-1-1-0): write data";
    ExpectOnce(run, "driver: not loaded, because " + reason, "none", "", 1, reason);
    env.ExpectServiceRemoved("kavit-check left a service behind");
}

// The live view with Interval=-5 in Kavit.ini still follows a press, and ends, removing the
// service it installed, once the reader of its output is gone (kavit-check | head -3). What Kavit
// would say about its Kavit.ini in a box, kavit-check prints.
TEST_F(E2e, check_live_pace_and_reader_gone) {
    CheckDir(env);
    TIniValues ini = StandardIni(1);
    ini.interval = static_cast<uint32_t>(-5);
    ini.preset = 2; // names no preset
    env.WriteIni(ini);
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    check.ExpectPrinted("Kavit.ini: Bad Preset namber in Kavit.ini file, used first",
                        "no word on the preset number");
    env.OpenSim();
    Press(env, 1, 3);
    check.ExpectPrinted("\n 3 * ", "the live view did not show pad 1 button 3 held (Interval=-5)");

    check.CloseReader();
    Release(env, 1, 3); // the next picture differs, so kavit-check writes, and that fails
    env.sim.Close();
    check.ExpectEnd(0, "after its output's reader left (0, as after Esc)");
    env.ExpectServiceRemoved("after kavit-check's reader went away");
}

// The driver unloaded under the live view: the reason given is that, not the last error's text.
TEST_F(E2e, check_live_driver_gone) {
    CheckDir(env, SIM_PORTS_DEFAULT);
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    env.UnloadDriver();
    check.ExpectEnd(1, "after the driver went away");
    check.ExpectPrinted("The port stopped answering (the port driver went away", "the reason");
}

// The live view installs the driver and holds the ports; Kavit opens the device beside it and
// waits for them. The live view ends (its reader gone, as on Ctrl-C): the service stays while Kavit
// holds the device, the driver answers Kavit's batches, and Kavit, the last one out, removes it.
TEST_F(E2e, robust_check_then_kavit_last_one_out) {
    CheckDir(env, Unloaded, true, true);
    env.WriteIni(StandardIni(1));
    TCheck check(env, "");
    check.ExpectPrinted("Pad 1:", "no live view within the deadline");
    TKavit& kavit = env.StartKavit();
    ExpectNoNotice(kavit, "Kavit");
    env.OpenSim();
    check.CloseReader();
    Press(env, 1, 3); // a changed picture: kavit-check writes, and that ends it
    check.ExpectEnd(-1, "after its output's reader left");
    ExpectServiceKept("kavit-check removed the service Kavit still holds");
    env.ClearLog();
    ASSERT_TRUE(WaitUntil([&] { return !env.PollLog().empty(); }, 3000))
        << "Kavit's batches no longer reach the driver";
    env.ExitKavit(kavit, "after Kavit, the last one out, exited");
}

// The live view holds LPT1 and LPT2 when Kavit starts beside it. Once kavit-check has ended,
// Kavit finds the port by itself, in the order it always tries (LPT1 first): a press gives its
// key within two seconds.
TEST_F(E2e, robust_kavit_waits_for_port_in_use) {
    CheckDir(env, SIM_PORT_LPT1 | SIM_PORT_LPT2, true, true);
    env.WriteIni(StandardIni(1)); // preset 1 is [Arrows]
    auto check = std::make_unique<TCheck>(env, "");
    check->ExpectPrinted("Pad 1:", "no live view within the deadline");
    TKavit& kavit = env.StartKavit();
    ExpectNoNotice(kavit, "Kavit");
    check.reset(); // kavit-check ends, as when its window is closed
    env.OpenSim();
    KeyHook::Clear();
    Press(env, 1, 5);
    ExpectKeys(env.WaitKeys(1, 2000), {KeyOf(Arrows, 1, 5, false)},
               "the first key within 2 s of kavit-check's end");
    env.WaitPasses(1, Lpt1);
    env.sim.Close();
    env.ExitKavit(kavit);
}

} // namespace
