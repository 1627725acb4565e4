// The array forms of the fast sine and exponential: SSE2 where the processor has it, two values
// per instruction, with exactly the operations of the scalar cores (no fused multiply-add), so
// that an array and a sample computed alone agree to the bit.
#include "synthesis/FastMath.h"

#include "synthesis/PlayClock.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TOLVAN_FASTMATH_SSE2 1
#endif
// Four at a time where the processor has AVX2 (chosen at run time; GCC and Clang on x86).
#if defined(TOLVAN_FASTMATH_SSE2) && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TOLVAN_FASTMATH_AVX2 1
#define TOLVAN_AVX2 __attribute__((target("avx2")))
#endif

namespace fastmath {

#if defined(TOLVAN_FASTMATH_SSE2)
namespace {

inline __m128d Set(double v) {
    return _mm_set1_pd(v);
}

// Lanes whose low 32 bits of `bits` have `flag` set: all ones, else zero.
inline __m128d FlagMask(__m128i bits, int flag) {
    const __m128i want = _mm_set1_epi32(flag);
    const __m128i low = _mm_shuffle_epi32(_mm_and_si128(bits, want), _MM_SHUFFLE(2, 2, 0, 0));
    return _mm_castsi128_pd(_mm_cmpeq_epi32(low, want));
}

inline __m128d Select(__m128d mask, __m128d ifSet, __m128d ifClear) {
    return _mm_or_pd(_mm_and_pd(mask, ifSet), _mm_andnot_pd(mask, ifClear));
}

__m128d KernelSin2(__m128d x, __m128d y) {
    const __m128d z = _mm_mul_pd(x, x);
    const __m128d v = _mm_mul_pd(z, x);
    __m128d r = _mm_add_pd(Set(-2.50507602534068634195e-08),
                           _mm_mul_pd(z, Set(1.58969099521155010221e-10)));
    r = _mm_add_pd(Set(2.75573137070700676789e-06), _mm_mul_pd(z, r));
    r = _mm_add_pd(Set(-1.98412698298579493134e-04), _mm_mul_pd(z, r));
    r = _mm_add_pd(Set(8.33333333332248946124e-03), _mm_mul_pd(z, r));
    // x - ((z * (0.5 * y - v * r) - y) - v * S1)
    const __m128d inner = _mm_sub_pd(_mm_mul_pd(Set(0.5), y), _mm_mul_pd(v, r));
    const __m128d outer = _mm_sub_pd(_mm_mul_pd(z, inner), y);
    return _mm_sub_pd(x, _mm_sub_pd(outer, _mm_mul_pd(v, Set(-1.66666666666666324348e-01))));
}

__m128d KernelCos2(__m128d x, __m128d y) {
    const __m128d z = _mm_mul_pd(x, x);
    __m128d r = _mm_add_pd(Set(2.08757232129817482790e-09),
                           _mm_mul_pd(z, Set(-1.13596475577881948265e-11)));
    r = _mm_add_pd(Set(-2.75573143513906633035e-07), _mm_mul_pd(z, r));
    r = _mm_add_pd(Set(2.48015872894767294178e-05), _mm_mul_pd(z, r));
    r = _mm_add_pd(Set(-1.38888888888741095749e-03), _mm_mul_pd(z, r));
    r = _mm_add_pd(Set(4.16666666666666019037e-02), _mm_mul_pd(z, r));
    r = _mm_mul_pd(z, r);
    const __m128d hz = _mm_mul_pd(Set(0.5), z);
    const __m128d w = _mm_sub_pd(Set(1.0), hz);
    // w + (((1 - w) - hz) + (z * r - x * y))
    const __m128d a = _mm_sub_pd(_mm_sub_pd(Set(1.0), w), hz);
    const __m128d b = _mm_sub_pd(_mm_mul_pd(z, r), _mm_mul_pd(x, y));
    return _mm_add_pd(w, _mm_add_pd(a, b));
}

__m128d Sin2(__m128d x) {
    const __m128d shifted = _mm_add_pd(_mm_mul_pd(x, Set(kInvPio2)), Set(kRoundingShifter));
    const __m128d n = _mm_sub_pd(shifted, Set(kRoundingShifter));
    const __m128i bits = _mm_castpd_si128(shifted);
    __m128d r = _mm_sub_pd(x, _mm_mul_pd(n, Set(kPio2_1)));
    __m128d t = r;
    __m128d w = _mm_mul_pd(n, Set(kPio2_2));
    r = _mm_sub_pd(t, w);
    w = _mm_sub_pd(_mm_mul_pd(n, Set(kPio2_2t)), _mm_sub_pd(_mm_sub_pd(t, r), w));
    t = r;
    w = _mm_mul_pd(n, Set(kPio2_3));
    r = _mm_sub_pd(t, w);
    w = _mm_sub_pd(_mm_mul_pd(n, Set(kPio2_3t)), _mm_sub_pd(_mm_sub_pd(t, r), w));
    const __m128d y0 = _mm_sub_pd(r, w);
    const __m128d y1 = _mm_sub_pd(_mm_sub_pd(r, y0), w);
    const __m128d v = Select(FlagMask(bits, 1), KernelCos2(y0, y1), KernelSin2(y0, y1));
    const __m128d sign = _mm_and_pd(FlagMask(bits, 2), Set(-0.0));
    return _mm_xor_pd(v, sign);
}

__m128d Exp2(__m128d x) {
    const __m128d k = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(x, Set(kInvLn2)), Set(kRoundingShifter)),
                                 Set(kRoundingShifter));
    const __m128d hi = _mm_sub_pd(x, _mm_mul_pd(k, Set(kLn2Hi)));
    const __m128d lo = _mm_mul_pd(k, Set(kLn2Lo));
    const __m128d r = _mm_sub_pd(hi, lo);
    const __m128d z = _mm_mul_pd(r, r);
    __m128d p = _mm_add_pd(Set(kExpP4), _mm_mul_pd(z, Set(kExpP5)));
    p = _mm_add_pd(Set(kExpP3), _mm_mul_pd(z, p));
    p = _mm_add_pd(Set(kExpP2), _mm_mul_pd(z, p));
    p = _mm_add_pd(Set(kExpP1), _mm_mul_pd(z, p));
    const __m128d c = _mm_sub_pd(r, _mm_mul_pd(z, p));
    // 1 - ((lo - (r * c) / (2 - c)) - hi)
    const __m128d q = _mm_div_pd(_mm_mul_pd(r, c), _mm_sub_pd(Set(2.0), c));
    const __m128d y = _mm_sub_pd(Set(1.0), _mm_sub_pd(_mm_sub_pd(lo, q), hi));
    // 2^k: k + 1023 lands in the low mantissa bits of the shifter; moved up to the exponent.
    const __m128d biased = _mm_add_pd(_mm_add_pd(k, Set(1023.0)), Set(kRoundingShifter));
    const __m128d scale = _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(biased), 52));
    return _mm_mul_pd(y, scale);
}

#if defined(TOLVAN_FASTMATH_AVX2)
TOLVAN_AVX2 inline __m256d Set4(double v) {
    return _mm256_set1_pd(v);
}

TOLVAN_AVX2 inline __m256d FlagMask4(__m256i bits, int flag) {
    const __m256i want = _mm256_set1_epi32(flag);
    const __m256i low = _mm256_shuffle_epi32(_mm256_and_si256(bits, want), _MM_SHUFFLE(2, 2, 0, 0));
    return _mm256_castsi256_pd(_mm256_cmpeq_epi32(low, want));
}

TOLVAN_AVX2 inline __m256d Select4(__m256d mask, __m256d ifSet, __m256d ifClear) {
    return _mm256_or_pd(_mm256_and_pd(mask, ifSet), _mm256_andnot_pd(mask, ifClear));
}

TOLVAN_AVX2 __m256d KernelSin4(__m256d x, __m256d y) {
    const __m256d z = _mm256_mul_pd(x, x);
    const __m256d v = _mm256_mul_pd(z, x);
    __m256d r = _mm256_add_pd(Set4(-2.50507602534068634195e-08),
                              _mm256_mul_pd(z, Set4(1.58969099521155010221e-10)));
    r = _mm256_add_pd(Set4(2.75573137070700676789e-06), _mm256_mul_pd(z, r));
    r = _mm256_add_pd(Set4(-1.98412698298579493134e-04), _mm256_mul_pd(z, r));
    r = _mm256_add_pd(Set4(8.33333333332248946124e-03), _mm256_mul_pd(z, r));
    const __m256d inner = _mm256_sub_pd(_mm256_mul_pd(Set4(0.5), y), _mm256_mul_pd(v, r));
    const __m256d outer = _mm256_sub_pd(_mm256_mul_pd(z, inner), y);
    return _mm256_sub_pd(x,
                         _mm256_sub_pd(outer, _mm256_mul_pd(v, Set4(-1.66666666666666324348e-01))));
}

TOLVAN_AVX2 __m256d KernelCos4(__m256d x, __m256d y) {
    const __m256d z = _mm256_mul_pd(x, x);
    __m256d r = _mm256_add_pd(Set4(2.08757232129817482790e-09),
                              _mm256_mul_pd(z, Set4(-1.13596475577881948265e-11)));
    r = _mm256_add_pd(Set4(-2.75573143513906633035e-07), _mm256_mul_pd(z, r));
    r = _mm256_add_pd(Set4(2.48015872894767294178e-05), _mm256_mul_pd(z, r));
    r = _mm256_add_pd(Set4(-1.38888888888741095749e-03), _mm256_mul_pd(z, r));
    r = _mm256_add_pd(Set4(4.16666666666666019037e-02), _mm256_mul_pd(z, r));
    r = _mm256_mul_pd(z, r);
    const __m256d hz = _mm256_mul_pd(Set4(0.5), z);
    const __m256d w = _mm256_sub_pd(Set4(1.0), hz);
    const __m256d a = _mm256_sub_pd(_mm256_sub_pd(Set4(1.0), w), hz);
    const __m256d b = _mm256_sub_pd(_mm256_mul_pd(z, r), _mm256_mul_pd(x, y));
    return _mm256_add_pd(w, _mm256_add_pd(a, b));
}

TOLVAN_AVX2 __m256d Sin4(__m256d x) {
    const __m256d shifted = _mm256_add_pd(_mm256_mul_pd(x, Set4(kInvPio2)), Set4(kRoundingShifter));
    const __m256d n = _mm256_sub_pd(shifted, Set4(kRoundingShifter));
    const __m256i bits = _mm256_castpd_si256(shifted);
    __m256d r = _mm256_sub_pd(x, _mm256_mul_pd(n, Set4(kPio2_1)));
    __m256d t = r;
    __m256d w = _mm256_mul_pd(n, Set4(kPio2_2));
    r = _mm256_sub_pd(t, w);
    w = _mm256_sub_pd(_mm256_mul_pd(n, Set4(kPio2_2t)), _mm256_sub_pd(_mm256_sub_pd(t, r), w));
    t = r;
    w = _mm256_mul_pd(n, Set4(kPio2_3));
    r = _mm256_sub_pd(t, w);
    w = _mm256_sub_pd(_mm256_mul_pd(n, Set4(kPio2_3t)), _mm256_sub_pd(_mm256_sub_pd(t, r), w));
    const __m256d y0 = _mm256_sub_pd(r, w);
    const __m256d y1 = _mm256_sub_pd(_mm256_sub_pd(r, y0), w);
    const __m256d v = Select4(FlagMask4(bits, 1), KernelCos4(y0, y1), KernelSin4(y0, y1));
    return _mm256_xor_pd(v, _mm256_and_pd(FlagMask4(bits, 2), Set4(-0.0)));
}

TOLVAN_AVX2 __m256d Exp4(__m256d x) {
    const __m256d k =
        _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(x, Set4(kInvLn2)), Set4(kRoundingShifter)),
                      Set4(kRoundingShifter));
    const __m256d hi = _mm256_sub_pd(x, _mm256_mul_pd(k, Set4(kLn2Hi)));
    const __m256d lo = _mm256_mul_pd(k, Set4(kLn2Lo));
    const __m256d r = _mm256_sub_pd(hi, lo);
    const __m256d z = _mm256_mul_pd(r, r);
    __m256d p = _mm256_add_pd(Set4(kExpP4), _mm256_mul_pd(z, Set4(kExpP5)));
    p = _mm256_add_pd(Set4(kExpP3), _mm256_mul_pd(z, p));
    p = _mm256_add_pd(Set4(kExpP2), _mm256_mul_pd(z, p));
    p = _mm256_add_pd(Set4(kExpP1), _mm256_mul_pd(z, p));
    const __m256d c = _mm256_sub_pd(r, _mm256_mul_pd(z, p));
    const __m256d q = _mm256_div_pd(_mm256_mul_pd(r, c), _mm256_sub_pd(Set4(2.0), c));
    const __m256d y = _mm256_sub_pd(Set4(1.0), _mm256_sub_pd(_mm256_sub_pd(lo, q), hi));
    const __m256d biased = _mm256_add_pd(_mm256_add_pd(k, Set4(1023.0)), Set4(kRoundingShifter));
    const __m256d scale = _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(biased), 52));
    return _mm256_mul_pd(y, scale);
}

// Whole groups of four; returns how many values it did.
TOLVAN_AVX2 int SinArray4(double* v, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) _mm256_storeu_pd(v + i, Sin4(_mm256_loadu_pd(v + i)));
    return i;
}

TOLVAN_AVX2 int ExpArray4(double* v, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) _mm256_storeu_pd(v + i, Exp4(_mm256_loadu_pd(v + i)));
    return i;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2") != 0;
    return have;
}
#endif

}  // namespace

void SinArray(double* v, int n) {
    int i = 0;
#if defined(TOLVAN_FASTMATH_AVX2)
    if (HaveAvx2()) i = SinArray4(v, n);
#endif
    for (; i + 2 <= n; i += 2) _mm_storeu_pd(v + i, Sin2(_mm_loadu_pd(v + i)));
    for (; i < n; ++i) v[i] = SinCore(v[i]);
}

void ExpArray(double* v, int n) {
    int i = 0;
#if defined(TOLVAN_FASTMATH_AVX2)
    if (HaveAvx2()) i = ExpArray4(v, n);
#endif
    for (; i + 2 <= n; i += 2) _mm_storeu_pd(v + i, Exp2(_mm_loadu_pd(v + i)));
    for (; i < n; ++i) v[i] = ExpCore(v[i]);
}

#else

void SinArray(double* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = SinCore(v[i]);
}

void ExpArray(double* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = ExpCore(v[i]);
}

#endif

// Positions first (a tight scalar loop), then the sine or exponential over the block (two at a
// time), then the amplitude: each step is the per-sample formula's own operation.
void PeriodicSine(double* out, int count, double step, double period, double w, double a) {
    for (int i = 0; i < count; ++i) out[i] = w * PeriodPosition(i * step, period);
    SinArray(out, count);
    for (int i = 0; i < count; ++i) out[i] = a * out[i];
}

void PeriodicDecay(double* out, int count, double step, double period, double a, double tau,
                   bool alternating) {
    constexpr int kBlock = 256;
    double scale[kBlock];
    for (int first = 0; first < count; first += kBlock) {
        const int n = count - first < kBlock ? count - first : kBlock;
        double* block = out + first;
        for (int i = 0; i < n; ++i) {
            const double p = PeriodPosition((first + i) * step, period);
            if (!alternating) {
                block[i] = -p / tau;
                scale[i] = 2.0 * a;
            } else if (p < 0.5) {
                block[i] = -p / tau;
                scale[i] = a;
            } else {
                block[i] = -(p - 0.5) / tau;
                scale[i] = -a;
            }
        }
        ExpArray(block, n);
        for (int i = 0; i < n; ++i) block[i] = scale[i] * block[i];
    }
}

}  // namespace fastmath
