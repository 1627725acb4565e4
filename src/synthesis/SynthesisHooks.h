// The parts of the synthesis that belong to the ECG complexes, the standard tables, pacing,
// respiration and the recordings. The synthesizer calls them at a change and per sample.
//
// SynthesisHooks.cpp delegates to those modules. A table or recording that is absent has length 0
// (the synthesizer then keeps 1/g_F as the period) and plays 0 mV.
#pragma once

// --- Derivation at a change ---------------------------------------------------------------

// Time points of the ECG beats of outputs 7 and 14.
void _CheckECGTime();
// Pacing schedule (pulses per period, pacing period, overshoot, counters); in Pacing.cpp.
void DerivePacingSchedule();
// Points and amplitudes of the JJG 1041 complexes (outputs 10 and 11).
void _SetJJG1041Parameters();

// --- Lengths that set the period, s (0 when unknown) ---------------------------------------

// Output 8: length of the selected IEC 60601-2-27 waveform; output 16: period of the selected
// IEC 60601-2-47 pattern.
double GetStandardWaveformPeriod(int outputFunction);
// Output 13: samples / sample rate of the loaded recording.
double GetRecordingPeriod();

// --- Per-sample values, mV -----------------------------------------------------------------

// Beat of output 7 (QRS triangle and T half-sine) at p for R amplitude a.
double GetECGBeatVoltage(double p, double a);
// Beat of output 14 (customised P-QRS-ST-T) at p for R amplitude a.
double GetCustomECGBeatVoltage(double p, double a);
// JJG 1041 complex at p, with the notched R (output 10) or the single R (output 11).
double GetJJG1041Voltage(double p, bool doubleR);
// Standard table of output 8, 9, 16 or 17 at p.
double GetStandardWaveformVoltage(int outputFunction, double p);
// The recording that GetRecordingVoltage reads while a packet is built (nullptr: the current
// one, loaded per call). The caller keeps it alive meanwhile.
class EcgRecording;
void SetPacketRecording(const EcgRecording* recording);
// Recorded ECG (output 13) at p; 0 while nothing is loaded.
double GetRecordingVoltage(double p);
// Respiration modulation value m at s_t, between -1 and 1 (0 during apnoea).
double GetRespirationVoltage();
