#include "e2e/harness/measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

struct TStats {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    std::string Describe(const char* unit) {
        if (values.empty())
            return "no samples";
        std::sort(values.begin(), values.end());
        double sum = 0;
        for (double v : values)
            sum += v;
        auto at = [&](double q) { return values[static_cast<size_t>(q * (values.size() - 1))]; };
        return Format("min %.2f, median %.2f, p90 %.2f, max %.2f, mean %.2f %s (n=%zu)",
                      values.front(), at(0.5), at(0.9), values.back(), sum / values.size(), unit,
                      values.size());
    }
};

// Linux CPU time (user + system, clock ticks) of the processes whose command line contains
// `needle`, read through Wine's Z: drive. -1 when /proc cannot be read.
long long UnixCpuTicks(const char* needle, int* processes) {
    *processes = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    long long total = 0;
    do {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9')
            continue;
        std::string base = std::string("Z:\\proc\\") + found.cFileName + "\\";
        std::string cmdline, stat;
        if (!ReadFileBytes(base + "cmdline", cmdline) || !ReadFileBytes(base + "stat", stat))
            continue;
        for (char& c : cmdline)
            if (c == 0)
                c = ' ';
        if (cmdline.find(needle) == std::string::npos)
            continue;
        // After the command name in parentheses come field 3 (state) onwards; utime is field
        // 14 and stime field 15.
        size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::vector<std::string> fields;
        size_t at = close + 1;
        while (at < stat.size()) {
            while (at < stat.size() && stat[at] == ' ')
                at++;
            size_t end = stat.find(' ', at);
            if (end == std::string::npos)
                end = stat.size();
            if (end > at)
                fields.push_back(stat.substr(at, end - at));
            at = end;
        }
        if (fields.size() < 13)
            continue;
        total +=
            strtoll(fields[11].c_str(), nullptr, 10) + strtoll(fields[12].c_str(), nullptr, 10);
        (*processes)++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return total;
}

void CpuFigures(const char* label, DWORD ms) {
    const char* names[] = {"Kavit.exe", "winedevice.exe", "wineserver"};
    long long before[3], after[3];
    int count[3];
    for (int i = 0; i < 3; i++)
        before[i] = UnixCpuTicks(names[i], &count[i]);
    Sleep(ms);
    for (int i = 0; i < 3; i++)
        after[i] = UnixCpuTicks(names[i], &count[i]);
    for (int i = 0; i < 3; i++) {
        if (before[i] < 0 || after[i] < 0) {
            printf("cpu %s %s: /proc not readable\n", label, names[i]);
            continue;
        }
        // Ticks are 1/100 s on Linux; CPU share of one core over the window.
        double percent = static_cast<double>(after[i] - before[i]) * 10.0 * 100.0 / ms;
        printf("cpu %s %s: %.1f %% of one core (%d process%s)\n", label, names[i], percent,
               count[i], count[i] == 1 ? "" : "es");
    }
}

void PassFigures(TEnv& env, bool twoPads, DWORD ms) {
    TSimState state;
    env.sim.GetState(state);
    env.ClearLog();
    Sleep(ms);
    TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, twoPads);
    if (!scan.error.empty())
        printf("pass shape problem: %s\n", scan.error.c_str());
    TStats duration, period, accesses;
    double tick = state.frequency ? 1000.0 / static_cast<double>(state.frequency) : 0;
    for (size_t i = 0; i < scan.passes.size(); i++) {
        const TPass& p = scan.passes[i];
        accesses.Add(p.accesses);
        duration.Add(static_cast<double>(p.endTime - p.startTime) * tick);
        if (i > 0)
            period.Add(static_cast<double>(p.startTime - scan.passes[i - 1].startTime) * tick);
    }
    const char* pads = twoPads ? "two pads" : "one pad";
    printf("device calls per pass, %s: %s\n", pads, accesses.Describe("calls").c_str());
    printf("scan pass duration (first to last access), %s: %s\n", pads,
           duration.Describe("ms").c_str());
    printf("pass start to pass start at Interval=10, %s: %s\n", pads,
           period.Describe("ms").c_str());
    printf("passes in %lu ms: %zu\n", static_cast<unsigned long>(ms), scan.passes.size());
}

void LatencyFigures(TEnv& env, const TPresetValues& preset, int rounds) {
    TStats down, up;
    srand(12345);
    for (int r = 0; r < rounds; r++) {
        Sleep(static_cast<DWORD>(rand() % 15));
        KeyHook::Clear();
        LONGLONG t0 = Now();
        Press(env, 1, 1);
        std::vector<TKeyEvent> got = env.WaitKeys(1);
        down.Add(MsBetween(t0, got[0].time));
        Sleep(static_cast<DWORD>(20 + rand() % 15));
        LONGLONG t1 = Now();
        Release(env, 1, 1);
        got = env.WaitKeys(2);
        up.Add(MsBetween(t1, got[1].time));
        if (!Matches(got[0], KeyOf(preset, 1, 1, false)))
            printf("unexpected key: %s\n", Describe(got[0]).c_str());
    }
    printf("press to key-down: %s\n", down.Describe("ms").c_str());
    printf("release to key-up: %s\n", up.Describe("ms").c_str());
}

void RoundTrip(TEnv& env) {
    BYTE pair[2] = {0x11, 0};
    LONGLONG t0 = Now();
    const int n = 2000;
    for (int i = 0; i < n; i++)
        env.sim.ReadPorts(pair, 1);
    printf("one DeviceIoControl port read from another process: %.1f us\n",
           MsBetween(t0, Now()) * 1000.0 / n);
}

double RoundTripMicroseconds(TSimDevice& device) {
    BYTE pair[2] = {0x11, 0};
    const int n = 2000;
    for (int i = 0; i < n / 4; i++) // the first calls after a load are slower: not counted
        device.ReadPorts(pair, 1);
    LONGLONG t0 = Now();
    for (int i = 0; i < n; i++)
        device.ReadPorts(pair, 1);
    return MsBetween(t0, Now()) * 1000.0 / n;
}

// One read batch of one pair, nothing else running: the simulated build carries it out, the
// shipped build refuses it (no port under Wine) after the same checks.
void BuildRoundTrips(const TPaths& paths) {
    TEnv env(paths, "measure_round_trip");
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT1);
    printf("one-pair read batch round trip, simulated build: %.1f us\n",
           RoundTripMicroseconds(env.sim));
    env.UnloadDriver();
    std::string shipped = paths.dist + "LPTWDMIO.SYS", reason;
    TSimDevice device;
    if (!CopyFileA(shipped.c_str(), (env.dir + "LPTWDMIO.SYS").c_str(), FALSE) ||
        !DriverService::Install(env.dir + "LPTWDMIO.SYS", reason) || !device.Open())
        Fail("shipped driver did not load: %s", reason.c_str());
    printf("one-pair read batch round trip, shipped build (refused, no port): %.1f us\n",
           RoundTripMicroseconds(device));
    device.Close();
    env.UnloadDriver();
}

} // namespace

int RunMeasurements(const TPaths& paths) {
    try {
        BuildRoundTrips(paths);
        {
            TEnv env(paths, "measure_startup");
            TStats window, tray, firstPass;
            for (int run = 0; run < 3; run++) {
                env.UnloadDriver(); // the last run's driver still holds its file
                env.MakeProgramDir();
                env.WriteIni(StandardIni(1));
                TKavit& kavit = env.StartKavit();
                window.Add(MsBetween(kavit.startTime, kavit.windowTime));
                tray.Add(MsBetween(kavit.startTime, kavit.trayTime));
                if (!env.sim.Open())
                    Fail("device not open");
                ULONG next = 0;
                std::vector<TSimLogEntry> log;
                LONGLONG seen = 0;
                WaitUntil(
                    [&] {
                        env.sim.ReadLog(next, log);
                        if (AnalyzeScan(log, Lpt1, false).passes.empty())
                            return false;
                        seen = Now();
                        return true;
                    },
                    5000, 1);
                firstPass.Add(MsBetween(kavit.startTime, seen));
                env.sim.Close();
                env.ExitKavit(kavit);
            }
            printf("start to window (driver installed by the program): %s\n",
                   window.Describe("ms").c_str());
            printf("start to tray icon: %s\n", tray.Describe("ms").c_str());
            printf("start to first complete scan pass: %s\n", firstPass.Describe("ms").c_str());
        }
        {
            TEnv env(paths, "measure_one_pad");
            TIniValues ini = StandardIni(1);
            TKavit& kavit = StartScanning(env, ini);
            RoundTrip(env);
            PassFigures(env, false, 2000);
            LatencyFigures(env, ini.presets[0], 60);
            env.sim.ReleaseAll();
            CpuFigures("Kavit idle at Interval=10, one pad", 5000);
            env.ExitKavit(kavit);
            CpuFigures("after Kavit exited (driver still loaded)", 3000);
        }
        {
            TEnv env(paths, "measure_two_pads");
            TIniValues ini = StandardIni(1);
            ini.secondPlayer = 1;
            TKavit& kavit = StartScanning(env, ini);
            PassFigures(env, true, 2000);
            CpuFigures("Kavit idle at Interval=10, two pads", 5000);
            env.ExitKavit(kavit);
        }
    } catch (const TCaseFailure& f) {
        printf("measurement failed: %s\n", f.what());
        return 1;
    }
    std::string reason;
    DriverService::Remove(reason);
    return 0;
}
