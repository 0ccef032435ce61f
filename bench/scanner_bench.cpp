// One pad scan pass against a simulated port driver that answers at once: the time the scanner
// itself costs per polling tick, its device calls, and its heap allocations (there must be none).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "scanner/scanner.h"
#include "settings/settings.h"
#include "tests/fake/fake_win32.h"
#include "tests/scanner/scanner_fixture.h"

// Every heap allocation of the program goes through here and is counted; new[] and the sized
// and nothrow forms come back to these. GCC takes the free() in a replaced operator delete for a
// mismatch with new; here the pair is malloc and free by construction.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<size_t> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// The scanner's world of the tests, with one or two pads and, when held, every button down.
class BenchRig : public scanner_test::ScanRig {
  public:
    BenchRig(int pads, bool allHeld) {
        TCodes preset;
        for (int b = 0; b < ButtonsPerPad; ++b) {
            preset.vk1[b] = 0x41 + b;
            preset.vk2[b] = 0x61 + b;
        }
        Start({preset});
        fake::on.keybd_event = [this](BYTE, BYTE, DWORD, ULONG_PTR) { ++keyEvents; };
        AppSettings.secondPlayer = pads == 2 ? 1 : 0;
        AppSettings.repeat = allHeld ? 1 : 0; // held and repeating: a key-down per button per pass
        if (allHeld)
            for (int pad = 1; pad <= 2; ++pad)
                for (int b = 1; b <= ButtonsPerPad; ++b)
                    matrix.Press(pad, b);
        fake::recording = false;
        ScanPads(); // the first key-downs and the icon change are not what is measured
        matrix.deviceCalls = 0;
        keyEvents = 0;
    }

    size_t keyEvents = 0;
};

void BM_ScanPass(benchmark::State& state) {
    BenchRig rig(static_cast<int>(state.range(0)), state.range(1) != 0);
    size_t allocationsBefore = allocations.load();
    for (auto _ : state)
        ScanPads();
    size_t allocated = allocations.load() - allocationsBefore;
    double passes = static_cast<double>(state.iterations());
    state.counters["device_calls_per_pass"] = rig.matrix.deviceCalls / passes;
    state.counters["key_events_per_pass"] = rig.keyEvents / passes;
    state.counters["allocations_per_pass"] = allocated / passes;
    if (allocated != 0)
        state.SkipWithError("the scan pass allocated");
}

BENCHMARK(BM_ScanPass)
    ->ArgNames({"pads", "held"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1});

} // namespace

BENCHMARK_MAIN();
