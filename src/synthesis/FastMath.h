// Sine and exponential for the per-sample formulas: inline, branch-free over the arguments the
// waveforms use, and within one unit in the last place of the exact value (as the system
// library's own functions are). The reductions and kernels are the classic minimax ones of the
// freely distributable fdlibm: a three-part Cody-Waite reduction by pi/2 for the sine, a
// reduction by ln 2 and the rational kernel for the exponential. Arguments outside the fast
// range go to the standard library.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace fastmath {

// sin(x + y) for |x| <= pi/4, y a tail below half an ulp of x.
inline double KernelSin(double x, double y) {
    constexpr double S1 = -1.66666666666666324348e-01;
    constexpr double S2 = 8.33333333332248946124e-03;
    constexpr double S3 = -1.98412698298579493134e-04;
    constexpr double S4 = 2.75573137070700676789e-06;
    constexpr double S5 = -2.50507602534068634195e-08;
    constexpr double S6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double v = z * x;
    const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

// cos(x + y) for |x| <= pi/4.
inline double KernelCos(double x, double y) {
    constexpr double C1 = 4.16666666666666019037e-02;
    constexpr double C2 = -1.38888888888741095749e-03;
    constexpr double C3 = 2.48015872894767294178e-05;
    constexpr double C4 = -2.75573143513906633035e-07;
    constexpr double C5 = 2.08757232129817482790e-09;
    constexpr double C6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double r = z * (C1 + z * (C2 + z * (C3 + z * (C4 + z * (C5 + z * C6)))));
    const double hz = 0.5 * z;
    const double w = 1.0 - hz;
    return w + (((1.0 - w) - hz) + (z * r - x * y));
}

// Rounds to the nearest integer (ties to even) for |x| < 2^51, as a double.
constexpr double kRoundingShifter = 6755399441055744.0;  // 1.5 x 2^52

// Arguments of the fast sine: |x| below this (2^19 x pi/2, where the reduction keeps its bits).
constexpr double kSinFastLimit = 823549.0;
// Arguments of the fast exponential (normal results).
constexpr double kExpFastLow = -708.0;
constexpr double kExpFastHigh = 709.0;

constexpr double kInvPio2 = 6.36619772367581382433e-01;
constexpr double kPio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
constexpr double kPio2_2 = 6.07710050630396597660e-11;   // next 33 bits
constexpr double kPio2_2t = 2.02226624879595063154e-21;  // pi/2 - (kPio2_1 + kPio2_2)
constexpr double kPio2_3 = 2.02226624871116645580e-21;   // third 33 bits
constexpr double kPio2_3t = 8.47842766036889956997e-32;  // the rest

constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kExpP1 = 1.66666666666666019037e-01;
constexpr double kExpP2 = -2.77777777770155933842e-03;
constexpr double kExpP3 = 6.61375632143793436117e-05;
constexpr double kExpP4 = -1.65339022054652515390e-06;
constexpr double kExpP5 = 4.13813679705723846039e-08;

// sin(x) for |x| < kSinFastLimit.
inline double SinCore(double x) {
    const double shifted = x * kInvPio2 + kRoundingShifter;
    const double n = shifted - kRoundingShifter;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &shifted, sizeof bits);
    const unsigned quadrant = static_cast<unsigned>(bits) & 3u;
    double r = x - n * kPio2_1;
    double t = r;
    double w = n * kPio2_2;
    r = t - w;
    w = n * kPio2_2t - ((t - r) - w);
    t = r;
    w = n * kPio2_3;
    r = t - w;
    w = n * kPio2_3t - ((t - r) - w);
    const double y0 = r - w;
    const double y1 = (r - y0) - w;
    const double v = (quadrant & 1u) != 0 ? KernelCos(y0, y1) : KernelSin(y0, y1);
    return (quadrant & 2u) != 0 ? -v : v;
}

// exp(x) for kExpFastLow < x < kExpFastHigh.
inline double ExpCore(double x) {
    const double k = (x * kInvLn2 + kRoundingShifter) - kRoundingShifter;
    const double hi = x - k * kLn2Hi;
    const double lo = k * kLn2Lo;
    const double r = hi - lo;
    const double z = r * r;
    const double c = r - z * (kExpP1 + z * (kExpP2 + z * (kExpP3 + z * (kExpP4 + z * kExpP5))));
    const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    // 2^k, k in -1022 .. 1023 here.
    const std::uint64_t scaleBits = static_cast<std::uint64_t>(static_cast<std::int64_t>(k) + 1023)
                                    << 52;
    double scale = 0.0;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return y * scale;
}

inline double Sin(double x) {
    return std::fabs(x) < kSinFastLimit ? SinCore(x) : std::sin(x);
}

inline double Exp(double x) {
    // Results that are normal numbers; the rest (and NaN) go to the standard library.
    return x > kExpFastLow && x < kExpFastHigh ? ExpCore(x) : std::exp(x);
}

// In place, v[i] = SinCore(v[i]) and v[i] = ExpCore(v[i]) for arguments within the fast ranges,
// two at a time where the processor has SSE2 (the same operations in the same order, so the
// results are those of the scalar functions to the bit).
void SinArray(double* v, int n);
void ExpArray(double* v, int n);

// The waveforms over a run of samples, with p_i = PeriodPosition(i x step, period) of the play
// clock, i = 0 .. count - 1, the arguments within the fast ranges (the caller checks):
// out[i] = a x SinCore(w x p_i), and the decays out[i] = 2a x ExpCore(-p_i / tau) or, alternating,
// a x ExpCore(-p_i / tau) for p_i < 0.5 and -a x ExpCore(-(p_i - 0.5) / tau) after. Bit for bit
// what the per-sample formulas give.
void PeriodicSine(double* out, int count, double step, double period, double w, double a);
void PeriodicDecay(double* out, int count, double step, double period, double a, double tau,
                   bool alternating);

}  // namespace fastmath
