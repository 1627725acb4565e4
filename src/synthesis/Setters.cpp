// The general waveform setters and getters.
//
// Every setter runs under the API lock and follows one pattern: session test (-1), range test
// (-2), the tests of running tests (-3, -4), journal line, store, apply. Nothing is stored or
// journaled when a test fails.
#include "synthesis/Setters.h"

#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SetterPattern.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

int FrequencyRangeCode(int outputFunction, double frequency) {
    if (!InSettingRange(frequency, 0.017, 500.0)) return -2;
    const bool pulse = outputFunction == OUTPUT_PULSE || outputFunction == OUTPUT_TRIANGLE_PULSE;
    if (pulse && frequency > 5.0) return -2;
    return 0;
}

double PDurationForPRInterval(double prInterval, double pDuration) {
    if (prInterval < 50.0) return prInterval;
    if (pDuration < 50.0) return 50.0;
    return pDuration;
}

void SetEcgFileLoop(bool loop) {
    s_loopFile = loop;
}

bool EcgFileLoops() {
    return s_loopFile;
}

extern "C" {

TOLV_API int TOLVSetAmplitude(double amplitude) {
    return RunSetter([&] {
        if (!InSettingRange(amplitude, -40.0, 40.0)) return -2;
        if (g_BaseLineOverload != 0) return -3;
        _outputLog("TOLVSetAmplitude(%.2f);", amplitude);
        g_Amplitude = amplitude;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API double TOLVGetAmplitude(void) {
    return g_Amplitude;
}

TOLV_API int TOLVSetFrequency(double frequency) {
    return RunSetter([&] {
        const int range = FrequencyRangeCode(g_MainOutput, frequency);
        if (range != 0) return range;
        if (s_FreqScanOn) return -3;
        if (g_BaseLineOverload != 0) return -4;
        _outputLog("TOLVSetFrequency(%.2f);", frequency);
        g_F = frequency;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API double TOLVGetFrequency(void) {
    return g_F;
}

TOLV_API int TOLVSetDCOffset(int millivolts) {
    return RunSetter([&] {
        if (millivolts < -1000 || millivolts > 1000) return -2;
        _outputLog("TOLVSetDCOffset(%d);", millivolts);
        g_DCSetting = millivolts;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API int TOLVGetDCOffset(void) {
    return GetLocked(g_DCSetting);
}

TOLV_API int TOLVSetDCOffsetVariableMode(bool variable) {
    return SetFlagSetting(variable, "TOLVSetDCOffsetVariableMode(%s);", g_DCVariable,
                          Apply::NextPeriod);
}

TOLV_API bool TOLVGetDCOffsetVariableMode(void) {
    return GetLocked(g_DCVariable);
}

TOLV_API int TOLVSetDCOffsetCommonMode(bool common) {
    return SetFlagSetting(common, "TOLVSetDCOffsetCommonMode(%s);", g_DCCommon, Apply::Relays);
}

TOLV_API int SetDCOffsetCommoneMode(int common) {
    CAutoCriticalSection api(g_APICriticalSection);
    return TOLVSetDCOffsetCommonMode(common != 0);
}

TOLV_API bool TOLVGetDCOffsetCommonMode(void) {
    return GetLocked(g_DCCommon);
}

TOLV_API int TOLVSetPulseWidth(double milliseconds) {
    return SetDoubleSetting(milliseconds, 1.0, 300.0, "TOLVSetPulseWidth(%.0f);", g_PulseWidth,
                            Apply::NextPeriod);
}

TOLV_API double TOLVGetPulseWidth(void) {
    return GetLocked(g_PulseWidth);
}

TOLV_API int TOLVSetInputImpedanceMode(bool on) {
    return SetFlagSetting(on, "TOLVSetInputImpedanceMode(%s);", g_InputImpedance, Apply::Relays);
}

TOLV_API bool TOLVGetInputImpedanceMode(void) {
    return GetLocked(g_InputImpedance);
}

TOLV_API int TOLVSetQRSDuration(double milliseconds) {
    return SetDoubleSetting(milliseconds, 5.0, 200.0, "TOLVSetQRSDuration(%.0f);", g_QRSDuration,
                            Apply::AtOnce);
}

TOLV_API int TOLVSetTWave(double millivolts) {
    return SetDoubleSetting(millivolts, 0.0, 5.0, "TOLVSetTWave(%.1f);", g_CusT, Apply::AtOnce);
}

TOLV_API int TOLVSetPWave(double millivolts) {
    return SetDoubleSetting(millivolts, 0.0, 2.0, "TOLVSetPWave(%.1f);", g_CusP, Apply::AtOnce);
}

TOLV_API int TOLVSetSTDeviation(double millivolts) {
    return SetDoubleSetting(millivolts, -2.0, 2.0, "SetSTDeviation(%.2f);", g_CusST, Apply::AtOnce);
}

TOLV_API int TOLVSetPDuration(double milliseconds) {
    return SetDoubleSetting(milliseconds, 50.0, 100.0, "TOLVSetPDuration(%.0f);", g_PDuration,
                            Apply::AtOnce);
}

TOLV_API int TOLVSetPRInterval(double milliseconds) {
    return RunSetter([&] {
        if (!InSettingRange(milliseconds, 0.0, 200.0)) return -2;
        _outputLog("TOLVSetPRInterval(%.0f);", milliseconds);
        g_PRInterval = milliseconds;
        // The P duration follows before the change, so that one change sees both.
        g_PDuration = PDurationForPRInterval(milliseconds, g_PDuration);
        playback::ApplyChangeNow();
        return 0;
    });
}

TOLV_API int TOLVSetQTInterval(double milliseconds) {
    return SetDoubleSetting(milliseconds, 100.0, 900.0, "TOLVSetQTInterval(%.0f);", g_QTInterval,
                            Apply::AtOnce);
}

TOLV_API int TOLVSetCustomizedTDuration(double milliseconds) {
    return SetDoubleSetting(milliseconds, 100.0, 900.0, "SetCustomizedTDuration(%.0f);",
                            g_TDuration, Apply::NextPeriod);
}

TOLV_API double TOLVGetQRSDuration(void) {
    return GetLocked(g_QRSDuration);
}

TOLV_API double TOLVGetTWave(void) {
    return GetLocked(g_CusT);
}

TOLV_API double TOLVGetPWave(void) {
    return GetLocked(g_CusP);
}

TOLV_API double TOLVGetSTDeviation(void) {
    return GetLocked(g_CusST);
}

TOLV_API double TOLVGetPDuration(void) {
    return GetLocked(g_PDuration);
}

TOLV_API double TOLVGetPRInterval(void) {
    return GetLocked(g_PRInterval);
}

TOLV_API double TOLVGetQTInterval(void) {
    return GetLocked(g_QTInterval);
}

TOLV_API double TOLVGetCustomizedTDuration(void) {
    return GetLocked(g_TDuration);
}

TOLV_API void TOLVSetSpecialWaveformLoop(bool loop) {
    CAutoCriticalSection api(g_APICriticalSection);
    s_loopPlay = loop;
}

TOLV_API void TOLVSetFileLoop(bool loop) {
    CAutoCriticalSection api(g_APICriticalSection);
    SetEcgFileLoop(loop);
}

TOLV_API void TOLVRegisterSyncFrequencyCB(TOLV_SYNC_FREQUENCY_CALLBACK callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    g_SyncFreqCB = callback;
}

TOLV_API void TOLVRegisterSyncDCOffsetCB(TOLV_SYNC_DC_OFFSET_CALLBACK callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    g_SyncDCOffsetCB = callback;
}

TOLV_API void TOLVRegisterSyncMainFunctionCB(TOLV_SYNC_MAIN_FUNCTION_CALLBACK callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    g_SyncMainFuncCB = callback;
}

TOLV_SERVICE_API void RegisterStandardWaveformCB(TOLV_STANDARD_STOP_CALLBACK callback) {
    g_StandardStopCB = callback;
}

TOLV_SERVICE_API void RegisterBaselineResetCB(TOLV_BASELINE_RESET_CALLBACK callback) {
    g_BaselineResetCB = callback;
}

}  // extern "C"
