// PPG packet figures: the time to build one stream packet of the synthetic ECG with three PPG
// channels (operate mode 0x1F: 3 samples per sub-packet, 150 per packet, 15 ms at 10000
// samples/s), as a share of the packet's playing time (target: at most 0.1 %). Variants: plain
// pulses; with the pulse-transit-time shift; with the shift and respiratory modulation of the
// ECG and of all three PPG channels.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "playback/OutputStage.h"
#include "playback/Stream.h"
#include "ppg/PpgChannels.h"
#include "ppg/PpgOutput.h"
#include "protocol/Calibration.h"
#include "protocol/Discipline.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

namespace {

void PreparePlayback(bool transitTime, bool modulated) {
    std::vector<std::uint16_t> table(4001);
    FillDefaultDCCalibrationTable(table.data());
    SetLiveDCCalibrationTable(table.data());
    for (int k = 0; k < 3; ++k) {
        TOLVSetPPGStandardWaveform(k, 3, 1, 0, 1.0, 1000.0 + 500.0 * k, 10.0 + k);
        TOLVEnablePPGOutput(k, true);
    }
    TOLVSetPTTp(transitTime ? 200 : -1);
    // The modulated variant breathes at 15/min and modulates the ECG and the three PPG channels.
    TOLVDisableRespireAlgorithm();
    if (modulated) {
        TOLVSetRespirationAlgorithm(15, 2, 0, 10, 10, 10);
        TOLVSetPPGRespirationAlgorithm(10, 20, 5);
    }
    g_MainOutput = OUTPUT_ECG;
    g_Amplitude = 1.0;
    g_F = 1.0;
    g_OperateMode = 0x1F;
    DeriveSynthesisValues();
    ResetSynthesisTime();
}

void BM_BuildEcgWithThreePpgChannels(benchmark::State& state) {
    PreparePlayback(state.range(0) != 0, state.range(1) != 0);
    const double rate = _GetSampleRate();
    const double playing = 50.0 * 3 / rate;
    std::uint8_t buffer[3200];
    double busy = 0.0;
    // Thread CPU time as well: on a shared machine the wall clock also counts other programs.
    timespec cpuStart{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuStart);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            CAutoCriticalSection interrupt(g_InterruptCriticalSection);
            std::memset(buffer, 0, sizeof buffer);
            DoSendNextPacket(buffer);
        }
        benchmark::DoNotOptimize(buffer);
        busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    timespec cpuEnd{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuEnd);
    const double cpu = static_cast<double>(cpuEnd.tv_sec - cpuStart.tv_sec) +
                       1e-9 * static_cast<double>(cpuEnd.tv_nsec - cpuStart.tv_nsec);
    const double iterations = static_cast<double>(state.iterations());
    const double perPacket = busy / iterations;
    state.counters["packet_us"] = 1e6 * perPacket;
    state.counters["real_time_pct"] = 100.0 * perPacket / playing;
    state.counters["cpu_pct"] = 100.0 * cpu / iterations / playing;
    state.counters["sample_rate"] = rate;
    g_MainOutput = 0;
}

}  // namespace

BENCHMARK(BM_BuildEcgWithThreePpgChannels)
    ->ArgNames({"ptt", "modulated"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
