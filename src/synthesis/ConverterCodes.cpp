#include "synthesis/ConverterCodes.h"

#include <cmath>

#include "protocol/Calibration.h"

std::int16_t GetAcDac(double millivolts) {
    const double code = std::trunc(1600.0 * millivolts);
    if (!(code > -32768.0)) return -32768;  // also NaN
    if (code > 32767.0) return 32767;
    return static_cast<std::int16_t>(code);
}

std::uint16_t GetPacketDCValue(double millivolts) {
    double mv = millivolts;
    if (!(mv > -2000.0)) mv = -2000.0;  // also NaN
    if (mv > 2000.0) mv = 2000.0;
    const double x = mv + 2000.0;
    const int i = static_cast<int>(x);
    const int next = (i < 3999 ? i : 3999) + 1;
    const double low = GetECGDCCalibrationEntry(i);
    const double high = GetECGDCCalibrationEntry(next);
    return static_cast<std::uint16_t>(low + (x - i) * (high - low));
}
