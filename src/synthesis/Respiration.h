// Respiration: the impedance-respiration switch and the attenuation it puts on the AC path, and
// the breathing waveform that modulates the baseline, amplitude and rate of the synthetic ECG.
//
// Settings are written by API threads under the API lock and read by the play thread once per
// sample without a lock (every field is a CRelaxed).
#pragma once

#include "synthesis/WaveformState.h"

// Respiration on (the ECG is then divided by GetAttenuation()).
extern CRelaxed<bool> g_RespirationEnabled;
// Baseline impedance, ohms.
extern CRelaxed<int> s_RespBaseline;

// The breathing waveform of the modulation: one breath, its inhalation and exhalation, and the
// apnoea seconds at the end of every minute (0 = none), all in seconds.
extern CRelaxed<double> s_OneRespireS;
extern CRelaxed<double> s_InhaleS;
extern CRelaxed<double> s_ExhaleS;
extern CRelaxed<double> s_OneApneaS;

// Respiratory modulation depths of the PPG outputs, percent 0..100: baseline, amplitude and
// frequency (TOLVSetPPGRespirationAlgorithm of the PPG subsystem). They go back to 0 with the
// rest of the modulation when the respiration algorithm is disabled.
extern CRelaxed<int> g_PPG_BaselineModV;
extern CRelaxed<int> g_PPG_AmpModV;
extern CRelaxed<int> g_PPG_FreqModHz;

// One breath at x seconds into it: +sin over the inhalation, -sin over the exhalation, then 0.
double RespirationBreathShape(double x);
// The modulation value m at play time t, between -1 and 1; 0 during apnoea or while the
// modulation is off.
double RespirationModulationAt(double t);
// The factor the AC signal is divided by while respiration is enabled (1.0 otherwise): set by
// the baseline impedance, with the external respiration module's own steps when it is present.
double GetAttenuation();
