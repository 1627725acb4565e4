// Impedance respiration settings read by the output stage.
#pragma once

#include "synthesis/WaveformState.h"

// Respiration on (the ECG is then divided by the attenuation of the output stage).
extern CRelaxed<bool> g_RespirationEnabled;
// Baseline impedance, ohms.
extern CRelaxed<int> s_RespBaseline;
