// The test-signal setters (mains noise, drift, baseline reset, dynamic range, frequency scans):
// ranges, refusals and journal lines; the scan's per-sample step and its end inside the packet
// builder; the reset back to defaults; and the scans played end to end without a device (the
// simulation timer drives the packets and the callbacks).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "playback/OutputStage.h"
#include "playback/Play.h"
#include "playback/Stream.h"
#include "recordings/Recording.h"
#include "session/Session.h"
#include "support/PortableEnv.h"
#include "synthesis/ConverterCodes.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/TestSignals.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = std::acos(-1.0);

// Values seen by the callbacks (play thread or caller's thread).
struct Seen {
    std::mutex mutex;
    std::vector<double> frequencies;
    std::vector<int> mainFunctions;
    std::vector<int> baselineModes;
};
Seen* s_seen = nullptr;

void OnFrequency(double f) {
    std::lock_guard<std::mutex> lock(s_seen->mutex);
    s_seen->frequencies.push_back(f);
}
void OnMainFunction(int function) {
    std::lock_guard<std::mutex> lock(s_seen->mutex);
    s_seen->mainFunctions.push_back(function);
}
void OnBaselineReset(int mode) {
    std::lock_guard<std::mutex> lock(s_seen->mutex);
    s_seen->baselineModes.push_back(mode);
}

void NoConnection(bool) {}

// Runs first in the process: no session was ever started.
TEST(TestSignalsWithoutSession, EverySetterReturnsMinusOne) {
    EXPECT_EQ(TOLVSetBaselineResetTest(1), -1);
    EXPECT_EQ(TOLVSetECG2_27_Noise(1, 1.0), -1);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTest(true), -1);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(2.0), -1);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(1.0), -1);
    EXPECT_EQ(TOLVSetDynamicRangeTest(true, true, 1.0, 40.0), -1);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 30, 1.0, 10.0), -1);
    EXPECT_EQ(TOLVSetFrequencyScanECG(true), -1);
    EXPECT_EQ(TOLVGetBaselineResetTest(), 0);
    EXPECT_FALSE(TOLVGetFrequencyScanECG());
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
}

// A session without a device: the connect thread searches a pattern that matches nothing, so
// playback runs on the simulation timer.
class TestSignals : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TOLVAN_DEVICE_PATTERN", "/nonexistent/tolvan/ttyACM%d", 1);
        ASSERT_TRUE(TOLVInit(NoConnection));
        ASSERT_FALSE(m_dir.path().empty());
        s_seen = &m_seen;
        TOLVRegisterSyncFrequencyCB(OnFrequency);
        TOLVRegisterSyncMainFunctionCB(OnMainFunction);
        RegisterBaselineResetCB(OnBaselineReset);
    }
    void TearDown() override {
        TOLVSetOutputFunction(0);
        DisableSaveLog();
        TOLVRegisterSyncFrequencyCB(nullptr);
        TOLVRegisterSyncMainFunctionCB(nullptr);
        RegisterBaselineResetCB(nullptr);
        TOLVRegisterOutputSignalCallback(nullptr, 1);
        TOLVFree();
        unsetenv("TOLVAN_DEVICE_PATTERN");
        ResetWaveformState();
        ResetTestSignalState();
        ResetSynthesisTime();
        s_seen = nullptr;
    }
    void StartJournal() { ASSERT_EQ(EnableSaveLog(m_journal.c_str()), 0); }
    std::string Journal() const {
        std::ifstream in(m_journal, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<double> Frequencies() {
        std::lock_guard<std::mutex> lock(m_seen.mutex);
        return m_seen.frequencies;
    }
    std::vector<int> MainFunctions() {
        std::lock_guard<std::mutex> lock(m_seen.mutex);
        return m_seen.mainFunctions;
    }
    std::vector<int> BaselineModes() {
        std::lock_guard<std::mutex> lock(m_seen.mutex);
        return m_seen.baselineModes;
    }
    // Polls cond every 5 ms for up to 10 s.
    template <typename Cond>
    static bool WaitFor(Cond cond) {
        for (int i = 0; i < 2000; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return cond();
    }
    vdev::TempDir m_dir;
    std::string m_journal = m_dir.Join("journal.txt");
    Seen m_seen;
};

// --- Ranges and codes -------------------------------------------------------------------------

TEST_F(TestSignals, MainsNoiseAmplitudeBoundsAreInclusive) {
    EXPECT_EQ(TOLVSetECG2_27_Noise(1, 0.01), 0);
    EXPECT_EQ(TOLVSetECG2_27_Noise(2, 5.0), 0);
    EXPECT_EQ(TOLVGetECG2_27_NoiseFreq(), 2);
    EXPECT_EQ(TOLVGetECG2_27_NoiseAmp(), 5.0);
    EXPECT_EQ(TOLVSetECG2_27_Noise(3, 0.0099), -2);
    EXPECT_EQ(TOLVSetECG2_27_Noise(3, 5.01), -2);
    EXPECT_EQ(TOLVSetECG2_27_Noise(3, kNaN), -2);
    EXPECT_EQ(TOLVGetECG2_27_NoiseFreq(), 2) << "a refused call stores nothing";
    EXPECT_EQ(TOLVGetECG2_27_NoiseAmp(), 5.0);
    EXPECT_EQ(TOLVSetECG2_27_Noise(12, 1.0), 0) << "the selector is not range-checked";
}

TEST_F(TestSignals, DriftAmplitudeAndFrequencyBoundsAndDerivedValues) {
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(0.99), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(8.01), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(kNaN), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(1.0), 0);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(8.0), 0);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(0.049), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(2.01), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(kNaN), -2);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(2.0), 0);
    EXPECT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(0.05), 0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestWaveLen, 20.0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestSlope, 2.0 * 8.0 / 20.0);

    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(0.25), 0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestWaveLen, 4.0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestWaveLenQuad, 1.0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestWaveLenQuad3, 3.0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestSlope, 4.0);
    EXPECT_DOUBLE_EQ(TOLVGetECG2_27_AAMIDriftTestFrequency(), 0.25);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(2.0), 0);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestSlope, 1.0) << "slope follows the amplitude";
    EXPECT_EQ(TOLVGetECG2_27_AAMIDriftTestAmplitude(), 2.0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTest(true), 0);
    EXPECT_TRUE(TOLVGetECG2_27_AAMIDriftTest());
}

TEST_F(TestSignals, DynamicRangeTestCodesInOrder) {
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, -0.01, 40.0), -2);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 10.01, 40.0), -2);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, kNaN, 40.0), -2);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 11.0, 0.5), -2) << "amplitude tested first";
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 1.0, 0.99), -3);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 1.0, 60.01), -3);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 1.0, kNaN), -3);
    EXPECT_EQ(TOLVGetDynamicRangeTestAmplitude(), 1.0);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, true, 0.0, 1.0), 0);
    EXPECT_EQ(TOLVSetDynamicRangeTest(false, false, 10.0, 60.0), 0);
    EXPECT_EQ(TOLVGetDynamicRangeTestAmplitude(), 10.0);
    EXPECT_EQ(TOLVGetDynamicRangeTestFrequency(), 60.0);
    EXPECT_FALSE(TOLVGetDynamicRangeTest());
}

TEST_F(TestSignals, DynamicRangeTestSelectsTheFormAndOffStopsIt) {
    ASSERT_EQ(TOLVSetDynamicRangeTest(true, false, 2.0, 40.0), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_SQUARE);
    EXPECT_TRUE(TOLVGetDynamicRangeTest());
    EXPECT_TRUE(WaitFor([] { return TOLVIsPlaying(); }));
    ASSERT_EQ(TOLVSetDynamicRangeTest(true, true, 2.0, 40.0), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_TRIANGLE);
    ASSERT_EQ(TOLVSetDynamicRangeTest(false, true, 2.0, 40.0), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    EXPECT_FALSE(TOLVGetDynamicRangeTest());
    EXPECT_TRUE(WaitFor([] { return !TOLVIsPlaying(); })) << "switching the test off stops";
}

TEST_F(TestSignals, SineScanCodesInOrder) {
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 181, 1.0, 10.0), -4);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 30, 0.5, 10.0), -2);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 9, 0.66, 500.01), -2) << "start tested first";
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 9, 1.0, 500.01), -3) << "then stop";
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 30, 1.0, 0.66), -3);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 9, 1.0, 10.0), -4);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 30, kNaN, 10.0), -2);
    EXPECT_EQ(TOLVSetFrequencyScanSine(true, 30, 1.0, kNaN), -3);
    EXPECT_FALSE(TOLVGetFrequencyScanSine());
    EXPECT_TRUE(MainFunctions().empty()) << "a refused scan reports nothing";
    EXPECT_EQ(TOLVSetFrequencyScanSine(false, 10, 0.67, 500.0), 0);
    EXPECT_EQ(TOLVSetFrequencyScanSine(false, 180, 500.0, 0.67), 0);
    EXPECT_EQ(TOLVGetFrequencyScanSineStartFrequency(), 500.0);
    EXPECT_EQ(TOLVGetFrequencyScanSineStopFrequency(), 0.67);
    EXPECT_EQ(TOLVGetFrequencyScanSineDuration(), 180);
    EXPECT_TRUE(MainFunctions().empty()) << "off with nothing selected switches nothing";
}

// --- Journal ----------------------------------------------------------------------------------

TEST_F(TestSignals, JournalLinesAreExactAndRefusedCallsWriteNothing) {
    StartJournal();
    ASSERT_EQ(TOLVSetBaselineResetTest(0), 0);
    ASSERT_EQ(TOLVSetECG2_27_Noise(3, 1.255), 0);
    ASSERT_EQ(TOLVSetECG2_27_Noise(3, 9.0), -2);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTest(false), 0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(2.5), 0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(0.25), 0);
    ASSERT_EQ(TOLVSetDynamicRangeTest(false, true, 2.5, 39.6), 0);
    ASSERT_EQ(TOLVSetDynamicRangeTest(false, true, 2.5, 70.0), -3);
    ASSERT_EQ(TOLVSetFrequencyScanSine(false, 20, 1.0, 10.0), 0);
    ASSERT_EQ(TOLVSetFrequencyScanSine(false, 200, 1.0, 10.0), -4);
    ASSERT_EQ(TOLVSetFrequencyScanECG(false), 0);
    EXPECT_EQ(Journal(),
              "TOLVSetBaselineResetTest(0);\n"
              "TOLVSetECG2_27_Noise(3, 1.25);\n"
              "TOLVSetECG2_27_AAMIDriftTest(false);\n"
              "TOLVSetECG2_27_AAMIDriftTestAmplitude(2.5);\n"
              "TOLVSetECG2_27_AAMIDriftTestFrequency(0.25);\n"
              "TOLVSetDynamicRangeTest(false, true, 2.5, 40);\n"
              "TOLVSetFrequencyScanSine(false, 1.00, 10.00, 20);\n"
              "SetFreqScanECG(false);\n");
}

// --- Baseline-reset test ----------------------------------------------------------------------

TEST_F(TestSignals, BaselineResetSwitchesToSineRefusesAmplitudeAndFrequencyAndReports) {
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SQUARE), 0);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(TOLVSetBaselineResetTest(2), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100))
        << "the setter settles 100 ms before it returns";
    EXPECT_EQ(TOLVGetBaselineResetTest(), 2);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_SINE);
    EXPECT_EQ(TOLVSetAmplitude(2.0), -3);
    EXPECT_EQ(TOLVSetFrequency(2.0), -4);
    EXPECT_EQ(TOLVSetAmplitude(40.01), -2) << "the range is tested before the test";
    EXPECT_EQ(TOLVSetFrequency(0.0), -2);

    ASSERT_EQ(TOLVSetBaselineResetTest(2), 0);
    EXPECT_EQ(BaselineModes(), std::vector<int>{2}) << "the same mode is not reported again";

    ASSERT_EQ(TOLVSetBaselineResetTest(0), 0);
    EXPECT_EQ(TOLVGetBaselineResetTest(), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_SINE) << "switching off leaves the sine";
    EXPECT_EQ(TOLVSetAmplitude(2.0), 0);
    EXPECT_EQ(TOLVSetFrequency(2.0), 0);
    EXPECT_EQ(BaselineModes(), (std::vector<int>{2, 0}));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_EQ(BaselineModes(), (std::vector<int>{2, 0})) << "nothing to switch off at the stop";
}

TEST_F(TestSignals, BaselineResetStartsPlaybackAndEndsWithIt) {
    ASSERT_EQ(TOLVSetBaselineResetTest(4), 0);
    EXPECT_TRUE(WaitFor([] { return TOLVIsPlaying(); })) << "output 1 started";
    StartJournal();
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_EQ(TOLVGetBaselineResetTest(), 0);
    EXPECT_EQ(BaselineModes(), (std::vector<int>{4, 0}));
    EXPECT_EQ(Journal(),
              "TOLVSetOutputFunction(0);\n"
              "TOLVSetBaselineResetTest(0);\n");
    EXPECT_EQ(TOLVSetAmplitude(1.5), 0);
}

// --- Scan step and end, in the packet builder -------------------------------------------------

TEST_F(TestSignals, ScanStepRaisesTheFrequencyAndKeepsThePhase) {
    g_F = 10.0;
    s_tp = 0.1;
    s_t = 0.2375;  // 2.375 periods: phase 0.375
    s_tg = 7.0;
    s_Fd = 0.5;
    FrequencyScanSampleStep();
    EXPECT_EQ(g_F, 10.0) << "no step while no scan runs";
    EXPECT_EQ(s_t, 0.2375);

    s_FreqScanOn = true;
    FrequencyScanSampleStep();
    EXPECT_DOUBLE_EQ(g_F, 10.5);
    EXPECT_DOUBLE_EQ(s_tp, 1.0 / 10.5);
    EXPECT_NEAR(s_t / s_tp, 0.375, 1e-12);
    EXPECT_EQ(s_tg, 7.0) << "the graph time is not re-phased";

    s_Fd = -20.0;
    FrequencyScanSampleStep();
    EXPECT_DOUBLE_EQ(g_F, 10.5) << "a step to a frequency of 0 or below is skipped";
    EXPECT_TRUE(std::isfinite(s_t));
}

// The packet builder sweeps a sine late in a scan (s_t far from 0): the frequency rises at every
// sample and the waveform stays continuous. Without the re-phasing, each sample would jump by
// 2 pi * s_Fd * s_t radians (about 31 rad here). Read from the AC codes of the packet.
TEST_F(TestSignals, PacketBuilderSweepsTheSineWithoutPhaseJumps) {
    {
        CAutoCriticalSection api(g_APICriticalSection);
        g_MainOutput = OUTPUT_SINE;
        g_Amplitude = 2.0;
        g_F = 50.0;
        DeriveSynthesisValues();
        s_t = 100.0123;
        s_tg = 100.0123;
        s_Fd = 0.05;
        s_FreqScanOn = true;
    }
    const std::uint8_t mode = g_OperateMode;
    g_OperateMode = 3;  // ECG only
    std::vector<std::uint8_t> packet(3200, 0);
    DoSendNextPacket(packet.data());
    g_OperateMode = mode;
    std::vector<int> codes;
    for (std::size_t j = 0; j < 50; ++j) {
        const std::uint8_t* sub = packet.data() + 64 * j;
        ASSERT_EQ(sub[5], 14) << "ECG only: 14 groups of 4 bytes";
        for (int k = 0; k < 14; ++k) {
            const std::uint8_t* group = sub + 8 + 4 * k;
            codes.push_back(static_cast<std::int16_t>((group[2] << 8) | group[3]));
        }
    }
    EXPECT_NEAR(g_F, 50.0 + 700 * 0.05, 1e-9);
    // Largest step of a 1 mV sine at the highest frequency reached, in converter codes.
    const double maxStep = 2 * kPi * g_F / 20000.0;
    const int maxCodeStep = std::abs(GetAcDac(maxStep) - GetAcDac(0.0)) + 2;
    const int peakCode = std::abs(GetAcDac(0.99) - GetAcDac(0.0));
    ASSERT_GT(peakCode, 10 * maxCodeStep) << "the converter resolves the sine";
    int high = 0;
    for (std::size_t i = 1; i < codes.size(); ++i) {
        ASSERT_LE(std::abs(codes[i] - codes[i - 1]), maxCodeStep) << "sample " << i;
        high = std::max(high, std::abs(codes[i] - GetAcDac(0.0)));
    }
    EXPECT_GE(high, peakCode) << "the sine still reaches its peaks";
}

TEST_F(TestSignals, ScanEndReportsMinusOneAndSwitchesTheSineScanOff) {
    StartJournal();
    g_Fstart = 1.0;
    g_Ffinal = 10.0;
    g_Fduration = 30;
    g_FreqScan1 = true;
    s_FreqScanOn = true;
    g_MainOutput = OUTPUT_SINE;
    g_F = 9.999996;  // rounds to 10.0: still inside
    _UpdateFreqScanIfRequired();
    EXPECT_EQ(Frequencies(), std::vector<double>{9.999996});
    EXPECT_EQ(g_MainOutput, OUTPUT_SINE);

    g_F = 10.00001;
    _UpdateFreqScanIfRequired();
    EXPECT_EQ(Frequencies(), (std::vector<double>{9.999996, 10.00001, -1.0}));
    EXPECT_EQ(MainFunctions(), std::vector<int>{0});
    EXPECT_EQ(g_MainOutput, OUTPUT_OFF);
    EXPECT_EQ(Journal(), "TOLVSetFrequencyScanSine(false, 1.00, 10.00, 30);\n");

    _UpdateFreqScanIfRequired();
    EXPECT_EQ(Frequencies().size(), 3u) << "an ended scan reports once";
}

TEST_F(TestSignals, ScanEndSwitchesTheEcgScanOff) {
    StartJournal();
    g_Fstart = 0.05;
    g_Ffinal = 0.5;
    g_FreqScan3 = true;
    s_FreqScanOn = true;
    g_MainOutput = OUTPUT_ECG;
    g_F = 0.049994;  // rounds to 0.04999: below the start
    _UpdateFreqScanIfRequired();
    EXPECT_EQ(Frequencies(), (std::vector<double>{0.049994, -1.0}));
    EXPECT_EQ(MainFunctions(), std::vector<int>{0});
    EXPECT_EQ(g_MainOutput, OUTPUT_OFF);
    EXPECT_EQ(Journal(), "SetFreqScanECG(false);\n");
}

TEST_F(TestSignals, EcgScanSetsItsRangeAndStep) {
    ASSERT_EQ(TOLVSetFrequencyScanECG(true), 0);
    EXPECT_TRUE(TOLVGetFrequencyScanECG());
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_ECG);
    EXPECT_EQ(TOLVGetFrequencyScanSineStartFrequency(), 0.05);
    EXPECT_EQ(TOLVGetFrequencyScanSineStopFrequency(), 0.5);
    EXPECT_DOUBLE_EQ(s_Fd, 0.45 / 30 / 20000);
    EXPECT_EQ(TOLVSetFrequency(1.0), -3) << "refused while a scan runs";
    ASSERT_EQ(TOLVSetFrequencyScanECG(false), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    EXPECT_EQ(MainFunctions(), (std::vector<int>{7, 0}));
    EXPECT_TRUE(WaitFor([] { return !TOLVGetFrequencyScanECG(); })) << "cleared at the stop";
    EXPECT_EQ(TOLVSetFrequency(1.0), 0);
}

// --- End to end without a device --------------------------------------------------------------

TEST_F(TestSignals, SineScanPlaysWithTheFrequencyRisingEveryPacket) {
    ASSERT_EQ(TOLVSetFrequencyScanSine(true, 10, 0.67, 500.0), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_SINE);
    EXPECT_TRUE(TOLVGetFrequencyScanSine());
    const double step = (500.0 - 0.67) / 10 / 20000;
    EXPECT_DOUBLE_EQ(s_Fd, step);
    ASSERT_TRUE(WaitFor([this] { return Frequencies().size() >= 4; }));
    const std::vector<double> f = Frequencies();
    for (std::size_t i = 1; i < 4; ++i) {
        // One packet is 700 samples; the clock correction repeats a time point, not a step.
        EXPECT_NEAR(f[i] - f[i - 1], 700 * step, 1e-9) << "packet " << i;
    }
    EXPECT_NEAR(f[0], 0.67 + 700 * step, 1e-9);

    ASSERT_EQ(TOLVSetFrequencyScanSine(false, 10, 0.67, 500.0), 0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    EXPECT_EQ(MainFunctions(), (std::vector<int>{1, 0}));
    EXPECT_TRUE(WaitFor([] { return !TOLVIsPlaying(); }));
    EXPECT_FALSE(TOLVGetFrequencyScanSine());
    EXPECT_FALSE(TOLVGetFrequencyScanECG());
    EXPECT_EQ(TOLVSetFrequency(1.0), 0);
}

TEST_F(TestSignals, ScanWithStartAboveStopEndsAtTheFirstPacketAndStops) {
    ASSERT_EQ(TOLVSetFrequencyScanSine(true, 10, 100.0, 50.0), 0);
    ASSERT_TRUE(WaitFor([this] { return MainFunctions().size() >= 2; }));
    EXPECT_EQ(MainFunctions(), (std::vector<int>{1, 0}));
    EXPECT_TRUE(WaitFor([] { return !TOLVIsPlaying(); }));
    const std::vector<double> f = Frequencies();
    ASSERT_EQ(f.size(), 2u) << "the first packet's frequency, then the end";
    EXPECT_NEAR(f[0], 100.0 - 700 * 50.0 / 10 / 20000, 1e-9);
    EXPECT_EQ(f[1], -1.0);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    EXPECT_FALSE(TOLVGetFrequencyScanSine());
}

// --- Output 15 through the packet builder -----------------------------------------------------

// One run of output 15: per sample the play time, the AC and DC values (output recorder) and the
// DC code on the wire; each DC-offset report with the index of the sample that made it.
struct InputRangeRun {
    std::vector<double> t, ac, dc;
    std::vector<int> dcCode;
    std::vector<std::pair<std::size_t, int>> reports;
};
InputRangeRun* s_inputRangeRun = nullptr;
void OnInputRangeDCOffset(int mv) {
    // Reported while the sample is built, before the recorder stores it.
    s_inputRangeRun->reports.emplace_back(static_cast<std::size_t>(RecorderIndex()), mv);
}

// DC level of output 15 due at play time t: -300 mV outside 20 s .. 1220 s; -300.5 mV from the
// 20 s instant and 0.5 mV lower from each later half second up to 1219.5 s, a sample up to
// 0.05 ms early belonging to the instant (instants are taken to 0.1 ms).
double InputRangeLevel(double t) {
    if (t < 20.0 || t >= 1220.0) return -300.0;
    const double later = std::floor((t - 20.0 + 0.00005) / 0.5);
    return -300.5 - 0.5 * std::min(later, 2399.0);
}

struct InputRangeCase {
    const char* name;
    int rate;
    double start;           // play time of the first sample, s
    double until;           // checked up to this play time, s
    double repeatAtStepOf;  // instant whose step sample the clock correction repeats (0: none)
};

// Plays output 15 through the packet builder (ECG-only packets, the sample clock with its drift
// correction) and checks every sample, the wire's DC codes and every DC-offset report. The first
// row starts where the correction repeats the time point of the 20.5 s step and no sample lies on
// a half tick; the second runs the whole test at a low rate, with samples on 20 s and 1220 s
// give or take the clock's rounding.
TEST_F(TestSignals, InputDynamicRangeStepsAtEveryHalfSecondFromTwentySeconds) {
    const InputRangeCase cases[] = {
        {"20000/s around 20 s", 20000, 20.49998 - 33333 * 0.00005, 21.2, 20.5},
        {"100/s whole test", 100, 0.0, 1221.2, 0.0},
    };
    ASSERT_NE(GetPacketDCValue(-300.0), GetPacketDCValue(-300.5)) << "the codes resolve a step";
    for (const InputRangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const double dt = 1.0 / c.rate;
        InputRangeRun run;
        const std::size_t capacity = static_cast<std::size_t>((c.until - c.start) * c.rate) + 2000;
        run.ac.assign(capacity, kNaN);
        run.dc.assign(capacity, kNaN);
        ASSERT_EQ(TOLVSetSampleRate(c.rate), 0);
        TOLVRegisterSyncDCOffsetCB(OnInputRangeDCOffset);
        s_inputRangeRun = &run;
        const std::uint8_t mode = g_OperateMode;
        {
            CAutoCriticalSection api(g_APICriticalSection);
            ASSERT_TRUE(EnableRecordRaw(run.ac.data(), run.dc.data(), static_cast<int>(capacity)));
            g_MainOutput = OUTPUT_INPUT_DYNAMIC_RANGE;
            DeriveSynthesisValues();
            s_t = c.start;
            s_tg = c.start;
            ResetPacketClockDrift();
            g_OperateMode = 3;  // ECG only: 14 samples per sub-packet
            std::vector<std::uint8_t> packet(3200, 0);
            double t = c.start;
            double drift = 0.0;
            while (s_t < c.until) {
                DoSendNextPacket(packet.data());
                for (std::size_t j = 0; j < 50; ++j) {
                    for (int k = 0; k < 14; ++k) {
                        const std::uint8_t* group = packet.data() + 64 * j + 8 + 4 * k;
                        run.dcCode.push_back((group[0] << 8) | group[1]);
                        // The builder's clock: a sample period per sample, and one period back
                        // each time the drift accumulator has gathered a whole period.
                        run.t.push_back(t);
                        t = t + dt;
                        drift += 0.00003 / c.rate;
                        if (drift >= 1.0 / c.rate) {
                            drift -= 1.0 / c.rate;
                            t = t - dt;
                        }
                    }
                }
                ASSERT_EQ(t, static_cast<double>(s_t)) << "sample times followed exactly";
            }
            DisableRecordRaw();
            g_OperateMode = mode;
            g_MainOutput = OUTPUT_OFF;  // the next rate change must not start playback
        }
        TOLVRegisterSyncDCOffsetCB(nullptr);
        s_inputRangeRun = nullptr;

        // Levels and codes; the AC ramp falls by 1/R per sample inside the window and restarts
        // after the sample that stepped (the step sample still shows the ramp's last value).
        std::size_t report = 0;
        for (std::size_t i = 0; i < run.t.size() && run.t[i] < c.until; ++i) {
            const double t = run.t[i];
            ASSERT_EQ(run.dc[i], InputRangeLevel(t)) << "t=" << t;
            ASSERT_EQ(run.dcCode[i], GetPacketDCValue(run.dc[i])) << "t=" << t;
            const bool inside = t >= 20.0 && t < 1220.0;
            const bool steppedBefore =
                report > 0 && run.reports[report - 1].first == i - 1 && run.t[i - 1] >= 20.0;
            const double expectedAc = !inside ? 0.0
                                      : i == 0 || run.t[i - 1] < 20.0 || steppedBefore
                                          ? -dt
                                          : run.ac[i - 1] - dt;
            ASSERT_NEAR(run.ac[i], expectedAc, 1e-9) << "t=" << t;
            while (report < run.reports.size() && run.reports[report].first <= i) ++report;
        }

        // Reports: -300 at the start, trunc of the new level at each instant from 20 s, -300 at
        // 1220 s; each at the first sample at or after its instant (0.05 ms early counts).
        std::vector<std::pair<double, int>> expected;
        if (c.start == 0.0) expected.emplace_back(0.0, -300);
        for (double instant = 20.0; instant < std::min(c.until, 1220.0); instant += 0.5) {
            expected.emplace_back(instant, static_cast<int>(std::trunc(InputRangeLevel(instant))));
        }
        if (c.until > 1220.0) expected.emplace_back(1220.0, -300);
        std::vector<std::pair<std::size_t, int>> seen;
        for (const auto& r : run.reports) {
            const double t = run.t.at(r.first);
            if (t < c.until && (t >= 20.0 || t < 0.0003)) seen.push_back(r);
        }
        ASSERT_EQ(seen.size(), expected.size());
        for (std::size_t n = 0; n < seen.size(); ++n) {
            const double t = run.t[seen[n].first];
            EXPECT_EQ(seen[n].second, expected[n].second) << "report " << n << " at t=" << t;
            EXPECT_GE(t, expected[n].first - (expected[n].first > 20.0 ? 0.00005 : 0.0) - 1e-9)
                << "report " << n;
            EXPECT_LE(t, expected[n].first + dt + 1e-9) << "report " << n;
            if (c.repeatAtStepOf > 0.0 && expected[n].first == c.repeatAtStepOf) {
                EXPECT_EQ(run.t.at(seen[n].first + 1), t) << "the step's time point repeats";
            }
        }
    }
}

// --- Reset ------------------------------------------------------------------------------------

TEST_F(TestSignals, ResetRestoresTheTestSettingsThroughTheirSetters) {
    ASSERT_EQ(TOLVSetECG2_27_Noise(5, 1.0), 0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTest(true), 0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestAmplitude(2.0), 0);
    ASSERT_EQ(TOLVSetECG2_27_AAMIDriftTestFrequency(0.5), 0);
    ASSERT_EQ(TOLVSetDynamicRangeTest(false, true, 3.0, 20.0), 0);
    ASSERT_EQ(TOLVSetFrequencyScanSine(false, 20, 1.0, 100.0), 0);
    StartJournal();
    TOLVReset();
    const std::string journal = Journal();
    const char* expected[] = {
        "TOLVSetPacingRateSynchronized();\n",
        "TOLVSetECG2_27_Noise(0, 0.10);\n",
        "TOLVSetECG2_27_AAMIDriftTest(false);\n",
        "TOLVSetECG2_27_AAMIDriftTestAmplitude(4.0);\n",
        "TOLVSetECG2_27_AAMIDriftTestFrequency(0.10);\n",
        "TOLVEnableRespiration(false);\n",
        "TOLVDisableRespireAlgorithm();\n",
        "TOLVSetDynamicRangeTest(false, true, 1.0, 40);\n",
        "TOLVSetFrequencyScanSine(false, 0.67, 150.00, 30);\n",
        "TOLVEnableECGOutput(true);\n",
    };
    std::size_t at = 0;
    for (const char* line : expected) {
        const std::size_t found = journal.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " in order in\n" << journal;
        at = found + 1;
    }
    EXPECT_EQ(TOLVGetECG2_27_NoiseFreq(), 0);
    EXPECT_EQ(TOLVGetECG2_27_NoiseAmp(), 0.1);
    EXPECT_FALSE(TOLVGetECG2_27_AAMIDriftTest());
    EXPECT_EQ(TOLVGetECG2_27_AAMIDriftTestAmplitude(), 4.0);
    EXPECT_EQ(TOLVGetECG2_27_AAMIDriftTestFrequency(), 0.1);
    EXPECT_DOUBLE_EQ(g_AAMIDriftTestSlope, 0.8);
    EXPECT_EQ(TOLVGetDynamicRangeTestAmplitude(), 1.0);
    EXPECT_EQ(TOLVGetDynamicRangeTestFrequency(), 40.0);
    EXPECT_EQ(TOLVGetFrequencyScanSineStartFrequency(), 0.67);
    EXPECT_EQ(TOLVGetFrequencyScanSineStopFrequency(), 150.0);
    EXPECT_EQ(TOLVGetFrequencyScanSineDuration(), 30);

    DisableSaveLog();
    ASSERT_EQ(std::remove(m_journal.c_str()), 0);
    StartJournal();
    TOLVReset();
    EXPECT_EQ(Journal().find("ECG2_27"), std::string::npos) << "at defaults: not written";
    EXPECT_EQ(Journal().find("DynamicRange"), std::string::npos);
    EXPECT_EQ(Journal().find("FrequencyScan"), std::string::npos);
}

TEST_F(TestSignals, ResetEndsARunningScanAndTheBaselineResetTest) {
    ASSERT_EQ(TOLVSetFrequencyScanECG(true), 0);
    ASSERT_EQ(TOLVSetBaselineResetTest(1), 0);
    TOLVReset();
    EXPECT_FALSE(TOLVIsPlaying());
    EXPECT_EQ(TOLVGetBaselineResetTest(), 0);
    EXPECT_FALSE(TOLVGetFrequencyScanECG());
    EXPECT_EQ(TOLVGetFrequencyScanSineStartFrequency(), 0.67) << "the ECG scan's range reset";
    EXPECT_EQ(TOLVGetFrequencyScanSineStopFrequency(), 150.0);
    EXPECT_EQ(TOLVGetAmplitude(), 1.0);
}

}  // namespace
