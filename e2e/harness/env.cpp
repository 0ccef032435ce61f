#include "e2e/harness/env.h"

#include <algorithm>
#include <cstdio>

#include "e2e/harness/harness.h"

TWantKey KeyOf(const TPresetValues& preset, int pad, int button, bool up) {
    const std::string& lines = pad == 1 ? preset.pad1 : preset.pad2;
    size_t line = 0;
    for (int b = 1; b < button; b++)
        line = lines.find('\n', line) + 1;
    TWantKey want;
    sscanf(lines.c_str() + lines.find('=', line) + 1, "%d %d %d", &want.vk, &want.scan, &want.ext);
    // The program sends the low byte of the virtual key and of the scan code.
    want.vk &= 0xFF;
    want.scan &= 0xFF;
    want.up = up;
    want.what =
        Format("pad %d button %d %s of %s", pad, button, up ? "up" : "down", preset.header.c_str());
    return want;
}

bool Matches(const TKeyEvent& got, const TWantKey& want) {
    return static_cast<int>(got.vk) == want.vk && static_cast<int>(got.scan) == want.scan &&
           (got.extended ? 1 : 0) == want.ext && got.up == want.up;
}

std::string DescribeKeys(const std::vector<TKeyEvent>& events) {
    std::string list;
    for (const TKeyEvent& e : events)
        list += (list.empty() ? "" : ", ") + Describe(e);
    return "[" + list + "]";
}

void ExpectKeys(const std::vector<TKeyEvent>& got, const std::vector<TWantKey>& want,
                const char* context) {
    bool same = got.size() == want.size();
    std::string wanted;
    for (size_t i = 0; i < want.size(); i++) {
        same = same && Matches(got[i], want[i]);
        wanted += Format("%s%s (vk=0x%02X scan=0x%02X ext=%d)", i ? ", " : "", want[i].what.c_str(),
                         want[i].vk, want[i].scan, want[i].ext);
    }
    if (!same)
        Fail("%s: caught %zu key events %s, expected %zu: [%s]", context, got.size(),
             DescribeKeys(got).c_str(), want.size(), wanted.c_str());
}

void Require(const TSimDevice& sim, bool done, const std::string& what) {
    if (!done)
        Fail("%s: %s", what.c_str(), Win32ErrorText(sim.lastError).c_str());
}

TEnv::TEnv(const TPaths& p, const std::string& caseName) : paths(p) {
    dir = paths.work + caseName + "\\";
    KeyHook::PassOn(false);
    KeyHook::Watch(nullptr);
    KeyHook::Clear();
}

TEnv::~TEnv() {
    KeyHook::PassOn(false);
    KeyHook::Watch(nullptr);
    for (auto& kavit : kavits)
        kavit->Kill();
    sim.Close();
}

void TEnv::MakeProgramDir(bool withDriver, bool withProgram) {
    CreateDirectoryA(paths.work.c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    for (const std::string& name : ProgramFiles()) {
        std::string path = dir + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str()))
            Fail("cannot empty the case directory: DeleteFileA(%s): %s", path.c_str(),
                 Win32ErrorText(GetLastError()).c_str());
    }
    std::string exe = paths.dist + "Kavit.exe";
    if (withProgram && !CopyFileA(exe.c_str(), KavitExe().c_str(), FALSE))
        Fail("program under test missing: CopyFileA(%s): %s", exe.c_str(),
             Win32ErrorText(GetLastError()).c_str());
    std::string help = paths.dist + "help.htm";
    CopyFileA(help.c_str(), (dir + "help.htm").c_str(), FALSE); // not needed by any check
    if (withDriver && !CopyFileA(paths.driver.c_str(), (dir + "LPTWDMIO.SYS").c_str(), FALSE))
        Fail("CopyFileA(%s): %s", paths.driver.c_str(), Win32ErrorText(GetLastError()).c_str());
}

void TEnv::WriteIniBytes(const std::string& bytes) {
    if (!WriteFileBytes(IniPath(), bytes))
        Fail("cannot write %s: %s", IniPath().c_str(), Win32ErrorText(GetLastError()).c_str());
}

std::string TEnv::ReadIni() const {
    std::string bytes;
    if (!ReadFileBytes(IniPath(), bytes))
        Fail("cannot read %s: %s", IniPath().c_str(), Win32ErrorText(GetLastError()).c_str());
    return bytes;
}

TEnv::TStamp TEnv::IniStamp() const {
    TStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(IniPath().c_str(), GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.written = data.ftLastWriteTime;
        stamp.size = data.nFileSizeLow;
    }
    return stamp;
}

void TEnv::ExpectIniSaved(const TStamp& before, const std::string& want, const char* after) {
    if (!WaitUntil([&] { return !(IniStamp() == before); }, 3000, 5))
        Fail("Kavit.ini not rewritten within 3 s after %s", after);
    std::string now;
    if (!WaitUntil([&] { return ReadFileBytes(IniPath(), now) && now == want; }, 1000, 50))
        Fail("Kavit.ini after %s: %s", after, DescribeDifference(want, now).c_str());
}

std::vector<std::string> TEnv::ProgramFiles() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void TEnv::UnloadDriver() {
    sim.Close();
    std::string reason;
    if (!DriverService::Remove(reason))
        Fail("cannot unload the driver before the case: %s", reason.c_str());
}

void TEnv::PreloadDriver(ULONG ports) {
    UnloadDriver();
    std::string reason;
    if (!DriverService::Install(dir + "LPTWDMIO.SYS", reason))
        Fail("harness could not load the driver: %s", reason.c_str());
    Require(sim, sim.Open(), "device did not open after loading");
    Require(sim, sim.Reset() && sim.SetPorts(ports), "driver refused reset/ports");
    log.clear();
    logNext = 0;
}

void TEnv::OpenSim() {
    Require(sim, sim.IsOpen() || sim.Open(), "cannot open the device while the program runs");
    Require(sim, sim.ReleaseAll() && sim.SetFaults(0), "driver refused buttons");
    ClearLog();
}

void TEnv::ClearLog() {
    Require(sim, sim.ClearLog(), "driver refused to clear its log");
    log.clear();
    logNext = 0;
}

const std::vector<TSimLogEntry>& TEnv::PollLog() {
    bool lost = false;
    Require(sim, sim.ReadLog(logNext, log, &lost), "driver refused its log");
    if (lost)
        Fail("the driver's log overflowed (more than %d accesses between reads)", SIM_LOG_CAPACITY);
    return log;
}

void TEnv::WaitPasses(int count, UCHAR port, bool twoPads, DWORD timeoutMs) {
    size_t before = AnalyzeScan(PollLog(), port, twoPads).passes.size();
    TScanLog scan;
    if (!WaitUntil(
            [&] {
                scan = AnalyzeScan(PollLog(), port, twoPads);
                return !scan.error.empty() ||
                       scan.passes.size() >= before + static_cast<size_t>(count);
            },
            timeoutMs, 5))
        Fail("no %d scan passes on port 0x%02X within %lu ms (%zu accesses logged%s%s)", count,
             port, static_cast<unsigned long>(timeoutMs), log.size(),
             log.empty() ? "" : ", last: ", log.empty() ? "" : DescribeAccess(log.back()).c_str());
    if (!scan.error.empty())
        Fail("scan pass shape: %s", scan.error.c_str());
}

TKavit& TEnv::NewKavit() {
    kavits.push_back(std::make_unique<TKavit>());
    return *kavits.back();
}

TKavit& TEnv::StartKavit(bool waitReady, DWORD timeoutMs) {
    TKavit& kavit = NewKavit();
    // Started from C:\ so that the program must find its files by its own path.
    kavit.Start(KavitExe(), "C:\\");
    if (waitReady)
        kavit.WaitReady(timeoutMs);
    return kavit;
}

void TEnv::ExitKavit(TKavit& kavit, const char* serviceGone) {
    HWND window = kavit.window;
    kavit.Command(CmdExit);
    DWORD code = 0;
    if (!kavit.WaitExit(5000, code)) {
        std::vector<TNotice> boxes = kavit.Notices();
        Fail("still running 5 s after \"Exit\"%s%s",
             boxes.empty() ? "" : "; a box is open: ", boxes.empty() ? "" : boxes[0].text.c_str());
    }
    Expect(code == 0, "exit code %lu after \"Exit\", expected 0", static_cast<unsigned long>(code));
    Expect(!IsWindow(window), "the window outlived the process");
    Expect(!TrayIconPresent(window), "tray icon still there after the program ended");
    if (serviceGone)
        ExpectServiceRemoved(serviceGone);
}

void TEnv::ExpectServiceRemoved(const char* context) {
    std::string detail;
    DriverService::TPresence presence = DriverService::Probe(detail);
    Expect(presence == DriverService::Absent,
           "%s: service \"lptwdmio\" still registered after the program ended (%s)", context,
           detail.c_str());
}

std::vector<TKeyEvent> TEnv::WaitKeys(size_t count, DWORD timeoutMs) {
    if (!WaitUntil([&] { return KeyHook::Count() >= count; }, timeoutMs))
        Fail("expected %zu key events within %lu ms, caught %s", count,
             static_cast<unsigned long>(timeoutMs), DescribeKeys(KeyHook::Events()).c_str());
    return KeyHook::Events();
}

void TEnv::Settle(UCHAR port, bool twoPads) {
    Require(sim, sim.ReleaseAll(), "driver refused to release");
    WaitPasses(2, port, twoPads);
    Sleep(30);
}

void TEnv::ExpectOwedKeys(const TPresetValues& preset, UCHAR port, bool twoPads, bool repeat,
                          const char* context) {
    std::vector<TKeyEvent> got = KeyHook::Events();
    TScanLog scan = AnalyzeScan(PollLog(), port, twoPads);
    if (!scan.error.empty())
        Fail("%s: scan pass shape: %s", context, scan.error.c_str());
    for (const TPass& pass : scan.passes)
        Expect(pass.calls <= 2, "%s: a pass took %d device calls, at most 2 expected", context,
               pass.calls);
    std::vector<TWantKey> want;
    for (const TButtonEvent& e : OwedEvents(scan, repeat))
        want.push_back(KeyOf(preset, e.pad, e.button, !e.down));
    ExpectKeys(
        got, want,
        Format("%s (events owed by %zu logged passes)", context, scan.passes.size()).c_str());
}
