#include "e2e/harness/cases.h"

#include <sddl.h>

void OpenToEveryone(const std::string& path) {
    // A DACL of one entry: Everyone (WD, S-1-1-0), all file rights (FA).
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(
                    "D:(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr) &&
                SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    std::string error = LastErrorText();
    LocalFree(descriptor);
    ASSERT_TRUE(done) << "cannot open " << path << " to everyone: " << error;
}

TSimState State(TEnv& env) {
    TSimState state;
    Require(env.sim, env.sim.GetState(state), "state refused");
    return state;
}

void Press(TEnv& env, int pad, int button) {
    Require(env.sim, env.sim.ChangeButtons(pad, ButtonBit(button), 0),
            Format("driver refused to press pad %d button %d", pad, button));
}

void Release(TEnv& env, int pad, int button) {
    Require(env.sim, env.sim.ChangeButtons(pad, 0, ButtonBit(button)),
            Format("driver refused to release pad %d button %d", pad, button));
}

void PrepareProgramDir(TEnv& env, const TIniValues& ini) {
    env.MakeProgramDir();
    env.WriteIni(ini);
    env.UnloadDriver();
}

TKavit& StartKavitWith(TEnv& env, const TIniValues& ini, bool waitReady) {
    PrepareProgramDir(env, ini);
    return env.StartKavit(waitReady);
}

void WaitScanning(TEnv& env, bool twoPads) {
    env.OpenSim();
    env.WaitPasses(2, Lpt1, twoPads);
    KeyHook::Clear();
}

TKavit& StartScanning(TEnv& env, const TIniValues& ini) {
    TKavit& kavit = StartKavitWith(env, ini);
    WaitScanning(env, ini.secondPlayer == 1);
    return kavit;
}

void Hold(TEnv& env, int pad, int button, size_t keys) {
    Press(env, pad, button);
    env.WaitKeys(keys);
}

void ChoosePreset(TEnv& env, TKavit& kavit, TIniValues& ini, int preset, const char* what) {
    TEnv::TStamp stamp = env.IniStamp();
    kavit.Command(CmdPresetBase + preset - 1);
    ini.preset = preset;
    env.ExpectIniSaved(stamp, IniText(ini), what);
}

void WaitShown(TKavit& kavit, bool shown) {
    ASSERT_TRUE(WaitUntil([&] { return (IsWindowVisible(kavit.window) != FALSE) == shown; }, 3000))
        << "the key assignment window did not " << (shown ? "appear" : "close");
}

void OpenSetKeys(TKavit& kavit, bool inFront) {
    kavit.Command(CmdSetKeys);
    WaitShown(kavit, true);
    ASSERT_TRUE(!inFront || WaitUntil([&] { return GetForegroundWindow() == kavit.window; }, 3000))
        << "the key assignment window did not come to the foreground";
}

void ExpectNoKeys(const char* context) {
    ASSERT_EQ(Described(KeyHook::Events()), std::vector<std::string>()) << "key events " << context;
}

void ExpectServiceKept(const char* context) {
    std::string detail;
    ASSERT_EQ(DriverService::Probe(detail), DriverService::Registered) << context << ": " << detail;
}

void ExpectRefusedCopy(TKavit& copy, DWORD noticeWithinMs) {
    TNotice notice = copy.WaitNotice(noticeWithinMs);
    ASSERT_EQ(notice.text, "Another copy already running") << "the refused copy's notice";
    ASSERT_EQ(notice.caption, NoticeCaption) << "the refused copy's notice";
    ASSERT_EQ(notice.owner, nullptr) << "the refused copy's notice is owned by a window";
    ASSERT_EQ(copy.FindOwnWindow(), nullptr) << "the refused copy made a window of its own";
    CloseNotice(notice);
    ExpectEnded(copy, "the refused copy, its notice closed");
}

void ExpectEnded(TKavit& kavit, const char* context) {
    DWORD code = 0;
    ASSERT_TRUE(kavit.WaitExit(5000, code)) << context << ": still running 5 s later";
    ASSERT_EQ(code, 0u) << context << ": exit code";
}

void Tap(TEnv& env, const TPresetValues& preset, int pad, int button) {
    size_t before = KeyHook::Count();
    Hold(env, pad, button, before + 1);
    Release(env, pad, button);
    std::vector<TKeyEvent> got = env.WaitKeys(before + 2);
    ExpectKeys({got.begin() + static_cast<long>(before), got.end()},
               {KeyOf(preset, pad, button, false), KeyOf(preset, pad, button, true)},
               Format("tap of pad %d button %d", pad, button));
}

void ExpectNoNotice(const TKavit& kavit, const char* who) {
    ASSERT_EQ(kavit.Boxes(), "") << who << " shows a notice";
}

void OnService(const std::function<BOOL(SC_HANDLE)>& act, const std::string& what,
               const char* createFrom) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = nullptr;
    if (manager)
        service = createFrom
                      ? CreateServiceA(manager, DriverService::Name, DriverService::DisplayName,
                                       SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DISABLED,
                                       SERVICE_ERROR_NORMAL, createFrom, nullptr, nullptr, nullptr,
                                       nullptr, nullptr)
                      : OpenServiceA(manager, DriverService::Name, SERVICE_ALL_ACCESS);
    BOOL done = service && act(service);
    std::string error = LastErrorText();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(done) << what << ": " << error;
}

TServiceConfig ServiceConfig(const std::string& what) {
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192];
    auto& c = *reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    SERVICE_STATUS status = {};
    DWORD needed = 0;
    OnService(
        [&](SC_HANDLE s) {
            return QueryServiceConfigA(s, &c, sizeof buffer, &needed) &&
                   QueryServiceStatus(s, &status);
        },
        what);
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    return {c.dwServiceType,          c.dwStartType,        c.dwErrorControl, status.dwCurrentState,
            text(c.lpBinaryPathName), text(c.lpDisplayName)};
}
