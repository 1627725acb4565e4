// The output-signal callbacks: the application's view of the played waveform, called by the
// sample builder (OutputStage.cpp) for the samples that the decimation lets through, and the
// pacing-pulse callback.
//
// Threads: registered by API threads under the API lock; called on the play thread (or the
// simulation timer's tick) inside the sample builder, which also steps the decimation counter.
// The packet builder resets the counter at a packet that starts at time 0, the output-function
// setter at a start.
#pragma once

#include <atomic>

// Output-signal callback: (graph time in s, output voltage in mV before attenuation).
using GraphCallback = void (*)(double time, double millivolts);

// Registered callbacks and the output-signal decimation (guarded by the API lock).
extern GraphCallback g_GraphCB;
extern GraphCallback g_PacingGraphCB;
// Decimation setting: a divider d of 8 or more calls back at every (d / 4)th sample.
extern int s_freqDivider;
// Decimation counter: the callback runs when it is 0. Counted by the packet builder, reset by
// TOLVSetOutputFunction on the caller's thread: atomic (relaxed; no lock on the sample path).
extern std::atomic<int> g_UICounter;
