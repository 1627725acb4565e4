// Noise-stress-test records added to the AC path of every output function.
#pragma once

#include <cstdint>

#include "synthesis/WaveformState.h"

// Selected noise record: 0 none, 1 EM, 2 BW, 3 MA.
extern CRelaxed<int> s_NST_Noise;
// Gain applied to the record's samples.
extern CRelaxed<double> s_NST_gain;

// The noise-record value in mV at s_t: the record (microvolts, `rate` samples/s, repeating)
// interpolated linearly and scaled by the gain; 0 while no record is selected or the selected
// record is not available.
double GetNstNoise();
// The same for a given record and time (pure).
double NstNoiseAt(const std::int32_t* samples, int length, int rate, double gain, double t);
