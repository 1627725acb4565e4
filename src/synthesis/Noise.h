// Noise-stress-test records added to the AC path of every output function.
#pragma once

#include "synthesis/WaveformState.h"

// Selected noise record: 0 none, 1 MA, 2 EM, 3 BW.
extern CRelaxed<int> s_NST_Noise;
// Gain applied to the record's samples.
extern CRelaxed<double> s_NST_gain;

// The noise-record value in mV at s_t; 0 while no record is selected.
double GetNstNoise();
