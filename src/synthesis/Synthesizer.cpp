#include "synthesis/Synthesizer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "session/Defaults.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/MathConstants.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SynthesisHooks.h"

namespace {

// Frequency ceilings applied at a change, Hz.
constexpr double kDefaultCeiling = 500.0;
constexpr double kPulseCeiling = 5.0;
constexpr double kECGCeiling = 6.0;
// Edge time of the rectangular pulse and time constant of the decays, s.
constexpr double kPulseEdge = 0.001;
constexpr double kDecayTimeConstant = 0.05;
// The dynamic-range test keeps amplitude + test amplitude within this peak, mV.
constexpr double kDynamicRangePeak = 20.0;
constexpr double kTriangleTestLimit = 5.0;
constexpr double kSquareTestLimit = 20.0;
// Output 15: the test window from 20 s to 1220 s of play time, tested on the play time itself;
// inside it a DC step at each half second, the instants taken on a 0.1 ms grid so that the
// stepping does not depend on where the samples fall; -300 mV outside the window.
constexpr double kInputRangeStart = 20.0;
constexpr double kInputRangeEnd = 1220.0;
constexpr long long kInputRangeTicksPerSecond = 10000;
constexpr long long kInputRangeStepTicks = kInputRangeTicksPerSecond / 2;
// Half-second indices (two instants per second) of the last instant before the window (the
// 20 s instant is the first to step) and of the last instant inside it (1219.5 s: a sample that
// the summed play clock leaves a hair short of 1220 s takes no step towards the end).
constexpr int kInputRangeIndexBeforeWindow = static_cast<int>(2.0 * kInputRangeStart) - 1;
constexpr int kInputRangeLastIndex = static_cast<int>(2.0 * kInputRangeEnd) - 1;
constexpr double kInputRangeLevel = -300.0;
constexpr double kInputRangeStep = 0.5;
// Mains interference: the frequencies of selectors 1 to 8, Hz; selector 9 is random noise.
constexpr double kMainsFrequencies[] = {50.0, 60.0, 100.0, 120.0, 150.0, 180.0, 200.0, 240.0};
constexpr int kRandomMainsSelector = 9;
// Baseline-reset test: DC sine amplitude in mV, and the frequencies of modes 1 to 4, Hz.
constexpr double kBaselineResetAmplitude = 500.0;
constexpr double kBaselineResetFrequencies[] = {50.0, 60.0, 80.0, 100.0};

// Output 15 bookkeeping between samples: the half-second index of the last instant stepped,
// and whether the -300 mV level has been reported before and after the window.
CRelaxed<int> s_InputDynamicRangeStepIndex{kInputRangeIndexBeforeWindow};
CRelaxed<bool> s_InputDynamicRangeStartReported{false};
CRelaxed<bool> s_InputDynamicRangeEndReported{false};

// Generator of the random mains selector: xorshift32, one word of state. Only the sample path
// uses it (one thread at a time), so a relaxed load and store suffice.
CRelaxed<std::uint32_t> s_NoiseState{0x2545F491u};

// Uniform in 0 .. 2147483647.
std::int32_t NextNoiseValue() {
    std::uint32_t x = s_NoiseState;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s_NoiseState = x;
    return static_cast<std::int32_t>(x >> 1);
}

// Frequency of selector 1..N from a table of N; 0 for 0 and any other selector (off).
template <std::size_t N>
double SelectedFrequency(int selector, const double (&frequencies)[N]) {
    if (selector < 1 || selector > static_cast<int>(N)) return 0.0;
    return frequencies[selector - 1];
}

double Clamp(double v, double low, double high) {
    if (v < low) return low;
    if (v > high) return high;
    return v;
}

// Period of the selected output function after the frequency is settled; keeps 1/g_F when a
// table or recording reports no length.
double PeriodOf(int output, double f) {
    double period = 1.0 / f;
    switch (output) {
        case OUTPUT_YY1079_DYNAMIC_RANGE:
            return 2.0 * (g_YY1079DynamicRangeMaxVoltage - g_YY1079DynamicRangeMinVoltage) /
                   g_YY1079DynamicRangeSlope;
        case OUTPUT_IEC251:
        case OUTPUT_ANE20000:
            // One second; asking the tables also loads one that is not built in.
            GetStandardWaveformPeriod(output);
            return 1.0;
        case OUTPUT_IEC227:
        case OUTPUT_IEC247: {
            const double length = GetStandardWaveformPeriod(output);
            if (length > 0.0) period = length;
            return period;
        }
        case OUTPUT_ECG_FILE: {
            const double length = GetRecordingPeriod();
            if (length > 0.0) period = length;
            return period;
        }
        default:
            return period;
    }
}

// The dynamic-range test sine added to outputs 2 and 3, mV.
double DynamicRangeSine() {
    return g_ADynamicRange / 2.0 * std::sin(kTwoPi * g_FDynamicRange * s_t);
}

double Triangle(double p, double a, double period) {
    const double k = 4.0 * a / period;
    if (p < period / 4.0) return k * p;
    if (p < 3.0 * period / 4.0) return 2.0 * a - k * p;
    return k * p - 4.0 * a;
}

double Pulse(double p, double a, double width) {
    const double top = 2.0 * a;
    if (p < kPulseEdge) return top * p / kPulseEdge;
    if (p < width) return top;
    if (p < width + kPulseEdge) return top - (p - width) * top / kPulseEdge;
    return 0.0;
}

double TrianglePulse(double p, double a, double width, double delay) {
    const double k = 4.0 * a / width;
    if (p < delay) return 0.0;
    if (p < delay + width / 2.0) return (p - delay) * k;
    if (p < delay + width) return 4.0 * a - (p - delay) * k;
    return 0.0;
}

double AlternatingDecay(double p, double a) {
    if (p < 0.5) return a * std::exp(-p / kDecayTimeConstant);
    return -a * std::exp(-(p - 0.5) / kDecayTimeConstant);
}

// Play time in 0.1 ms ticks, rounded, for output 15.
long long InputRangeTicks(double t) {
    return static_cast<long long>(0.5 + static_cast<double>(kInputRangeTicksPerSecond) * t);
}

// Output 15, AC path: a ramp of -1 mV/s inside the window, restarted at every DC step (+1 mV/s
// on a sample that falls exactly on the window's start).
double InputDynamicRangeAC() {
    const double t = s_t;
    if (t < kInputRangeStart || t >= kInputRangeEnd) return 0.0;
    const double step = 1.0 / s_SynthesisRate;
    s_InputDynamicRangeAC += t <= kInputRangeStart ? step : -step;
    return s_InputDynamicRangeAC;
}

// Triangular drift of a peak-to-peak over period L, starting at 0 and rising, at s_t.
double DriftVoltage() {
    const double length = g_AAMIDriftTestWaveLen;
    if (!(length > 0.0)) return 0.0;
    const double a = g_AAMIDriftTestAmp;
    const double k = g_AAMIDriftTestSlope;
    const double u = PeriodPosition(s_t, length);
    if (u < g_AAMIDriftTestWaveLenQuad) return k * u;
    if (u < g_AAMIDriftTestWaveLenQuad3) return a - k * u;
    return k * u - 2.0 * a;
}

}  // namespace

CRelaxed<double> s_A{defaults::kAmplitude / 2};
CRelaxed<double> s_PW{defaults::kPulseWidth / 1000};
CRelaxed<double> s_Range{g_RangeV4Ch2On};
CRelaxed<double> s_PacDelayTP{0.0};
CRelaxed<double> s_InputDynamicRangeDC{kInputRangeLevel};
CRelaxed<double> s_InputDynamicRangeAC{0.0};
CRelaxed<double> s_FreqMod_Phase{0.0};
CRelaxed<int> s_SynthesisRate{defaults::kSampleRate};

void DeriveSynthesisValues() {
    DeriveSynthesisValuesAt(playback::SampleRate());
}

void DeriveSynthesisValuesAt(int sampleRate) {
    if (sampleRate > 0) s_SynthesisRate = sampleRate;
    const int output = g_MainOutput;

    // Amplitude half and the frequency ceiling of the output function.
    double a = g_Amplitude / 2.0;
    double ceiling = kDefaultCeiling;
    switch (output) {
        case OUTPUT_EXP_ALTERNATING:
            g_F = 1.0;
            g_PulseWidth = 50.0;
            break;
        case OUTPUT_PULSE:
        case OUTPUT_TRIANGLE_PULSE:
        case OUTPUT_EXP_DECAY:
            ceiling = kPulseCeiling;
            break;
        case OUTPUT_ECG:
        case OUTPUT_CUSTOM_ECG:
            ceiling = kECGCeiling;
            a = g_Amplitude;
            break;
        default:
            break;
    }
    if (g_F > ceiling) {
        g_F = ceiling;
        if (TOLV_SYNC_FREQUENCY_CALLBACK callback = g_SyncFreqCB) callback(ceiling);
    }

    SetSynthesisPeriod(PeriodOf(output, g_F));

    // The dynamic-range test keeps the form and its test sine within 20 mV peak.
    if (g_DynamicRangeTest && a + g_ADynamicRange / 2.0 > kDynamicRangePeak) {
        a = kDynamicRangePeak - g_ADynamicRange / 2.0;
        g_Amplitude = std::floor(100.0 * (2.0 * a) + 0.5) / 100.0;
    }
    s_A = a;
    s_PW = g_PulseWidth / 1000.0;

    _CheckECGTime();

    s_PacDelayTP = g_PA != 0.0 ? 0.01 : 0.0;
    DerivePacingSchedule();

    if (output == OUTPUT_JJG1041_DOUBLE_R || output == OUTPUT_JJG1041_SINGLE_R) {
        _SetJJG1041Parameters();
    }

    s_InputDynamicRangeDC = kInputRangeLevel;
    s_InputDynamicRangeAC = 0.0;
    s_InputDynamicRangeStepIndex = kInputRangeIndexBeforeWindow;
    s_InputDynamicRangeStartReported = false;
    s_InputDynamicRangeEndReported = false;

    s_Range = (g_PA > 0.0 || g_DCVariable) ? g_RangeV4Ch2On : g_RangeV4Ch2Off;
}

double _GetMainFunctionVoltage(double p) {
    const double a = s_A;
    const int output = g_MainOutput;
    // Outputs 7 and 14 note their beat where the breathing has moved it.
    if (GroundTruthOn() && output != OUTPUT_ECG && output != OUTPUT_CUSTOM_ECG) {
        NoteBeatTruth(output, p, a);
    }
    switch (output) {
        case OUTPUT_SINE:
            return a * std::sin(kTwoPi * g_F * p);
        case OUTPUT_TRIANGLE: {
            const double v = Triangle(p, a, s_tp);
            if (!g_DynamicRangeTest) return v;
            return Clamp(v + DynamicRangeSine(), -kTriangleTestLimit, kTriangleTestLimit);
        }
        case OUTPUT_SQUARE: {
            const double v = p < s_tp / 2.0 ? a : -a;
            if (!g_DynamicRangeTest) return v;
            return Clamp(v + DynamicRangeSine(), -kSquareTestLimit, kSquareTestLimit);
        }
        case OUTPUT_PULSE:
            return Pulse(p, a, s_PW);
        case OUTPUT_TRIANGLE_PULSE:
            return TrianglePulse(p, a, s_PW, s_PacDelayTP);
        case OUTPUT_EXP_DECAY:
            return 2.0 * a * std::exp(-p / kDecayTimeConstant);
        case OUTPUT_ECG:
            return GetModulatedBeatVoltage(p, GetECGBeatVoltage);
        case OUTPUT_CUSTOM_ECG:
            return GetModulatedBeatVoltage(p, GetCustomECGBeatVoltage);
        case OUTPUT_IEC227:
        case OUTPUT_IEC251:
        case OUTPUT_IEC247:
            _CheckStandardLoop();
            return GetStandardWaveformVoltage(output, p);
        case OUTPUT_ANE20000:
            _CheckStandardLoop();
            return GetStandardWaveformVoltage(OUTPUT_ANE20000, p) + GetVoltageNoiseAmplitude();
        case OUTPUT_JJG1041_DOUBLE_R:
            return GetJJG1041Voltage(p, true);
        case OUTPUT_JJG1041_SINGLE_R:
            return GetJJG1041Voltage(p, false);
        case OUTPUT_EXP_ALTERNATING:
            return AlternatingDecay(p, a);
        case OUTPUT_ECG_FILE:
            _CheckFileLoop();
            return GetRecordingVoltage(p);
        case OUTPUT_INPUT_DYNAMIC_RANGE:
            return InputDynamicRangeAC();
        case OUTPUT_YY1079_DYNAMIC_RANGE: {
            const double v = getYY1079DynamicRangeVoltage(p);
            return v - std::trunc(v);
        }
        default:
            return 0.0;
    }
}

namespace {

// out[i] = form(PeriodPosition(i * step, period)) for i = 0 .. count - 1: the per-sample path's
// positions and values, in one tight loop.
template <typename Form>
void RenderForm(double* out, int count, double step, double period, Form form) {
    for (int i = 0; i < count; ++i) out[i] = form(PeriodPosition(i * step, period));
}

}  // namespace

bool RenderBasicFunction(double* out, int count, int sampleRate) {
    if (out == nullptr || count < 1 || sampleRate < 1) return false;
    const int output = g_MainOutput;
    // The dynamic-range test adds a sine of the play time to the triangle and the square: those
    // take the per-sample path.
    if (g_DynamicRangeTest && (output == OUTPUT_TRIANGLE || output == OUTPUT_SQUARE)) return false;
    const double a = s_A;
    const double period = s_tp;
    const double step = 1.0 / sampleRate;
    switch (output) {
        case OUTPUT_SINE: {
            const double w = kTwoPi * g_F;
            RenderForm(out, count, step, period, [=](double p) { return a * std::sin(w * p); });
            return true;
        }
        case OUTPUT_TRIANGLE:
            RenderForm(out, count, step, period, [=](double p) { return Triangle(p, a, period); });
            return true;
        case OUTPUT_SQUARE:
            RenderForm(out, count, step, period,
                       [=](double p) { return p < period / 2.0 ? a : -a; });
            return true;
        case OUTPUT_PULSE: {
            const double width = s_PW;
            RenderForm(out, count, step, period, [=](double p) { return Pulse(p, a, width); });
            return true;
        }
        case OUTPUT_TRIANGLE_PULSE: {
            const double width = s_PW;
            const double delay = s_PacDelayTP;
            RenderForm(out, count, step, period,
                       [=](double p) { return TrianglePulse(p, a, width, delay); });
            return true;
        }
        case OUTPUT_EXP_DECAY:
            RenderForm(out, count, step, period,
                       [=](double p) { return 2.0 * a * std::exp(-p / kDecayTimeConstant); });
            return true;
        case OUTPUT_EXP_ALTERNATING:
            RenderForm(out, count, step, period, [=](double p) { return AlternatingDecay(p, a); });
            return true;
        default:
            return false;
    }
}

double GetModulatedBeatVoltage(double p, BeatFunction beat) {
    const double m = GetRespirationVoltage();
    const double period = s_tp;
    const double rate = s_SynthesisRate;

    // The beat rate follows the breathing; the period itself stays. While the modulation is
    // off the phase tracks p, so switching it on continues from the current position.
    const double freqMod = s_FreqModHz;
    if (freqMod != 0.0 && s_t >= 1.0 / rate) {
        double phase = s_FreqMod_Phase + (g_F + freqMod * m) / rate;
        phase -= std::trunc(phase);
        s_FreqMod_Phase = phase;
        p = period * phase;
    } else {
        s_FreqMod_Phase = period > 0.0 ? p / period : 0.0;
    }

    double a = s_A;
    const double ampMod = s_AmpModV;
    if (ampMod != 0.0) a += ampMod * m;
    if (GroundTruthOn()) NoteBeatTruth(g_MainOutput, p, a);

    double v = beat(p, a);
    const double baselineMod = s_BaselineModV;
    if (baselineMod != 0.0) v += baselineMod * m;
    v += GetVoltageNoiseAmplitude();
    if (g_AAMIDriftTest) v += DriftVoltage();
    const double range = s_Range;
    return Clamp(v, -range, range);
}

double GetVoltageNoiseAmplitude() {
    const double n = g_MainsNoiseAmp;
    const int selector = g_MainNoise;
    if (selector == kRandomMainsSelector) {
        return n * (2.0 * NextNoiseValue() / 2147483647.0 - 1.0) * 0.5;
    }
    const double f = SelectedFrequency(selector, kMainsFrequencies);
    if (f == 0.0) return 0.0;
    return n / 2.0 * std::sin(kTwoPi * f * s_t);
}

double _GetBaselineOverload(double p) {
    const double f = SelectedFrequency(g_BaseLineOverload, kBaselineResetFrequencies);
    if (f == 0.0) return 0.0;
    return kBaselineResetAmplitude * std::sin(kTwoPi * f * p);
}

double getYY1079DynamicRangeVoltage(double p) {
    const double half = (g_YY1079DynamicRangeMaxVoltage - g_YY1079DynamicRangeMinVoltage) /
                        g_YY1079DynamicRangeSlope;
    if (p < half) return g_YY1079DynamicRangeMinVoltage + g_YY1079DynamicRangeSlope * p;
    return g_YY1079DynamicRangeMaxVoltage - g_YY1079DynamicRangeSlope * (p - half);
}

double GetInputDynamicRangeDC() {
    const double t = s_t;
    if (t < kInputRangeStart || t >= kInputRangeEnd) {
        CRelaxed<bool>& reported = t < kInputRangeStart ? s_InputDynamicRangeStartReported
                                                        : s_InputDynamicRangeEndReported;
        if (!reported) {
            reported = true;
            if (TOLV_SYNC_DC_OFFSET_CALLBACK callback = g_SyncDCOffsetCB) {
                callback(static_cast<int>(kInputRangeLevel));
            }
        }
        return kInputRangeLevel;
    }
    // One step at the first sample at or after each half-second instant from 20 s to 1219.5 s;
    // a sample that repeats a time point finds its instant already stepped. After a change
    // inside the window the instants already passed are stepped at once, so the level resumes
    // where the staircase stands.
    const int index =
        std::min(static_cast<int>(InputRangeTicks(t) / kInputRangeStepTicks), kInputRangeLastIndex);
    const int last = s_InputDynamicRangeStepIndex;
    if (index > last) {
        s_InputDynamicRangeStepIndex = index;
        const double step = t <= kInputRangeStart ? kInputRangeStep : -kInputRangeStep;
        s_InputDynamicRangeDC += step * static_cast<double>(index - last);
        s_InputDynamicRangeAC = 0.0;
        if (TOLV_SYNC_DC_OFFSET_CALLBACK callback = g_SyncDCOffsetCB) {
            callback(static_cast<int>(std::trunc(s_InputDynamicRangeDC)));
        }
    }
    return s_InputDynamicRangeDC;
}

namespace {

// The output function ended at a loop check and its switch-off is still to be done. Set on the
// thread that runs the synthesizer (play thread, timer tick or offline renderer), taken by the
// same thread after the packet or the render.
CRelaxed<bool> s_oneShotEnded{false};

void StopAfterOnePeriod(bool looping) {
    if (looping || !(s_t > s_tp)) return;
    if (TOLV_STANDARD_STOP_CALLBACK callback = g_StandardStopCB) callback();
    // The output stops at this sample, as a stop leaves it: function 0, play time 0. The rest of
    // the switch-off (journal line, end of playback, switch-off commands) is no work for the
    // sample path; the caller does it once the packet is complete.
    g_MainOutput = OUTPUT_OFF;
    ResetSynthesisTime();
    s_oneShotEnded = true;
}

}  // namespace

bool OneShotEndPending() {
    return s_oneShotEnded;
}

bool TakeOneShotEnd() {
    const bool ended = s_oneShotEnded;
    s_oneShotEnded = false;
    return ended;
}

void _CheckStandardLoop() {
    StopAfterOnePeriod(s_loopPlay);
}

void _CheckFileLoop() {
    StopAfterOnePeriod(s_loopFile);
}
