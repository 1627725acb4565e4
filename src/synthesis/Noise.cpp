#include "synthesis/Noise.h"

CRelaxed<int> s_NST_Noise{0};
CRelaxed<double> s_NST_gain{1.0};

double GetNstNoise() {
    // The records themselves are built in with the standard tables; until one is selected the
    // AC path carries no noise.
    if (s_NST_Noise == 0) return 0.0;
    return 0.0;
}
