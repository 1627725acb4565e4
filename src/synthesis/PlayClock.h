// The play clock: the play time, the graph time and the waveform period that every periodic form
// is a function of. This module defines them and is the only one that writes them.
//
// Threads: while playing, the packet builder (play thread or simulation timer tick, holding the
// interrupt lock) advances the clock sample by sample, and a frequency scan re-phases it; a
// change (under the change lock) sets the period and a start or stop sets the times to 0; the
// offline renderer sets the times while nothing plays (API lock). Readers are the per-sample
// functions of the synthesis and the sample builder, without a lock. Every value is a CRelaxed
// (see WaveformState.h): one writer at a time, relaxed loads elsewhere.
#pragma once

#include <cmath>

#include "synthesis/WaveformState.h"

// Play time of the next sample (s): 0 at a start or stop, advanced by 1/R after every sample.
extern CRelaxed<double> s_t;
// Graph time (s): advanced with s_t but never re-phased by a frequency scan; stamps callbacks.
extern CRelaxed<double> s_tg;
// Waveform period (s).
extern CRelaxed<double> s_tp;

// Sets s_t and s_tg to 0.
void ResetSynthesisTime();
// Sets s_t and s_tg to t (the offline renderer's sample times).
void SetSynthesisTime(double t);
// Advances s_t and s_tg by dt seconds (dt < 0 steps back, for the drift correction). Inline:
// the packet builder runs it for every sample.
inline void AdvanceSynthesisTime(double dt) {
    s_t += dt;
    s_tg += dt;
}
// Sets the waveform period s_tp (a change).
void SetSynthesisPeriod(double period);
// Moves s_t onto a new period so that its position within the period, as a fraction of the
// period, survives; s_tg is not touched (a frequency scan's step).
void RephaseSynthesisTime(double period);

// Position of time t within a period of length period: t - k * period with k = t / period
// truncated toward zero. A period that is not positive yields t.
inline double PeriodPosition(double t, double period) {
    if (!(period > 0.0)) return t;
    const double p = t - std::trunc(t / period) * period;
    // The play clock is a sum of sample steps: a time that ought to be a period boundary can
    // land a rounding error short of it. Such a position belongs to the next period.
    return period - p < period * 1e-9 ? 0.0 : p;
}
// Position of s_t within the current period s_tp.
inline double GetPeriodPosition() {
    return PeriodPosition(s_t, s_tp);
}
