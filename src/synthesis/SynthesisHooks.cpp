// Placeholders for the synthesis parts that other modules provide (see SynthesisHooks.h).
// None of them computes anything yet; a module that implements one deletes it here.
#include "synthesis/SynthesisHooks.h"

void _CheckECGTime() {}

void _SetJJG1041Parameters() {}

double _GetStandardWaveformPeriod(int /*outputFunction*/) {
    return 0.0;
}

double _GetRecordingPeriod() {
    return 0.0;
}

double _GetECGBeatVoltage(double /*p*/, double /*a*/) {
    return 0.0;
}

double _GetCustomECGBeatVoltage(double /*p*/, double /*a*/) {
    return 0.0;
}

double _GetJJG1041Voltage(double /*p*/, bool /*doubleR*/) {
    return 0.0;
}

double _GetStandardWaveformVoltage(int /*outputFunction*/, double /*p*/) {
    return 0.0;
}

double _GetRecordingVoltage(double /*p*/) {
    return 0.0;
}

double GetRespirationVoltage() {
    return 0.0;
}
