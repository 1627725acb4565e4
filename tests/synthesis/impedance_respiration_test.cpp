// Impedance respiration without a device: the module's breathing resistance, the potentiometer
// codes that make it, the baseline list, the apnoea window and the recorded respiration.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <vector>

#include "support/OfflineSession.h"
#include "synthesis/ImpedanceRespiration.h"
#include "synthesis/Respiration.h"
#include "tolvan.h"

namespace {

class ImpedanceRespirationTest : public OfflineSessionTest<> {
  protected:
    void TearDown() override { TOLVReset(); }
};

// The resistance the three codes make: potentiometers 1 and 2 in series with k0 and k1, in
// parallel with step c[2] of potentiometer 3.
double ParallelOhms(const EXT_RESPIRATION_DATA& d, const std::uint16_t c[3]) {
    return 1.0 / (1.0 / (d.coef[0] + c[0] * 20000.0 / 1024.0) +
                  1.0 / (d.coef[1] + c[1] * 20000.0 / 1024.0) + 1.0 / d.rdac3[c[2]]);
}

TEST_F(ImpedanceRespirationTest, BreathRisesOneOhmInOneSecondAndFallsBackInTwo) {
    // V = 1000 mOhm, rate 20 (P = 3 s), ratio 2: inhalation 1 s, exhalation 2 s.
    s_RespVariation = 1000;
    s_RespPeriod = 3.0;
    s_RespRatio = 1;
    const EXT_RESPIRATION_DATA data;
    struct Point {
        double t, ohms;
    };
    const double mid = 50.5;
    for (const Point& p : {Point{0.0, 50.0}, Point{0.5, mid}, Point{1.0, 51.0}, Point{2.0, mid},
                           Point{3.0, 50.0}, Point{4.0, 51.0}, Point{5.0, mid}}) {
        EXPECT_NEAR(CalculateECGExtRespiration(p.t, data), p.ohms, 1e-9) << "t = " << p.t;
    }
    // Rising throughout the inhalation, falling throughout the exhalation.
    for (int i = 1; i < 300; ++i) {
        const double t = i / 100.0;
        const double d =
            CalculateECGExtRespiration(t, data) - CalculateECGExtRespiration(t - 0.01, data);
        EXPECT_EQ(d > 0.0, i <= 100) << "t = " << t;
    }
    // Mode 1: constant 50 + V/1000.
    g_nECGExtRespirationMode = 1;
    EXPECT_DOUBLE_EQ(CalculateECGExtRespiration(0.7, data), 51.0);
}

TEST_F(ImpedanceRespirationTest, ThreeCodesInParallelMakeTheResistance) {
    EXT_RESPIRATION_DATA data;
    data.coef[0] = 110.5;
    data.coef[1] = 111.0;
    data.coef[2] = 109.5;
    for (int k = 0; k < kExtRespRDAC3Steps; ++k) data.rdac3[k] = 66.0 + 0.4 * k;
    for (double r = 50.0; r <= 60.0; r += 0.25) {
        std::uint16_t c[3];
        ExtRespGetAmplitudeDAC(r, data, c);
        EXPECT_EQ(c[2], static_cast<int>(std::trunc((r - 50.0) * 6.0 + 10.0 - 9.5 / 21.0)));
        EXPECT_LE(c[1], 1023);
        EXPECT_LE(c[0], 1023);
        EXPECT_NEAR(ParallelOhms(data, c), r, 0.02) << "r = " << r;
    }
    // Steps beyond the table are held at 95; a resistance below 50 wraps to a high step too.
    std::uint16_t c[3];
    ExtRespGetAmplitudeDAC(80.0, data, c);
    EXPECT_EQ(c[2], 95);
    ExtRespGetAmplitudeDAC(40.0, data, c);
    EXPECT_EQ(c[2], 95);
    // An uncalibrated module (all steps 0 ohms) still gives codes within range.
    ExtRespGetAmplitudeDAC(50.5, EXT_RESPIRATION_DATA{}, c);
    EXPECT_LE(c[0], 1023);
    EXPECT_LE(c[1], 1023);
}

// Known answers of the device's rule, worked out by hand (a script) for unequal series
// resistors: 59.947 ohms is where taking the trimming branch as 20 kOhm plus k0 instead of k1
// would give other codes.
TEST_F(ImpedanceRespirationTest, PotentiometerCodesFollowTheDevicesRule) {
    EXT_RESPIRATION_DATA data;
    data.coef[0] = 130.0;
    data.coef[1] = 90.0;
    data.coef[2] = 109.5;
    for (int k = 0; k < kExtRespRDAC3Steps; ++k) data.rdac3[k] = 66.0 + 0.4 * k;
    const struct {
        double ohms;
        std::uint16_t codes[3];
    } cases[] = {{50.0, {162, 5, 9}},
                 {50.5, {140, 5, 12}},
                 {53.7, {89, 5, 31}},
                 {58.2, {73, 5, 58}},
                 {59.947, {70, 5, 69}}};
    for (const auto& c : cases) {
        std::uint16_t got[3];
        ExtRespGetAmplitudeDAC(c.ohms, data, got);
        EXPECT_EQ(got[0], c.codes[0]) << c.ohms;
        EXPECT_EQ(got[1], c.codes[1]) << c.ohms;
        EXPECT_EQ(got[2], c.codes[2]) << c.ohms;
    }
}

TEST_F(ImpedanceRespirationTest, BaselineListAndApnoeaWindow) {
    // Without the module: 500..2500 in steps of 500 are selections 0..4; anything else is 0.
    const int baselines[][2] = {{500, 0}, {1000, 1}, {1200, 0}, {2500, 4}, {100, 0}, {3000, 0}};
    for (const auto& b : baselines) EXPECT_EQ(GetRespiratoryBaselineSelection(b[0]), b[1]) << b[0];
    s_ApneaTime = 10;
    const int seconds[][2] = {{0, 0},  {49, 0},  {50, 1},  {59, 1},
                              {60, 0}, {110, 1}, {119, 1}, {120, 0}};
    for (const auto& s : seconds) EXPECT_EQ(ApneaWantedAt(s[0]), s[1] == 1) << s[0];
    s_ApneaTime = 0;
    EXPECT_FALSE(ApneaWantedAt(59));
    s_ApneaTime = 60;
    EXPECT_TRUE(ApneaWantedAt(0));
}

TEST_F(ImpedanceRespirationTest, SettingsNeedADeviceAndRecordedRespirationIsKeptOnRefusal) {
    EXPECT_FALSE(TOLVSetRespiration(1000, 20, 2, 1000, 0));  // no device port open
    int v = -1, rate = -1, ratio = -1, baseline = -1, apnea = -1;
    ASSERT_TRUE(TOLVGetRespiration(&v, &rate, &ratio, &baseline, &apnea));
    EXPECT_EQ(v + rate + baseline + apnea, 0);
    EXPECT_FALSE(TOLVGetRespiration(&v, nullptr, &ratio, &baseline, &apnea));

    const std::vector<double> breath = {0.0, 2.0, 4.0, 12.0, -1.0};
    ASSERT_TRUE(TOLVSetRespirationRawData(breath.data(), 5, 10));
    const double other[] = {1.0};
    EXPECT_FALSE(TOLVSetRespirationRawData(other, 1, 0));
    EXPECT_FALSE(TOLVSetRespirationRawData(other, 0, 10));
    EXPECT_FALSE(TOLVSetRespirationRawData(nullptr, 1, 10));
    int sampleRate = 0;
    EXPECT_EQ(TOLVGetRespirationRawData(&sampleRate), 5);
    EXPECT_EQ(sampleRate, 10);
    // Played at 10 samples/s, looping every 0.5 s, limited to 0..10 ohms above 50.
    const auto data = CurrentExtRespiration();
    const double expected[][2] = {{0.0, 50.0},  {0.15, 52.0}, {0.25, 54.0},
                                  {0.35, 60.0}, {0.45, 50.0}, {0.65, 52.0}};
    for (const auto& e : expected) {
        EXPECT_DOUBLE_EQ(CalculateECGExtRespiration(e[0], *data), e[1]) << e[0];
    }
    ClearRawArray();
    EXPECT_EQ(TOLVGetRespirationRawData(nullptr), 0);
}

TEST_F(ImpedanceRespirationTest, ResetAndSwitchingOffRestoreEveryField) {
    s_RespVariation = 500;
    s_RespFreq = 12;
    s_RespPeriod = 5.0;
    s_RespRatio = 3;
    s_RespBaseline = 1000;
    s_RespBaselineSelection = 1;
    s_ApneaTime = 10;
    g_nECGExtRespirationMode = 1;
    g_nECGExtRespirationBaselineDAC = 77;
    TOLVEnableRespiration(false);
    EXPECT_EQ(s_RespVariation + s_RespFreq + s_RespRatio + s_RespBaseline +
                  s_RespBaselineSelection + s_ApneaTime + g_nECGExtRespirationMode +
                  g_nECGExtRespirationBaselineDAC,
              0);
    EXPECT_EQ(s_RespPeriod, 0.0);
    const double one[] = {3.0};
    ASSERT_TRUE(TOLVSetRespirationRawData(one, 1, 100));
    s_Apnea_On = true;
    TOLVReset();
    EXPECT_FALSE(s_Apnea_On);
    EXPECT_EQ(TOLVGetRespirationRawData(nullptr), 0);
}

}  // namespace
