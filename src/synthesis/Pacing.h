// Pacemaker pulses: the settings, the host-side pulse schedule and overshoot, and the pulse
// settings sent to the device.
//
// The device produces the pulse itself from the amplitude and width sent by SetPacing; while
// streaming, the host marks the sample at which each pulse starts and adds the overshoot to the
// AC path. Settings are written by API threads under the API lock and read by the play thread
// once per sample.
#pragma once

#include "synthesis/WaveformState.h"

// Settings (load values: 0, 2.0, 60, true, 0, 0, 0).
// The pulse amplitude g_PA (mV, 0 = pacing off) lives with the waveform state.
extern CRelaxed<double> g_PacingDuration;       // pulse width, ms
extern CRelaxed<unsigned> g_PacingRate;         // pulses per minute
extern CRelaxed<bool> g_pacingSynchronized;     // pacing period follows the waveform period
extern CRelaxed<unsigned> g_PacingPulse;        // 0 single, 1 pair 150 ms, 2 pair 250 ms
extern CRelaxed<unsigned> g_PacingOvershootTC;  // overshoot time constant, ms
extern CRelaxed<double> g_POA;                  // overshoot amplitude magnitude, mV

// Derived at every change (only while g_PA != 0; else 0).
extern CRelaxed<int> s_PulsesRequired;
// A pulse started in this sample: consumed by the packet writer (sub-packet marker).
extern CRelaxed<bool> s_PacingPulseRaised;
// A pulse started: consumed by the sample builder for the pacing callback.
extern CRelaxed<bool> s_PacingIndicationNeeded;
// Pacing parameters must be sent after the packet being built.
extern CRelaxed<bool> g_PacingApplyRequested;

// The DC-path value of the sample at period position p; adds this sample's overshoot to
// *overshoot. Also drives the pulse schedule.
double _GetPacingV5(double* overshoot, double p);
// Sends the pulse amplitude and width to the device (module block 1). The caller holds the API
// lock or is the play thread; no API lock is taken here. True on acknowledge.
bool SetPacing();
// Clears a pending apply request (playback stop).
void ClearPacingApplyRequest();
// Seconds before a pacing-period boundary at which the (last) pulse starts.
double GetPacingLeadingTime();
// The tolerance rounding of the trigger test: the digit after the first non-zero digit of x
// (printed with 20 decimals) is incremented, or set to 0 when it is 9.
double bumpNextToFirstNonZero(double x);
