#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "synthesis/WaveformState.h"

namespace {

struct DoubleField {
    const char* name;
    CRelaxed<double>* field;
    double atLoad;
};

struct IntField {
    const char* name;
    CRelaxed<int>* field;
    int atLoad;
};

struct BoolField {
    const char* name;
    CRelaxed<bool>* field;
    bool atLoad;
};

const std::vector<DoubleField>& DoubleFields() {
    static const std::vector<DoubleField> fields = {
        {"g_Amplitude", &g_Amplitude, 1.0},
        {"g_F", &g_F, 1.0},
        {"g_PulseWidth", &g_PulseWidth, 100.0},
        {"g_QRSDuration", &g_QRSDuration, 100.0},
        {"g_CusT", &g_CusT, 0.2},
        {"g_CusP", &g_CusP, 0.2},
        {"g_CusST", &g_CusST, 0.0},
        {"g_PDuration", &g_PDuration, 100.0},
        {"g_PRInterval", &g_PRInterval, 160.0},
        {"g_QTInterval", &g_QTInterval, 350.0},
        {"g_TDuration", &g_TDuration, 180.0},
        {"g_PA", &g_PA, 0.0},
        {"g_MainsNoiseAmp", &g_MainsNoiseAmp, 0.1},
        {"g_AAMIDriftTestAmp", &g_AAMIDriftTestAmp, 4.0},
        {"g_AAMIDriftTestWaveLen", &g_AAMIDriftTestWaveLen, 10.0},
        {"g_AAMIDriftTestWaveLenQuad", &g_AAMIDriftTestWaveLenQuad, 2.5},
        {"g_AAMIDriftTestWaveLenQuad3", &g_AAMIDriftTestWaveLenQuad3, 7.5},
        {"g_AAMIDriftTestSlope", &g_AAMIDriftTestSlope, 0.8},
        {"g_ADynamicRange", &g_ADynamicRange, 1.0},
        {"g_FDynamicRange", &g_FDynamicRange, 40.0},
        {"s_BaselineModV", &s_BaselineModV, 0.0},
        {"s_AmpModV", &s_AmpModV, 0.0},
        {"s_FreqModHz", &s_FreqModHz, 0.0},
    };
    return fields;
}

const std::vector<IntField>& IntFields() {
    static const std::vector<IntField> fields = {
        {"g_MainOutput", &g_MainOutput, 0},
        {"g_DCSetting", &g_DCSetting, 0},
        {"s_sampleRate", &s_sampleRate, 20000},
        {"SpecialWaveFormNo", &SpecialWaveFormNo, 0},
        {"ANE20000ChannelNo", &ANE20000ChannelNo, 0},
        {"g_MainNoise", &g_MainNoise, 0},
        {"g_BaseLineOverload", &g_BaseLineOverload, 0},
    };
    return fields;
}

const std::vector<BoolField>& BoolFields() {
    static const std::vector<BoolField> fields = {
        {"g_DCVariable", &g_DCVariable, true},
        {"g_DCCommon", &g_DCCommon, false},
        {"g_InputImpedance", &g_InputImpedance, true},
        {"g_bECGOutputEnabled", &g_bECGOutputEnabled, true},
        {"s_loopPlay", &s_loopPlay, true},
        {"s_loopFile", &s_loopFile, true},
        {"g_AAMIDriftTest", &g_AAMIDriftTest, false},
        {"g_DynamicRangeTest", &g_DynamicRangeTest, false},
        {"s_FreqScanOn", &s_FreqScanOn, false},
    };
    return fields;
}

void ExpectEveryFieldAtLoadValue() {
    for (const auto& f : DoubleFields()) EXPECT_DOUBLE_EQ(*f.field, f.atLoad) << f.name;
    for (const auto& f : IntFields()) EXPECT_EQ(*f.field, f.atLoad) << f.name;
    for (const auto& f : BoolFields()) EXPECT_EQ(*f.field, f.atLoad) << f.name;
}

void Stop() {}

// Runs first in this executable: nothing has touched the state yet.
TEST(WaveformState, LoadValuesAreTheDocumentedDefaults) {
    ExpectEveryFieldAtLoadValue();
    EXPECT_EQ(g_SyncFreqCB.load(), nullptr);
    EXPECT_EQ(g_StandardStopCB.load(), nullptr);
}

TEST(WaveformState, ResetRestoresEverySettingAndKeepsCallbacks) {
    for (const auto& f : DoubleFields()) *f.field = f.atLoad + 3.25;
    for (const auto& f : IntFields()) *f.field = f.atLoad + 7;
    for (const auto& f : BoolFields()) *f.field = !f.atLoad;
    g_StandardStopCB = &Stop;

    ResetWaveformState();

    ExpectEveryFieldAtLoadValue();
    EXPECT_EQ(g_StandardStopCB.load(), &Stop);
    g_StandardStopCB = nullptr;
}

TEST(WaveformState, RelaxedValueBehavesLikeAPlainVariable) {
    CRelaxed<double> value{1.5};
    value += 0.25;
    EXPECT_DOUBLE_EQ(value, 1.75);
    value -= 1.0;
    EXPECT_DOUBLE_EQ(value.load(), 0.75);
    value = -2.0;
    EXPECT_LT(value, 0.0);
}

}  // namespace
