// The synthesis parts that other modules provide: the ECG complexes, the standard tables and the
// recordings. The respiration modulation lives with respiration.
#include "synthesis/SynthesisHooks.h"

#include "recordings/Recording.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/StandardWaveforms.h"

namespace {
// The recording the packet being built plays: held by the packet builder for the whole packet,
// so a load that replaces the current recording meanwhile cannot release it under the play path.
thread_local const EcgRecording* t_packetRecording = nullptr;
}  // namespace

void SetPacketRecording(const EcgRecording* recording) {
    t_packetRecording = recording;
}

void _CheckECGTime() {
    ComputeEcgTimePoints();
}

void _SetJJG1041Parameters() {
    ComputeJJG1041Parameters();
}

double GetStandardWaveformPeriod(int outputFunction) {
    return StandardWaveformPeriod(outputFunction);
}

double GetRecordingPeriod() {
    return CurrentEcgRecording()->PeriodSeconds();
}

double GetECGBeatVoltage(double p, double a) {
    return EcgBeatVoltage(p, a);
}

double GetCustomECGBeatVoltage(double p, double a) {
    return CustomEcgBeatVoltage(p, a);
}

double GetJJG1041Voltage(double p, bool doubleR) {
    return JJG1041Voltage(p, doubleR);
}

double GetStandardWaveformVoltage(int outputFunction, double p) {
    return StandardWaveformVoltage(outputFunction, p);
}

double GetRecordingVoltage(double p) {
    if (t_packetRecording != nullptr) return t_packetRecording->MillivoltsAtTime(p);
    return CurrentEcgRecording()->MillivoltsAtTime(p);
}
