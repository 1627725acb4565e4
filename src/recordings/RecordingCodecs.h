// Pure decoders of the recording file formats: bytes or text in, values out, no I/O.
#pragma once

#include <cmath>
#include <cstdint>

// Limit of every clamped recording sample, millivolts.
constexpr double kRecordingClampMv = 20.0;

// Clamps to -20 .. +20 mV; NaN gives 0.
inline double ClampMillivolts(double v) {
    // Written without branches so that a loader's decoding loop vectorises: NaN fails both
    // comparisons and then itself.
    v = v > kRecordingClampMv ? kRecordingClampMv : v;
    v = v < -kRecordingClampMv ? -kRecordingClampMv : v;
    return v == v ? v : 0.0;
}

inline unsigned decodeBigEndianU16(const unsigned char* b) {
    return (static_cast<unsigned>(b[0]) << 8) | b[1];
}

inline std::int32_t decodeBigEndianI32(const unsigned char* b) {
    std::uint32_t u = (static_cast<std::uint32_t>(b[0]) << 24) |
                      (static_cast<std::uint32_t>(b[1]) << 16) |
                      (static_cast<std::uint32_t>(b[2]) << 8) | b[3];
    return static_cast<std::int32_t>(u);
}

inline int decodeBigEndianI16(const unsigned char* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(decodeBigEndianU16(b)));
}

inline int decodeLittleEndianI16(const unsigned char* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
}

// Leading decimal number of a text (as atof): 0 when the text does not start with one.
double leadingNumber(const char* text);
// Leading decimal integer of a text (as atoi, saturated to the int range): 0 without one.
int leadingInteger(const char* text);

// Column `channel` of a data line of the text format: fields split at commas (runs of commas
// count as one separator, so empty fields do not count), only the first channelCount fields
// considered; the field's leading number. False when the line has fewer than channel + 1
// such fields.
bool parseTextRecordingField(const char* line, int channel, int channelCount, double* value);
// The same on a line that may be changed: the field is ended in place (its comma becomes a NUL)
// and read where it stands, without a copy. The same value as parseTextRecordingField.
bool takeTextRecordingField(char* line, int channel, int channelCount, double* value);

// Value `channel` (0 or 1) of an AHA text line: fields split at commas, spaces and tabs. False
// when the line has fewer than two fields, when the chosen field is not a decimal number
// followed only by white space, or when the number is not finite.
bool parseAhaTextLine(const char* line, int channel, double* value);

// One 5-byte record of the AHA binary layout: channel 0 or 1, signed 16-bit little-endian.
inline int decodeAhaEcgRecord(const unsigned char* record, int channel) {
    return decodeLittleEndianI16(record + (channel == 0 ? 0 : 2));
}
