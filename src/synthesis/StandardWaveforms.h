// The standard test waveforms: the IEC 60601-2-27 / AAMI EC13 tables (output 8), the CTS CAL
// tables (output 9), the generated IEC 60601-2-47 patterns (output 16) and the ANE20000 leads
// (output 17); their names, lengths, selection, per-sample lookup, read access and text dumps.
//
// Threads: the selectors run on API threads under the API lock; the table accessors and dumps
// take no API lock. The lookups run on the play thread and only read tables that exist already:
// StandardWaveformPeriod (run by every change) loads or generates the selected table first.
// Pattern generation and table loads are serialised by locks of their own.
#pragma once

#include <cstdint>

#include "tolvan.h"

// Family sizes.
constexpr int kIEC227Count = 10;
constexpr int kIEC251Count = 16;
constexpr int kIEC247Count = 5;
constexpr int kANE20000Channels = 9;
// Table layout: samples per 2-27 slot and per CAL / ANE20000 waveform; rates in Hz.
constexpr int kIEC227Slot = 66000;
constexpr int kIEC227Rate = 720;
constexpr int kCTSLength = 1000;
constexpr int kCTSRate = 1000;
constexpr int kIEC247Rate = 1000;
// Samples of the reference beat of the 2-47 patterns (one per ms).
constexpr int kReferenceBeatLength = 360;

// Result of a selector or dump whose table is neither built in nor loadable.
constexpr int kTableMissing = TOLV_TABLE_MISSING;

// Name tables, in index order.
extern const char* const s227NameArray[kIEC227Count];
extern const char* const s225NameArray[kIEC251Count];
extern const char* const s247NameArray[kIEC247Count];
// Lengths of the 2-27 waveforms, s.
extern const double IEC227WL[kIEC227Count];
// 2-47 pattern parameters: length in samples (ms), mean RR (s), RR swing (s), RR modulation
// frequency (Hz).
extern const int hrvperiod[kIEC247Count];
extern const double rravg[kIEC247Count];
extern const double rrdev[kIEC247Count];
extern const double hrvfreq[kIEC247Count];

// Samples of 2-27 waveform n: floor(0.5 + 720 * IEC227WL[n]); 0 outside 0..9.
int IEC227SampleCount(int n);

// --- Periods and per-sample lookup (the synthesizer's side) ---------------------------------

// Period of output 8 (length of the selected 2-27 waveform), 16 (selected pattern length / 1000)
// and 9 and 17 (1 s), in s; 0 for another output or an index outside its family. Loads the
// selected table (8, 9, 17) or generates the selected pattern (16) first, so call it at a
// change, not per sample.
double StandardWaveformPeriod(int outputFunction);
// Value in mV of the selected waveform of output 8, 9, 16 or 17 at period position p (s).
// 0 mV for another output, an index outside its family, a position outside the waveform, or a
// table that is absent. Table reads only.
double StandardWaveformVoltage(int outputFunction, double p);

// --- 2-47 patterns ----------------------------------------------------------------------------

// The reference beat (360 samples, mV, one per ms), made on first use.
const double* getECG227Array();
// Fills buffer[0..length) with pattern n (0..4); returns length (0 for another n or a null
// buffer).
int makeIEC247Array(int n, double* buffer, int length);
// The generated buffer of pattern n (hrvperiod[n] samples, mV), generating it on first use;
// nullptr for n outside 0..4 or when memory runs out.
const double* getIEC47RawArray(int n);
// Value of pattern n at p: buffer[trunc(1000 p) mod length]; 0 for n outside 0..4 or a pattern
// not generated yet. Table reads only.
double GetIEC47RawPoint(int n, double p);

// Reinterprets a 16-bit code as signed: v - 65536 when v >= 32768, else v.
int ToInt16(int v);

// Writes samples (µV) as a one-channel text recording: rate, count, "1", name, then one
// "%.3f" line in mV per sample. 0; -3 when the file cannot be opened; -6 when a write fails.
int DumpStandardWaveform(const char* path, int rate, int count, const char* name,
                         const std::int32_t* microvolts);
