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

void SetSynthesisPeriod(double period) {
    s_tp = period;
}

void RephaseSynthesisTime(double period) {
    const double cycles = s_t / s_tp;
    const double phase = cycles - std::trunc(cycles);
    s_tp = period;
    s_t = period * phase;
}
