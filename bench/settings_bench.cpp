// LoadSettings and SaveSettings on files of 1, 100 and 10,000 presets. The counter ns_per_preset
// must stay flat as the file grows: neither reading nor writing may copy the text over and over.
// Only the call itself is timed (manual time); emptying the table between loads is not.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "settings/settings.h"
#include "tests/fake/fake_win32.h"

namespace {

const std::string IniPath = "C:\\Kavit\\Kavit.ini";

// A table of `count` presets with labels and codes of realistic length.
void FillTable(int count) {
    PresetTable = TPresetTable{};
    AppSettings.interval = 10;
    AppSettings.secondPlayer = 1;
    AppSettings.repeat = 0;
    for (int k = 0; k < count; ++k) {
        TCodes preset;
        preset.header = "[Preset number " + std::to_string(k + 1) + "]";
        preset.caption = CaptionOf(preset.header);
        for (int b = 0; b < ButtonsPerPad; ++b) {
            preset.name1[b] = "Button " + std::to_string(b + 1);
            preset.name2[b] = "Key " + std::to_string(b + 1); // 12 characters would not read back
            preset.vk1[b] = 65 + b;
            preset.scan1[b] = 30 + b;
            preset.ext1[b] = b % 2;
            preset.vk2[b] = 96 + b;
            preset.scan2[b] = 71 + b;
            preset.ext2[b] = 0;
        }
        PresetTable.presets.push_back(preset);
    }
    PresetTable.presetCount = count;
}

template <typename F> void Timed(benchmark::State& state, double& total, F&& call) {
    auto start = std::chrono::steady_clock::now();
    bool ok = call();
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    if (!ok)
        state.SkipWithError("the call failed");
    state.SetIterationTime(spent.count());
    total += spent.count();
}

void Report(benchmark::State& state, double total, size_t bytes) {
    const double presets = static_cast<double>(state.iterations()) * state.range(0);
    state.counters["ns_per_preset"] = total * 1e9 / presets;
    state.counters["file_kb"] = static_cast<double>(bytes) / 1024;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_LoadSettings(benchmark::State& state) {
    fake::Reset();
    fake::recording = false;
    FillTable(static_cast<int>(state.range(0)));
    SaveSettings(IniPath);
    const size_t bytes = fake::files[IniPath].size();
    double total = 0;
    for (auto _ : state) {
        PresetTable = TPresetTable{};
        fake::menus.clear();
        Timed(state, total, [] { return LoadSettings(IniPath); });
    }
    Report(state, total, bytes);
}

void BM_SaveSettings(benchmark::State& state) {
    fake::Reset();
    fake::recording = false;
    FillTable(static_cast<int>(state.range(0)));
    double total = 0;
    for (auto _ : state)
        Timed(state, total, [] { return SaveSettings(IniPath); });
    Report(state, total, fake::files[IniPath].size());
}

BENCHMARK(BM_LoadSettings)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveSettings)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
