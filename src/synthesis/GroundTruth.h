// Ground truth: what the simulator played, as events in play time (the R wave of each beat,
// each pacing pulse, apnoea start and end, each PPG pulse's foot and peak with its transit
// time), for applications that test ECG and SpO2 monitors.
//
// The sample path records into a fixed ring of kTruthCapacity events with one writer at a time
// (play thread, timer tick or offline renderer, whichever runs the synthesizer) and the API
// thread reads it under the API lock: two atomic indices, no allocation, no lock. While the
// recording is off every note is one relaxed load and a return.
//
// The R-wave positions of the recorded standard tables (outputs 8, 9, 17) come from a QRS
// detector run once over every table when the recording is switched on; those of the generated
// 2-47 patterns and of the parametric beats are exact.
#pragma once

#include <cstdint>
#include <vector>

#include "synthesis/WaveformState.h"
#include "tolvan.h"

constexpr int kTruthCapacity = 16384;

extern std::atomic<bool> g_TruthOn;

inline bool GroundTruthOn() {
    return g_TruthOn.load(std::memory_order_relaxed);
}

// Appends one event; counts it as lost when the ring is full. Sample path.
void RecordTruth(int kind, int channel, double time, double value);

// The beat of output `output` is at period position p (s) with R amplitude a (mV) for the
// parametric beats: records an R wave when p reached the beat's R since the last call.
void NoteBeatTruth(int output, double p, double a);
// Apnoea source `channel` (0 the device's own breathing, 1 the respiration modulation) is
// (`on`) or is not in apnoea at play time t: records the start or the end on a change.
void NoteApnoeaTruth(int channel, bool on, double t);
// A pacing pulse starts at play time t with amplitude mV.
void NotePacingTruth(double t, double amplitude);
// PPG channel `channel` is at beat phase `phase` (0..1) of a beat of `period` s whose peak is
// at `peakPhase` (negative when unknown) at play time t: records the foot at a new beat and
// the peak with the time since the last R wave.
void NotePpgTruth(int channel, double phase, double period, double peakPhase, double t);

// One R wave found in a table: position (s) and value (mV).
struct R_MARK {
    double position;
    double value;
};
// QRS detector for a sampled ECG in µV at `rate` Hz: the largest deflection from the local
// median of each QRS complex, found by slope, with 250 ms refractory time. Pure.
std::vector<R_MARK> DetectRWaves(const std::int32_t* microvolts, int count, int rate);
// The R waves of 2-47 pattern n (0..4) over its whole length, exact. Pure.
std::vector<R_MARK> IEC247RWaves(int n);
