#include "synthesis/EcgComplex.h"

#include <cmath>

#include "session/Defaults.h"
#include "synthesis/MathConstants.h"

namespace {

// Output 7: QRS onset, ST and T lengths before shortening, the shortened T, the T sine period.
constexpr double kQRSOnset = 0.01;
constexpr double kSTLength = 0.07;
constexpr double kTLength = 0.18;
constexpr double kShortTLength = 0.16;
constexpr double kTSinePeriod = 0.36;
// Fractions of the QRS width: onset to R peak, R peak to S trough, S trough to end.
constexpr double kToRPeak = 0.4375;
constexpr double kToSTrough = 0.5;
constexpr double kToQRSEnd = 0.0625;
// R peak and S trough as fractions of the amplitude.
constexpr double kRPeak = 0.875;
constexpr double kSTrough = 0.125;
// Output 14 with an ST level: the last part of T, s, follows the unshifted half sine.
constexpr double kTReturn = 0.09;

}  // namespace

CRelaxed<double> s_QRS{defaults::kQRSDuration / 1000};
CRelaxed<double> s_t1{0.0};
CRelaxed<double> s_t2{0.0};
CRelaxed<double> s_t3{0.0};
CRelaxed<double> s_t4{0.0};
CRelaxed<double> s_t5{0.0};
CRelaxed<double> s_Cus_t1{0.0};
CRelaxed<double> s_Cus_t2{0.0};
CRelaxed<double> s_Cus_t3{0.0};
CRelaxed<double> s_Cus_t4{0.0};
CRelaxed<double> s_Cus_t5{0.0};
CRelaxed<double> s_Cus_t6{0.0};
CRelaxed<double> s_Cus_t7{0.0};

#define TOLV_JJG1041_DEFINE(name) CRelaxed<double> s_##name{0.0};
TOLV_JJG1041_FIELDS(TOLV_JJG1041_DEFINE)
#undef TOLV_JJG1041_DEFINE

ECG_SEGMENTS ShortenEcgSegments(double qrs, double period, double qtInterval, double tDuration) {
    ECG_SEGMENTS s{qrs, kSTLength, kTLength, 0.0, 0.0};
    if (qrs + kSTLength + kTLength > period) {
        s.st = 0.0;
        if (qrs + kTLength > period) {
            s.t = kShortTLength;
            if (qrs + kShortTLength > period) {
                s.t = 0.0;
                if (qrs > period) s.qrs = period;
            }
        }
    }
    // The customised beat fits ST and T between the QRS and the end of the QT interval.
    const double room = qtInterval - s.qrs;
    if (tDuration <= room) {
        s.customT = tDuration;
        s.customST = room - tDuration;
    }
    return s;
}

void ComputeEcgTimePoints() {
    const double f = g_F;
    const double period = f > 0.0 ? 1.0 / f : 0.0;
    const ECG_SEGMENTS s = ShortenEcgSegments(g_QRSDuration / 1000.0, period, g_QTInterval / 1000.0,
                                              g_TDuration / 1000.0);
    const double q = s.qrs;
    s_QRS = q;
    s_t1 = kQRSOnset + kToRPeak * q;
    s_t2 = s_t1 + kToSTrough * q;
    s_t3 = s_t2 + kToQRSEnd * q;
    s_t4 = s_t3 + s.st;
    s_t5 = s_t4 + s.t;

    s_Cus_t1 = g_PDuration / 1000.0;
    s_Cus_t2 = s_Cus_t1 + (g_PRInterval - g_PDuration) / 1000.0;
    s_Cus_t3 = s_Cus_t2 + kToRPeak * q;
    s_Cus_t4 = s_Cus_t3 + kToSTrough * q;
    s_Cus_t5 = s_Cus_t4 + kToQRSEnd * q;
    s_Cus_t6 = s_Cus_t5 + s.customST;
    s_Cus_t7 = s_Cus_t6 + s.customT;
}

double EcgBeatVoltage(double p, double a) {
    if (p < kQRSOnset) return 0.0;
    const double t1 = s_t1;
    if (p < t1) return kRPeak * a * (p - kQRSOnset) / (t1 - kQRSOnset);
    const double t2 = s_t2;
    if (p < t2) return (kRPeak - (p - t1) / (t2 - t1)) * a;
    const double t3 = s_t3;
    if (p < t3) return ((p - t2) * kSTrough / (t3 - t2) - kSTrough) * a;
    const double t4 = s_t4;
    if (p < t4) return 0.0;
    if (p < s_t5) return g_CusT * std::sin(kTwoPi * (p - t4) / kTSinePeriod);
    return 0.0;
}

double CustomEcgBeatVoltage(double p, double a) {
    const double t1 = s_Cus_t1;
    if (p < t1) return g_CusP * std::sin(kTwoPi * p / (0.002 * g_PDuration));
    const double t2 = s_Cus_t2;
    if (p < t2) return 0.0;
    const double t3 = s_Cus_t3;
    if (p < t3) return kRPeak * (p - t2) / (t3 - t2) * a;
    const double t4 = s_Cus_t4;
    if (p < t4) return (kRPeak - (p - t3) / (t4 - t3)) * a;
    const double st = g_CusST;
    const double t5 = s_Cus_t5;
    if (p < t5) return (p - t4) * (a / 8.0 + st) / (t5 - t4) - a / 8.0;
    const double t6 = s_Cus_t6;
    if (p < t6) return st;
    const double t7 = s_Cus_t7;
    if (p < t7) {
        const double w = std::sin(kTwoPi * (p - t6) / (2.0 * (t7 - t6)));
        const double t = g_CusT;
        if (st != 0.0 && p < t7 - kTReturn) return st + (t - st) * w;
        return t * w;
    }
    return 0.0;
}

JJG1041_PARAMETERS MakeJJG1041Parameters(double f, double amplitude) {
    JJG1041_PARAMETERS j;
    const double u = 0.75 / f;
    const double h = amplitude / 2.0;

    j.tP_End = 0.1327 * u;
    j.tP_SinBegin = j.tP_End / 8.0;
    j.tP_SinEnd = 7.0 * j.tP_End / 8.0;
    j.P_SinFreq = 1.5 / (j.tP_SinEnd - j.tP_SinBegin);

    j.tQ_Begin = j.tP_End + (0.1653 * u - j.tP_End);
    j.tQ_End = j.tQ_Begin + 0.0213 * u;
    j.tQ_Trough = (j.tQ_Begin + j.tQ_End) / 2.0;
    j.tQ_ToTrough = j.tQ_Trough - j.tQ_Begin;
    j.tQ_FromTrough = j.tQ_End - j.tQ_Trough;

    j.tR1_Crest = j.tQ_Begin + 0.0427 * u;
    j.tR1_ToCrest = j.tR1_Crest - j.tQ_End;
    j.tR2_Crest = j.tQ_Begin + 0.074 * u;
    j.tR1_Trough = (j.tR1_Crest + j.tR2_Crest) / 2.0;
    j.tR1_ToTrough = j.tR1_Trough - j.tR1_Crest;
    j.tR2_ToCrest = j.tR2_Crest - j.tR1_Trough;
    j.tR_End = j.tQ_Begin + 0.0947 * u;
    j.tR2_ToTrough = j.tR_End - j.tR2_Crest;
    j.tR_ToTrough = j.tR_End - j.tR1_Crest;

    j.tT_End = j.tQ_Begin + 0.516 * u;
    j.tS_End = j.tT_End - 0.212 * u;
    j.tS_Trough = j.tR_End + (j.tS_End - j.tR_End) / 3.0;
    j.tS_ToTrough = j.tS_Trough - j.tR_End;
    j.tT_SinBegin = j.tT_End - 0.212 * u / 0.908;
    j.T_SinFreq = 0.5 / (j.tT_End - j.tT_SinBegin);

    j.P_SinAmpOffset = (0.234 * h + 0.196 * h) / 2.0;
    j.P_SinHalfAmp = (0.234 * h - 0.196 * h) / 2.0;
    j.aQ_Trough = -0.394 * h;
    j.aR1_Crest = 1.605 * h;
    j.aR_Trough = 0.716 * h;
    j.aR2_Crest = 1.068 * h;
    j.aS_Trough = -0.116 * h;
    j.aT_Trough = -0.408 * h;
    j.R1_Amp = j.aR1_Crest - j.aR_Trough;
    j.R2_Amp = j.aR2_Crest - j.aR_Trough;
    return j;
}

void ComputeJJG1041Parameters() {
    const double f = g_F;
    if (!(f > 0.0)) return;
    const JJG1041_PARAMETERS j = MakeJJG1041Parameters(f, g_Amplitude);
#define TOLV_JJG1041_STORE(name) s_##name = j.name;
    TOLV_JJG1041_FIELDS(TOLV_JJG1041_STORE)
#undef TOLV_JJG1041_STORE
}

double JJG1041Voltage(double p, bool doubleR) {
    JJG1041_PARAMETERS j;
#define TOLV_JJG1041_LOAD(name) j.name = s_##name;
    TOLV_JJG1041_FIELDS(TOLV_JJG1041_LOAD)
#undef TOLV_JJG1041_LOAD
    return JJG1041VoltageOf(j, p, doubleR);
}

double JJG1041VoltageOf(const JJG1041_PARAMETERS& j, double p, bool doubleR) {
    if (p < j.tP_SinBegin) return j.P_SinAmpOffset * p / j.tP_SinBegin;
    if (p < j.tP_SinEnd) {
        return j.P_SinAmpOffset +
               j.P_SinHalfAmp * std::sin(kTwoPi * j.P_SinFreq * (p - j.tP_SinBegin));
    }
    if (p < j.tP_End)
        return j.P_SinAmpOffset - j.P_SinAmpOffset * (p - j.tP_SinEnd) / j.tP_SinBegin;
    if (p < j.tQ_Begin) return 0.0;
    if (p < j.tQ_Trough) return j.aQ_Trough * (p - j.tQ_Begin) / j.tQ_ToTrough;
    if (p < j.tQ_End) return j.aQ_Trough - j.aQ_Trough * (p - j.tQ_Trough) / j.tQ_FromTrough;
    if (p < j.tR1_Crest) return j.aR1_Crest * (p - j.tQ_End) / j.tR1_ToCrest;
    if (p < j.tR_End && !doubleR) {
        // Single R: a straight fall from the R1 crest to 0 at the end of R.
        return j.aR1_Crest - j.aR1_Crest * (p - j.tR1_Crest) / j.tR_ToTrough;
    }
    if (p < j.tR1_Trough) return j.aR1_Crest - j.R1_Amp * (p - j.tR1_Crest) / j.tR1_ToTrough;
    if (p < j.tR2_Crest) return j.aR_Trough + j.R2_Amp * (p - j.tR1_Trough) / j.tR2_ToCrest;
    if (p < j.tR_End) return j.aR2_Crest - j.aR2_Crest * (p - j.tR2_Crest) / j.tR2_ToTrough;
    if (p < j.tS_Trough) return j.aS_Trough * (p - j.tR_End) / j.tS_ToTrough;
    if (p < j.tS_End) return j.aS_Trough;
    if (p < j.tT_End)
        return -j.aT_Trough * std::sin(kPi + kTwoPi * j.T_SinFreq * (p - j.tT_SinBegin));
    return 0.0;
}
