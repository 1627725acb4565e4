// The reset to defaults: every waveform, test and output setting back to its value at load,
// through the public setters, so each restored value passes the setters' checks, side effects
// and journal entries. A setter runs only when the current value differs from the default,
// except for the steps that always run.
#include <cmath>

#include "playback/OutputStage.h"
#include "ppg/PpgChannels.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/Noise.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

namespace {

// A NaN counts as different.
bool Differs(double value, double wanted) {
    return std::isnan(value) || value != wanted;
}

void DoReset(bool leadsOff) {
    if (TOLVGetOutputFunction() != OUTPUT_OFF) TOLVSetOutputFunction(OUTPUT_OFF);
    if (Differs(TOLVGetAmplitude(), 1.0)) TOLVSetAmplitude(1.0);
    if (Differs(TOLVGetFrequency(), 1.0)) TOLVSetFrequency(1.0);
    if (TOLVGetDCOffset() != 0) TOLVSetDCOffset(0);
    if (!TOLVGetDCOffsetVariableMode()) TOLVSetDCOffsetVariableMode(true);
    if (TOLVGetDCOffsetCommonMode()) TOLVSetDCOffsetCommonMode(false);
    if (Differs(TOLVGetPulseWidth(), 100.0)) TOLVSetPulseWidth(100.0);
    if (!TOLVGetInputImpedanceMode()) TOLVSetInputImpedanceMode(true);
    if (TOLVGetPacingPulseMode() != 0) TOLVSetPacingPulseMode(0);
    if (Differs(TOLVGetQRSDuration(), 100.0)) TOLVSetQRSDuration(100.0);
    if (Differs(TOLVGetTWave(), 0.2)) TOLVSetTWave(0.2);
    if (Differs(TOLVGetPacingAmplitude(), 0.0)) TOLVSetPacingAmplitude(0.0);
    if (Differs(TOLVGetPacingDuration(), 2.0)) TOLVSetPacingDuration(2.0);
    if (TOLVGetPacingRate() != 60) TOLVSetPacingRate(60);
    TOLVSetPacingRateSynchronized();
    if (TOLVGetOvershootTimeConstant() != 0) TOLVSetOvershootTimeConstant(0);
    if (Differs(TOLVGetECG2_27_NoiseAmp(), 0.1) || TOLVGetECG2_27_NoiseFreq() != 0) {
        TOLVSetECG2_27_Noise(0, 0.1);
    }
    if (TOLVGetECG2_27_AAMIDriftTest() || Differs(TOLVGetECG2_27_AAMIDriftTestAmplitude(), 4.0) ||
        Differs(TOLVGetECG2_27_AAMIDriftTestFrequency(), 0.1)) {
        TOLVSetECG2_27_AAMIDriftTest(false);
        TOLVSetECG2_27_AAMIDriftTestAmplitude(4.0);
        TOLVSetECG2_27_AAMIDriftTestFrequency(0.1);
    }
    TOLVEnableRespiration(false);
    TOLVDisableRespireAlgorithm();
    if (TOLVGetDynamicRangeTest() || Differs(TOLVGetDynamicRangeTestAmplitude(), 1.0) ||
        Differs(TOLVGetDynamicRangeTestFrequency(), 40.0)) {
        TOLVSetDynamicRangeTest(false, true, 1.0, 40.0);
    }
    if (TOLVGetFrequencyScanSine() || Differs(TOLVGetFrequencyScanSineStartFrequency(), 0.67) ||
        Differs(TOLVGetFrequencyScanSineStopFrequency(), 150.0) ||
        TOLVGetFrequencyScanSineDuration() != 30) {
        TOLVSetFrequencyScanSine(false, 30, 0.67, 150.0);
    }
    if (Differs(TOLVGetPDuration(), 100.0)) TOLVSetPDuration(100.0);
    if (Differs(TOLVGetPRInterval(), 160.0)) TOLVSetPRInterval(160.0);
    if (Differs(TOLVGetQTInterval(), 350.0)) TOLVSetQTInterval(350.0);
    if (Differs(TOLVGetPWave(), 0.2)) TOLVSetPWave(0.2);
    if (Differs(TOLVGetSTDeviation(), 0.0)) TOLVSetSTDeviation(0.0);
    {
        CAutoCriticalSection api(g_APICriticalSection);
        SpecialWaveFormNo = 0;
        ANE20000ChannelNo = 0;
        s_NST_Noise = 0;
        s_NST_gain = 1.0;
        for (auto& enabled : g_bPPGOutputEnabled) enabled = false;
    }
    if (leadsOff) SetAllOutputLead(0);
    TOLVSetSpecialWaveformLoop(true);
    TOLVEnableECGOutput(true);
}

}  // namespace

extern "C" {

TOLV_API void TOLVReset(void) {
    try {
        {
            CAutoCriticalSection api(g_APICriticalSection);
            _outputLog("TOLVReset();");
        }
        DoReset(true);
        TOLVSetOutputLead(0, true);
    } catch (...) {
    }
}

TOLV_API void TOLVResetAllLeadOff(void) {
    try {
        {
            CAutoCriticalSection api(g_APICriticalSection);
            _outputLog("TOLVResetAllLeadOff();");
        }
        DoReset(true);
    } catch (...) {
    }
}

TOLV_API void TOLVResetEx(void) {
    try {
        DoReset(false);
    } catch (...) {
    }
}

}  // extern "C"
