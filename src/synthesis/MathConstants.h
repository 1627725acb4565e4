// Constants of the waveform formulas.
#pragma once

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
