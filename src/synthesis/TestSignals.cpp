#include "synthesis/TestSignals.h"

#include <cmath>

#include "platform/NoThrow.h"
#include "session/Defaults.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SetterPattern.h"
#include "tolvan.h"

namespace {
// Values at load of the scan fields.
// The ECG scan: 0.05 Hz (3 beats/min) to 0.5 Hz (30 beats/min) in 30 s.
constexpr double kEcgScanStart = 0.05;
constexpr double kEcgScanStop = 0.5;
constexpr double kEcgScanSeconds = 30.0;
// The baseline-reset setter waits this long after releasing the API lock.
constexpr unsigned kBaselineResetSettleMs = 100;

void ReportMainFunction(int function) {
    if (TOLV_SYNC_MAIN_FUNCTION_CALLBACK callback = g_SyncMainFuncCB) callback(function);
}

void ReportFrequency(double frequency) {
    if (TOLV_SYNC_FREQUENCY_CALLBACK callback = g_SyncFreqCB) callback(frequency);
}

// Frequency step per sample of a scan from start to stop in the given seconds.
double ScanStep(double start, double stop, double seconds) {
    const int rate = playback::SampleRate();
    return (stop - start) / seconds / (rate > 0 ? rate : defaults::kSampleRate);
}
}  // namespace

CRelaxed<double> g_Fstart{defaults::kScanStartFrequency};
CRelaxed<double> g_Ffinal{defaults::kScanStopFrequency};
CRelaxed<int> g_Fduration{defaults::kScanDuration};
CRelaxed<bool> g_FreqScan1{false};
CRelaxed<bool> g_FreqScan3{false};
CRelaxed<double> s_Fd{0.0};

void ResetTestSignalState() {
    g_Fstart = defaults::kScanStartFrequency;
    g_Ffinal = defaults::kScanStopFrequency;
    g_Fduration = defaults::kScanDuration;
    g_FreqScan1 = false;
    g_FreqScan3 = false;
    s_FreqScanOn = false;
    s_Fd = 0.0;
}

void DoSetBaselineResetTest(int mode) {
    _outputLog("TOLVSetBaselineResetTest(%d);", mode);
    if (mode == g_BaseLineOverload) return;
    if (TOLV_BASELINE_RESET_CALLBACK callback = g_BaselineResetCB) callback(mode);
    if (mode != 0) g_MainOutput = OUTPUT_SINE;
    g_BaseLineOverload = mode;
    playback::RequestChange();
}

void DoSetFrequencyScanSine(bool enable, int duration, double start, double stop) {
    _outputLog("TOLVSetFrequencyScanSine(%s, %.2f, %.2f, %.0f);", JournalBool(enable), start, stop,
               static_cast<double>(duration));
    g_Fstart = start;
    g_Ffinal = stop;
    g_Fduration = duration;
    if (enable) {
        s_Fd = ScanStep(start, stop, duration);
        g_F = start;
        g_FreqScan1 = true;
        s_FreqScanOn = true;
        g_MainOutput = OUTPUT_SINE;
        ReportMainFunction(OUTPUT_SINE);
        playback::RequestChange();
    } else if (g_MainOutput != OUTPUT_OFF) {
        g_MainOutput = OUTPUT_OFF;
        ReportMainFunction(OUTPUT_OFF);
        playback::RequestChange();
    }
}

void DoSetFrequencyScanECG(bool enable) {
    _outputLog("SetFreqScanECG(%s);", JournalBool(enable));
    if (enable) {
        g_Fstart = kEcgScanStart;
        g_Ffinal = kEcgScanStop;
        s_Fd = ScanStep(kEcgScanStart, kEcgScanStop, kEcgScanSeconds);
        g_F = kEcgScanStart;
        g_FreqScan3 = true;
        s_FreqScanOn = true;
        g_MainOutput = OUTPUT_ECG;
        ReportMainFunction(OUTPUT_ECG);
    } else {
        g_MainOutput = OUTPUT_OFF;
        ReportMainFunction(OUTPUT_OFF);
    }
    playback::RequestChange();
}

void ClearFrequencyScans() {
    s_FreqScanOn = false;
    g_FreqScan1 = false;
    g_FreqScan3 = false;
}

void _UpdateFreqScanIfRequired() {
    if (!s_FreqScanOn || g_MainOutput == OUTPUT_OFF) return;
    const double frequency = g_F;
    ReportFrequency(frequency);
    const double rounded = std::floor(0.5 + 100000.0 * frequency) / 100000.0;
    if (rounded >= g_Fstart && rounded <= g_Ffinal) return;
    ReportFrequency(-1.0);
    if (g_FreqScan1) DoSetFrequencyScanSine(false, g_Fduration, g_Fstart, g_Ffinal);
    if (g_FreqScan3) DoSetFrequencyScanECG(false);
}

extern "C" {

TOLV_API int TOLVSetBaselineResetTest(int mode) {
    const int result = RunSetter([&] {
        DoSetBaselineResetTest(mode);
        return 0;
    });
    if (result == 0) SleepEx(kBaselineResetSettleMs);
    return result;
}

TOLV_API int TOLVGetBaselineResetTest(void) {
    return g_BaseLineOverload;
}

TOLV_API int TOLVSetECG2_27_Noise(int selector, double amplitude) {
    return RunSetter([&] {
        if (!InSettingRange(amplitude, 0.01, 5.0)) return -2;
        _outputLog("TOLVSetECG2_27_Noise(%d, %.2f);", selector, amplitude);
        g_MainNoise = selector;
        g_MainsNoiseAmp = amplitude;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API int TOLVGetECG2_27_NoiseFreq(void) {
    return g_MainNoise;
}

TOLV_API double TOLVGetECG2_27_NoiseAmp(void) {
    return GetLocked(g_MainsNoiseAmp);
}

TOLV_API int TOLVSetECG2_27_AAMIDriftTest(bool on) {
    return SetFlagSetting(on, "TOLVSetECG2_27_AAMIDriftTest(%s);", g_AAMIDriftTest,
                          Apply::NextPeriod);
}

TOLV_API bool TOLVGetECG2_27_AAMIDriftTest(void) {
    return GetLocked(g_AAMIDriftTest);
}

TOLV_API int TOLVSetECG2_27_AAMIDriftTestAmplitude(double amplitude) {
    return RunSetter([&] {
        if (!InSettingRange(amplitude, 1.0, 8.0)) return -2;
        _outputLog("TOLVSetECG2_27_AAMIDriftTestAmplitude(%.1f);", amplitude);
        g_AAMIDriftTestAmp = amplitude;
        g_AAMIDriftTestSlope = 2.0 * amplitude / g_AAMIDriftTestWaveLen;
        if (g_AAMIDriftTest) playback::RequestChange();
        return 0;
    });
}

TOLV_API double TOLVGetECG2_27_AAMIDriftTestAmplitude(void) {
    return GetLocked(g_AAMIDriftTestAmp);
}

TOLV_API int TOLVSetECG2_27_AAMIDriftTestFrequency(double frequency) {
    return RunSetter([&] {
        if (!InSettingRange(frequency, 0.05, 2.0)) return -2;
        _outputLog("TOLVSetECG2_27_AAMIDriftTestFrequency(%.2f);", frequency);
        const double period = 1.0 / frequency;
        g_AAMIDriftTestWaveLen = period;
        g_AAMIDriftTestWaveLenQuad = 0.25 / frequency;
        g_AAMIDriftTestWaveLenQuad3 = 0.75 / frequency;
        g_AAMIDriftTestSlope = 2.0 * g_AAMIDriftTestAmp / period;
        if (g_AAMIDriftTest) playback::RequestChange();
        return 0;
    });
}

TOLV_API double TOLVGetECG2_27_AAMIDriftTestFrequency(void) {
    return 1.0 / GetLocked(g_AAMIDriftTestWaveLen);
}

TOLV_API int TOLVSetDynamicRangeTest(bool enable, bool triangle, double amplitude,
                                     double frequency) {
    return RunSetter([&] {
        if (!InSettingRange(amplitude, 0.0, 10.0)) return -2;
        if (!InSettingRange(frequency, 1.0, 60.0)) return -3;
        _outputLog("TOLVSetDynamicRangeTest(%s, %s, %.1f, %.0f);", JournalBool(enable),
                   JournalBool(triangle), amplitude, frequency);
        const int function = !enable ? OUTPUT_OFF : triangle ? OUTPUT_TRIANGLE : OUTPUT_SQUARE;
        if (g_MainOutput != function) g_MainOutput = function;
        g_DynamicRangeTest = enable;
        g_ADynamicRange = amplitude;
        g_FDynamicRange = frequency;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API bool TOLVGetDynamicRangeTest(void) {
    return GetLocked(g_DynamicRangeTest);
}

TOLV_API double TOLVGetDynamicRangeTestAmplitude(void) {
    return GetLocked(g_ADynamicRange);
}

TOLV_API double TOLVGetDynamicRangeTestFrequency(void) {
    return GetLocked(g_FDynamicRange);
}

TOLV_API int TOLVSetFrequencyScanSine(bool enable, int duration, double start, double stop) {
    return RunSetter([&] {
        if (!InSettingRange(start, 0.67, 500.0)) return -2;
        if (!InSettingRange(stop, 0.67, 500.0)) return -3;
        if (duration < 10 || duration > 180) return -4;
        DoSetFrequencyScanSine(enable, duration, start, stop);
        return 0;
    });
}

TOLV_API bool TOLVGetFrequencyScanSine(void) {
    return GetLocked(g_FreqScan1);
}

TOLV_API double TOLVGetFrequencyScanSineStartFrequency(void) {
    return GetLocked(g_Fstart);
}

TOLV_API double TOLVGetFrequencyScanSineStopFrequency(void) {
    return GetLocked(g_Ffinal);
}

TOLV_API int TOLVGetFrequencyScanSineDuration(void) {
    return GetLocked(g_Fduration);
}

TOLV_API int TOLVSetFrequencyScanECG(bool enable) {
    return RunSetter([&] {
        DoSetFrequencyScanECG(enable);
        return 0;
    });
}

TOLV_API bool TOLVGetFrequencyScanECG(void) {
    return GetLocked(s_FreqScanOn);
}

}  // extern "C"
