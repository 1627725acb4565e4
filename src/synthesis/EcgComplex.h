// The ECG complexes: the QRS-and-T beat of output 7, the customised P-QRS-ST-T beat of output 14
// and the two JJG 1041 complexes of outputs 10 (notched R) and 11 (single R).
//
// Each beat is a piecewise function of the period position p (s) between time points that a
// change computes from the waveform state (ComputeEcgTimePoints, ComputeJJG1041Parameters);
// the per-sample functions only read them.
//
// Threads: the compute functions run where a change runs (an API thread under the API lock, or
// the play thread at a period end); the beat functions run on the play thread. Every value is
// a CRelaxed (see WaveformState.h), so a sample taken during a change sees each value whole.
#pragma once

#include "synthesis/WaveformState.h"

// --- Time points of outputs 7 and 14, s -----------------------------------------------------

// QRS width after shortening to the period.
extern CRelaxed<double> s_QRS;
// Output 7: R peak, S trough, end of QRS, start of T, end of T.
extern CRelaxed<double> s_t1;
extern CRelaxed<double> s_t2;
extern CRelaxed<double> s_t3;
extern CRelaxed<double> s_t4;
extern CRelaxed<double> s_t5;
// Output 14: end of P, start of QRS, R peak, S trough, ST level reached, start of T, end of T.
extern CRelaxed<double> s_Cus_t1;
extern CRelaxed<double> s_Cus_t2;
extern CRelaxed<double> s_Cus_t3;
extern CRelaxed<double> s_Cus_t4;
extern CRelaxed<double> s_Cus_t5;
extern CRelaxed<double> s_Cus_t6;
extern CRelaxed<double> s_Cus_t7;

// Segment lengths of one beat of output 7 or 14, s.
struct ECG_SEGMENTS {
    double qrs;       // QRS width, limited to the period
    double st;        // ST length of output 7
    double t;         // T length of output 7 (0.18, 0.16 or 0)
    double customST;  // ST length of output 14
    double customT;   // T length of output 14
};

// The shortening rules: QRS width q (s), period (s), QT interval and T duration (s) of the
// customised beat. Pure; ComputeEcgTimePoints applies it to the waveform state.
ECG_SEGMENTS ShortenEcgSegments(double qrs, double period, double qtInterval, double tDuration);

// Recomputes the time points of outputs 7 and 14 from g_F, g_QRSDuration, g_PDuration,
// g_PRInterval, g_QTInterval and g_TDuration.
void ComputeEcgTimePoints();

// Output 7 beat at p for R amplitude a (mV peak-to-peak): R peak 0.875 a, S trough -0.125 a,
// T a half sine of g_CusT.
double EcgBeatVoltage(double p, double a);
// Output 14 beat at p for R amplitude a: P half sine of g_CusP, QRS as output 7, ST level
// g_CusST, T half sine of g_CusT over the customised T length.
double CustomEcgBeatVoltage(double p, double a);

// --- JJG 1041 complexes (outputs 10 and 11) ---------------------------------------------------

// Time points (s), amplitudes (mV) and sine frequencies (Hz) of the JJG 1041 complex, for
// u = 0.75 / g_F and h = g_Amplitude / 2. The list names each field once; the stored copy is
// one CRelaxed<double> per field, s_<name>.
// clang-format off
#define TOLV_JJG1041_FIELDS(X)                                                                 \
    X(tP_End) X(tP_SinBegin) X(tP_SinEnd) X(P_SinFreq)                                         \
    X(tQ_Begin) X(tQ_End) X(tQ_Trough) X(tQ_ToTrough) X(tQ_FromTrough)                         \
    X(tR1_Crest) X(tR1_ToCrest) X(tR2_Crest) X(tR1_Trough) X(tR1_ToTrough) X(tR2_ToCrest)      \
    X(tR_End) X(tR2_ToTrough) X(tR_ToTrough)                                                   \
    X(tS_Trough) X(tS_ToTrough) X(tS_End)                                                      \
    X(tT_End) X(tT_SinBegin) X(T_SinFreq)                                                      \
    X(P_SinAmpOffset) X(P_SinHalfAmp)                                                          \
    X(aQ_Trough) X(aR1_Crest) X(aR_Trough) X(aR2_Crest) X(aS_Trough) X(aT_Trough)              \
    X(R1_Amp) X(R2_Amp)
// clang-format on

struct JJG1041_PARAMETERS {
#define TOLV_JJG1041_MEMBER(name) double name = 0.0;
    TOLV_JJG1041_FIELDS(TOLV_JJG1041_MEMBER)
#undef TOLV_JJG1041_MEMBER
};

#define TOLV_JJG1041_DECLARE(name) extern CRelaxed<double> s_##name;
TOLV_JJG1041_FIELDS(TOLV_JJG1041_DECLARE)
#undef TOLV_JJG1041_DECLARE

// The points and amplitudes for frequency f (Hz) and peak-to-peak amplitude (mV). Pure.
JJG1041_PARAMETERS MakeJJG1041Parameters(double f, double amplitude);
// Recomputes the JJG 1041 parameters from g_F and g_Amplitude.
void ComputeJJG1041Parameters();
// The complex at p with the parameters of the last ComputeJJG1041Parameters: notched R
// (doubleR, output 10) or single R (output 11).
double JJG1041Voltage(double p, bool doubleR);
// The complex at p for the given parameters. Pure.
double JJG1041VoltageOf(const JJG1041_PARAMETERS& j, double p, bool doubleR);
