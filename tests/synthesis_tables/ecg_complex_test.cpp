// Known answers of the ECG complexes at hand-computed points, and the shortening rules.
#include <gtest/gtest.h>

#include <cmath>

#include "synthesis/EcgComplex.h"
#include "synthesis/WaveformState.h"

namespace {

constexpr double kEps = 1e-9;

class EcgComplexTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetWaveformState(); }
    void TearDown() override {
        ResetWaveformState();
        ComputeEcgTimePoints();
    }
};

// --- Shortening ---------------------------------------------------------------------------------

struct ShorteningCase {
    double qrs, period, qt, tDuration;
    double expQrs, expSt, expT, expCustomSt, expCustomT;
};

TEST(EcgShortening, Table) {
    const ShorteningCase cases[] = {
        // 60/min, QRS 100 ms: nothing shortened; QT 350 - 100 = 250 ms holds T 180 and ST 70.
        {0.100, 1.0, 0.350, 0.180, 0.100, 0.07, 0.18, 0.07, 0.18},
        // 200/min (0.3 s): 0.35 > 0.3 drops ST; 0.28 fits, T stays 0.18.
        {0.100, 0.3, 0.350, 0.180, 0.100, 0.0, 0.18, 0.07, 0.18},
        // 0.27 s: 0.28 > 0.27 shortens T to 0.16; 0.26 fits.
        {0.100, 0.27, 0.350, 0.180, 0.100, 0.0, 0.16, 0.07, 0.18},
        // 360/min: no ST and no T.
        {0.100, 1.0 / 6.0, 0.350, 0.180, 0.100, 0.0, 0.0, 0.07, 0.18},
        // QRS 200 ms at 6 Hz: Q is cut to the period; QT 350 leaves 183.3 ms for T 180 and ST.
        {0.200, 1.0 / 6.0, 0.350, 0.180, 1.0 / 6.0, 0.0, 0.0, 0.350 - 1.0 / 6.0 - 0.180, 0.180},
        // T duration 300 ms exceeds QT - QRS = 250 ms: neither ST nor T in output 14.
        {0.100, 1.0, 0.350, 0.300, 0.100, 0.07, 0.18, 0.0, 0.0},
        // T duration exactly QT - QRS: T fills it, no ST.
        {0.100, 1.0, 0.400, 0.300, 0.100, 0.07, 0.18, 0.0, 0.300},
    };
    for (const auto& c : cases) {
        const ECG_SEGMENTS s = ShortenEcgSegments(c.qrs, c.period, c.qt, c.tDuration);
        EXPECT_NEAR(s.qrs, c.expQrs, kEps) << c.qrs << " " << c.period;
        EXPECT_NEAR(s.st, c.expSt, kEps) << c.qrs << " " << c.period;
        EXPECT_NEAR(s.t, c.expT, kEps) << c.qrs << " " << c.period;
        EXPECT_NEAR(s.customST, c.expCustomSt, kEps) << c.qrs << " " << c.period;
        EXPECT_NEAR(s.customT, c.expCustomT, kEps) << c.qrs << " " << c.period;
    }
}

// --- Output 7 ------------------------------------------------------------------------------------

TEST_F(EcgComplexTest, Output7At60PerMinute) {
    g_F = 1.0;
    g_QRSDuration = 100.0;
    g_CusT = 0.2;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_t1, 0.05375, kEps);
    EXPECT_NEAR(s_t2, 0.10375, kEps);
    EXPECT_NEAR(s_t3, 0.11, kEps);
    EXPECT_NEAR(s_t4, 0.18, kEps);
    EXPECT_NEAR(s_t5, 0.36, kEps);
    struct {
        double p, v;
    } points[] = {
        {0.0, 0.0},
        {0.009, 0.0},
        {0.01, 0.0},
        {0.031875, 0.4375},   // half way up to the R peak
        {0.05375, 0.875},     // R peak
        {0.07875, 0.375},     // half way down: 0.875 - 0.5
        {0.10375, -0.125},    // S trough
        {0.106875, -0.0625},  // half way back
        {0.11, 0.0},
        {0.15, 0.0},  // ST segment
        {0.18, 0.0},
        {0.27, 0.2},                    // T peak
        {0.225, 0.2 * std::sqrt(0.5)},  // 45 degrees of the T sine
        {0.36, 0.0},
        {0.9, 0.0},
    };
    for (const auto& pt : points) EXPECT_NEAR(EcgBeatVoltage(pt.p, 1.0), pt.v, 1e-9) << pt.p;
    // The amplitude scales the QRS, not the T wave.
    EXPECT_NEAR(EcgBeatVoltage(0.05375, 2.0), 1.75, kEps);
    EXPECT_NEAR(EcgBeatVoltage(0.27, 2.0), 0.2, kEps);
}

TEST_F(EcgComplexTest, Output7At360PerMinuteHasNoSTAndNoT) {
    g_F = 6.0;
    g_QRSDuration = 100.0;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_t3, 0.11, kEps);
    EXPECT_NEAR(s_t4, 0.11, kEps);
    EXPECT_NEAR(s_t5, 0.11, kEps);
    EXPECT_NEAR(EcgBeatVoltage(0.05375, 1.0), 0.875, kEps);
    EXPECT_EQ(EcgBeatVoltage(0.12, 1.0), 0.0);
    EXPECT_EQ(EcgBeatVoltage(0.16, 1.0), 0.0);
}

TEST_F(EcgComplexTest, Output7ShortTStopsAt16Hundredths) {
    g_F = 1.0 / 0.27;
    g_QRSDuration = 100.0;
    g_CusT = 1.0;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_t4, 0.11, kEps);
    EXPECT_NEAR(s_t5, 0.27, kEps);
    // Just before the end: sin(2 pi 0.1599 / 0.36); after it 0.
    EXPECT_NEAR(EcgBeatVoltage(0.2699, 1.0), std::sin(2 * M_PI * 0.1599 / 0.36), 1e-9);
    EXPECT_NEAR(std::sin(2 * M_PI * 0.16 / 0.36), 0.34202, 1e-5);
    EXPECT_EQ(EcgBeatVoltage(0.2701, 1.0), 0.0);
}

TEST_F(EcgComplexTest, Output7WideQRSIsCutToThePeriod) {
    g_F = 6.0;
    g_QRSDuration = 200.0;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_QRS, 1.0 / 6.0, kEps);
    EXPECT_NEAR(s_t1, 0.01 + 0.4375 / 6.0, kEps);
    EXPECT_NEAR(s_t3, 0.01 + 1.0 / 6.0, kEps);
}

// --- Output 14 -----------------------------------------------------------------------------------

TEST_F(EcgComplexTest, Output14DefaultBeat) {
    ComputeEcgTimePoints();  // P 100, PR 160, QRS 100, QT 350, T 180, P and T 0.2 mV, ST 0
    EXPECT_NEAR(s_Cus_t1, 0.10, kEps);
    EXPECT_NEAR(s_Cus_t2, 0.16, kEps);
    EXPECT_NEAR(s_Cus_t3, 0.20375, kEps);
    EXPECT_NEAR(s_Cus_t4, 0.25375, kEps);
    EXPECT_NEAR(s_Cus_t5, 0.26, kEps);
    EXPECT_NEAR(s_Cus_t6, 0.33, kEps);
    EXPECT_NEAR(s_Cus_t7, 0.51, kEps);
    struct {
        double p, v;
    } points[] = {
        {0.0, 0.0},
        {0.05, 0.2},  // P peak
        {0.025, 0.2 * std::sqrt(0.5)},
        {0.13, 0.0},  // PR segment
        {0.16, 0.0},
        {0.181875, 0.4375},
        {0.20375, 0.875},
        {0.25375, -0.125},
        {0.256875, -0.0625},
        {0.3, 0.0},
        {0.42, 0.2},  // T peak half way through T
        {0.51, 0.0},
        {0.8, 0.0},
    };
    for (const auto& pt : points) EXPECT_NEAR(CustomEcgBeatVoltage(pt.p, 1.0), pt.v, 1e-9) << pt.p;
}

TEST_F(EcgComplexTest, Output14WithAnSTLevel) {
    g_CusST = 0.1;
    ComputeEcgTimePoints();
    // From the S trough straight to the ST level: half way is (-0.125 + 0.1) / 2.
    EXPECT_NEAR(CustomEcgBeatVoltage(0.256875, 1.0), -0.0125, 1e-9);
    EXPECT_NEAR(CustomEcgBeatVoltage(0.3, 1.0), 0.1, kEps);
    // First part of T rises from the ST level: 0.1 + 0.1 sin(pi/4).
    EXPECT_NEAR(CustomEcgBeatVoltage(0.375, 1.0), 0.1 + 0.1 * std::sqrt(0.5), 1e-9);
    // The last 90 ms follow the unshifted half sine: 0.2 sin(3 pi / 4).
    EXPECT_NEAR(CustomEcgBeatVoltage(0.465, 1.0), 0.2 * std::sqrt(0.5), 1e-9);
}

TEST_F(EcgComplexTest, Output14LongTDurationLeavesNoSTAndNoT) {
    g_TDuration = 300.0;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_Cus_t6, 0.26, kEps);
    EXPECT_NEAR(s_Cus_t7, 0.26, kEps);
    EXPECT_EQ(CustomEcgBeatVoltage(0.3, 1.0), 0.0);
}

TEST_F(EcgComplexTest, Output14PLongerThanPR) {
    g_PDuration = 100.0;
    g_PRInterval = 60.0;
    ComputeEcgTimePoints();
    EXPECT_NEAR(s_Cus_t2, 0.06, kEps);
    // Still the P wave at 99 ms: 0.2 sin(0.99 pi).
    EXPECT_NEAR(CustomEcgBeatVoltage(0.099, 1.0), 0.2 * std::sin(0.99 * M_PI), 1e-9);
    // At 0.1 s the up-stroke begun at 0.06 s has reached 0.8 A and continues.
    EXPECT_NEAR(CustomEcgBeatVoltage(0.1, 1.0), 0.8, 1e-9);
    EXPECT_NEAR(CustomEcgBeatVoltage(0.1, 2.0), 1.6, 1e-9);
    EXPECT_NEAR(CustomEcgBeatVoltage(0.10375, 1.0), 0.875, 1e-9);
}

// --- JJG 1041 ------------------------------------------------------------------------------------

TEST(JJG1041, PointsAt1HzAnd2mV) {
    const JJG1041_PARAMETERS j = MakeJJG1041Parameters(1.0, 2.0);
    EXPECT_NEAR(j.tP_End, 0.099525, kEps);
    EXPECT_NEAR(j.tP_SinBegin, 0.012440625, kEps);
    EXPECT_NEAR(j.tQ_Begin, 0.123975, kEps);
    EXPECT_NEAR(j.tQ_Trough, 0.1319625, kEps);
    EXPECT_NEAR(j.tR1_Crest, 0.156, kEps);
    EXPECT_NEAR(j.tR1_Trough, 0.1677375, kEps);
    EXPECT_NEAR(j.tR2_Crest, 0.179475, kEps);
    EXPECT_NEAR(j.tR_End, 0.195, kEps);
    EXPECT_NEAR(j.tS_End, 0.351975, kEps);
    EXPECT_NEAR(j.tS_Trough, 0.247325, kEps);
    EXPECT_NEAR(j.tT_End, 0.510975, kEps);
    EXPECT_NEAR(j.tT_SinBegin, 0.510975 - 0.159 / 0.908, kEps);
    EXPECT_NEAR(j.P_SinAmpOffset, 0.215, kEps);
    EXPECT_NEAR(j.P_SinHalfAmp, 0.019, kEps);
}

TEST(JJG1041, ShapesOfBothVariants) {
    const JJG1041_PARAMETERS j = MakeJJG1041Parameters(1.0, 2.0);
    const double tMin = (0.510975 + (0.510975 - 0.159 / 0.908)) / 2.0;
    struct {
        double p, doubleR, singleR;
    } points[] = {
        {0.0, 0.0, 0.0},
        {0.0062203125, 0.1075, 0.1075},                         // half way up the P ramp
        {0.012440625, 0.215, 0.215},                            // P plateau reached
        {0.110, 0.0, 0.0},                                      // between P and Q
        {0.1319625, -0.394, -0.394},                            // Q trough
        {0.156, 1.605, 1.605},                                  // R1 crest
        {0.1677375, 0.716, 1.605 - 1.605 * 0.0117375 / 0.039},  // notch / straight fall
        {0.1755, 0.948792, 0.8025},  // half way from R1 crest to the end of R (single)
        {0.179475, 1.068, 1.605 - 1.605 * 0.023475 / 0.039},  // R2 crest
        {0.195, 0.0, 0.0},                                    // end of R
        {0.3, -0.116, -0.116},                                // S level
        {tMin, -0.408, -0.408},                               // T lobe minimum
        {0.52, 0.0, 0.0},                                     // complex over
        {0.9, 0.0, 0.0},
    };
    for (const auto& pt : points) {
        EXPECT_NEAR(JJG1041VoltageOf(j, pt.p, true), pt.doubleR, 2e-6) << pt.p;
        EXPECT_NEAR(JJG1041VoltageOf(j, pt.p, false), pt.singleR, 2e-6) << pt.p;
    }
    // The T sine starts next to the S level: -0.408 sin(0.092 pi) = -0.1163.
    EXPECT_NEAR(JJG1041VoltageOf(j, 0.351975, true), -0.408 * std::sin(0.092 * M_PI), 1e-9);
    EXPECT_NEAR(JJG1041VoltageOf(j, 0.351975, true), -0.1163, 1e-4);
}

TEST(JJG1041, ScalesWithPeriodAndAmplitude) {
    // At 2 Hz every point halves; at 4 mV every value doubles.
    const JJG1041_PARAMETERS j = MakeJJG1041Parameters(2.0, 4.0);
    EXPECT_NEAR(j.tR1_Crest, 0.078, kEps);
    EXPECT_NEAR(JJG1041VoltageOf(j, 0.078, true), 3.21, kEps);
    EXPECT_NEAR(JJG1041VoltageOf(j, 0.15, true), -0.232, kEps);
}

TEST_F(EcgComplexTest, StoredParametersFollowTheWaveformState) {
    g_F = 1.0;
    g_Amplitude = 2.0;
    ComputeJJG1041Parameters();
    EXPECT_NEAR(s_tR1_Crest, 0.156, kEps);
    EXPECT_NEAR(JJG1041Voltage(0.156, true), 1.605, kEps);
    EXPECT_NEAR(JJG1041Voltage(0.1755, false), 0.8025, 1e-9);
    g_Amplitude = 1.0;
    ComputeJJG1041Parameters();
    EXPECT_NEAR(JJG1041Voltage(0.156, true), 0.8025, kEps);
}

}  // namespace
