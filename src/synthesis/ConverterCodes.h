// The codes of the simulator's two converters for a voltage: the AC DAC, signed, 1600 codes per
// mV; the DC DAC, unsigned, through the live calibration table of the connected simulator.
// Pure functions of their argument and the calibration table; any thread.
#pragma once

#include <cstdint>

// AC DAC code: 1600 codes per mV, truncated toward zero, clamped to -32768..32767.
std::int16_t GetAcDac(double millivolts);
// DC DAC code through the live calibration table, interpolated in 1 mV steps; the voltage is
// clamped to -2000..2000 mV.
std::uint16_t GetPacketDCValue(double millivolts);
