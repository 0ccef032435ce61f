#include "e2e/harness/env.h"

#include <algorithm>
#include <cstdio>

#include "e2e/harness/harness.h"

TWantKey KeyOf(const TPresetValues& preset, int pad, int button, bool up) {
    const std::string& lines = pad == 1 ? preset.pad1 : preset.pad2;
    size_t line = 0;
    for (int b = 1; b < button; b++)
        line = lines.find('\n', line) + 1;
    int vk = 0, scan = 0, ext = 0;
    sscanf(lines.c_str() + lines.find('=', line) + 1, "%d %d %d", &vk, &scan, &ext);
    // The program sends the low byte of the virtual key and of the scan code.
    return {vk & 0xFF, scan & 0xFF, ext, up,
            Format("pad %d button %d %s of %s", pad, button, up ? "up" : "down",
                   preset.header.c_str())};
}

std::string Describe(const TWantKey& want) {
    return Format("%s vk=0x%02X scan=0x%02X ext=%d", want.up ? "up" : "down", want.vk, want.scan,
                  want.ext);
}

std::vector<std::string> Described(const std::vector<TKeyEvent>& events) {
    std::vector<std::string> list;
    for (const TKeyEvent& e : events)
        list.push_back(Describe(e));
    return list;
}

void ExpectKeys(const std::vector<TKeyEvent>& got, const std::vector<TWantKey>& want,
                const std::string& context) {
    std::vector<std::string> wanted, names;
    for (const TWantKey& w : want) {
        wanted.push_back(Describe(w));
        names.push_back(w.what);
    }
    ASSERT_EQ(Described(got), wanted) << context << ": expected " << testing::PrintToString(names);
}

void Require(const TSimDevice& sim, bool done, const std::string& what) {
    ASSERT_TRUE(done) << what << ": " << Win32ErrorText(sim.lastError);
}

// PassOn and Watch were reset by the last ~TEnv; keys caught since belong to no case.
TEnv::TEnv(const TPaths& p, const std::string& caseName)
    : paths(p), dir(paths.work + caseName + "\\") {
    KeyHook::Clear();
}

TEnv::~TEnv() {
    KeyHook::PassOn(false);
    KeyHook::Watch(nullptr);
}

void TEnv::MakeProgramDir(bool withDriver, bool withProgram) {
    CreateDirectoryA(paths.work.c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    for (const std::string& name : ProgramFiles()) {
        std::string path = dir + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(DeleteFileA(path.c_str()))
            << "cannot empty the case directory: " << path << ": " << LastErrorText();
    }
    std::string exe = paths.dist + "Kavit.exe";
    ASSERT_TRUE(!withProgram || CopyFileA(exe.c_str(), KavitExe().c_str(), FALSE))
        << "program under test missing: " << exe << ": " << LastErrorText();
    std::string help = paths.dist + "help.htm";
    CopyFileA(help.c_str(), (dir + "help.htm").c_str(), FALSE); // not needed by any check
    ASSERT_TRUE(!withDriver ||
                CopyFileA(paths.driver.c_str(), (dir + "LPTWDMIO.SYS").c_str(), FALSE))
        << paths.driver << ": " << LastErrorText();
}

void TEnv::WriteIniBytes(const std::string& bytes) {
    ASSERT_TRUE(WriteFileBytes(IniPath(), bytes)) << IniPath() << ": " << LastErrorText();
}

std::string TEnv::ReadIni() const {
    std::string bytes;
    [&] { ASSERT_TRUE(ReadFileBytes(IniPath(), bytes)) << IniPath() << ": " << LastErrorText(); }();
    return bytes;
}

TEnv::TStamp TEnv::IniStamp() const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(IniPath().c_str(), GetFileExInfoStandard, &data))
        return {false, 0, 0};
    const FILETIME& t = data.ftLastWriteTime;
    return {true, static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime,
            data.nFileSizeLow};
}

void TEnv::ExpectIniSaved(const TStamp& before, const std::string& want, const char* after) {
    ASSERT_TRUE(WaitUntil([&] { return IniStamp() != before; }, 3000, 5))
        << "Kavit.ini not rewritten within 3 s after " << after;
    std::string now;
    WaitUntil([&] { return ReadFileBytes(IniPath(), now) && now == want; }, 1000, 50);
    ASSERT_EQ(now, want) << "Kavit.ini after " << after;
}

std::vector<std::string> TEnv::ProgramFiles() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    FindClose(search); // fails harmlessly when there was no search
    std::sort(names.begin(), names.end());
    return names;
}

void TEnv::UnloadDriver() {
    sim.Close();
    std::string reason;
    ASSERT_TRUE(DriverService::Remove(reason)) << "cannot unload the driver: " << reason;
}

void TEnv::PreloadDriver(ULONG ports) {
    UnloadDriver();
    std::string reason;
    ASSERT_TRUE(DriverService::Install(dir + "LPTWDMIO.SYS", reason))
        << "harness could not load the driver: " << reason;
    Require(sim, sim.Open(), "device did not open after loading");
    Require(sim, sim.Reset() && sim.SetPorts(ports), "driver refused reset/ports");
    ClearLog();
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
    [&] { ASSERT_FALSE(lost) << "the driver's log overflowed between two reads"; }();
    return log;
}

void TEnv::WaitPasses(int count, UCHAR port, bool twoPads, DWORD timeoutMs) {
    size_t before = AnalyzeScan(PollLog(), port, twoPads).passes.size();
    TScanLog scan;
    ASSERT_TRUE(WaitUntil(
        [&] {
            scan = AnalyzeScan(PollLog(), port, twoPads);
            return !scan.error.empty() || scan.passes.size() >= before + count;
        },
        timeoutMs, 5))
        << Format("no %d scan passes on port 0x%02X within %lu ms (%zu accesses logged%s)", count,
                  port, static_cast<unsigned long>(timeoutMs), log.size(),
                  log.empty() ? "" : (", last: " + DescribeAccess(log.back())).c_str());
    ASSERT_EQ(scan.error, "") << "scan pass shape";
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
    if (serviceGone)
        sim.Close();
    HWND window = kavit.window;
    kavit.Command(CmdExit);
    DWORD code = 0;
    ASSERT_TRUE(kavit.WaitExit(5000, code)) << "still running 5 s after \"Exit\"" << kavit.Boxes();
    ASSERT_EQ(code, 0u) << "exit code after \"Exit\"";
    ASSERT_FALSE(IsWindow(window)) << "the window outlived the process";
    ASSERT_FALSE(TrayIconPresent(window)) << "tray icon still there after the program ended";
    if (serviceGone)
        ExpectServiceRemoved(serviceGone);
}

void TEnv::ExpectServiceRemoved(const char* context) {
    std::string detail;
    ASSERT_EQ(DriverService::Probe(detail), DriverService::Absent)
        << context << ": service \"lptwdmio\" still registered after the program ended (" << detail
        << ")";
}

std::vector<TKeyEvent> TEnv::WaitKeys(size_t count, DWORD timeoutMs) {
    [&] {
        ASSERT_TRUE(WaitUntil([&] { return KeyHook::Count() >= count; }, timeoutMs))
            << "expected " << count << " key events within " << timeoutMs << " ms, caught "
            << testing::PrintToString(Described(KeyHook::Events()));
    }();
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
    ASSERT_EQ(scan.error, "") << context << ": scan pass shape";
    for (const TPass& pass : scan.passes)
        ASSERT_LE(pass.calls, 2) << context << ": device calls of a pass";
    std::vector<TWantKey> want;
    for (const TButtonEvent& e : OwedEvents(scan, repeat))
        want.push_back(KeyOf(preset, e.pad, e.button, !e.down));
    ExpectKeys(got, want, Format("%s (owed by %zu logged passes)", context, scan.passes.size()));
}
