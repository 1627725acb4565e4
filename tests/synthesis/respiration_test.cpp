// The respiratory modulation of the synthetic ECG: breath timing, apnoea, the setter's journal
// and range rule, and the modulation reaching output 7.
#include "synthesis/Respiration.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/OfflineSession.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

class RespirationTest : public OfflineSessionTest<> {
  protected:
    void SetUp() override {
        TOLVDisableRespireAlgorithm();
        ASSERT_EQ(TOLVSetAmplitude(1.0), 0);
        ASSERT_EQ(TOLVSetFrequency(1.0), 0);
    }
    void TearDown() override {
        DisableSaveLog();
        TOLVDisableRespireAlgorithm();
    }
};

TEST_F(RespirationTest, BreathTimingAndBaselineDepthFollowTheArguments) {
    ASSERT_EQ(TOLVSetRespirationAlgorithm(15, 2, 0, 10, 0, 0), 1);
    EXPECT_DOUBLE_EQ(s_OneRespireS, 4.0);
    EXPECT_NEAR(s_InhaleS, 4.0 / 3.0, 1e-12);
    EXPECT_NEAR(s_ExhaleS, 8.0 / 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(s_BaselineModV, 0.1);
    EXPECT_EQ(s_AmpModV, 0.0);
    EXPECT_EQ(s_FreqModHz, 0.0);
    // Mid-inhalation the breath peaks, mid-exhalation it troughs, and it repeats every 4 s.
    EXPECT_NEAR(RespirationModulationAt(2.0 / 3.0), 1.0, 1e-12);
    EXPECT_NEAR(RespirationModulationAt(4.0 / 3.0 + 4.0 / 3.0), -1.0, 1e-12);
    EXPECT_NEAR(RespirationModulationAt(4.0 + 2.0 / 3.0), 1.0, 1e-9);
}

TEST_F(RespirationTest, ApnoeaSilencesTheEndOfEveryMinute) {
    ASSERT_EQ(TOLVSetRespirationAlgorithm(15, 2, 10, 10, 0, 0), 1);
    EXPECT_NEAR(RespirationModulationAt(48.0 + 2.0 / 3.0), 1.0, 1e-9);
    EXPECT_EQ(RespirationModulationAt(50.0 + 2.0 / 3.0), 0.0);
    EXPECT_EQ(RespirationModulationAt(59.9), 0.0);
    EXPECT_NEAR(RespirationModulationAt(60.0 + 2.0 / 3.0), 1.0, 1e-9) << "breathing again";
}

TEST_F(RespirationTest, JournalComesBeforeTheRangeTestAndRefusalStoresNothing) {
    vdev::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string journal = dir.Join("journal.txt");
    ASSERT_EQ(EnableSaveLog(journal.c_str()), 0);
    EXPECT_EQ(TOLVSetRespirationAlgorithm(0, 2, 0, 10, 0, 0), 0);
    EXPECT_EQ(TOLVSetRespirationAlgorithm(15, 6, 0, 10, 0, 0), 0);
    EXPECT_EQ(TOLVSetRespirationAlgorithm(15, 2, 61, 10, 0, 0), 0);
    EXPECT_EQ(TOLVSetRespirationAlgorithm(15, 2, 0, 101, 0, 0), 0);
    EXPECT_EQ(s_OneRespireS, 0.0);
    TOLVDisableRespireAlgorithm();
    DisableSaveLog();
    std::ifstream in(journal);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "TOLVSetRespirationAlgorithm(0, 2, 0, 10, 0, 0);\n"
              "TOLVSetRespirationAlgorithm(15, 6, 0, 10, 0, 0);\n"
              "TOLVSetRespirationAlgorithm(15, 2, 61, 10, 0, 0);\n"
              "TOLVSetRespirationAlgorithm(15, 2, 0, 101, 0, 0);\n"
              "TOLVDisableRespireAlgorithm();\n\n\n");
}

TEST_F(RespirationTest, BaselineModulationReachesTheSyntheticEcg) {
    const int rate = 1000;
    std::vector<double> plain(8000);
    ASSERT_GT(GetRawDataArrayEx(OUTPUT_ECG, plain.data(), 8000, rate), 0);
    ASSERT_EQ(TOLVSetRespirationAlgorithm(15, 2, 0, 10, 0, 0), 1);
    std::vector<double> modulated(8000);
    ASSERT_GT(GetRawDataArrayEx(OUTPUT_ECG, modulated.data(), 8000, rate), 0);
    for (int i = 0; i < 8000; i += 37) {
        const double t = static_cast<double>(i) / rate;
        const double limit = 40.0;
        const double expected = plain[i] + 0.1 * RespirationModulationAt(t);
        ASSERT_NEAR(modulated[i], std::fmax(-limit, std::fmin(limit, expected)), 1e-9) << t;
    }
    TOLVDisableRespireAlgorithm();
    EXPECT_EQ(GetRespirationVoltage(), 0.0);
}

TEST_F(RespirationTest, EnableWithoutADeviceStoresTheFlagAndReportsFalse) {
    EXPECT_FALSE(TOLVEnableRespiration(true));
    EXPECT_TRUE(g_RespirationEnabled);
    EXPECT_FALSE(TOLVEnableRespiration(false));
    EXPECT_FALSE(g_RespirationEnabled);
    EXPECT_FALSE(TOLVRespirationModuleIsConnected());
}

}  // namespace
