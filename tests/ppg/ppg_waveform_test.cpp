// Known answers of the PPG tables and of the per-sample PPG output: table generation, the
// installers' checks, range equalisation, the finger model, the pulse-transit-time offset, the
// DC and AC codes and the respiratory modulation.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "playback/OutputStage.h"
#include "playback/Stream.h"
#include "ppg/PpgChannels.h"
#include "ppg/PpgOutput.h"
#include "ppg/PpgWaveforms.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/PlayClock.h"
#include "synthesis/Respiration.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

class PpgTest : public ::testing::Test {
  protected:
    void TearDown() override {
        CAutoCriticalSection api(g_APICriticalSection);
        ResetPPGWaveforms();
        ResetPPGOutputSettings();
        TOLVDisableRespireAlgorithm();
        TOLVSetPPGFingerModel(nullptr, nullptr, nullptr);
        g_PPGModelInfo = MODEL_INFORMATION{};
        PublishModuleRecord();
        g_DeviceFeature = DEVICE_FEATURE{};
        g_bACAboveDC = false;
        for (auto& mode : g_ACCalMode) mode = 0;
        g_MainOutput = 0;
        SetSynthesisTime(0.0);
    }
    static void SetModule(int model) {
        g_PPGModelInfo.ModelHigh = static_cast<std::uint8_t>(model >> 8);
        g_PPGModelInfo.ModelLow = static_cast<std::uint8_t>(model & 0xFF);
        PublishModuleRecord();
        g_DeviceFeature = model != 0 ? DeviceFeatureForModel(static_cast<std::uint16_t>(model))
                                     : DEVICE_FEATURE{};
    }
    struct Sample {
        unsigned short dc = 0;
        unsigned short ac = 0;
        double value = 0.0;
    };
    static Sample At(double t, int channel, double offset = 0.0) {
        Sample s;
        _GetPPGVoltageData(t, channel, offset, &s.dc, &s.ac, &s.value);
        return s;
    }
};

// ---- Tables ----------------------------------------------------------------------------------

TEST_F(PpgTest, PulseAtOneHertzPeaksNotchesAndRisesAtTheBeatsTimePoints) {
    ASSERT_EQ(TOLVSetPPGStandardWaveform(1, 3, 1, 0, 1.0, 1000, 10), 10000);
    const PPG_TABLE* table = PPGTable(1);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->length, 10000u);
    EXPECT_EQ(table->acMax, 10000);
    const struct {
        int entry;
        int value;
    } points[] = {{0, 0}, {1500, 10000}, {3600, 5600}, {4600, 6400}};
    for (const auto& p : points) EXPECT_EQ(table->ac[p.entry], p.value) << p.entry;
    // Rising to the peak, falling to the notch, rising to the dicrotic peak, falling to 0.
    EXPECT_LT(table->ac[1400], 10000);
    EXPECT_LT(table->ac[1700], 10000);
    EXPECT_GT(table->ac[1700], table->ac[3000]);
    EXPECT_GT(table->ac[3700], 5600);
    EXPECT_LT(table->ac[9990], 10);
}

TEST_F(PpgTest, BasicShapesLengthsAndRiseTimes) {
    struct Case {
        int type;
        double frequency;
        int entries;
        int riseTime;
        int at;  // an entry and its value (thousandths of ac 10)
        int value;
    } cases[] = {
        {0, 2.0, 5000, 125, 1250, 10000},  // sine peak at a quarter period
        {0, 2.0, 5000, 125, 0, 5000},     {1, 1.0, 10000, 250, 2500, 10000},  // triangle
        {1, 1.0, 10000, 250, 7500, 0},    {2, 1.0, 10000, 0, 4999, 10000},    // square
        {2, 1.0, 10000, 0, 5000, 0},      {3, 5.0, 2000, 30, 300, 10000},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(TOLVSetPPGStandardWaveform(0, c.type, 1, 0, c.frequency, 1000, 10), c.entries)
            << c.type;
        const PPG_TABLE* table = PPGTable(0);
        EXPECT_EQ(table->riseTime, c.riseTime) << c.type;
        EXPECT_EQ(table->ac[c.at], c.value) << c.type << " entry " << c.at;
        EXPECT_EQ(table->acMax, 10000) << c.type;
    }
}

TEST_F(PpgTest, InstallersRefuseWithTheirCodesAndKeepTheOldTable) {
    ASSERT_EQ(TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 1000, 10), 10000);
    const double one[1] = {1.0};
    struct Case {
        const char* what;
        int code;
    } cases[] = {
        {"channel 3", TOLVSetPPGStandardWaveform(3, 3, 1, 0, 1.0, 1000, 10)},
        {"channel -1", TOLVSetPPGStandardWaveform(-1, 3, 1, 0, 1.0, 1000, 10)},
        {"type 4", TOLVSetPPGStandardWaveform(0, 4, 1, 0, 1.0, 1000, 10)},
        {"0.15 Hz", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 0.15, 1000, 10)},
        {"5.01 Hz", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 5.01, 1000, 10)},
        {"dc 99", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 99, 10)},
        {"dc 3001", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 3001, 10)},
        {"ac 0.7", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 1000, 0.7)},
        {"ac NaN", TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 1000, std::nan(""))},
        {"raw channel", TOLVSetPPGRawData(3, 1, 0, 1, one, one, 100)},
        {"raw count", TOLVSetPPGRawData(0, 1, 0, 0, one, one, 100)},
        {"raw dc", TOLVSetPPGRawData(0, 1, 0, 1, nullptr, one, 100)},
        {"raw ac", TOLVSetPPGRawData(0, 1, 0, 1, one, nullptr, 100)},
        {"raw rate", TOLVSetPPGRawData(0, 1, 0, 1, one, one, 0)},
    };
    const int expected[] = {-2, -2, -3, -4, -4, -5, -5, -6, -6, -2, -3, -4, -5, -6};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].code, expected[i]) << cases[i].what;
    }
    ASSERT_NE(PPGTable(0), nullptr);
    EXPECT_EQ(PPGTable(0)->length, 10000u);
    EXPECT_EQ(TOLVSetPPGStandardWaveform(0, 0, 1, 0, 5.0, 1000, 10), 2000) << "5.0 Hz accepted";
}

TEST_F(PpgTest, DcLevelIsThePulseTopUnlessAcRidesAboveIt) {
    ASSERT_GT(TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 1000, 20), 0);
    EXPECT_EQ(PPGTable(0)->dc[0], 980000);
    g_bACAboveDC = true;
    ASSERT_GT(TOLVSetPPGStandardWaveform(0, 3, 1, 0, 1.0, 1000, 20), 0);
    EXPECT_EQ(PPGTable(0)->dc[0], 1000000);
}

TEST_F(PpgTest, RawDataIsLimitedInvertedAndMarkedAsApplicationData) {
    const double dc[4] = {1000, 1100, 1200, 1300};
    const double ac[4] = {-2, 10, 45, 20};
    ASSERT_EQ(TOLVSetPPGRawData(2, 2, 1, 4, dc, ac, 500.0), 0);
    const PPG_TABLE* table = PPGTable(2);
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->useFile);
    EXPECT_EQ(table->acMax, 30000) << "45 limited to the AC maximum 30";
    const int expectedAc[4] = {30000, 20000, 0, 10000};  // inverted: maximum - entry
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(table->ac[i], expectedAc[i]) << i;
        EXPECT_EQ(table->dc[i], static_cast<int>(dc[i] * 1000)) << i;
    }
    EXPECT_EQ(g_PPG_led_sync[2], 2);
}

TEST_F(PpgTest, GeneratorWritesNoMoreThanTheCallersRoom) {
    PPG_WAVEFORM w{};
    w.Type = 0;
    w.Frequency = 1.0;
    w.AC = 10;
    std::vector<int> room(12, -1);
    int max = 0;
    EXPECT_EQ(GenPPGWaveform(&w, 10, room.data(), &max, 10000.0), 10000);
    EXPECT_EQ(max, 10000);
    EXPECT_EQ(room[10], -1);
    EXPECT_EQ(room[11], -1);
    w.Frequency = 0.1;
    EXPECT_EQ(GenPPGWaveform(&w, 12, room.data(), &max, 10000.0), 0);
}

TEST_F(PpgTest, AcCalibrationModeBoundaries) {
    const struct {
        double ac;
        int mode;
    } cases[] = {{300, 0}, {15, 0},      {14.99996, 0}, {14.9999, 1},
                 {1.5, 1}, {1.49996, 1}, {1.49, 2},     {0.1, 2}};
    for (const auto& c : cases) EXPECT_EQ(GetACCalMode(c.ac), c.mode) << c.ac;
}

TEST_F(PpgTest, RangeEqualisationOn2112ScalesBothChannelsIntoOneRange) {
    SetModule(0x2112);
    // No DC tables loaded: the module's identity tables stand for the finger model.
    ASSERT_GT(TOLVSetPPGStandardWaveformEx(1, 0, 1, 0, 1.0, 1000, 20, 2, 0, 1, 0, 1.0, 500, 5), 0);
    EXPECT_EQ(PPGTable(1)->acMax, 60000);
    EXPECT_EQ(PPGTable(2)->acMax, 15000);
    // dc 3000 and 1500 less the AC (AC above DC off).
    EXPECT_EQ(PPGTable(1)->dc[0], 2940000);
    EXPECT_EQ(PPGTable(2)->dc[0], 1485000);
    // Same range: nothing changes.
    ASSERT_GT(TOLVSetPPGStandardWaveformEx(1, 0, 1, 0, 1.0, 1000, 20, 2, 0, 1, 0, 1.0, 500, 16), 0);
    EXPECT_EQ(PPGTable(1)->acMax, 20000);
    EXPECT_EQ(PPGTable(2)->acMax, 16000);
}

TEST_F(PpgTest, FingerModelOf2012OnlyWithTablesFromTheApplication) {
    SetModule(0x2012);
    EXPECT_FALSE(TOLVIsPPGFingerModelActive());
    EXPECT_DOUBLE_EQ(FingerDCValueConvert(0, 1000.0), 1000.0);
    std::vector<double> dc(3001), factors(31, 0.113), ac(301);
    for (int i = 0; i <= 3000; ++i) dc[i] = i / 2.0;
    for (int i = 0; i <= 300; ++i) ac[i] = 0.8 * i;
    EXPECT_EQ(TOLVSetPPGFingerModel(dc.data(), factors.data(), nullptr), -4);
    dc[7] = dc[6] - 1.0;
    EXPECT_EQ(TOLVSetPPGFingerModel(dc.data(), factors.data(), ac.data()), -2) << "falling";
    dc[7] = 3.5;
    ASSERT_EQ(TOLVSetPPGFingerModel(dc.data(), factors.data(), ac.data()), 0);
    EXPECT_TRUE(TOLVIsPPGFingerModelActive());
    EXPECT_DOUBLE_EQ(FingerDCValueConvert(0, 1000.9), 500.0);
    EXPECT_DOUBLE_EQ(FingerDCValueConvert(0, 9000.0), 1500.0) << "index limited to 3000";
    EXPECT_DOUBLE_EQ(FingerACValueConvert(10.0), 8.0);
    const double dcs[1] = {1000.0};
    const double acs[1] = {10.0};
    ASSERT_EQ(TOLVSetPPGRawData(0, 1, 0, 1, dcs, acs, 100.0), 0);
    EXPECT_NEAR(PPGTable(0)->dc[0], 500000, 1);
    EXPECT_EQ(PPGTable(0)->ac[0], 8000);
}

// ---- Per-sample output -------------------------------------------------------------------------

TEST_F(PpgTest, PulseTransitTimeOffsetFollowsTheRCrest) {
    ASSERT_GT(TOLVSetPPGStandardWaveform(1, 3, 1, 0, 1.0, 1000, 10), 0);  // rise time 150 ms
    const double dc[1] = {1000.0};
    const double ac[1] = {5.0};
    ASSERT_EQ(TOLVSetPPGRawData(2, 1, 0, 1, dc, ac, 100.0), 0);
    g_MainOutput = OUTPUT_ECG;
    s_t1 = 0.2;
    SetSynthesisPeriod(1.0);
    struct Case {
        int ptt;
        int channel;
        int function;
        double offset;
    } cases[] = {
        {200, 1, OUTPUT_ECG, 0.25}, {900, 1, OUTPUT_ECG, 0.95}, {1000, 1, OUTPUT_ECG, 0.05},
        {-1, 1, OUTPUT_ECG, 0.0},   {200, 2, OUTPUT_ECG, 0.0},  {200, 1, OUTPUT_SINE, 0.0},
        {200, 3, OUTPUT_ECG, 0.0},
    };
    for (const auto& c : cases) {
        g_PPG_PTTp = c.ptt;
        g_MainOutput = c.function;
        EXPECT_DOUBLE_EQ(_GetPPGTimeOffset(c.channel), c.offset) << c.ptt << " " << c.channel;
    }
    g_PPG_PTTp = 200;
    g_MainOutput = OUTPUT_ECG;
    const double offset = _GetPPGTimeOffset(1);
    EXPECT_DOUBLE_EQ(At(0.4, 1, offset).value, 10.0) << "peak 0.2 s after the R crest";
    EXPECT_LT(At(0.39, 1, offset).value, 10.0);
    // An offset longer than the beat still lands inside it.
    EXPECT_GE(At(0.0, 1, 2.7).value, 0.0);
}

TEST_F(PpgTest, CodesScaleWithTheFullScalesAndAreLimited) {
    struct Case {
        int model;
        int mode;
        double dc;
        double ac;
        unsigned short dcCode;
        unsigned short acCode;
    } cases[] = {
        {0, 0, 1500, 15, 2047, 2047},       {0, 0, 3500, 45, 4095, 4095},       {0, 0, 0, 0, 0, 0},
        {0x2112, 2, 1500, 1.2, 2047, 4095}, {0x2112, 1, 1500, 7.5, 2047, 2047},
    };
    for (const auto& c : cases) {
        g_ACCalMode[0] = static_cast<std::uint8_t>(c.mode);
        const double dc[1] = {c.dc};
        const double ac[1] = {c.ac};
        SetModule(0);  // installed without conversion
        ASSERT_EQ(TOLVSetPPGRawData(0, 1, 0, 1, dc, ac, 100.0), 0);
        SetModule(c.model);
        const Sample s = At(0.0, 0);
        EXPECT_EQ(s.dc, c.dcCode) << c.model << " dc " << c.dc;
        EXPECT_EQ(s.ac, c.acCode) << c.model << " ac " << c.ac;
    }
    _ClearPPGData(0);
    const Sample none = At(0.5, 0);
    EXPECT_EQ(none.dc, 0);
    EXPECT_EQ(none.ac, 0);
    EXPECT_EQ(none.value, 0.0);
}

TEST_F(PpgTest, RespiratoryModulationOfAmplitudeAndBaseline) {
    EXPECT_FALSE(TOLVSetPPGRespirationAlgorithm(0, 101, 0));
    EXPECT_FALSE(TOLVSetPPGRespirationAlgorithm(-1, 0, 0));
    EXPECT_EQ(g_PPG_AmpModV, 0);
    const double dc[1] = {1000.0};
    const double ac[1] = {10.0};
    ASSERT_EQ(TOLVSetPPGRawData(0, 1, 0, 1, dc, ac, 100.0), 0);
    // 15 breaths/min, ratio 2: the breath is at its top (1) 2/3 s in.
    ASSERT_EQ(TOLVSetRespirationAlgorithm(15, 2, 0, 0, 0, 0), 1);
    const double top = 2.0 / 3.0;
    SetSynthesisTime(top);
    struct Case {
        int baseline;
        int amplitude;
        double value;
    } cases[] = {{0, 0, 10.0}, {0, 50, 15.0}, {20, 0, 12.0}, {10, 50, 16.0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(TOLVSetPPGRespirationAlgorithm(c.baseline, c.amplitude, 0));
        EXPECT_NEAR(At(top, 0).value, c.value, 1e-9) << c.baseline << " " << c.amplitude;
    }
    TOLVDisableRespireAlgorithm();
    EXPECT_EQ(g_PPG_BaselineModV, 0);
    EXPECT_EQ(g_PPG_AmpModV, 0);
}

TEST_F(PpgTest, FrequencyModulatedBeatDoesNotDependOnTheNumberOfChannels) {
    ASSERT_GT(TOLVSetPPGStandardWaveform(0, 1, 1, 0, 1.0, 1000, 10), 0);
    ASSERT_GT(TOLVSetPPGStandardWaveform(1, 1, 1, 0, 1.0, 1000, 10), 0);
    ASSERT_EQ(TOLVSetRespirationAlgorithm(15, 2, 0, 0, 0, 0), 1);
    ASSERT_TRUE(TOLVSetPPGRespirationAlgorithm(0, 0, 1));
    auto run = [](int channels) {
        const double dt = 1.0 / 10000;
        Sample s;
        for (int i = 0; i < 2500; ++i) {
            SetSynthesisTime(i * dt);
            PPGBeginSample(i * dt, dt);
            for (int k = 0; k < channels; ++k) s = At(i * dt, k);
        }
        return s.value;
    };
    const double one = run(1);
    EXPECT_NEAR(one, run(2), 1e-9);
    EXPECT_NEAR(one, 10.0, 0.2) << "a quarter beat at about 1 Hz: the triangle's top";
}

// The packet builder and direct calls of the per-sample function at the builder's sample times
// give the same codes: the shared phase of the frequency modulation moves the same way on both.
TEST_F(PpgTest, FrequencyModulatedCodesAreTheSameFromThePacketBuilderAndDirectCalls) {
    ASSERT_GT(TOLVSetPPGStandardWaveform(0, 1, 1, 0, 2.0, 1000, 10), 0);
    ASSERT_GT(TOLVSetPPGStandardWaveform(2, 3, 1, 0, 1.5, 1000, 10), 0);
    ASSERT_EQ(TOLVEnablePPGOutput(0, true), 0);
    ASSERT_EQ(TOLVEnablePPGOutput(2, true), 0);
    ASSERT_EQ(TOLVSetRespirationAlgorithm(30, 2, 0, 0, 0, 0), 1);
    ASSERT_TRUE(TOLVSetPPGRespirationAlgorithm(0, 20, 100));
    const std::uint8_t mode = g_OperateMode;
    g_OperateMode = 0x03 | 0x08 | 0x10;  // ECG, channel 2, channel 0: 4 groups of 12 bytes
    SetSynthesisTime(0.0);
    std::vector<std::uint8_t> packet(3200, 0);
    std::vector<std::uint16_t> built;  // per sample: channel 2's DC and AC, channel 0's DC and AC
    for (int p = 0; p < 6; ++p) {
        DoSendNextPacket(packet.data());
        for (std::size_t j = 0; j < 50; ++j) {
            for (int k = 0; k < 4; ++k) {
                const std::uint8_t* group = packet.data() + 64 * j + 8 + 12 * k;
                for (int b = 4; b < 12; b += 2) built.push_back((group[b] << 8) | group[b + 1]);
            }
        }
    }
    g_OperateMode = mode;

    ASSERT_EQ(TOLVGetSampleRate(), 10000);
    const double dt = 1.0 / 10000;
    double t = 0.0;
    std::vector<std::uint16_t> direct;
    std::size_t changes = 0;
    for (std::size_t i = 0; i < built.size() / 4; ++i, t += dt) {
        SetSynthesisTime(t);  // the respiration follows the play clock
        const Sample two = At(t, 2);
        const Sample zero = At(t, 0);
        direct.insert(direct.end(), {two.dc, two.ac, zero.dc, zero.ac});
        if (i > 0 && direct[4 * i + 3] != direct[4 * i - 1]) ++changes;
    }
    EXPECT_GT(changes, 100u) << "the triangle moves";
    EXPECT_EQ(direct, built);
    TOLVEnablePPGOutput(0, false);
    TOLVEnablePPGOutput(2, false);
}

TEST_F(PpgTest, ResetClearsEveryPpgSettingAndTheRateFollows) {
    ASSERT_GT(TOLVSetPPGStandardWaveform(2, 3, 2, 0, 1.0, 1000, 10), 0);
    ASSERT_EQ(TOLVEnablePPGOutput(2, true), 0);
    EXPECT_EQ(TOLVEnablePPGOutput(3, true), -2);
    EXPECT_EQ(TOLVGetSampleRate(), 10000);
    TOLVSetPTTp(120);
    ASSERT_TRUE(TOLVSetPPGRespirationAlgorithm(1, 2, 3));
    TOLVReset();
    EXPECT_EQ(PPGTable(2), nullptr);
    EXPECT_FALSE(g_bPPGOutputEnabled[2]);
    EXPECT_EQ(g_PPG_led_sync[2], 0);
    EXPECT_EQ(g_PPG_PTTp, -1);
    EXPECT_EQ(g_PPG_BaselineModV + g_PPG_AmpModV + g_PPG_FreqModHz, 0);
    EXPECT_EQ(TOLVGetSampleRate(), 20000);
}

TEST_F(PpgTest, AcceptedCallsAreJournalledAsWritten) {
    vdev::TempDir dir;
    const std::string path = dir.Join("journal.txt");
    ASSERT_EQ(EnableSaveLog(path.c_str()), 0);
    TOLVSetPPGStandardWaveform(1, 3, 2, 0, 1.25, 1500, 12.5);
    TOLVEnablePPGOutput(1, true);
    TOLVEnablePPGOutput(4, true);  // refused: no entry
    TOLVEnablePPGOutput(1, false);
    TOLVSetPTTp(180);
    DisableSaveLog();
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);  // the switch-off ends the run with blank lines
    }
    const std::vector<std::string> expected = {
        "TOLVSetPPGStandardWaveform(1, 3, 2, 0, 1.25, 1500, 12.50);",
        "TOLVEnablePPGOutput(1, true);", "TOLVEnablePPGOutput(1, false);", "TOLVSetPTTp(180);"};
    EXPECT_EQ(lines, expected);
}

}  // namespace
