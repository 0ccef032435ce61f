#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "e2e/harness/cases.h"
#include "e2e/harness/harness.h"

namespace {

struct TStats {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double At(double q) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0 : values[static_cast<size_t>(q * (values.size() - 1))];
    }
    std::string Describe(const char* unit) {
        double sum = 0;
        for (double v : values)
            sum += v;
        return values.empty() ? "no samples"
                              : Format("min %.2f, median %.2f, p90 %.2f, max %.2f, mean %.2f %s "
                                       "(n=%zu)",
                                       At(0), At(0.5), At(0.9), At(1), sum / values.size(), unit,
                                       values.size());
    }
};

// Linux CPU time (user + system, clock ticks) of this Wine session's processes whose command line
// contains `needle`, read through Wine's Z: drive: other sessions on the machine (other suites
// running at the same time) have another WINEPREFIX. -1 when /proc cannot be read.
long long UnixCpuTicks(const char* needle) {
    char prefix[MAX_PATH] = "";
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    std::string ours = std::string("WINEPREFIX=") + prefix + '\0';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    long long total = 0;
    do {
        std::string base = std::string("Z:\\proc\\") + found.cFileName + "\\";
        std::string cmdline, stat, environment;
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9' ||
            !ReadFileBytes(base + "cmdline", cmdline) || !ReadFileBytes(base + "stat", stat))
            continue;
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(needle) == std::string::npos ||
            (prefix[0] && (!ReadFileBytes(base + "environ", environment) ||
                           environment.find(ours) == std::string::npos)))
            continue;
        // After the command name in parentheses come field 3 (state) onwards; utime is field
        // 14 and stime field 15.
        unsigned long long user = 0, system = 0;
        size_t close = stat.rfind(')');
        if (close != std::string::npos &&
            sscanf(stat.c_str() + close + 1,
                   "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &user, &system) == 2)
            total += static_cast<long long>(user + system);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return total;
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
    ASSERT_TRUE(CopyFileA(shipped.c_str(), (env.dir + "LPTWDMIO.SYS").c_str(), FALSE) &&
                DriverService::Install(env.dir + "LPTWDMIO.SYS", reason) && device.Open())
        << "shipped driver did not load: " << reason;
    printf("one-pair read batch round trip, shipped build (refused, no port): %.1f us\n",
           RoundTripMicroseconds(device));
    device.Close();
    env.UnloadDriver();
}

// This session's share of one core for Kavit, winedevice and wineserver, and their sum, over four
// seconds; the driver's log is read meanwhile (at Interval=1 it holds about 1.7 s). Returns the ms.
double CpuShares(TEnv* env, double cpu[4]) {
    const char* names[] = {"Kavit.exe", "winedevice.exe", "wineserver"};
    long long before[3];
    for (int i = 0; i < 3; i++)
        before[i] = UnixCpuTicks(names[i]);
    LONGLONG t0 = Now();
    for (int i = 0; i < 8; i++) {
        Sleep(500);
        if (env)
            env->PollLog();
    }
    double ms = MsBetween(t0, Now());
    cpu[3] = 0;
    for (int i = 0; i < 3; i++) { // ticks of 10 ms
        cpu[i] = static_cast<double>(UnixCpuTicks(names[i]) - before[i]) * 1000.0 / ms;
        cpu[3] += cpu[i];
    }
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
    TScanLog scan = AnalyzeScan(env.PollLog(), Lpt1, twoPads);
    TStats period, pass, down;
    int calls = 0;
    double tick = 1000.0 / static_cast<double>(state.frequency);
    for (size_t i = 0; i < scan.passes.size(); i++) {
        calls = std::max(calls, scan.passes[i].calls);
        pass.Add(static_cast<double>(scan.passes[i].endTime - scan.passes[i].startTime) * tick);
        if (i > 0)
            period.Add(
                static_cast<double>(scan.passes[i].startTime - scan.passes[i - 1].startTime) *
                tick);
    }
    for (int r = 0; r < 40; r++) {
        Sleep(static_cast<DWORD>(5 + r % 7));
        KeyHook::Clear();
        LONGLONG pressed = Now();
        Press(env, 1, 1);
        down.Add(MsBetween(pressed, env.WaitKeys(1)[0].time));
        Release(env, 1, 1);
        env.WaitKeys(2);
    }
    printf("pace %s, Interval=%lu, %s: %.0f passes/s; period median %.2f, p99 %.2f, max %.2f ms; "
           "pass median %.2f ms in at most %d device calls; press to key median %.2f, p99 %.2f ms; "
           "CPU of one core: Kavit %.1f %%, winedevice %.1f %%, wineserver %.1f %%, together "
           "%.1f %%\n",
           label, static_cast<unsigned long>(interval), twoPads ? "two pads" : "one pad",
           period.values.size() * 1000.0 / ms, period.At(0.5), period.At(0.99), period.At(1),
           pass.At(0.5), calls, down.At(0.5), down.At(0.99), cpu[0], cpu[1], cpu[2], cpu[3]);
    fflush(stdout);
    env.ExitKavit(kavit);
}

// Three starts of Kavit, each installing the driver: to its window, its tray icon, its first pass.
void StartupFigures(const TPaths& paths) {
    TEnv env(paths, "measure_startup");
    TStats window, tray, firstPass;
    for (int run = 0; run < 3; run++) {
        env.UnloadDriver(); // the last run's driver still holds its file
        TKavit& kavit = StartKavitWith(env, StandardIni(1));
        window.Add(MsBetween(kavit.startTime, kavit.windowTime));
        tray.Add(MsBetween(kavit.startTime, kavit.trayTime));
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
        firstPass.Add(MsBetween(kavit.startTime, seen));
        env.sim.Close();
        env.ExitKavit(kavit);
    }
    printf("start to window (driver installed by the program): %s\n",
           window.Describe("ms").c_str());
    printf("start to tray icon: %s\n", tray.Describe("ms").c_str());
    printf("start to first complete scan pass: %s\n", firstPass.Describe("ms").c_str());
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
