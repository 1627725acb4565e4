// The reset to defaults (journal entries, values, leads) and the offline renderer, in a session
// without a device.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ppg/PpgChannels.h"
#include "session/Defaults.h"
#include "support/PortableEnv.h"
#include "synthesis/Noise.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

void NoConnection(bool) {}

class ResetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TOLVAN_DEVICE_PATTERN", "/nonexistent/tolvan/ttyACM%d", 1);
        ASSERT_TRUE(TOLVInit(NoConnection));
        ASSERT_FALSE(m_dir.path().empty());
        TOLVResetEx();
        SetAllOutputLead(0x1);
    }
    void TearDown() override {
        DisableSaveLog();
        TOLVFree();
        unsetenv("TOLVAN_DEVICE_PATTERN");
    }
    std::string Journal() const {
        std::ifstream in(m_journal);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    vdev::TempDir m_dir;
    std::string m_journal = m_dir.Join("journal.txt");
};

TEST_F(ResetTest, AtDefaultsOnlyTheAlwaysStepsAndLeadZeroAreJournaled) {
    ASSERT_EQ(EnableSaveLog(m_journal.c_str()), 0);
    TOLVReset();
    EXPECT_EQ(Journal(),
              "TOLVReset();\n"
              "TOLVSetPacingRateSynchronized();\n"
              "TOLVEnableRespiration(false);\n"
              "TOLVDisableRespireAlgorithm();\n"
              "TOLVEnableECGOutput(true);\n"
              "SetOutputLead(0, true);\n");
}

TEST_F(ResetTest, ChangedSettingsAreRestoredThroughTheirSetters) {
    ASSERT_EQ(TOLVSetAmplitude(2.0), 0);
    ASSERT_EQ(TOLVSetPacingAmplitude(5.0), 0);
    ASSERT_EQ(TOLVSetOutputLead(3, true), 0);
    ASSERT_EQ(EnableSaveLog(m_journal.c_str()), 0);
    TOLVReset();
    const std::string journal = Journal();
    EXPECT_NE(journal.find("TOLVSetAmplitude(1.00);\n"), std::string::npos) << journal;
    EXPECT_NE(journal.find("TOLVSetPacingAmplitude(0);\n"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("TOLVSetFrequency"), std::string::npos) << "unchanged: not written";
    EXPECT_EQ(TOLVGetAmplitude(), 1.0);
    EXPECT_EQ(TOLVGetPacingAmplitude(), 0.0);
    EXPECT_EQ(GetAllOutputLead(), 0x1u);
}

TEST_F(ResetTest, VariantsTreatTheLeadsDifferently) {
    ASSERT_EQ(SetAllOutputLead(0x1F), 0);
    TOLVResetEx();
    EXPECT_EQ(GetAllOutputLead(), 0x1Fu);
    TOLVResetAllLeadOff();
    EXPECT_EQ(GetAllOutputLead(), 0u);
    TOLVReset();
    EXPECT_EQ(GetAllOutputLead(), 0x1u);
}

TEST_F(ResetTest, SelectionsWithoutSettersGoBackToTheirValuesAtLoad) {
    SpecialWaveFormNo = defaults::kSpecialWaveform + 3;
    ANE20000ChannelNo = defaults::kANE20000Lead + 2;
    s_NST_Noise = defaults::kNSTNoise + 1;
    s_NST_gain = defaults::kNSTGain * 3.0;
    for (auto& enabled : g_bPPGOutputEnabled) enabled = true;
    TOLVResetEx();
    EXPECT_EQ(SpecialWaveFormNo, defaults::kSpecialWaveform);
    EXPECT_EQ(ANE20000ChannelNo, defaults::kANE20000Lead);
    EXPECT_EQ(s_NST_Noise, defaults::kNSTNoise);
    EXPECT_EQ(s_NST_gain, defaults::kNSTGain);
    EXPECT_FALSE(AnyPPGOutputEnabled());
}

TEST_F(ResetTest, ResetWhilePlayingStopsPlaybackFirst) {
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    EXPECT_TRUE(TOLVIsPlaying());
    TOLVReset();
    EXPECT_FALSE(TOLVIsPlaying());
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
}

TEST_F(ResetTest, RawRenderGivesTheFormulaAtTheRequestedRate) {
    ASSERT_EQ(TOLVSetAmplitude(2.0), 0);
    ASSERT_EQ(TOLVSetFrequency(2.0), 0);
    std::vector<double> out(4000, 99.0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, out.data(), 4000, 2000), 4000);
    for (int i = 0; i < 4000; ++i) {
        const double t = i / 2000.0;
        const double p = t - std::trunc(t / 0.5) * 0.5;
        ASSERT_NEAR(out[i], std::sin(2 * M_PI * 2.0 * p), 1e-12) << i;
    }
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    std::vector<double> square(100, 99.0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SQUARE, square.data(), 100, 1000), 1000)
        << "less than a second of samples reports the rate";
    EXPECT_EQ(square[0], 1.0);
    EXPECT_EQ(square[99], 1.0);
}

TEST_F(ResetTest, RawRenderRefusesBadArgumentsAndPlayback) {
    std::vector<double> out(10, 7.0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, nullptr, 10, 1000), 0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, out.data(), 10, 99), 0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, out.data(), 10, 40001), 0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, out.data(), 0, 1000), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    EXPECT_EQ(GetRawDataArrayEx(OUTPUT_SINE, out.data(), 10, 1000), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_OFF), 0);
    EXPECT_EQ(out[0], 7.0);
}

}  // namespace
