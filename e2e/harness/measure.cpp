#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

// The value at quantile q of `values` (0 the least, 1 the greatest), 0 without values.
double At(std::vector<double>& values, double q) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[static_cast<size_t>(q * (values.size() - 1))];
}

const char* const CpuNames[3] = {"Kavit.exe", "winedevice.exe", "wineserver"};

// Linux CPU time (user + system, clock ticks) of this Wine session's processes whose command line
// contains CpuNames[i], read through Wine's Z: drive: other sessions on the machine (other suites
// running at the same time) have another WINEPREFIX. -1 when /proc cannot be read.
void UnixCpuTicks(long long ticks[3]) {
    char prefix[MAX_PATH] = "";
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    std::string ours = std::string("WINEPREFIX=") + prefix + '\0';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    std::fill(ticks, ticks + 3, search == INVALID_HANDLE_VALUE ? -1 : 0);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string base = std::string("Z:\\proc\\") + found.cFileName + "\\";
        std::string cmdline, stat, environment;
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9' ||
            !ReadFileBytes(base + "cmdline", cmdline) || !ReadFileBytes(base + "stat", stat))
            continue;
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        int i = 0;
        while (i < 3 && cmdline.find(CpuNames[i]) == std::string::npos)
            i++;
        if (i == 3 || (prefix[0] && (!ReadFileBytes(base + "environ", environment) ||
                                     environment.find(ours) == std::string::npos)))
            continue;
        // After the command name in parentheses come field 3 (state) onwards; utime is field
        // 14 and stime field 15.
        unsigned long long user = 0, system = 0;
        size_t close = stat.rfind(')');
        if (close != std::string::npos &&
            sscanf(stat.c_str() + close + 1,
                   "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &user, &system) == 2)
            ticks[i] += static_cast<long long>(user + system);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// One read batch of one pair, nothing else running: the simulated build carries it out, the
// shipped build refuses it (no port under Wine) after the same checks.
void RoundTrip(TSimDevice& device, const char* build) {
    BYTE pair[2] = {0x11, 0};
    const int n = 2000;
    for (int i = 0; i < n / 4; i++) // the first calls after a load are slower: not counted
        device.ReadPorts(pair, 1);
    LONGLONG t0 = Now();
    for (int i = 0; i < n; i++)
        device.ReadPorts(pair, 1);
    printf("one-pair read batch round trip, %s: %.1f us\n", build, MsBetween(t0, Now()) * 1000 / n);
}

void BuildRoundTrips(const TPaths& paths) {
    TEnv env(paths, "measure_round_trip");
    env.MakeProgramDir(true, false);
    env.PreloadDriver(SIM_PORT_LPT1);
    RoundTrip(env.sim, "simulated build");
    env.UnloadDriver();
    std::string shipped = paths.dist + "LPTWDMIO.SYS", reason;
    ASSERT_TRUE(CopyFileA(shipped.c_str(), (env.dir + "LPTWDMIO.SYS").c_str(), FALSE) &&
                DriverService::Install(env.dir + "LPTWDMIO.SYS", reason) && env.sim.Open())
        << "shipped driver did not load: " << reason;
    RoundTrip(env.sim, "shipped build (refused, no port)");
    env.UnloadDriver();
}

// This session's share of one core (%) for Kavit, winedevice and wineserver, and their sum, over
// four seconds; the driver's log is read meanwhile (at Interval=1 it holds about 1.7 s). Returns
// the ms.
double CpuShares(TEnv* env, double cpu[4]) {
    long long before[3], after[3];
    UnixCpuTicks(before);
    LONGLONG t0 = Now();
    for (int i = 0; i < 8; i++) {
        Sleep(500);
        if (env)
            env->PollLog();
    }
    double ms = MsBetween(t0, Now());
    UnixCpuTicks(after);
    cpu[3] = 0;
    for (int i = 0; i < 3; i++) // ticks of 10 ms
        cpu[3] += cpu[i] = static_cast<double>(after[i] - before[i]) * 1000 / ms;
    return ms;
}

// Kavit polling at `interval` with its window hidden: the pace it keeps and how long a pass takes
// (from the driver's clock), the device calls a pass takes, the CPU it and Wine's two helpers use
// while idle, then the time from a press to its key.
void PaceFigures(const TPaths& paths, const char* label, DWORD interval, bool twoPads) {
    static int run = 0; // a folder of its own: the last run's driver may still hold its file
    TEnv env(paths, Format("measure_pace_%d", ++run).c_str());
    TIniValues ini = StandardIni(1);
    ini.interval = interval;
    ini.secondPlayer = twoPads ? 1 : 0;
    TKavit& kavit = StartScanning(env, ini);
    TSimState state;
    env.sim.GetState(state);
    env.ClearLog();
    double cpu[4], ms = CpuShares(&env, cpu);
    std::vector<TPass> passes = AnalyzeScan(env.PollLog(), Lpt1, twoPads).passes;
    std::vector<double> period, pass, down;
    int calls = 0;
    double tick = 1000.0 / static_cast<double>(state.frequency);
    for (size_t i = 0; i < passes.size(); i++) {
        calls = std::max(calls, passes[i].calls);
        pass.push_back(tick * (passes[i].endTime - passes[i].startTime));
        if (i > 0)
            period.push_back(tick * (passes[i].startTime - passes[i - 1].startTime));
    }
    for (int r = 0; r < 40; r++) {
        Sleep(static_cast<DWORD>(5 + r % 7));
        KeyHook::Clear();
        LONGLONG pressed = Now();
        Press(env, 1, 1);
        down.push_back(MsBetween(pressed, env.WaitKeys(1)[0].time));
        Release(env, 1, 1);
        env.WaitKeys(2);
    }
    printf("pace %s, Interval=%lu, %s: %.0f passes/s; period median %.2f, p99 %.2f, max %.2f ms; "
           "pass median %.2f ms in at most %d device calls; press to key median %.2f, p99 %.2f ms; "
           "CPU of one core: Kavit %.1f %%, winedevice %.1f %%, wineserver %.1f %%, together "
           "%.1f %%\n",
           label, interval, twoPads ? "two pads" : "one pad", period.size() * 1000.0 / ms,
           At(period, 0.5), At(period, 0.99), At(period, 1), At(pass, 0.5), calls, At(down, 0.5),
           At(down, 0.99), cpu[0], cpu[1], cpu[2], cpu[3]);
    fflush(stdout);
    env.ExitKavit(kavit);
}

// Three starts of Kavit, each installing the driver: to its window, its tray icon, its first pass.
void StartupFigures(const TPaths& paths) {
    TEnv env(paths, "measure_startup");
    std::vector<double> ms[3];
    for (int run = 0; run < 3; run++) {
        env.UnloadDriver(); // the last run's driver still holds its file
        TKavit& kavit = StartKavitWith(env, StandardIni(1));
        ms[0].push_back(MsBetween(kavit.startTime, kavit.windowTime));
        ms[1].push_back(MsBetween(kavit.startTime, kavit.trayTime));
        Require(env.sim, env.sim.Open(), "device not open");
        ULONG next = 0;
        std::vector<TSimLogEntry> log;
        LONGLONG seen = 0;
        WaitUntil(
            [&] {
                env.sim.ReadLog(next, log);
                seen = Now();
                return !AnalyzeScan(log, Lpt1, false).passes.empty();
            },
            5000, 1);
        ms[2].push_back(MsBetween(kavit.startTime, seen));
        env.sim.Close();
        env.ExitKavit(kavit);
    }
    const char* what[] = {"start to window (driver installed by the program)", "start to tray icon",
                          "start to first complete scan pass"};
    for (int i = 0; i < 3; i++) {
        std::vector<double>& v = ms[i];
        printf("%s: min %.2f, median %.2f, p90 %.2f, max %.2f, mean %.2f ms (n=%zu)\n", what[i],
               At(v, 0), At(v, 0.5), At(v, 0.9), At(v, 1),
               std::accumulate(v.begin(), v.end(), 0.0) / v.size(), v.size());
    }
}

// Runs `figures`; a failure, already printed by GoogleTest, ends them with status 1.
int Measured(const std::function<void()>& figures) {
    try {
        figures();
    } catch (const testing::AssertionException&) {
        printf("measurement failed (see above)\n");
        return 1;
    }
    std::string reason;
    DriverService::Remove(reason);
    return 0;
}

} // namespace

int RunPace(const TPaths& paths, const char* label) {
    double idle[4];
    CpuShares(nullptr, idle);
    printf("pace %s, Wine alone before: winedevice %.1f %%, wineserver %.1f %% of one core\n",
           label, idle[1], idle[2]);
    return Measured([&] {
        for (DWORD interval : {1u, 2u, 5u, 10u})
            PaceFigures(paths, label, interval, false);
        PaceFigures(paths, label, 10, true);
    });
}

int RunMeasurements(const TPaths& paths) {
    return Measured([&] {
        BuildRoundTrips(paths);
        StartupFigures(paths);
    });
}
