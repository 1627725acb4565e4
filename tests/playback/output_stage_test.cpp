// Known answers of the output stage: DAC codes, attenuation and the relay word.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "playback/OutputStage.h"
#include "protocol/Calibration.h"
#include "synthesis/ConverterCodes.h"
#include "synthesis/Pacing.h"
#include "synthesis/Respiration.h"
#include "synthesis/WaveformState.h"

namespace {

TEST(AcDac, SixteenHundredCodesPerMillivoltTruncatedAndClamped) {
    struct Case {
        double mv;
        int code;
    } cases[] = {
        {0.0, 0},        {0.0006, 0},     {-0.0006, 0},
        {1.0, 1600},     {-1.0, -1600},   {0.5, 800},
        {20.48, 32767},  {20.479, 32766}, {-20.48, -32768},
        {-30.0, -32768}, {30.0, 32767},   {std::numeric_limits<double>::quiet_NaN(), -32768}};
    for (const auto& c : cases) EXPECT_EQ(GetAcDac(c.mv), c.code) << c.mv;
}

class DcDacTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<std::uint16_t> table(4001);
        FillDefaultDCCalibrationTable(table.data());
        SetLiveDCCalibrationTable(table.data());
        m_table = table;
    }
    std::vector<std::uint16_t> m_table;
};

TEST_F(DcDacTest, TableIsInterpolatedInOneMillivoltStepsAndClamped) {
    EXPECT_EQ(GetPacketDCValue(2000.0), m_table[4000]);
    EXPECT_EQ(GetPacketDCValue(5000.0), m_table[4000]);
    EXPECT_EQ(GetPacketDCValue(-2000.0), m_table[0]);
    EXPECT_EQ(GetPacketDCValue(-9000.0), m_table[0]);
    EXPECT_EQ(GetPacketDCValue(0.0), m_table[2000]);
    EXPECT_EQ(m_table[1999], 32734);
    EXPECT_EQ(m_table[2000], 32767);
    EXPECT_EQ(GetPacketDCValue(-0.5), 32750) << "halfway between entries 1999 and 2000";
    EXPECT_EQ(GetPacketDCValue(250.25),
              static_cast<std::uint16_t>(m_table[2250] + 0.25 * (m_table[2251] - m_table[2250])));
}

class RelayTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ResetWaveformState();
        g_OutputLead = 0x1;
        g_RespirationEnabled = false;
        s_RespBaseline = 0;
    }
};

TEST_F(RelayTest, FixedThreeHundredMillivoltPathUsesBits6And1) {
    g_OutputLead = 0;
    g_DCVariable = false;
    g_DCSetting = 300;
    EXPECT_EQ(ComputeRelayConfiguration(false).relayWord, (1u << 1) | (1u << 6));
    g_DCSetting = -300;
    EXPECT_EQ(ComputeRelayConfiguration(false).relayWord, 1u << 6);
    EXPECT_EQ(ComputeRelayConfiguration(true).relayWord, (1u << 6) | (1u << 12))
        << "while playing a non-zero offset also sets bit 12";
}

TEST_F(RelayTest, VariableOffsetUsesTheDcConverterPath) {
    g_OutputLead = 0;
    g_DCVariable = true;
    g_DCSetting = 300;
    EXPECT_EQ(ComputeRelayConfiguration(false).relayWord, 1u << 2);
    g_DCSetting = 0;
    EXPECT_EQ(ComputeRelayConfiguration(false).relayWord, 0u);
}

TEST_F(RelayTest, LeadsCommonModeAndImpedanceBits) {
    g_DCSetting = 0;
    g_OutputLead = (1u << 3) | (1u << 8) | (1u << 7) | 1u;
    g_DCCommon = true;
    g_InputImpedance = false;
    const std::uint32_t expected =
        (1u << 19) | (1u << 9) | (1u << 8) | (1u << 16) | (1u << 0) | (1u << 5);
    EXPECT_EQ(ComputeRelayConfiguration(false).relayWord, expected);
}

TEST_F(RelayTest, OperateModeIsEightWhenOffAndThreeForTheEcg) {
    g_MainOutput = 0;
    EXPECT_EQ(ComputeRelayConfiguration(false).operateMode, 8);
    g_MainOutput = 1;
    EXPECT_EQ(ComputeRelayConfiguration(false).operateMode, 3);
}

TEST_F(RelayTest, RespirationDividesTheAcPathByTheBaselineAttenuation) {
    EXPECT_EQ(GetAttenuation(), 1.0);
    g_RespirationEnabled = true;
    s_RespBaseline = 1000;
    EXPECT_DOUBLE_EQ(GetAttenuation(), 9.534);
    EXPECT_EQ(GetAcDac(1.0 / GetAttenuation()), 167);
    s_RespBaseline = 1234;
    EXPECT_EQ(GetAttenuation(), 1.0);
}

}  // namespace
