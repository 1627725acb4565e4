// The ground truth of the offline renderer: every R wave, pacing pulse and apnoea where the
// rendered signal and the schedule put them; the queue's limits; the PPG foot, peak and
// transit time; the table detector against the exact beats of the generated patterns.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "support/OfflineSession.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/PlayClock.h"
#include "synthesis/StandardWaveforms.h"
#include "tolvan.h"

namespace {

std::vector<TOLV_TRUTH_EVENT> Drain() {
    std::vector<TOLV_TRUTH_EVENT> all;
    TOLV_TRUTH_EVENT chunk[256];
    for (int n; (n = TOLVReadGroundTruth(chunk, 256)) > 0;) all.insert(all.end(), chunk, chunk + n);
    return all;
}

std::vector<double> TimesOf(const std::vector<TOLV_TRUTH_EVENT>& events, int kind) {
    std::vector<double> times;
    for (const auto& e : events)
        if (e.Kind == kind) times.push_back(e.Time);
    return times;
}

class GroundTruth : public OfflineSessionTest<> {
  protected:
    void SetUp() override {
        TOLVReset();
        ASSERT_EQ(TOLVEnableGroundTruth(1), 0);
    }
    void TearDown() override {
        TOLVEnableGroundTruth(0);
        TOLVReset();
    }
    std::vector<double> Render(int function, double seconds, int rate) {
        std::vector<double> out(static_cast<std::size_t>(std::lround(seconds * rate)));
        EXPECT_GT(GetRawDataArrayEx(function, out.data(), static_cast<int>(out.size()), rate), 0);
        return out;
    }
};

struct BeatCase {
    const char* name;
    int function;
    int wave;  // 2-47 pattern index, or -1
    double bpm;
    int rate;
    double seconds;
    double firstR;  // s
    double secondR;
    std::size_t count;
};

class Beats : public GroundTruth, public ::testing::WithParamInterface<BeatCase> {};

TEST_P(Beats, OneRWaveAtTheHighestSampleOfEachBeat) {
    const BeatCase& c = GetParam();
    if (c.bpm > 0) {
        ASSERT_EQ(TOLVSetFrequency(c.bpm / 60.0), 0);
    }
    if (c.wave >= 0) {
        ASSERT_EQ(TOLVSetSpecialWave247(c.wave), 0);
    }
    const std::vector<double> x = Render(c.function, c.seconds, c.rate);
    const std::vector<TOLV_TRUTH_EVENT> events = Drain();
    const std::vector<double> r = TimesOf(events, TOLV_TRUTH_R_WAVE);
    ASSERT_EQ(r.size(), c.count) << c.name;
    EXPECT_NEAR(r[0], c.firstR, 1e-9) << c.name;
    EXPECT_NEAR(r[1], c.secondR, 1e-9) << c.name;
    // Independent of how the time was found: the sample nearest to it is the beat's highest.
    const long window = std::lround(0.1 * c.rate);
    for (double t : r) {
        const long at = std::lround(t * c.rate);
        const long lo = std::max(0L, at - window);
        const long hi = std::min(static_cast<long>(x.size()), at + window);
        const double highest = *std::max_element(x.begin() + lo, x.begin() + hi);
        EXPECT_DOUBLE_EQ(x[static_cast<std::size_t>(at)], highest) << c.name << " R at " << t;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Renderer, Beats,
    ::testing::Values(
        // R peak of output 7: 0.01 + 0.4375 QRS (100 ms) into each period.
        BeatCase{"ecg60", OUTPUT_ECG, -1, 60, 1000, 5, 0.05375, 1.05375, 5},
        BeatCase{"ecg120at500", OUTPUT_ECG, -1, 120, 500, 5, 0.05375, 0.55375, 10},
        // Customised beat: PR 160 ms + 0.4375 QRS.
        BeatCase{"custom75", OUTPUT_CUSTOM_ECG, -1, 75, 1000, 4, 0.20375, 1.00375, 5},
        // JJG 1041 at 1 Hz: the first R crest at 0.156 s.
        BeatCase{"jjgDouble", OUTPUT_JJG1041_DOUBLE_R, -1, 60, 1000, 3, 0.156, 1.156, 3},
        BeatCase{"jjgSingle", OUTPUT_JJG1041_SINGLE_R, -1, 60, 1000, 3, 0.156, 1.156, 3},
        // 2-47 pattern 2: beats at 0 and 800 ms, R 53 ms into the reference beat.
        BeatCase{"pattern2", OUTPUT_IEC247, 1, 0, 1000, 2, 0.053, 0.853, 3}),
    [](const ::testing::TestParamInfo<BeatCase>& info) { return info.param.name; });

struct PacingCase {
    const char* name;
    unsigned mode;
    std::vector<double> first;  // s
};

class Pacing : public GroundTruth, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(Pacing, PulsesWhereTheScheduleStartsThem) {
    const PacingCase& c = GetParam();
    ASSERT_EQ(TOLVSetFrequency(1.0), 0);
    ASSERT_EQ(TOLVSetPacingAmplitude(5.0), 0);
    ASSERT_EQ(TOLVSetPacingPulseMode(c.mode), 0);
    const std::vector<double> plain = Render(OUTPUT_ECG, 3, 1000);
    const std::vector<double> pulses = TimesOf(Drain(), TOLV_TRUTH_PACING_PULSE);
    ASSERT_GE(pulses.size(), c.first.size());
    for (std::size_t i = 0; i < c.first.size(); ++i)
        EXPECT_NEAR(pulses[i], c.first[i], 0.5e-3) << c.name << " pulse " << i;
    // The recording does not change what is rendered.
    TOLVEnableGroundTruth(0);
    EXPECT_EQ(Render(OUTPUT_ECG, 3, 1000), plain);
}

INSTANTIATE_TEST_SUITE_P(
    Renderer, Pacing,
    ::testing::Values(PacingCase{"single", 0, {0.98, 1.98}},
                      // The pair: a pulse 150 ms before the one 20 ms before the boundary.
                      PacingCase{"pair150", 1, {0.83, 0.98, 1.83, 1.98}}),
    [](const ::testing::TestParamInfo<PacingCase>& info) { return info.param.name; });

TEST_F(GroundTruth, ApnoeaOfTheModulationFromSecondFiftyToSixty) {
    ASSERT_TRUE(TOLVSetRespirationAlgorithm(15, 1, 10, 50, 0, 0));
    Render(OUTPUT_ECG, 65, 100);
    const std::vector<TOLV_TRUTH_EVENT> events = Drain();
    const std::vector<double> start = TimesOf(events, TOLV_TRUTH_APNOEA_START);
    const std::vector<double> end = TimesOf(events, TOLV_TRUTH_APNOEA_END);
    ASSERT_EQ(start.size(), 1u);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_NEAR(start[0], 50.0, 1e-6);
    EXPECT_NEAR(end[0], 60.0, 1e-6);
}

TEST_F(GroundTruth, AFullQueueKeepsTheOldestAndCountsTheRest) {
    ASSERT_EQ(TOLVSetFrequency(6.0), 0);
    Render(OUTPUT_ECG, 1800, 100);  // 10800 beats
    Render(OUTPUT_ECG, 1800, 100);
    const std::vector<TOLV_TRUTH_EVENT> events = Drain();
    ASSERT_EQ(events.size(), static_cast<std::size_t>(kTruthCapacity));
    EXPECT_EQ(TOLVGetGroundTruthLost(), 2u * 10800u - kTruthCapacity);
    EXPECT_NEAR(events[0].Time, 0.01 + 0.4375 * 0.1, 1e-9);
    // Switching on again starts afresh.
    ASSERT_EQ(TOLVEnableGroundTruth(1), 0);
    EXPECT_EQ(TOLVGetGroundTruthLost(), 0u);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(GroundTruth, RefusesBadArgumentsAndRecordsNothingWhenOff) {
    TOLV_TRUTH_EVENT e;
    EXPECT_EQ(TOLVEnableGroundTruth(2), -2);
    EXPECT_EQ(TOLVReadGroundTruth(nullptr, 1), -2);
    EXPECT_EQ(TOLVReadGroundTruth(&e, 0), -2);
    ASSERT_EQ(TOLVEnableGroundTruth(0), 0);
    EXPECT_EQ(TOLVIsGroundTruthEnabled(), 0);
    Render(OUTPUT_ECG, 2, 1000);
    EXPECT_EQ(TOLVReadGroundTruth(&e, 1), 0);
}

TEST_F(GroundTruth, PpgFootPeakAndTransitTimeFromTheLastRWave) {
    // A 1 s beat peaking 150 ms after its foot, sampled every 10 ms from play time 0 (phase 0.75
    // at time 0, so the beats start at 0.25 and 1.25 s); an R wave of output 7 at 0.2 s.
    SetSynthesisTime(0.2);
    NoteBeatTruth(OUTPUT_ECG, s_t1 - 1e-3, 1.0);
    NoteBeatTruth(OUTPUT_ECG, s_t1, 1.0);
    ResetSynthesisTime();
    for (int i = 0; i <= 150; ++i) {
        const double t = i * 0.01;
        double phase = std::fmod(t + 0.75, 1.0);
        NotePpgTruth(1, phase, 1.0, 0.15, t);
    }
    std::vector<TOLV_TRUTH_EVENT> events = Drain();
    const std::vector<double> feet = TimesOf(events, TOLV_TRUTH_PPG_FOOT);
    ASSERT_EQ(feet.size(), 2u);  // 0.25 and 1.25
    EXPECT_NEAR(feet[0], 0.25, 1e-9);
    EXPECT_NEAR(feet[1], 1.25, 1e-9);
    std::vector<TOLV_TRUTH_EVENT> peaks;
    for (const auto& e : events)
        if (e.Kind == TOLV_TRUTH_PPG_PEAK) peaks.push_back(e);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_NEAR(peaks[0].Time, 0.4, 1e-9);
    EXPECT_EQ(peaks[0].Channel, 1);
    EXPECT_NEAR(peaks[0].Value, 0.2, 1e-9);
    EXPECT_NEAR(peaks[1].Time, 1.4, 1e-9);
    EXPECT_NEAR(peaks[1].Value, 1.2, 1e-9);  // no R wave since the one at 0.2 s
    EXPECT_EQ(TimesOf(events, TOLV_TRUTH_R_WAVE), std::vector<double>{0.2});
}

// Played on the library's timer while the application reads the queue: every beat once, in
// order, where the beat puts its R wave.
TEST_F(GroundTruth, WhilePlayingEachBeatArrivesOnceWhileTheQueueIsRead) {
    ASSERT_EQ(TOLVSetFrequency(4.0), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_ECG), 0);
    std::vector<double> r;
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (double t : TimesOf(Drain(), TOLV_TRUTH_R_WAVE)) r.push_back(t);
    }
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_OFF), 0);
    for (double t : TimesOf(Drain(), TOLV_TRUTH_R_WAVE)) r.push_back(t);
    ASSERT_GE(r.size(), 3u);  // 1.5 s at 4 beats/s on a loaded machine
    for (std::size_t k = 0; k < r.size(); ++k)
        EXPECT_NEAR(r[k], 0.01 + 0.4375 * 0.1 + 0.25 * static_cast<double>(k), 1e-6) << k;
}

TEST(GroundTruthDetector, FindsTheExactBeatsOfTheGeneratedPatterns) {
    for (int n = 1; n <= 3; ++n) {
        const double* pattern = getIEC47RawArray(n);
        ASSERT_NE(pattern, nullptr);
        std::vector<std::int32_t> uv(static_cast<std::size_t>(hrvperiod[n]));
        for (std::size_t i = 0; i < uv.size(); ++i)
            uv[i] = static_cast<std::int32_t>(std::trunc(1000.0 * pattern[i]));
        const std::vector<R_MARK> found =
            DetectRWaves(uv.data(), static_cast<int>(uv.size()), 1000);
        const std::vector<R_MARK> exact = IEC247RWaves(n);
        ASSERT_EQ(found.size(), exact.size()) << "pattern " << n + 1;
        for (std::size_t i = 0; i < exact.size(); ++i)
            EXPECT_NEAR(found[i].position, exact[i].position, 1.5e-3) << "pattern " << n + 1;
    }
}

}  // namespace
