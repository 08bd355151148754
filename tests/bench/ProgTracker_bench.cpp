#include "ProgTracker.h"

#include <benchmark/benchmark.h>

namespace {

uint32_t gTick = 1;
// One millisecond per block: a window closes every thousandth call.
uint32_t AdvancingTicks() { return ++gTick; }

void BM_Update(benchmark::State& state) {
    TProgressTracker t;
    t.TickSource = AdvancingTicks;
    const int64_t total = int64_t{1} << 40;
    int64_t received = 0;
    for (auto _ : state) {
        received += 4096;
        t.Update(received, total);
        benchmark::DoNotOptimize(t.Percent);
        benchmark::DoNotOptimize(t.TextChanged());
        benchmark::DoNotOptimize(t.PercentChanged());
    }
}
BENCHMARK(BM_Update);

void BM_GetProgressText(benchmark::State& state) {
    TProgressTracker t;
    t.Received = 1536;
    t.Total = 5000000;
    t.Rate = 51200.0;
    t.SecondsLeft = 99;
    for (auto _ : state) benchmark::DoNotOptimize(t.GetProgressText());
}
BENCHMARK(BM_GetProgressText);

void BM_FormatByteSize(benchmark::State& state) {
    double v = 123456789.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(FormatByteSize(v));
    }
}
BENCHMARK(BM_FormatByteSize);

}  // namespace
