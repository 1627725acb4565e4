// Rules of the general waveform setters that do not depend on the session or the playback.
#pragma once

#include "synthesis/SetterPattern.h"  // InSettingRange
// Range code of TOLVSetFrequency for the selected output function: 0 or -2. Outputs 4 and 5
// (pulses) accept at most 5 Hz, every output at least 0.017 and at most 500 Hz.
int FrequencyRangeCode(int outputFunction, double frequency);
// P duration after the PR interval is set to prInterval (ms): a PR interval below 50 ms sets
// it to the PR interval; otherwise a P duration below 50 ms is raised to 50.
double PDurationForPRInterval(double prInterval, double pDuration);
// The loop switch of output 13 (s_loopFile, initially true), set by TOLVSetFileLoop. Read by
// the synthesizer's loop check before each sample: when false and the play time exceeds the
// period, it calls the standard-stop callback and sets the output function to OUTPUT_OFF.
void SetEcgFileLoop(bool loop);
bool EcgFileLoops();
