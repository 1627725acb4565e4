#include "synthesis/PlayClock.h"

#include <cmath>

#include "session/Defaults.h"

CRelaxed<double> s_t{0.0};
CRelaxed<double> s_tg{0.0};
CRelaxed<double> s_tp{1.0 / defaults::kFrequency};

void ResetSynthesisTime() {
    SetSynthesisTime(0.0);
}

void SetSynthesisTime(double t) {
    s_t = t;
    s_tg = t;
}

void AdvanceSynthesisTime(double dt) {
    s_t += dt;
    s_tg += dt;
}

void SetSynthesisPeriod(double period) {
    s_tp = period;
}

void RephaseSynthesisTime(double period) {
    const double cycles = s_t / s_tp;
    const double phase = cycles - std::trunc(cycles);
    s_tp = period;
    s_t = period * phase;
}

double PeriodPosition(double t, double period) {
    if (!(period > 0.0)) return t;
    const double p = t - std::trunc(t / period) * period;
    // The play clock is a sum of sample steps: a time that ought to be a period boundary can
    // land a rounding error short of it. Such a position belongs to the next period.
    return period - p < period * 1e-9 ? 0.0 : p;
}

double GetPeriodPosition() {
    return PeriodPosition(s_t, s_tp);
}
