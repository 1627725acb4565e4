// The main function synthesizer: the values derived from the waveform state at a change, and
// the AC-path voltage of the selected output function for one sample, as a function of the play
// clock (PlayClock.h).
//
// Threads: the play thread (or the simulation timer's tick) calls the per-sample functions; API
// threads run DeriveSynthesisValues through a change under the API lock, the play thread runs it
// at period ends. Every value here is a CRelaxed (see WaveformState.h). The per-sample functions
// only do arithmetic: no allocation, lock, I/O or formatting.
#pragma once

#include "synthesis/PlayClock.h"
#include "synthesis/WaveformState.h"

// --- Derived values (written by DeriveSynthesisValues only, except where noted) ----------

// Amplitude used by the forms, mV: g_Amplitude / 2, or g_Amplitude for outputs 7 and 14.
extern CRelaxed<double> s_A;
// Pulse width, s.
extern CRelaxed<double> s_PW;
// Output limit of outputs 7 and 14, mV.
extern CRelaxed<double> s_Range;
// Start of the triangular pulse of output 5, s: 0.01 while pacing is on, else 0.
extern CRelaxed<double> s_PacDelayTP;
// Output 15: DC staircase and AC ramp, mV (both also advanced per sample).
extern CRelaxed<double> s_InputDynamicRangeDC;
extern CRelaxed<double> s_InputDynamicRangeAC;
// Phase (in periods) of the respiration-driven beat rate of outputs 7 and 14 (per sample).
extern CRelaxed<double> s_FreqMod_Phase;
// Sample rate R the per-sample arithmetic assumes (the effective rate at the last change).
extern CRelaxed<int> s_SynthesisRate;

// Output limit of outputs 7 and 14 with pacing or variable DC on, and otherwise, mV.
constexpr double g_RangeV4Ch2On = 40.0;
constexpr double g_RangeV4Ch2Off = 40.0;
// YY 1079 triangular ramp: minimum and maximum (mV) and slope (mV/s); period 1200 s.
constexpr double g_YY1079DynamicRangeMinVoltage = -300.0;
constexpr double g_YY1079DynamicRangeMaxVoltage = 300.0;
constexpr double g_YY1079DynamicRangeSlope = 1.0;

// Recomputes every derived value from the waveform state, in this order: amplitude half and
// frequency ceiling (output 12 forces 1 Hz and 50 ms), clamp of g_F with the frequency
// callback, period, dynamic-range amplitude limit, pulse width, ECG time points, pacing
// schedule, JJG 1041 points, output-15 state, range limit. Caches the effective sample rate.
void DeriveSynthesisValues();
// As DeriveSynthesisValues, with the sample rate given (the raw-array export uses its own).
void DeriveSynthesisValuesAt(int sampleRate);

// --- Per-sample values ----------------------------------------------------------------------

// AC-path voltage in mV of the selected output function at period position p (seconds).
// Reads s_t; may advance s_FreqMod_Phase and s_InputDynamicRangeAC, and ends a standard table
// or recording that does not loop after its first period (see _CheckStandardLoop).
double _GetMainFunctionVoltage(double p);
// The offline renderer's fast path: out[i] = _GetMainFunctionVoltage(p) at the play time
// i / sampleRate, i = 0 .. count - 1, for the basic functions (sine, triangle, square, pulse,
// triangular pulse, exponential decay, alternating exponential) whose value depends on the
// period position alone. False, and nothing written, for every other function and setting:
// the caller then renders sample by sample. The play clock is not touched.
bool RenderBasicFunction(double* out, int count, int sampleRate);
// Mains interference in mV at s_t (0 when off). Added to outputs 7, 14 and 17.
double GetVoltageNoiseAmplitude();
// Baseline-reset test voltage for the DC path in mV at period position p (0 when off).
double _GetBaselineOverload(double p);
// YY 1079 ramp in mV at period position p: rises from the minimum for half the period, then
// falls back.
double getYY1079DynamicRangeVoltage(double p);
// Output 15, DC path: -300 mV outside 20 s .. 1220 s of play time; in between a staircase that
// steps down by 0.5 mV at each half second from the 20 s instant on (up, on a sample exactly at
// 20 s), reporting each step to the DC-offset callback and restarting the AC ramp.
// Called by the DC path of the sample builder once per sample, after the AC value.
double GetInputDynamicRangeDC();

// Beat shape of an ECG form: value in mV at period position p for R amplitude a.
using BeatFunction = double (*)(double p, double a);
// Outputs 7 and 14: the beat at p with the respiratory modulation of rate, amplitude and
// baseline, mains interference and drift added, limited to +-s_Range.
double GetModulatedBeatVoltage(double p, BeatFunction beat);

// Loop tests: when looping is off and s_t has passed the period, call the standard-stop
// callback, set the output function to 0 and the play time to 0, and mark the end pending. The
// caller of the synthesizer completes the switch-off outside the sample loop: the packet builder
// after its packet, the offline renderer after its array (TakeOneShotEnd).
void _CheckStandardLoop();
void _CheckFileLoop();
// An end of a non-looping table or recording waits for its switch-off.
bool OneShotEndPending();
// Returns whether an end was pending, and clears it.
bool TakeOneShotEnd();
