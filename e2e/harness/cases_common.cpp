#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

void OpenToEveryone(const std::string& path) {
    // A DACL of one entry: Everyone (S-1-1-0), all file rights.
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    union {
        ACL acl;
        BYTE bytes[256];
    } dacl;
    SECURITY_DESCRIPTOR descriptor;
    bool done =
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        InitializeAcl(&dacl.acl, sizeof dacl, ACL_REVISION) &&
        AddAccessAllowedAce(&dacl.acl, ACL_REVISION, FILE_ALL_ACCESS, everyone) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, &dacl.acl, FALSE) &&
        SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &descriptor);
    DWORD error = GetLastError();
    if (everyone)
        FreeSid(everyone);
    if (!done)
        Fail("cannot open %s to everyone: %s", path.c_str(), Win32ErrorText(error).c_str());
}

void Press(TEnv& env, int pad, int button) {
    Require(env.sim, env.sim.ChangeButtons(pad, ButtonBit(button), 0),
            Format("driver refused to press pad %d button %d", pad, button));
}

void Release(TEnv& env, int pad, int button) {
    Require(env.sim, env.sim.ChangeButtons(pad, 0, ButtonBit(button)),
            Format("driver refused to release pad %d button %d", pad, button));
}

TKavit& StartKavitWith(TEnv& env, const TIniValues& ini, bool waitReady) {
    env.MakeProgramDir();
    env.WriteIni(ini);
    env.UnloadDriver();
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
    Expect(WaitUntil([&] { return (IsWindowVisible(kavit.window) != FALSE) == shown; }, 3000),
           "the key assignment window did not %s", shown ? "appear" : "close");
}

void ExpectNoKeys(const char* context) {
    Expect(KeyHook::Count() == 0, "key events %s: %s", context,
           DescribeKeys(KeyHook::Events()).c_str());
}

void ExpectServiceKept(const char* context) {
    std::string detail;
    Expect(DriverService::Probe(detail) == DriverService::Registered, "%s (%s)", context,
           detail.c_str());
}

void ExpectRefusedCopy(TKavit& copy, DWORD noticeWithinMs) {
    TNotice notice = copy.WaitNotice(noticeWithinMs);
    Expect(notice.text == "Another copy already running" && notice.caption == NoticeCaption &&
               notice.owner == nullptr,
           "the refused copy shows \"%s\" captioned \"%s\"%s", notice.text.c_str(),
           notice.caption.c_str(), notice.owner ? ", owned by a window" : "");
    Expect(copy.FindOwnWindow() == nullptr, "the refused copy made a window of its own");
    CloseNotice(notice);
    ExpectEnded(copy, "the refused copy, its notice closed");
}

void ExpectEnded(TKavit& kavit, const char* context) {
    DWORD code = 0;
    Expect(kavit.WaitExit(5000, code), "%s: still running 5 s later", context);
    Expect(code == 0, "%s: exit code %lu, expected 0", context, static_cast<unsigned long>(code));
}

void Tap(TEnv& env, const TPresetValues& preset, int pad, int button) {
    size_t before = KeyHook::Count();
    Press(env, pad, button);
    std::vector<TKeyEvent> got = env.WaitKeys(before + 1);
    Release(env, pad, button);
    got = env.WaitKeys(before + 2);
    std::vector<TKeyEvent> mine(got.begin() + static_cast<long>(before), got.end());
    ExpectKeys(mine, {KeyOf(preset, pad, button, false), KeyOf(preset, pad, button, true)},
               Format("tap of pad %d button %d", pad, button).c_str());
}

void ExpectNoNotice(const TKavit& kavit, const char* who) {
    std::vector<TNotice> notices = kavit.Notices();
    Expect(notices.empty(), "%s shows \"%s\"", who, notices.empty() ? "" : notices[0].text.c_str());
}

void OnService(const std::function<BOOL(SC_HANDLE)>& act, const std::string& what) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        manager ? OpenServiceA(manager, DriverService::Name, SERVICE_ALL_ACCESS) : nullptr;
    BOOL done = service && act(service);
    DWORD error = GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    Expect(done, "%s: %s", what.c_str(), Win32ErrorText(error).c_str());
}

TServiceConfig ServiceConfig(const std::string& what) {
    union {
        QUERY_SERVICE_CONFIGA config;
        BYTE bytes[8192];
    } buffer;
    SERVICE_STATUS status = {};
    DWORD needed = 0;
    OnService(
        [&](SC_HANDLE s) {
            return QueryServiceConfigA(s, &buffer.config, sizeof buffer, &needed) &&
                   QueryServiceStatus(s, &status);
        },
        what);
    const QUERY_SERVICE_CONFIGA& c = buffer.config;
    return {c.dwServiceType,
            c.dwStartType,
            c.dwErrorControl,
            status.dwCurrentState,
            c.lpBinaryPathName ? c.lpBinaryPathName : "",
            c.lpDisplayName ? c.lpDisplayName : ""};
}
