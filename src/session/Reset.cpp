// The reset to defaults: every waveform, test and output setting back to its value at load,
// through the public setters, so each restored value passes the setters' checks, side effects
// and journal entries. A setter runs only when the current value differs from the default,
// except for the steps that always run.
#include <cmath>

#include "session/Defaults.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "session/SessionHooks.h"
#include "tolvan.h"

namespace {

using namespace defaults;

// A NaN counts as different.
bool Differs(double value, double wanted) {
    return std::isnan(value) || value != wanted;
}

void DoReset(bool leadsOff) {
    if (TOLVGetOutputFunction() != kOutputFunction) TOLVSetOutputFunction(kOutputFunction);
    if (Differs(TOLVGetAmplitude(), kAmplitude)) TOLVSetAmplitude(kAmplitude);
    if (Differs(TOLVGetFrequency(), kFrequency)) TOLVSetFrequency(kFrequency);
    if (TOLVGetDCOffset() != kDCOffset) TOLVSetDCOffset(kDCOffset);
    if (TOLVGetDCOffsetVariableMode() != kDCOffsetVariable) {
        TOLVSetDCOffsetVariableMode(kDCOffsetVariable);
    }
    if (TOLVGetDCOffsetCommonMode() != kDCOffsetCommon) TOLVSetDCOffsetCommonMode(kDCOffsetCommon);
    if (Differs(TOLVGetPulseWidth(), kPulseWidth)) TOLVSetPulseWidth(kPulseWidth);
    if (TOLVGetInputImpedanceMode() != kInputImpedance) TOLVSetInputImpedanceMode(kInputImpedance);
    if (TOLVGetPacingPulseMode() != kPacingPulseMode) TOLVSetPacingPulseMode(kPacingPulseMode);
    if (Differs(TOLVGetQRSDuration(), kQRSDuration)) TOLVSetQRSDuration(kQRSDuration);
    if (Differs(TOLVGetTWave(), kTWave)) TOLVSetTWave(kTWave);
    if (Differs(TOLVGetPacingAmplitude(), kPacingAmplitude))
        TOLVSetPacingAmplitude(kPacingAmplitude);
    if (Differs(TOLVGetPacingDuration(), kPacingDuration)) TOLVSetPacingDuration(kPacingDuration);
    if (TOLVGetPacingRate() != kPacingRate) TOLVSetPacingRate(kPacingRate);
    TOLVSetPacingRateSynchronized();
    if (TOLVGetOvershootTimeConstant() != kOvershootTimeConstant) {
        TOLVSetOvershootTimeConstant(kOvershootTimeConstant);
    };
    if (Differs(TOLVGetECG2_27_NoiseAmp(), kMainsNoiseAmplitude) ||
        TOLVGetECG2_27_NoiseFreq() != kMainsNoiseFrequency) {
        TOLVSetECG2_27_Noise(kMainsNoiseFrequency, kMainsNoiseAmplitude);
    }
    if (TOLVGetECG2_27_AAMIDriftTest() ||
        Differs(TOLVGetECG2_27_AAMIDriftTestAmplitude(), kDriftAmplitude) ||
        Differs(TOLVGetECG2_27_AAMIDriftTestFrequency(), kDriftFrequency)) {
        TOLVSetECG2_27_AAMIDriftTest(false);
        TOLVSetECG2_27_AAMIDriftTestAmplitude(kDriftAmplitude);
        TOLVSetECG2_27_AAMIDriftTestFrequency(kDriftFrequency);
    }
    TOLVEnableRespiration(false);
    TOLVDisableRespireAlgorithm();
    if (TOLVGetDynamicRangeTest() ||
        Differs(TOLVGetDynamicRangeTestAmplitude(), kDynamicRangeAmplitude) ||
        Differs(TOLVGetDynamicRangeTestFrequency(), kDynamicRangeFrequency)) {
        TOLVSetDynamicRangeTest(false, true, kDynamicRangeAmplitude, kDynamicRangeFrequency);
    }
    if (TOLVGetFrequencyScanSine() ||
        Differs(TOLVGetFrequencyScanSineStartFrequency(), kScanStartFrequency) ||
        Differs(TOLVGetFrequencyScanSineStopFrequency(), kScanStopFrequency) ||
        TOLVGetFrequencyScanSineDuration() != kScanDuration) {
        TOLVSetFrequencyScanSine(false, kScanDuration, kScanStartFrequency, kScanStopFrequency);
    }
    if (Differs(TOLVGetPDuration(), kPDuration)) TOLVSetPDuration(kPDuration);
    if (Differs(TOLVGetPRInterval(), kPRInterval)) TOLVSetPRInterval(kPRInterval);
    if (Differs(TOLVGetQTInterval(), kQTInterval)) TOLVSetQTInterval(kQTInterval);
    if (Differs(TOLVGetPWave(), kPWave)) TOLVSetPWave(kPWave);
    if (Differs(TOLVGetSTDeviation(), kSTDeviation)) TOLVSetSTDeviation(kSTDeviation);
    {
        // Standard waveform, ANE20000 lead, noise-stress record and gain, PPG outputs: assigned
        // directly by their owners, under one hold of the API lock.
        CAutoCriticalSection api(g_APICriticalSection);
        RunSessionHooks(SessionPoint::kReset);
    }
    if (leadsOff) SetAllOutputLead(0);
    TOLVSetSpecialWaveformLoop(kLoop);
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

TOLV_SERVICE_API void TOLVResetEx(void) {
    try {
        DoReset(false);
    } catch (...) {
    }
}

}  // extern "C"
