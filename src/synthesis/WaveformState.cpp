#include "synthesis/WaveformState.h"

#include "session/Defaults.h"
#include "session/SessionHooks.h"

// Values at load; ResetWaveformState restores the same values.
namespace {
using namespace defaults;
constexpr double kDriftPeriod = 1.0 / kDriftFrequency;
}  // namespace

CRelaxed<int> g_MainOutput{kOutputFunction};
CRelaxed<double> g_Amplitude{kAmplitude};
CRelaxed<double> g_F{kFrequency};
CRelaxed<double> g_PulseWidth{kPulseWidth};
CRelaxed<int> g_DCSetting{kDCOffset};
CRelaxed<bool> g_DCVariable{kDCOffsetVariable};
CRelaxed<bool> g_DCCommon{kDCOffsetCommon};
CRelaxed<bool> g_InputImpedance{kInputImpedance};
CRelaxed<double> g_QRSDuration{kQRSDuration};
CRelaxed<double> g_CusT{kTWave};
CRelaxed<double> g_CusP{kPWave};
CRelaxed<double> g_CusST{kSTDeviation};
CRelaxed<double> g_PDuration{kPDuration};
CRelaxed<double> g_PRInterval{kPRInterval};
CRelaxed<double> g_QTInterval{kQTInterval};
CRelaxed<double> g_TDuration{kTDuration};
CRelaxed<bool> g_bECGOutputEnabled{true};
CRelaxed<bool> s_loopPlay{kLoop};
CRelaxed<bool> s_loopFile{kLoop};
CRelaxed<int> s_sampleRate{kSampleRate};
CRelaxed<int> SpecialWaveFormNo{kSpecialWaveform};
CRelaxed<int> ANE20000ChannelNo{kANE20000Lead};

CRelaxed<double> g_PA{kPacingAmplitude};
CRelaxed<int> g_MainNoise{kMainsNoiseFrequency};
CRelaxed<double> g_MainsNoiseAmp{kMainsNoiseAmplitude};
CRelaxed<int> g_BaseLineOverload{0};
CRelaxed<bool> g_AAMIDriftTest{false};
CRelaxed<double> g_AAMIDriftTestAmp{kDriftAmplitude};
CRelaxed<double> g_AAMIDriftTestWaveLen{kDriftPeriod};
CRelaxed<double> g_AAMIDriftTestWaveLenQuad{kDriftPeriod / 4};
CRelaxed<double> g_AAMIDriftTestWaveLenQuad3{kDriftPeriod * 3 / 4};
CRelaxed<double> g_AAMIDriftTestSlope{2 * kDriftAmplitude / kDriftPeriod};
CRelaxed<bool> g_DynamicRangeTest{false};
CRelaxed<double> g_ADynamicRange{kDynamicRangeAmplitude};
CRelaxed<double> g_FDynamicRange{kDynamicRangeFrequency};
CRelaxed<bool> s_FreqScanOn{false};
CRelaxed<double> s_BaselineModV{0.0};
CRelaxed<double> s_AmpModV{0.0};
CRelaxed<double> s_FreqModHz{0.0};

CRelaxed<TOLV_SYNC_FREQUENCY_CALLBACK> g_SyncFreqCB{nullptr};
CRelaxed<TOLV_SYNC_DC_OFFSET_CALLBACK> g_SyncDCOffsetCB{nullptr};
CRelaxed<TOLV_SYNC_MAIN_FUNCTION_CALLBACK> g_SyncMainFuncCB{nullptr};
CRelaxed<TOLV_STANDARD_STOP_CALLBACK> g_StandardStopCB{nullptr};
CRelaxed<TOLV_BASELINE_RESET_CALLBACK> g_BaselineResetCB{nullptr};

void ResetWaveformState() {
    g_MainOutput = kOutputFunction;
    g_Amplitude = kAmplitude;
    g_F = kFrequency;
    g_PulseWidth = kPulseWidth;
    g_DCSetting = kDCOffset;
    g_DCVariable = kDCOffsetVariable;
    g_DCCommon = kDCOffsetCommon;
    g_InputImpedance = kInputImpedance;
    g_QRSDuration = kQRSDuration;
    g_CusT = kTWave;
    g_CusP = kPWave;
    g_CusST = kSTDeviation;
    g_PDuration = kPDuration;
    g_PRInterval = kPRInterval;
    g_QTInterval = kQTInterval;
    g_TDuration = kTDuration;
    g_bECGOutputEnabled = true;
    s_loopPlay = kLoop;
    s_loopFile = kLoop;
    s_sampleRate = kSampleRate;
    SpecialWaveFormNo = kSpecialWaveform;
    ANE20000ChannelNo = kANE20000Lead;

    g_PA = kPacingAmplitude;
    g_MainNoise = kMainsNoiseFrequency;
    g_MainsNoiseAmp = kMainsNoiseAmplitude;
    g_BaseLineOverload = 0;
    g_AAMIDriftTest = false;
    g_AAMIDriftTestAmp = kDriftAmplitude;
    g_AAMIDriftTestWaveLen = kDriftPeriod;
    g_AAMIDriftTestWaveLenQuad = kDriftPeriod / 4;
    g_AAMIDriftTestWaveLenQuad3 = kDriftPeriod * 3 / 4;
    g_AAMIDriftTestSlope = 2 * kDriftAmplitude / kDriftPeriod;
    g_DynamicRangeTest = false;
    g_ADynamicRange = kDynamicRangeAmplitude;
    g_FDynamicRange = kDynamicRangeFrequency;
    s_FreqScanOn = false;
    s_BaselineModV = 0.0;
    s_AmpModV = 0.0;
    s_FreqModHz = 0.0;
}

namespace {

// The reset puts the standard waveform and the ANE20000 lead back to their values at load.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kReset, [] {
            SpecialWaveFormNo = kSpecialWaveform;
            ANE20000ChannelNo = kANE20000Lead;
        });
    }
} s_sessionHooksRegistrar;

}  // namespace
