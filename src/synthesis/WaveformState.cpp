#include "synthesis/WaveformState.h"

// Values at load; ResetWaveformState restores the same values.
namespace {
constexpr int kMainOutput = 0;
constexpr double kAmplitude = 1.0;
constexpr double kFrequency = 1.0;
constexpr double kPulseWidth = 100.0;
constexpr double kQRSDuration = 100.0;
constexpr double kTWave = 0.2;
constexpr double kPWave = 0.2;
constexpr double kPDuration = 100.0;
constexpr double kPRInterval = 160.0;
constexpr double kQTInterval = 350.0;
constexpr double kTDuration = 180.0;
constexpr int kSampleRate = 20000;
constexpr double kMainsNoiseAmp = 0.1;
constexpr double kDriftAmp = 4.0;
constexpr double kDriftPeriod = 10.0;
constexpr double kDynamicRangeAmp = 1.0;
constexpr double kDynamicRangeFreq = 40.0;
}  // namespace

CRelaxed<int> g_MainOutput{kMainOutput};
CRelaxed<double> g_Amplitude{kAmplitude};
CRelaxed<double> g_F{kFrequency};
CRelaxed<double> g_PulseWidth{kPulseWidth};
CRelaxed<int> g_DCSetting{0};
CRelaxed<bool> g_DCVariable{true};
CRelaxed<bool> g_DCCommon{false};
CRelaxed<bool> g_InputImpedance{true};
CRelaxed<double> g_QRSDuration{kQRSDuration};
CRelaxed<double> g_CusT{kTWave};
CRelaxed<double> g_CusP{kPWave};
CRelaxed<double> g_CusST{0.0};
CRelaxed<double> g_PDuration{kPDuration};
CRelaxed<double> g_PRInterval{kPRInterval};
CRelaxed<double> g_QTInterval{kQTInterval};
CRelaxed<double> g_TDuration{kTDuration};
CRelaxed<bool> g_bECGOutputEnabled{true};
CRelaxed<bool> s_loopPlay{true};
CRelaxed<bool> s_loopFile{true};
CRelaxed<int> s_sampleRate{kSampleRate};
CRelaxed<int> SpecialWaveFormNo{0};
CRelaxed<int> ANE20000ChannelNo{0};

CRelaxed<double> g_PA{0.0};
CRelaxed<int> g_MainNoise{0};
CRelaxed<double> g_MainsNoiseAmp{kMainsNoiseAmp};
CRelaxed<int> g_BaseLineOverload{0};
CRelaxed<bool> g_AAMIDriftTest{false};
CRelaxed<double> g_AAMIDriftTestAmp{kDriftAmp};
CRelaxed<double> g_AAMIDriftTestWaveLen{kDriftPeriod};
CRelaxed<double> g_AAMIDriftTestWaveLenQuad{kDriftPeriod / 4};
CRelaxed<double> g_AAMIDriftTestWaveLenQuad3{kDriftPeriod * 3 / 4};
CRelaxed<double> g_AAMIDriftTestSlope{2 * kDriftAmp / kDriftPeriod};
CRelaxed<bool> g_DynamicRangeTest{false};
CRelaxed<double> g_ADynamicRange{kDynamicRangeAmp};
CRelaxed<double> g_FDynamicRange{kDynamicRangeFreq};
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
    g_MainOutput = kMainOutput;
    g_Amplitude = kAmplitude;
    g_F = kFrequency;
    g_PulseWidth = kPulseWidth;
    g_DCSetting = 0;
    g_DCVariable = true;
    g_DCCommon = false;
    g_InputImpedance = true;
    g_QRSDuration = kQRSDuration;
    g_CusT = kTWave;
    g_CusP = kPWave;
    g_CusST = 0.0;
    g_PDuration = kPDuration;
    g_PRInterval = kPRInterval;
    g_QTInterval = kQTInterval;
    g_TDuration = kTDuration;
    g_bECGOutputEnabled = true;
    s_loopPlay = true;
    s_loopFile = true;
    s_sampleRate = kSampleRate;
    SpecialWaveFormNo = 0;
    ANE20000ChannelNo = 0;

    g_PA = 0.0;
    g_MainNoise = 0;
    g_MainsNoiseAmp = kMainsNoiseAmp;
    g_BaseLineOverload = 0;
    g_AAMIDriftTest = false;
    g_AAMIDriftTestAmp = kDriftAmp;
    g_AAMIDriftTestWaveLen = kDriftPeriod;
    g_AAMIDriftTestWaveLenQuad = kDriftPeriod / 4;
    g_AAMIDriftTestWaveLenQuad3 = kDriftPeriod * 3 / 4;
    g_AAMIDriftTestSlope = 2 * kDriftAmp / kDriftPeriod;
    g_DynamicRangeTest = false;
    g_ADynamicRange = kDynamicRangeAmp;
    g_FDynamicRange = kDynamicRangeFreq;
    s_FreqScanOn = false;
    s_BaselineModV = 0.0;
    s_AmpModV = 0.0;
    s_FreqModHz = 0.0;
}
