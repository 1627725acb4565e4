// Playback figures: the time to build one stream packet for each output function, as a share of
// the packet's playing time, and the offline renderer's speed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "playback/OutputStage.h"
#include "playback/Stream.h"
#include "protocol/Calibration.h"
#include "synthesis/StandardWaveforms.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

namespace {

constexpr double kPacketPlayingSeconds = 700.0 / 20000.0;  // ECG only, 20000 samples/s

void PreparePlayback(int function) {
    std::vector<std::uint16_t> table(4001);
    FillDefaultDCCalibrationTable(table.data());
    SetLiveDCCalibrationTable(table.data());
    g_MainOutput = function;
    g_Amplitude = 1.0;
    g_F = 1.0;
    g_OperateMode = 3;
    if (function == OUTPUT_IEC227) StandardWaveformPeriod(OUTPUT_IEC227);
    DeriveSynthesisValues();
    ResetSynthesisTime();
}

void BM_BuildPacket(benchmark::State& state) {
    const int function = static_cast<int>(state.range(0));
    PreparePlayback(function);
    std::uint8_t buffer[3200];
    double busy = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::memset(buffer, 0, sizeof buffer);
        DoSendNextPacket(buffer);
        benchmark::DoNotOptimize(buffer);
        busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double perPacket = busy / static_cast<double>(state.iterations());
    state.counters["packet_us"] = 1e6 * perPacket;
    state.counters["real_time_pct"] = 100.0 * perPacket / kPacketPlayingSeconds;
    g_MainOutput = 0;
}

void BM_RenderOffline(benchmark::State& state) {
    const int function = static_cast<int>(state.range(0));
    PreparePlayback(0);
    std::vector<double> out(20000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetRawDataArrayEx(function, out.data(), 20000, 20000));
    }
    state.counters["samples_per_s"] = benchmark::Counter(
        20000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["times_real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_BuildPacket)
    ->ArgName("function")
    ->DenseRange(1, 12)
    ->Arg(14)
    ->Arg(15)
    ->Arg(16)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderOffline)
    ->ArgName("function")
    ->DenseRange(1, 6)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
