#include "synthesis/Synthesizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "synthesis/MathConstants.h"
#include "synthesis/PlayClock.h"

namespace {

constexpr double kTol = 1e-9;

std::vector<double> g_frequencyReports;
std::vector<int> g_dcReports;

void RecordFrequency(double f) {
    g_frequencyReports.push_back(f);
}
void RecordDCOffset(int mv) {
    g_dcReports.push_back(mv);
}

class Synthesizer : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetWaveformState();
        ResetSynthesisTime();
        g_SyncFreqCB = nullptr;
        g_SyncDCOffsetCB = nullptr;
        g_frequencyReports.clear();
        g_dcReports.clear();
    }
    void TearDown() override {
        g_SyncFreqCB = nullptr;
        g_SyncDCOffsetCB = nullptr;
        ResetWaveformState();
        ResetSynthesisTime();
    }
    // Selects an output function and applies the state as a change does.
    static void Select(int output, int rate = 20000) {
        g_MainOutput = output;
        DeriveSynthesisValuesAt(rate);
    }
    static double At(double p) { return _GetMainFunctionVoltage(p); }
};

TEST_F(Synthesizer, SineOfOneMillivoltPeakToPeak) {
    Select(OUTPUT_SINE);
    EXPECT_NEAR(At(0.0), 0.0, kTol);
    EXPECT_NEAR(At(0.25), 0.5, kTol);
    EXPECT_NEAR(At(0.75), -0.5, kTol);
}

TEST_F(Synthesizer, NegativeAmplitudeInvertsTheWaveform) {
    g_Amplitude = -1.0;
    Select(OUTPUT_SINE);
    EXPECT_NEAR(At(0.25), -0.5, kTol);
}

TEST_F(Synthesizer, TriangleOfTwoMillivolts) {
    g_Amplitude = 2.0;
    Select(OUTPUT_TRIANGLE);
    const struct {
        double p, mv;
    } cases[] = {{0.0, 0.0}, {0.125, 0.5}, {0.25, 1.0}, {0.5, 0.0}, {0.75, -1.0}, {0.875, -0.5}};
    for (const auto& c : cases) EXPECT_NEAR(At(c.p), c.mv, kTol) << "p=" << c.p;
    EXPECT_NEAR(At(1.0 - 1e-9), 0.0, 1e-6);
}

TEST_F(Synthesizer, SquareHalfPeriodsAtPlusAndMinusHalfAmplitude) {
    g_Amplitude = 2.0;
    g_F = 2.0;
    Select(OUTPUT_SQUARE);
    EXPECT_DOUBLE_EQ(At(0.0), 1.0);
    EXPECT_DOUBLE_EQ(At(0.2499), 1.0);
    EXPECT_DOUBLE_EQ(At(0.25), -1.0);
    EXPECT_DOUBLE_EQ(At(0.4999), -1.0);
}

TEST_F(Synthesizer, PulseWithOneMillisecondEdges) {
    Select(OUTPUT_PULSE);  // amplitude 1.0, width 100 ms
    const struct {
        double p, mv;
    } cases[] = {{0.0, 0.0},    {0.0005, 0.5}, {0.001, 1.0}, {0.050, 1.0},
                 {0.0999, 1.0}, {0.1005, 0.5}, {0.101, 0.0}, {0.5, 0.0}};
    for (const auto& c : cases) EXPECT_NEAR(At(c.p), c.mv, kTol) << "p=" << c.p;
}

TEST_F(Synthesizer, TriangularPulsePeaksAtHalfWidth) {
    Select(OUTPUT_TRIANGLE_PULSE);  // A = 0.5, W = 0.1 s, slope 20 mV/s
    EXPECT_NEAR(At(0.025), 0.5, kTol);
    EXPECT_NEAR(At(0.05), 1.0, kTol);
    EXPECT_NEAR(At(0.075), 0.5, kTol);
    EXPECT_NEAR(At(0.1), 0.0, kTol);
}

TEST_F(Synthesizer, TriangularPulseStartsTenMillisecondsLateWithPacing) {
    g_PA = 2.0;
    Select(OUTPUT_TRIANGLE_PULSE);
    EXPECT_DOUBLE_EQ(s_PacDelayTP, 0.01);
    EXPECT_NEAR(At(0.005), 0.0, kTol);
    EXPECT_NEAR(At(0.035), 0.5, kTol);
    EXPECT_NEAR(At(0.06), 1.0, kTol);
    EXPECT_NEAR(At(0.11), 0.0, kTol);
}

TEST_F(Synthesizer, ExponentialDecayWithFiftyMillisecondTimeConstant) {
    g_F = 2.0;
    Select(OUTPUT_EXP_DECAY);
    EXPECT_NEAR(At(0.0), 1.0, kTol);
    EXPECT_NEAR(At(0.05), std::exp(-1.0), kTol);
    EXPECT_NEAR(At(0.1), std::exp(-2.0), kTol);
}

TEST_F(Synthesizer, AlternatingExponentialForcesOneHertzAndFiftyMilliseconds) {
    g_Amplitude = 2.0;
    g_F = 3.0;
    g_PulseWidth = 200.0;
    Select(OUTPUT_EXP_ALTERNATING);
    EXPECT_DOUBLE_EQ(g_F, 1.0);
    EXPECT_DOUBLE_EQ(g_PulseWidth, 50.0);
    EXPECT_DOUBLE_EQ(s_tp, 1.0);
    EXPECT_NEAR(At(0.0), 1.0, kTol);
    EXPECT_NEAR(At(0.05), std::exp(-1.0), kTol);
    EXPECT_NEAR(At(0.5), -1.0, kTol);
    EXPECT_NEAR(At(0.55), -std::exp(-1.0), kTol);
}

TEST_F(Synthesizer, YY1079RampSplitsIntoFractionAndWholeMillivolts) {
    Select(OUTPUT_YY1079_DYNAMIC_RANGE);
    EXPECT_DOUBLE_EQ(s_tp, 1200.0);
    EXPECT_NEAR(At(0.25), -0.75, kTol);
    EXPECT_DOUBLE_EQ(std::trunc(getYY1079DynamicRangeVoltage(0.25)), -299.0);
    EXPECT_NEAR(At(600.5), 0.5, kTol);
    EXPECT_DOUBLE_EQ(std::trunc(getYY1079DynamicRangeVoltage(600.5)), 299.0);
    EXPECT_DOUBLE_EQ(getYY1079DynamicRangeVoltage(0.0), -300.0);
    EXPECT_DOUBLE_EQ(getYY1079DynamicRangeVoltage(600.0), 300.0);
    EXPECT_DOUBLE_EQ(getYY1079DynamicRangeVoltage(1199.0), -299.0);
}

TEST_F(Synthesizer, OffAndUnknownFunctionsAreSilent) {
    for (int output : {0, 18, 99, 9999, -1}) {
        Select(output);
        EXPECT_EQ(At(0.25), 0.0) << output;
    }
}

TEST_F(Synthesizer, ChangeClampsFrequencyToTheCeilingAndReportsIt) {
    g_SyncFreqCB = &RecordFrequency;
    const struct {
        int output;
        double requested, played;
    } cases[] = {{OUTPUT_EXP_DECAY, 10.0, 5.0},
                 {OUTPUT_PULSE, 7.0, 5.0},
                 {OUTPUT_ECG, 8.0, 6.0},
                 {OUTPUT_CUSTOM_ECG, 6.5, 6.0},
                 {OUTPUT_SINE, 600.0, 500.0}};
    for (const auto& c : cases) {
        g_frequencyReports.clear();
        g_F = c.requested;
        Select(c.output);
        EXPECT_DOUBLE_EQ(g_F, c.played) << c.output;
        EXPECT_DOUBLE_EQ(s_tp, 1.0 / c.played) << c.output;
        ASSERT_EQ(g_frequencyReports.size(), 1u) << c.output;
        EXPECT_DOUBLE_EQ(g_frequencyReports[0], c.played);
    }
    g_frequencyReports.clear();
    g_F = 5.0;
    Select(OUTPUT_EXP_DECAY);  // at the ceiling: nothing to report
    EXPECT_TRUE(g_frequencyReports.empty());
}

TEST_F(Synthesizer, ECGFormsUseTheWholeAmplitude) {
    g_Amplitude = 1.6;
    Select(OUTPUT_ECG);
    EXPECT_DOUBLE_EQ(s_A, 1.6);
    Select(OUTPUT_SINE);
    EXPECT_DOUBLE_EQ(s_A, 0.8);
}

TEST_F(Synthesizer, PeriodsOfTheFixedLengthForms) {
    g_F = 4.0;
    Select(OUTPUT_IEC251);
    EXPECT_DOUBLE_EQ(s_tp, 1.0);
    Select(OUTPUT_ANE20000);
    EXPECT_DOUBLE_EQ(s_tp, 1.0);
    Select(OUTPUT_TRIANGLE);
    EXPECT_DOUBLE_EQ(s_tp, 0.25);
    EXPECT_DOUBLE_EQ(s_PW, 0.1);
}

TEST_F(Synthesizer, DynamicRangeTestLowersTheAmplitude) {
    g_Amplitude = 40.0;
    g_DynamicRangeTest = true;
    g_ADynamicRange = 10.0;
    Select(OUTPUT_SQUARE);
    EXPECT_DOUBLE_EQ(s_A, 15.0);
    EXPECT_DOUBLE_EQ(g_Amplitude, 30.0);
}

TEST_F(Synthesizer, DynamicRangeAmplitudeIsRoundedToHundredths) {
    g_Amplitude = 40.0;
    g_DynamicRangeTest = true;
    g_ADynamicRange = 0.333;
    Select(OUTPUT_TRIANGLE);
    EXPECT_DOUBLE_EQ(s_A, 20.0 - 0.1665);
    EXPECT_DOUBLE_EQ(g_Amplitude, 39.67);
}

TEST_F(Synthesizer, DynamicRangeSineOnTheTriangleIsLimitedToFiveMillivolts) {
    g_Amplitude = 9.8;
    g_DynamicRangeTest = true;
    g_ADynamicRange = 2.0;
    g_FDynamicRange = 40.0;
    Select(OUTPUT_TRIANGLE);
    s_t = 1.0 / 160.0;  // test sine at its crest
    EXPECT_NEAR(At(0.125), 2.45 + 1.0, kTol);
    EXPECT_DOUBLE_EQ(At(0.25), 5.0);
    s_t = 3.0 / 160.0;  // trough
    EXPECT_DOUBLE_EQ(At(0.75), -5.0);
}

TEST_F(Synthesizer, DynamicRangeSineOnTheSquareIsLimitedToTwentyMillivolts) {
    g_Amplitude = 2.0;
    g_DynamicRangeTest = true;
    g_ADynamicRange = 2.0;
    g_FDynamicRange = 40.0;
    Select(OUTPUT_SQUARE);
    s_t = 1.0 / 160.0;
    EXPECT_NEAR(At(0.1), 2.0, kTol);
    g_Amplitude = -40.0;  // not lowered: the limit is on the positive peak
    Select(OUTPUT_SQUARE);
    s_t = 3.0 / 160.0;
    EXPECT_DOUBLE_EQ(At(0.1), -20.0);
}

TEST_F(Synthesizer, MainsInterferenceAtEachSelectorsFrequency) {
    g_MainsNoiseAmp = 0.4;
    const struct {
        int selector;
        double hz;
    } cases[] = {{1, 50}, {2, 60}, {3, 100}, {4, 120}, {5, 150}, {6, 180}, {7, 200}, {8, 240}};
    for (const auto& c : cases) {
        g_MainNoise = c.selector;
        s_t = 1.0 / (4.0 * c.hz);
        EXPECT_NEAR(GetVoltageNoiseAmplitude(), 0.2, kTol) << c.selector;
        s_t = 3.0 / (4.0 * c.hz);
        EXPECT_NEAR(GetVoltageNoiseAmplitude(), -0.2, kTol) << c.selector;
    }
    for (int selector : {0, 10, -1}) {
        g_MainNoise = selector;
        EXPECT_EQ(GetVoltageNoiseAmplitude(), 0.0) << selector;
    }
}

TEST_F(Synthesizer, RandomMainsSelectorSpreadsWithinHalfTheAmplitude) {
    g_MainNoise = 9;
    g_MainsNoiseAmp = 2.0;
    double low = 0, high = 0, sum = 0;
    int below = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const double v = GetVoltageNoiseAmplitude();
        ASSERT_GE(v, -1.0);
        ASSERT_LE(v, 1.0);
        low = std::min(low, v);
        high = std::max(high, v);
        sum += v;
        if (v < 0) ++below;
    }
    EXPECT_LT(low, -0.99);
    EXPECT_GT(high, 0.99);
    EXPECT_NEAR(sum / n, 0.0, 0.03);
    EXPECT_NEAR(below / double(n), 0.5, 0.03);
}

TEST_F(Synthesizer, BaselineResetSineOnTheDCPath) {
    const struct {
        int mode;
        double hz;
    } cases[] = {{1, 50}, {2, 60}, {3, 80}, {4, 100}};
    for (const auto& c : cases) {
        g_BaseLineOverload = c.mode;
        EXPECT_NEAR(_GetBaselineOverload(1.0 / (4 * c.hz)), 500.0, 1e-7) << c.mode;
    }
    for (int mode : {0, 5}) {
        g_BaseLineOverload = mode;
        EXPECT_EQ(_GetBaselineOverload(0.0025), 0.0) << mode;
    }
}

TEST_F(Synthesizer, PeriodPositionTruncatesWholePeriods) {
    EXPECT_DOUBLE_EQ(PeriodPosition(2.5, 1.0), 0.5);
    EXPECT_DOUBLE_EQ(PeriodPosition(0.3, 1.0), 0.3);
    EXPECT_NEAR(PeriodPosition(1.3, 0.4), 0.1, kTol);
    EXPECT_DOUBLE_EQ(PeriodPosition(0.7, 0.0), 0.7);
    // Beyond 2^31 periods the position is still within the period.
    EXPECT_NEAR(PeriodPosition(3e9 + 0.25, 1.0), 0.25, 1e-6);
    s_tp = 0.5;
    s_t = 1.75;
    EXPECT_DOUBLE_EQ(GetPeriodPosition(), 0.25);
}

TEST_F(Synthesizer, TimeBaseAdvancesAndResets) {
    AdvanceSynthesisTime(0.25);
    AdvanceSynthesisTime(0.25);
    EXPECT_DOUBLE_EQ(s_t, 0.5);
    EXPECT_DOUBLE_EQ(s_tg, 0.5);
    AdvanceSynthesisTime(-0.25);
    EXPECT_DOUBLE_EQ(s_t, 0.25);
    ResetSynthesisTime();
    EXPECT_EQ(s_t, 0.0);
    EXPECT_EQ(s_tg, 0.0);
}

// Beat shapes for the modulation pipeline.
double FlatBeat(double, double a) {
    return a;
}
double PositionBeat(double p, double) {
    return p;
}

TEST_F(Synthesizer, ECGDriftIsATriangleStartingAtZero) {
    g_AAMIDriftTest = true;  // 4 mV peak-to-peak over 10 s
    Select(OUTPUT_ECG);
    const struct {
        double t, mv;
    } cases[] = {{0.0, 0.0},  {1.25, 1.0}, {2.5, 2.0}, {5.0, 0.0},
                 {7.5, -2.0}, {10.0, 0.0}, {12.5, 2.0}};
    for (const auto& c : cases) {
        s_t = c.t;
        EXPECT_NEAR(GetModulatedBeatVoltage(0.0, PositionBeat), c.mv, kTol) << "t=" << c.t;
    }
}

TEST_F(Synthesizer, ECGIsLimitedToTheRange) {
    g_Amplitude = 50.0;
    Select(OUTPUT_ECG);
    EXPECT_DOUBLE_EQ(s_Range, 40.0);
    EXPECT_DOUBLE_EQ(GetModulatedBeatVoltage(0.1, FlatBeat), 40.0);
    g_Amplitude = -50.0;
    Select(OUTPUT_CUSTOM_ECG);
    EXPECT_DOUBLE_EQ(GetModulatedBeatVoltage(0.1, FlatBeat), -40.0);
}

TEST_F(Synthesizer, ECGAddsMainsInterference) {
    g_MainNoise = 1;
    g_MainsNoiseAmp = 1.0;
    Select(OUTPUT_ECG);
    s_t = 0.005;
    EXPECT_NEAR(GetModulatedBeatVoltage(0.2, PositionBeat), 0.2 + 0.5, kTol);
}

TEST_F(Synthesizer, FrequencyModulationCarriesThePhaseFromSampleToSample) {
    s_FreqModHz = 0.5;
    Select(OUTPUT_ECG, 1000);  // 1 Hz, T = 1 s
    s_t = 0.0;
    EXPECT_NEAR(GetModulatedBeatVoltage(0.3, PositionBeat), 0.3, kTol);  // seeds the phase
    s_t = 0.001;
    // The phase advances by (g_F + s_FreqModHz * m) / R; the position passed in is replaced.
    EXPECT_NEAR(GetModulatedBeatVoltage(0.9, PositionBeat), 0.301, kTol);
    s_t = 0.002;
    EXPECT_NEAR(GetModulatedBeatVoltage(0.9, PositionBeat), 0.302, kTol);
}

TEST_F(Synthesizer, WithoutFrequencyModulationThePositionIsUnchanged) {
    Select(OUTPUT_CUSTOM_ECG, 1000);
    s_t = 5.0;
    EXPECT_NEAR(GetModulatedBeatVoltage(0.42, PositionBeat), 0.42, kTol);
    EXPECT_NEAR(s_FreqMod_Phase, 0.42, kTol);
}

TEST_F(Synthesizer, MainsInterferenceIsAddedToTheANE20000Table) {
    g_MainNoise = 2;
    g_MainsNoiseAmp = 1.0;
    Select(OUTPUT_ANE20000);
    s_t = 1.0 / 240.0;
    EXPECT_NEAR(At(0.1), 0.5, kTol);  // table value comes from its own module
}

// Plays output 15 through its whole test at rate 100 the way the sample builder does: the AC
// value first, then the DC value, then the clock advances.
TEST_F(Synthesizer, InputDynamicRangeFallsOneMillivoltPerSecond) {
    g_SyncDCOffsetCB = &RecordDCOffset;
    const int rate = 100;
    Select(OUTPUT_INPUT_DYNAMIC_RANGE, rate);
    const double dt = 1.0 / rate;
    double sumAt100 = 0, dcAt20_6 = 0, dcAt1221 = 0;
    for (int i = 0; i <= 1221 * rate; ++i) {
        const double ac = At(GetPeriodPosition());
        const double dc = GetInputDynamicRangeDC();
        const double t = s_t;
        if (t < 20.0) {
            ASSERT_EQ(ac, 0.0) << t;
            ASSERT_EQ(dc, -300.0) << t;
        }
        if (i == 100 * rate + 25) sumAt100 = ac + dc;
        if (i == 20 * rate + 60) dcAt20_6 = dc;
        if (i == 1221 * rate) dcAt1221 = dc + ac;
        AdvanceSynthesisTime(dt);
    }
    // The first step is at 20 s: -300.5 mV, then 160 further steps by 100 s, and a quarter
    // second of the ramp.
    EXPECT_NEAR(sumAt100, -300.5 - 80.0 - 0.25, 2 * dt);
    EXPECT_DOUBLE_EQ(dcAt20_6, -301.0);
    EXPECT_DOUBLE_EQ(dcAt1221, -300.0);
    // -300 once at the start, one report per half second from 20 s to 1219.5 s, -300 at the
    // end of the window.
    ASSERT_EQ(g_dcReports.size(), 1u + 2400u + 1u);
    EXPECT_EQ(g_dcReports.front(), -300);
    EXPECT_EQ(g_dcReports[1], -300);      // -300.5 at 20 s
    EXPECT_EQ(g_dcReports[2], -301);      // -301.0 at 20.5 s
    EXPECT_EQ(g_dcReports[2400], -1500);  // -1500.0 at 1219.5 s
    EXPECT_EQ(g_dcReports.back(), -300);
}

// The renderer's tight loops give the per-sample path's values to the bit.
struct RenderCase {
    const char* name;
    int output;
    double amplitude;
    double frequency;
    double pulseWidth;
    int rate;
};

class RenderFastPath : public Synthesizer, public testing::WithParamInterface<RenderCase> {};

TEST_P(RenderFastPath, GivesThePerSampleValues) {
    const RenderCase& c = GetParam();
    g_Amplitude = c.amplitude;
    g_F = c.frequency;
    g_PulseWidth = c.pulseWidth;
    Select(c.output, c.rate);
    const int count = 3 * c.rate + 1;  // several periods, an odd count
    std::vector<double> fast(static_cast<std::size_t>(count));
    ASSERT_TRUE(RenderBasicFunction(fast.data(), count, c.rate));
    for (int i = 0; i < count; ++i) {
        const double p = PeriodPosition(i * (1.0 / c.rate), s_tp);
        ASSERT_EQ(fast[static_cast<std::size_t>(i)], At(p)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Functions, RenderFastPath,
    testing::Values(RenderCase{"sine", OUTPUT_SINE, 1.0, 1.0, 100, 20000},
                    RenderCase{"sineFast", OUTPUT_SINE, 3.3, 47.3, 100, 40000},
                    RenderCase{"triangle", OUTPUT_TRIANGLE, 2.0, 2.5, 100, 1000},
                    RenderCase{"square", OUTPUT_SQUARE, 2.0, 3.0, 100, 999},
                    RenderCase{"pulse", OUTPUT_PULSE, 1.0, 1.0, 60, 20000},
                    RenderCase{"trianglePulse", OUTPUT_TRIANGLE_PULSE, 1.0, 2.0, 80, 5000},
                    RenderCase{"decay", OUTPUT_EXP_DECAY, 1.5, 0.5, 100, 20000},
                    RenderCase{"alternating", OUTPUT_EXP_ALTERNATING, 4.0, 1.0, 100, 10000}),
    [](const testing::TestParamInfo<RenderCase>& info) { return info.param.name; });

TEST_F(Synthesizer, RenderFastPathLeavesOtherFunctionsToThePerSamplePath) {
    std::vector<double> out(10, 7.0);
    for (int output : {OUTPUT_ECG, OUTPUT_IEC227, OUTPUT_ECG_FILE, OUTPUT_YY1079_DYNAMIC_RANGE}) {
        Select(output);
        EXPECT_FALSE(RenderBasicFunction(out.data(), 10, 20000)) << output;
    }
    g_DynamicRangeTest = true;
    Select(OUTPUT_TRIANGLE);
    EXPECT_FALSE(RenderBasicFunction(out.data(), 10, 20000));
    EXPECT_EQ(out, std::vector<double>(10, 7.0));
}

}  // namespace
