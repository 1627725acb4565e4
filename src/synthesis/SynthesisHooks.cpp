// Placeholders for the synthesis parts that other modules provide (see SynthesisHooks.h).
// None of them computes anything yet; a module that implements one deletes it here.
#include "synthesis/SynthesisHooks.h"

#include "recordings/Recording.h"

namespace {
// The recording the packet being built plays: held by the packet builder for the whole packet,
// so a load that replaces the current recording meanwhile cannot release it under the play path.
thread_local const EcgRecording* t_packetRecording = nullptr;
}  // namespace

void SetPacketRecording(const EcgRecording* recording) {
    t_packetRecording = recording;
}

void _CheckECGTime() {}

void _SetJJG1041Parameters() {}

double _GetStandardWaveformPeriod(int /*outputFunction*/) {
    return 0.0;
}

double _GetRecordingPeriod() {
    return CurrentEcgRecording()->PeriodSeconds();
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

double _GetRecordingVoltage(double p) {
    if (t_packetRecording != nullptr) return t_packetRecording->MillivoltsAtTime(p);
    return CurrentEcgRecording()->MillivoltsAtTime(p);
}

double GetRespirationVoltage() {
    return 0.0;
}
