// Kavit in the hands of an unlucky user: two copies at once, a pad held while keys are taught,
// leftover services, a folder named outside the ANSI code page, the driver stopped, Alt+F4, the
// session's end.
#include "e2e/harness/cases.h"

namespace {

// A Kavit that starts without a notice reads the pads ([Arrows] pad 1 button `button` gives its
// keys), and at "Exit" removes the service.
void ScansAndExits(TEnv& env, TKavit& kavit, const char* who, int button) {
    kavit.WaitReady(15000); // a notice would hold the tray icon back
    ExpectNoNotice(kavit, who);
    WaitScanning(env);
    Tap(env, Arrows, 1, button);
    env.ExitKavit(kavit, "after Exit");
}

// Both started before either can have made its window: exactly one is refused, exit code 0.
TEST_F(E2e, robust_two_copies_at_once) {
    PrepareProgramDir(env);
    TKavit* copies[2] = {&env.NewKavit(), &env.NewKavit()};
    for (TKavit* copy : copies)
        copy->Start(env.KavitExe(), "C:\\");
    auto noticed = [&](int copy) { return !copies[copy]->Notices().empty(); };
    ASSERT_TRUE(WaitUntil([&] { return noticed(0) || noticed(1); }, 15000, 20))
        << "neither copy was refused within 15 s";
    int refused = noticed(0) ? 0 : 1;
    ExpectRefusedCopy(*copies[refused], 1000);
    ScansAndExits(env, *copies[1 - refused], "the running copy", 3);
}

// The keys a user types in the key assignment window for [Arrows], one per button of pad 1:
// Q W E R T Y U I O P K L.
const char TypedPad1[] =
    "1P:Up=81 16 0\r\n1P:Down=87 17 0\r\n1P:Left=69 18 0\r\n1P:Right=82 19 0\r\n"
    "1P:Fire=84 20 0\r\n1P:Jump=89 21 0\r\n1P:Home=85 22 0\r\n1P:End=73 23 0\r\n"
    "1P:A=79 24 0\r\n1P:S=80 25 0\r\n1P:Ins=75 37 0\r\n1P:Del=76 38 0\r\n";

void Type(const TWantKey& key) {
    keybd_event(static_cast<BYTE>(key.vk), static_cast<BYTE>(key.scan), 0, 0);
    keybd_event(static_cast<BYTE>(key.vk), static_cast<BYTE>(key.scan), KEYEVENTF_KEYUP, 0);
}

// A pad button held with Repeat=1 while the window waits for keys: its key reaches the window
// on every pass, yet teaches nothing. The keys typed afterwards are learnt and saved.
TEST_F(E2e, robust_set_keys_while_pad_held) {
    TIniValues ini = StandardIni(1);
    ini.repeat = 1;
    TKavit& kavit = StartScanning(env, ini);
    TEnv::TStamp stamp = env.IniStamp();
    KeyHook::PassOn(true); // from here on keys reach the window with the focus
    Press(env, 1, 1);
    OpenSetKeys(kavit, true);
    // Far more key-downs than a sequence has keys: each pass repeats the held button.
    env.WaitKeys(KeyHook::Count() + 30, 5000);
    env.Settle();
    ASSERT_TRUE(IsWindowVisible(kavit.window)) << "the window closed: the pad's keys were taken";
    ASSERT_EQ(env.IniStamp(), stamp) << "Kavit.ini written while only the pad was pressed";

    TIniValues learnt = ini;
    learnt.presets[0].pad1 = TypedPad1;
    for (int b = 1; b <= 12; b++)
        Type(KeyOf(learnt.presets[0], 1, b, false));
    Type({'M', 0x32, 0, false, "M"}); // after "Complete": saves
    env.ExpectIniSaved(stamp, IniText(learnt), "typing the keys");
    KeyHook::PassOn(false);
    KeyHook::Clear();
    Tap(env, learnt.presets[0], 1, 3);
    env.ExitKavit(kavit);
}

// A service "lptwdmio" left by an earlier run from a folder that is gone, and disabled: Kavit
// takes it over with its own driver on demand start and starts it at the first attempt, with no
// "LPT error". After "Exit" the service is gone and its driver unloaded.
TEST_F(E2e, robust_leftover_service_elsewhere) {
    PrepareProgramDir(env);
    OnService([](SC_HANDLE) { return TRUE; }, "the leftover service could not be made",
              "C:\\moved-away\\LPTWDMIO.SYS");
    ScansAndExits(env, env.StartKavit(false), "Kavit", 5);
    ASSERT_FALSE(TSimDevice().Open()) << "driver still loaded after Exit: its device opens";
}

// Kavit killed: its driver stays loaded. Its service is then disabled and pointed elsewhere, as
// another copy in another folder may leave it. The next Kavit finds the device held by nobody:
// it stops the driver, points the service at its own file on demand start, starts it, reads the
// pads, and removes the service at "Exit" although this run did not install it.
TEST_F(E2e, robust_leftover_after_kill) {
    TKavit& killed = StartScanning(env, StandardIni(1));
    env.sim.Close();
    killed.Kill();
    ExpectServiceKept("the killed program's service is gone");
    OnService(
        [](SC_HANDLE s) {
            return ChangeServiceConfigA(s, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE,
                                        "C:\\elsewhere\\LPTWDMIO.SYS", nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
        },
        "the service could not be repointed");

    TKavit& kavit = env.StartKavit();
    TServiceConfig c = ServiceConfig("the service's configuration after the next start");
    ASSERT_EQ(c.start, DWORD(SERVICE_DEMAND_START)) << "start type after the next start";
    ASSERT_EQ(c.path, env.dir + "LPTWDMIO.SYS") << "driver file after the next start";
    ScansAndExits(env, kavit, "Kavit", 6);
    ASSERT_FALSE(TSimDevice().Open()) << "driver still loaded after Exit: its device opens";
}

// Kavit killed in a safe folder leaves its driver running; the next Kavit, started from a folder
// every user may change, uses that driver without a notice and, the last one out, removes it.
TEST_F(E2e, robust_leftover_then_unsafe_folder) {
    StartScanning(env, StandardIni(1)).Kill();
    env.sim.Close();
    env.dir += "open\\";
    env.MakeProgramDir();
    env.WriteIni(StandardIni(1));
    OpenToEveryone(env.dir);
    ScansAndExits(env, env.StartKavit(false), "Kavit from a folder every user may change", 4);
}

// A folder named in Greek on a system whose ANSI code page has no Greek: Kavit works through the
// folder's short name, reads its Kavit.ini and registers a driver path that exists.
TEST_F(E2e, robust_non_ansi_folder) {
    PrepareProgramDir(env, StandardIni(1)); // only for the files to copy into the folder below
    auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    std::wstring dir = wide(env.dir) + L"\x039A\x03B1\x03B2\x03B9\x03C4 \x03C0\x03B1\x03B9\x03C7"
                                       L"\x03BD\x03AF\x03B4\x03B9\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const char* file : {"Kavit.exe", "Kavit.ini", "LPTWDMIO.SYS"})
        ASSERT_TRUE(CopyFileW(wide(env.dir + file).c_str(), (dir + wide(file)).c_str(), FALSE))
            << "cannot fill the folder: " << LastErrorText();
    TKavit& kavit = env.NewKavit();
    kavit.StartWide(dir + L"Kavit.exe", L"C:\\");
    ScansAndExits(env, kavit, "Kavit", 2);
}

// The driver service stopped under the running program while a pad button is held, as
// "sc stop lptwdmio" does: Wine unloads the driver at once, and the program's device handle
// answers every batch with "access denied" from then on. The held key goes up, once, and the
// program runs on until "Exit", which still removes the service.
TEST_F(E2e, robust_driver_stopped_while_held) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    Hold(env, 1, 4);
    env.sim.Close(); // the harness holds no handle of its own

    LONGLONG stopTime = 0;
    SERVICE_STATUS status = {};
    OnService(
        [&](SC_HANDLE s) {
            return ControlService(s, SERVICE_CONTROL_STOP, &status) && (stopTime = Now()) != 0;
        },
        "the service could not be stopped");

    const std::vector<TWantKey> downUp = {KeyOf(Arrows, 1, 4, false), KeyOf(Arrows, 1, 4, true)};
    std::vector<TKeyEvent> got = env.WaitKeys(2, 3000);
    ExpectKeys(got, downUp, "the button held while the driver was stopped");
    ASSERT_LT(MsBetween(stopTime, got[1].time), 400)
        << "ms from the stop to the key-up: the device's \"gone\" answer was not taken as such";
    Sleep(700); // failing passes go on, past the half second
    ExpectKeys(KeyHook::Events(), downUp, "after the stop, once the failing passes went on");
    ASSERT_TRUE(kavit.Running()) << "the program ended when its driver was stopped";
    env.ExitKavit(kavit, "after Exit");
}

// Alt+F4 on the key assignment window after one key was taught: the teaching is cancelled, not
// the program. The window goes, the pads send the keys of Kavit.ini again, the file is not
// written, and the program runs on until "Exit".
TEST_F(E2e, robust_teach_window_alt_f4) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    const std::string original = env.ReadIni();
    TEnv::TStamp stamp = env.IniStamp();
    KeyHook::PassOn(true); // keys reach the window with the focus
    OpenSetKeys(kavit, true);
    TPresetValues taught = Arrows;
    taught.pad1 = TypedPad1;
    Type(KeyOf(taught, 1, 1, false));
    // The typed key reaches Kavit through the hook after a while; a polling tick is a posted
    // message and goes before input still on its way, so the press waits for the key to land.
    Sleep(100);
    Tap(env, taught, 1, 1); // learnt, and in force from the next pass

    keybd_event(VK_MENU, 0x38, 0, 0); // Alt+F4
    Type({VK_F4, 0x3E, 0, false, "F4"});
    keybd_event(VK_MENU, 0x38, KEYEVENTF_KEYUP, 0);
    WaitShown(kavit, false);
    KeyHook::PassOn(false);
    Sleep(300);
    ASSERT_TRUE(kavit.Running()) << "the program ended on Alt+F4";
    ASSERT_TRUE(TrayIconPresent(kavit.window)) << "the tray icon went with the window";
    ASSERT_EQ(env.IniStamp(), stamp) << "Kavit.ini written when the teaching was cancelled";
    Tap(env, Arrows, 1, 1); // the key from before "Set keys"
    env.ExitKavit(kavit);
    ASSERT_EQ(env.ReadIni(), original) << "Kavit.ini after Exit";
}

// The Restart Manager's way to close a program: WM_QUERYENDSESSION, then WM_ENDSESSION (TRUE)
// with ENDSESSION_CLOSEAPP. The program agrees, lets go of the held key, removes its icon and
// its driver service, and the process ends with exit code 0; the next start is not refused.
TEST_F(E2e, robust_session_end_closeapp) {
    TKavit& kavit = StartScanning(env, StandardIni(1));
    Hold(env, 1, 2);
    env.sim.Close();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(kavit.window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                    SMTO_ABORTIFHUNG, 5000, &answer))
        << "WM_QUERYENDSESSION not answered within 5 s";
    ASSERT_NE(answer, 0u) << "WM_QUERYENDSESSION answered FALSE: the program refuses to end";
    // The process may end before it answers.
    SendMessageTimeoutA(kavit.window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                        5000, &answer);
    ExpectEnded(kavit, "after WM_ENDSESSION");
    ASSERT_FALSE(TrayIconPresent(kavit.window)) << "tray icon left after the session's end";
    ExpectKeys(env.WaitKeys(2), {KeyOf(Arrows, 1, 2, false), KeyOf(Arrows, 1, 2, true)},
               "the button held when the session ended");
    env.ExpectServiceRemoved("after the session's end");

    ScansAndExits(env, env.StartKavit(false), "the next start", 1);
}

} // namespace
