#include "synthesis/Setters.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "playback/OutputSignal.h"
#include "playback/OutputStage.h"
#include "playback/Play.h"
#include "playback/PlayState.h"
#include "ppg/PpgChannels.h"
#include "protocol/DeviceInformation.h"
#include "session/Session.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/Synthesizer.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

void Listener(bool) {}

// Waveform setters with a session that never connects: a listener is registered directly, so
// no connect thread runs and nothing plays (output function 0 throughout unless a test sets
// the state itself, without starting playback).
class Setters : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        ResetWaveformState();
        ResetSynthesisTime();
        g_ConnectedCallback = &Listener;
    }
    void TearDown() override {
        DisableSaveLog();
        g_ConnectedCallback = nullptr;
        g_StandardStopCB = nullptr;
        g_SyncFreqCB = nullptr;
        ResetWaveformState();
    }
    void StartJournal() { ASSERT_EQ(EnableSaveLog(m_journal.c_str()), 0); }
    std::string Journal() const {
        std::ifstream in(m_journal, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    vdev::TempDir m_dir;
    std::string m_journal = m_dir.Join("journal.txt");
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct RangeCase {
    const char* name;
    int (*set)(double);
    double (*get)();
    double low, high;
};

const RangeCase kRangeCases[] = {
    {"Amplitude", TOLVSetAmplitude, TOLVGetAmplitude, -40.0, 40.0},
    {"Frequency", TOLVSetFrequency, TOLVGetFrequency, 0.017, 500.0},
    {"PulseWidth", TOLVSetPulseWidth, TOLVGetPulseWidth, 1.0, 300.0},
    {"QRSDuration", TOLVSetQRSDuration, TOLVGetQRSDuration, 5.0, 200.0},
    {"TWave", TOLVSetTWave, TOLVGetTWave, 0.0, 5.0},
    {"PWave", TOLVSetPWave, TOLVGetPWave, 0.0, 2.0},
    {"STDeviation", TOLVSetSTDeviation, TOLVGetSTDeviation, -2.0, 2.0},
    {"PDuration", TOLVSetPDuration, TOLVGetPDuration, 50.0, 100.0},
    {"PRInterval", TOLVSetPRInterval, TOLVGetPRInterval, 0.0, 200.0},
    {"QTInterval", TOLVSetQTInterval, TOLVGetQTInterval, 100.0, 900.0},
    {"TDuration", TOLVSetCustomizedTDuration, TOLVGetCustomizedTDuration, 100.0, 900.0},
};

TEST_F(Setters, BoundsAreInclusiveAndValuesJustOutsideAreRefused) {
    for (const auto& c : kRangeCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.set(c.low), 0);
        EXPECT_DOUBLE_EQ(c.get(), c.low);
        EXPECT_EQ(c.set(c.high), 0);
        EXPECT_DOUBLE_EQ(c.get(), c.high);
        const double step = c.low == 0.017 ? 0.0001 : 0.01;
        EXPECT_EQ(c.set(c.low - step), -2);
        EXPECT_EQ(c.set(c.high + 0.01), -2);
        EXPECT_EQ(c.set(kNaN), -2);
        EXPECT_DOUBLE_EQ(c.get(), c.high);
    }
}

TEST_F(Setters, FrequencyRangeDependsOnTheOutputFunction) {
    const struct {
        int output;
        double hz;
        int code;
    } cases[] = {{OUTPUT_OFF, 0.017, 0},
                 {OUTPUT_OFF, 0.0169, -2},
                 {OUTPUT_SINE, 500.0, 0},
                 {OUTPUT_SINE, 500.01, -2},
                 {OUTPUT_PULSE, 5.0, 0},
                 {OUTPUT_PULSE, 5.01, -2},
                 {OUTPUT_TRIANGLE_PULSE, 5.01, -2},
                 {OUTPUT_EXP_DECAY, 10.0, 0},
                 {OUTPUT_ECG, 8.0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(FrequencyRangeCode(c.output, c.hz), c.code) << c.output << " " << c.hz;
    }
    g_MainOutput = OUTPUT_PULSE;  // selected without starting playback
    EXPECT_EQ(TOLVSetFrequency(5.01), -2);
    EXPECT_DOUBLE_EQ(TOLVGetFrequency(), 1.0);
}

TEST_F(Setters, RunningTestsRefuseAmplitudeAndFrequencyAfterTheRangeTest) {
    g_BaseLineOverload = 2;
    EXPECT_EQ(TOLVSetAmplitude(41.0), -2);
    EXPECT_EQ(TOLVSetAmplitude(2.0), -3);
    EXPECT_EQ(TOLVSetFrequency(600.0), -2);
    EXPECT_EQ(TOLVSetFrequency(2.0), -4);
    s_FreqScanOn = true;
    EXPECT_EQ(TOLVSetFrequency(2.0), -3);
    g_BaseLineOverload = 0;
    EXPECT_EQ(TOLVSetFrequency(2.0), -3);
    EXPECT_DOUBLE_EQ(TOLVGetAmplitude(), 1.0);
    EXPECT_DOUBLE_EQ(TOLVGetFrequency(), 1.0);
}

TEST_F(Setters, DCOffsetRange) {
    EXPECT_EQ(TOLVSetDCOffset(-1000), 0);
    EXPECT_EQ(TOLVGetDCOffset(), -1000);
    EXPECT_EQ(TOLVSetDCOffset(1000), 0);
    EXPECT_EQ(TOLVSetDCOffset(1001), -2);
    EXPECT_EQ(TOLVSetDCOffset(-1001), -2);
    EXPECT_EQ(TOLVGetDCOffset(), 1000);
}

TEST_F(Setters, Flags) {
    EXPECT_EQ(TOLVSetDCOffsetVariableMode(false), 0);
    EXPECT_FALSE(TOLVGetDCOffsetVariableMode());
    EXPECT_EQ(TOLVSetDCOffsetCommonMode(true), 0);
    EXPECT_TRUE(TOLVGetDCOffsetCommonMode());
    EXPECT_EQ(SetDCOffsetCommoneMode(0), 0);
    EXPECT_FALSE(TOLVGetDCOffsetCommonMode());
    EXPECT_EQ(SetDCOffsetCommoneMode(256), 0);  // any non-zero value switches it on
    EXPECT_TRUE(TOLVGetDCOffsetCommonMode());
    EXPECT_EQ(TOLVSetInputImpedanceMode(false), 0);
    EXPECT_FALSE(TOLVGetInputImpedanceMode());
}

TEST_F(Setters, PRIntervalMovesThePDuration) {
    EXPECT_EQ(TOLVSetPRInterval(30.0), 0);
    EXPECT_DOUBLE_EQ(TOLVGetPDuration(), 30.0);
    EXPECT_EQ(TOLVSetPRInterval(120.0), 0);
    EXPECT_DOUBLE_EQ(TOLVGetPDuration(), 50.0);
    EXPECT_EQ(TOLVSetPDuration(80.0), 0);
    EXPECT_EQ(TOLVSetPRInterval(160.0), 0);
    EXPECT_DOUBLE_EQ(TOLVGetPDuration(), 80.0);
    EXPECT_EQ(TOLVSetPRInterval(0.0), 0);
    EXPECT_DOUBLE_EQ(TOLVGetPDuration(), 0.0);
    EXPECT_DOUBLE_EQ(PDurationForPRInterval(49.9, 100.0), 49.9);
    EXPECT_DOUBLE_EQ(PDurationForPRInterval(50.0, 49.0), 50.0);
}

TEST_F(Setters, SampleRate) {
    EXPECT_EQ(TOLVSetSampleRate(99), -2);
    EXPECT_EQ(TOLVSetSampleRate(40001), -2);
    EXPECT_EQ(TOLVSetSampleRate(100), 0);
    EXPECT_EQ(s_sampleRate, 100);
    EXPECT_EQ(TOLVSetSampleRate(40000), 0);
    EXPECT_EQ(s_sampleRate, 40000);

    s_freqDivider = 30000;
    EXPECT_EQ(TOLVSetSampleRate(20000), 0);
    EXPECT_EQ(s_freqDivider, 20000);
    EXPECT_EQ(TOLVSetSampleRate(25000), 0);
    EXPECT_EQ(s_freqDivider, 20000);
    s_freqDivider = 1;

    s_ECGGoing = true;  // as while a waveform plays
    EXPECT_EQ(TOLVSetSampleRate(99), -2);
    EXPECT_EQ(TOLVSetSampleRate(10000), -3);
    s_ECGGoing = false;
    EXPECT_EQ(s_sampleRate, 25000);
}

TEST_F(Setters, EffectiveSampleRateFollowsTheModuleAndThePpgOutputs) {
    ASSERT_EQ(TOLVSetSampleRate(12345), 0);
    EXPECT_EQ(TOLVGetSampleRate(), 12345);
    g_bPPGOutputEnabled[2] = true;
    EXPECT_EQ(TOLVGetSampleRate(), 10000);
    g_PPGModelInfo.Letter1 = 'E';
    g_PPGModelInfo.Letter2 = 'R';
    PublishModuleRecord();
    EXPECT_EQ(TOLVGetSampleRate(), 5000);
    g_bPPGOutputEnabled[2] = false;
    EXPECT_EQ(TOLVGetSampleRate(), 5000);
    g_PPGModelInfo = MODEL_INFORMATION{};
    PublishModuleRecord();
    EXPECT_EQ(TOLVGetSampleRate(), 12345);
}

// The setters reach the play engine through the hooks that it registers at load: the synthesis
// sees the engine's effective rate, and a relay request recomputes the operate mode.
TEST_F(Setters, RequestsReachThePlayEngine) {
    g_bPPGOutputEnabled[2] = true;
    EXPECT_EQ(playback::SampleRate(), s_PPGSampleRate.load());
    g_bPPGOutputEnabled[2] = false;
    g_OperateMode = 0;
    playback::UpdateRelays();
    EXPECT_EQ(g_OperateMode, 8) << "output function 0 switches the outputs off";
}

TEST_F(Setters, JournalLinesAreWrittenAsTheCalls) {
    StartJournal();
    EXPECT_EQ(TOLVSetAmplitude(1.5), 0);
    EXPECT_EQ(TOLVSetAmplitude(50.0), -2);
    EXPECT_EQ(TOLVSetFrequency(2.0), 0);
    EXPECT_EQ(TOLVSetDCOffset(-5), 0);
    EXPECT_EQ(TOLVSetDCOffsetVariableMode(false), 0);
    EXPECT_EQ(TOLVSetDCOffsetCommonMode(true), 0);
    EXPECT_EQ(SetDCOffsetCommoneMode(0), 0);
    EXPECT_EQ(TOLVSetPulseWidth(20.4), 0);
    EXPECT_EQ(TOLVSetInputImpedanceMode(false), 0);
    EXPECT_EQ(TOLVSetQRSDuration(80.0), 0);
    EXPECT_EQ(TOLVSetTWave(0.5), 0);
    EXPECT_EQ(TOLVSetPWave(0.3), 0);
    EXPECT_EQ(TOLVSetSTDeviation(-0.5), 0);
    EXPECT_EQ(TOLVSetPDuration(60.0), 0);
    EXPECT_EQ(TOLVSetPRInterval(150.0), 0);
    EXPECT_EQ(TOLVSetQTInterval(400.0), 0);
    EXPECT_EQ(TOLVSetCustomizedTDuration(200.0), 0);
    // Calls without a journal line of their own.
    EXPECT_EQ(TOLVSetSampleRate(10000), 0);
    TOLVSetSpecialWaveformLoop(false);
    TOLVSetFileLoop(false);
    TOLVRegisterSyncFrequencyCB(nullptr);

    EXPECT_EQ(Journal(),
              "TOLVSetAmplitude(1.50);\n"
              "TOLVSetFrequency(2.00);\n"
              "TOLVSetDCOffset(-5);\n"
              "TOLVSetDCOffsetVariableMode(false);\n"
              "TOLVSetDCOffsetCommonMode(true);\n"
              "TOLVSetDCOffsetCommonMode(false);\n"
              "TOLVSetPulseWidth(20);\n"
              "TOLVSetInputImpedanceMode(false);\n"
              "TOLVSetQRSDuration(80);\n"
              "TOLVSetTWave(0.5);\n"
              "TOLVSetPWave(0.3);\n"
              "SetSTDeviation(-0.50);\n"
              "TOLVSetPDuration(60);\n"
              "TOLVSetPRInterval(150);\n"
              "TOLVSetQTInterval(400);\n"
              "SetCustomizedTDuration(200);\n");
}

TEST_F(Setters, WithoutASessionEverySetterReturnsMinusOneAndChangesNothing) {
    g_ConnectedCallback = nullptr;
    ASSERT_FALSE(SessionStarted());
    StartJournal();
    const std::vector<std::function<int()>> calls = {
        [] { return TOLVSetAmplitude(2.0); },
        [] { return TOLVSetFrequency(2.0); },
        [] { return TOLVSetDCOffset(5); },
        [] { return TOLVSetDCOffsetVariableMode(false); },
        [] { return TOLVSetDCOffsetCommonMode(true); },
        [] { return SetDCOffsetCommoneMode(1); },
        [] { return TOLVSetPulseWidth(20.0); },
        [] { return TOLVSetInputImpedanceMode(false); },
        [] { return TOLVSetQRSDuration(80.0); },
        [] { return TOLVSetTWave(0.5); },
        [] { return TOLVSetPWave(0.5); },
        [] { return TOLVSetSTDeviation(0.5); },
        [] { return TOLVSetPDuration(60.0); },
        [] { return TOLVSetPRInterval(30.0); },
        [] { return TOLVSetQTInterval(400.0); },
        [] { return TOLVSetCustomizedTDuration(200.0); },
        [] { return TOLVSetSampleRate(1000); },
        // The session test comes before the range test.
        [] { return TOLVSetAmplitude(99.0); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), -1) << i;
    EXPECT_EQ(Journal(), "");
    EXPECT_DOUBLE_EQ(TOLVGetAmplitude(), 1.0);
    EXPECT_DOUBLE_EQ(TOLVGetFrequency(), 1.0);
    EXPECT_EQ(TOLVGetDCOffset(), 0);
    EXPECT_TRUE(TOLVGetDCOffsetVariableMode());
    EXPECT_FALSE(TOLVGetDCOffsetCommonMode());
    EXPECT_DOUBLE_EQ(TOLVGetPDuration(), 100.0);
    EXPECT_DOUBLE_EQ(TOLVGetPRInterval(), 160.0);
    EXPECT_EQ(s_sampleRate, 20000);

    // Loop switches and callback registrations need no session.
    TOLVSetSpecialWaveformLoop(false);
    EXPECT_FALSE(s_loopPlay);
    TOLVSetFileLoop(false);
    EXPECT_FALSE(s_loopFile);
}

int g_stops = 0;
void CountStop() {
    ++g_stops;
}

TEST_F(Setters, StandardTableWithoutLoopStopsAfterOnePeriodAndCallsBackOnce) {
    g_stops = 0;
    RegisterStandardWaveformCB(&CountStop);
    TOLVSetSpecialWaveformLoop(false);
    g_MainOutput = OUTPUT_IEC251;  // selected without starting playback
    DeriveSynthesisValuesAt(20000);
    s_t = 1.0;  // at the period end: still playing
    _GetMainFunctionVoltage(0.0);
    EXPECT_EQ(g_stops, 0);
    EXPECT_EQ(g_MainOutput, OUTPUT_IEC251);
    s_t = 1.00005;
    _GetMainFunctionVoltage(0.00005);
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(g_MainOutput, 0);
    _GetMainFunctionVoltage(0.0001);
    EXPECT_EQ(g_stops, 1);
}

// The sample path only marks the end: the journal line and the stop are its caller's, after
// the packet.
TEST_F(Setters, EndOfATableWithoutLoopIsLeftToTheCallerOfTheSamplePath) {
    StartJournal();
    g_stops = 0;
    RegisterStandardWaveformCB(&CountStop);
    TOLVSetSpecialWaveformLoop(false);
    g_MainOutput = OUTPUT_IEC251;
    DeriveSynthesisValuesAt(20000);
    s_t = 1.00005;
    _GetMainFunctionVoltage(0.00005);
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(g_MainOutput, 0);
    EXPECT_EQ(s_t, 0.0) << "a stop restarts the play time";
    EXPECT_EQ(Journal(), "");
    EXPECT_TRUE(TakeOneShotEnd());
    EXPECT_FALSE(TakeOneShotEnd()) << "taken once";
}

TEST_F(Setters, LoopingTableAndRecordingKeepPlaying) {
    g_stops = 0;
    RegisterStandardWaveformCB(&CountStop);
    for (int output :
         {OUTPUT_IEC227, OUTPUT_IEC251, OUTPUT_IEC247, OUTPUT_ANE20000, OUTPUT_ECG_FILE}) {
        g_MainOutput = output;
        DeriveSynthesisValuesAt(20000);
        s_t = 5.0 * s_tp;
        _GetMainFunctionVoltage(0.0);
        EXPECT_EQ(g_MainOutput, output);
    }
    EXPECT_EQ(g_stops, 0);
}

TEST_F(Setters, RecordingWithoutLoopStopsAfterOnePeriod) {
    g_stops = 0;
    RegisterStandardWaveformCB(&CountStop);
    TOLVSetFileLoop(false);
    g_MainOutput = OUTPUT_ECG_FILE;
    DeriveSynthesisValuesAt(20000);
    s_t = s_tp + 0.001;
    EXPECT_EQ(_GetMainFunctionVoltage(0.001), 0.0);  // nothing loaded
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(g_MainOutput, 0);
}

std::vector<double> g_reports;
void RecordFrequency(double f) {
    g_reports.push_back(f);
}

TEST_F(Setters, RegisteredFrequencyCallbackHearsTheClamp) {
    g_reports.clear();
    TOLVRegisterSyncFrequencyCB(&RecordFrequency);
    EXPECT_EQ(TOLVSetFrequency(10.0), 0);
    g_MainOutput = OUTPUT_EXP_DECAY;
    DeriveSynthesisValuesAt(20000);
    EXPECT_DOUBLE_EQ(TOLVGetFrequency(), 5.0);
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_DOUBLE_EQ(g_reports[0], 5.0);
    TOLVRegisterSyncFrequencyCB(nullptr);
    EXPECT_EQ(g_SyncFreqCB.load(), nullptr);
}

}  // namespace
