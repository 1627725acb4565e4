// Tick timer period error: lateness of each tick against its ideal time, at a 35 ms period.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/TickTimer.h"

namespace {

struct Ticks {
    std::mutex mutex;
    std::vector<std::int64_t> times;
};

void Record(void* p) {
    auto* t = static_cast<Ticks*>(p);
    std::lock_guard<std::mutex> lock(t->mutex);
    t->times.push_back(MonotonicNanos());
}

void BM_TickTimerLateness35ms(benchmark::State& state) {
    const int period = 35;
    const std::size_t wanted = static_cast<std::size_t>(state.range(0));
    std::vector<double> lateness;
    for (auto _ : state) {
        Ticks ticks;
        ticks.times.reserve(wanted + 8);
        const auto start = MonotonicNanos();
        TIMER_HANDLE timer = StartTickTimer(period, Record, &ticks);
        if (timer == nullptr) {
            state.SkipWithError("timer could not be created");
            return;
        }
        for (;;) {
            SleepEx(20);
            std::lock_guard<std::mutex> lock(ticks.mutex);
            if (ticks.times.size() >= wanted) break;
        }
        StopTickTimer(timer);
        for (std::size_t i = 0; i < wanted; ++i) {
            const double ideal = static_cast<double>(start) + (i + 1) * period * 1e6;
            lateness.push_back((static_cast<double>(ticks.times[i]) - ideal) / 1e6);
        }
    }
    std::sort(lateness.begin(), lateness.end());
    state.counters["median_late_ms"] = lateness[lateness.size() / 2];
    state.counters["worst_late_ms"] = lateness.back();
    state.counters["best_late_ms"] = lateness.front();
}

}  // namespace

BENCHMARK(BM_TickTimerLateness35ms)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
