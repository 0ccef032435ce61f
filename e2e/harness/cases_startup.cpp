// Start-up and shutdown: one copy only, the settings file, the driver service, the port chosen.
#include "e2e/harness/cases.h"

namespace {

const char BadIni[] = "Bad Kavit.ini file";
const char BadPresetNumber[] = "Bad Preset namber in Kavit.ini file, used first";

TEST_F(E2e, second_copy_refused) {
    TKavit& first = StartKavitWith(env);
    ExpectRefusedCopy(env.StartKavit(false), 10000);
    ASSERT_TRUE(first.Running() && first.FindOwnWindow() == first.window &&
                TrayIconPresent(first.window))
        << "the first copy did not go on unchanged";
    env.ExitKavit(first, "after the first copy's exit");
}

// A Kavit.ini the program must refuse (or accept with a notice), and what it says: no file when
// not `writeFile`, else an empty one, or StandardIni(`presets`) with `from` replaced by `to`.
void RefusedIni(TEnv& env, std::vector<std::string> notices, bool writeFile = true, int presets = 0,
                const char* from = "", const char* to = "") {
    const std::string bytes = presets ? Replaced(IniText(StandardIni(presets)), from, to) : "";
    env.MakeProgramDir();
    if (writeFile)
        env.WriteIniBytes(bytes);
    env.UnloadDriver();
    TKavit& kavit = env.StartKavit(false);
    DWORD code = 0;
    ASSERT_EQ(kavit.CloseNoticesUntilExit(15000, code), notices) << "the notices shown";
    ASSERT_EQ(code, 0u) << "exit code";
    ASSERT_EQ(kavit.FindOwnWindow(), nullptr) << "a window was left";
    // The connection was made before the file was read: the service it installed must go.
    env.ExpectServiceRemoved("after a refused Kavit.ini");
    if (writeFile) {
        ASSERT_EQ(env.ReadIni(), bytes) << "the refused file was changed";
    }
}

TEST_F(E2e, ini_bad_preset_number_uses_first) {
    TIniValues ini = StandardIni(2);
    ini.preset = 3; // names no preset
    TKavit& kavit = StartKavitWith(env, ini, false);
    TNotice notice = kavit.WaitNotice(10000);
    ASSERT_EQ(notice.text, BadPresetNumber);
    CloseNotice(notice);
    kavit.WaitReady(10000);
    WaitScanning(env);
    Tap(env, ini.presets[0], 1, 1); // the first preset's key
    ASSERT_EQ(env.ReadIni(), IniText(ini)) << "the file changed without a save";
    env.ExitKavit(kavit);
}

enum TNoDriver { NoDriverFile, EveryonesFolder, EveryonesFile, EveryonesParent, ThroughLink };

// Kavit that loads no driver: says why in one notice, before its tray icon comes, and runs on
// without pads and without a word more. No driver file: "LPT error". A folder or driver file that
// every user may change, a parent where every user may replace the program's folder (0777 over
// 0755 under Wine), or a path through a link (a Unix symbolic link reads as one under Wine): Kavit
// creates, changes and starts no service, says so, and the same folder reached directly loads.
void RunsWithoutDriver(TEnv& env, TNoDriver why) {
    std::string direct = env.dir, place = env.dir;
    if (why == EveryonesParent) {
        env.MakeProgramDir(false, false);
        OpenToEveryone(env.dir);
        env.dir = direct += "Kavit\\";
    }
    PrepareProgramDir(env);
    if (why == NoDriverFile) {
        ASSERT_TRUE(DeleteFileA((env.dir + "LPTWDMIO.SYS").c_str())) << LastErrorText();
    } else if (why == ThroughLink) { // run-e2e.sh links C:\kavit-e2e\linked to the case folders
        env.dir.replace(env.dir.find("\\work\\"), 6, "\\linked\\");
        place = env.dir.substr(0, env.dir.find("\\linked\\") + 8);
    } else if (why != EveryonesParent) {
        place = why == EveryonesFile ? env.dir + "LPTWDMIO.SYS" : env.dir;
        OpenToEveryone(place);
    }
    TKavit& kavit = env.StartKavit(false);
    TNotice notice = kavit.WaitNotice(15000);
    HWND window = kavit.FindOwnWindow();
    ASSERT_FALSE(window && TrayIconPresent(window)) << "tray icon added before the notice closed";
    ASSERT_EQ(notice.caption, NoticeCaption);
    std::string reason = place + (why == ThroughLink ? " is a junction or symbolic link"
                                                     : " can be changed by Everyone (S-1-1-0)");
    if (why == NoDriverFile) {
        ASSERT_EQ(notice.text, "LPT error, driver installed?");
    } else {
        for (const std::string& part :
             {"folder\n" + env.dir + "\n",
              std::string("Other users of this PC could change Kavit's driver"), reason,
              std::string("such as C:\\Program Files\\Kavit")})
            ASSERT_NE(notice.text.find(part), std::string::npos)
                << "notice \"" << notice.text << "\" lacks \"" << part << '"';
        std::string detail;
        ASSERT_EQ(DriverService::Probe(detail), DriverService::Absent)
            << "a service is there while Kavit runs: " << detail;
    }
    CloseNotice(notice);
    kavit.WaitReady(10000);
    // The start-up timer gives the first pass after a second; a scanner reading the missing port
    // as all zeros would press pad 1 buttons 1-6 by now.
    Sleep(1600);
    ExpectNoKeys("without a port");
    ExpectNoNotice(kavit, "Kavit after its notice");
    env.ExitKavit(kavit, "after a run without its driver");
    if (why == ThroughLink) {
        env.dir = direct; // a notice (a refusal, "LPT error") would hold the tray icon back
        env.ExitKavit(env.StartKavit());
    }
}

TEST_F(E2e, service_installed_used_removed) {
    TKavit& kavit = StartKavitWith(env);
    TServiceConfig c = ServiceConfig("service \"lptwdmio\" while the program runs");
    ASSERT_EQ(std::vector<unsigned long>({c.type, c.start, c.errorControl, c.state}),
              std::vector<unsigned long>({SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                          SERVICE_ERROR_NORMAL, SERVICE_RUNNING}))
        << "service type, start, error control, state";
    std::string want = env.dir + "LPTWDMIO.SYS";
    ASSERT_TRUE(lstrcmpiA(c.path.c_str(), want.c_str()) == 0 ||
                lstrcmpiA(c.path.c_str(), ("\\??\\" + want).c_str()) == 0)
        << "driver path \"" << c.path << "\", expected \"" << want << '"';
    ASSERT_EQ(c.displayName, DriverService::DisplayName);

    // Used: the program's passes reach the driver that its service loaded.
    env.OpenSim();
    env.WaitPasses(3);
    ASSERT_GE(State(env).openHandles, 2u) << "open handles: the program's and the harness's";
    env.ExitKavit(kavit, "after Exit");
}

// Presence tests at start: the connection tests all three ports, then start-up tests from LPT1
// until one answers. The log shows them as runs of accesses per port.
void PortChoice(TEnv& env, ULONG ports, UCHAR chosen, const char* sequence) {
    PrepareProgramDir(env, StandardIni(1));
    env.PreloadDriver(ports);
    TKavit& kavit = env.StartKavit();
    env.WaitPasses(2, chosen);
    TScanLog scan = AnalyzeScan(env.log, chosen, false);
    ASSERT_EQ(PortSequence(env.log, scan.passes.empty() ? 0 : scan.passes[0].first), sequence)
        << "ports reached before the first pass";
    KeyHook::Clear();
    Tap(env, Arrows, 1, 4);
    Tap(env, Arrows, 1, 10);
    env.Settle(chosen);
    env.ExpectOwedKeys(Arrows, chosen, false, false, "keys on the chosen port");
    env.ExitKavit(kavit);
    ExpectServiceKept("the program removed a service it did not install");
}

} // namespace

KAVIT_E2E_CASE_OF(ini_missing, RefusedIni, {BadIni}, false)
KAVIT_E2E_CASE_OF(ini_empty, RefusedIni, {BadPresetNumber, BadIni})
KAVIT_E2E_CASE_OF(ini_malformed_number, RefusedIni, {BadIni}, true, 1, "Interval=10\r\n",
                  "Interval=10ms\r\n")
KAVIT_E2E_CASE_OF(ini_bad_extended_flag, RefusedIni, {BadIni}, true, 2, "2P:F8=119 66 0",
                  "2P:F8=119 66 2")
// 12 characters: an "=" after them is not consumed.
KAVIT_E2E_CASE_OF(ini_label_too_long, RefusedIni, {BadIni}, true, 1,
                  "1P:Right=", "1P:TwelveLetter=")
KAVIT_E2E_CASE_OF(no_driver_file_lpt_error, RunsWithoutDriver, NoDriverFile)
KAVIT_E2E_CASE_OF(unsafe_folder_refused, RunsWithoutDriver, EveryonesFolder)
KAVIT_E2E_CASE_OF(unsafe_driver_file_refused, RunsWithoutDriver, EveryonesFile)
KAVIT_E2E_CASE_OF(unsafe_parent_refused, RunsWithoutDriver, EveryonesParent)
KAVIT_E2E_CASE_OF(unsafe_link_refused, RunsWithoutDriver, ThroughLink)
KAVIT_E2E_CASE_OF(port_only_lpt3, PortChoice, SIM_PORT_LPT3, Lpt3, "1 2 3 1 2 3")
KAVIT_E2E_CASE_OF(port_lpt1_first, PortChoice, SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3, Lpt1,
                  "1 2 3 1")
KAVIT_E2E_CASE_OF(port_lpt2_without_lpt1, PortChoice, SIM_PORT_LPT2 | SIM_PORT_LPT3, Lpt2,
                  "1 2 3 1 2")
