// PPG waveform tables: per channel the waveform description, the one-beat table of DC and AC
// values (thousandths of the module's DC and AC units) generated from it or handed over by the
// application, and the finger model that converts levels for the modules that have one.
//
// Threads and locks:
// - A channel's table is an immutable PPG_TABLE. Installers and the clear run on API threads
//   under the API lock and swap the table under the interrupt lock; the old table is released
//   after the swap, outside the interrupt lock.
// - The packet builder (play thread or simulation timer tick) holds the interrupt lock for the
//   whole packet and reads the tables through PPGTable() without a lock of its own; so a clear
//   while playing takes effect between two packets and never frees a table being read.
// - API-lock holders (the output configuration) may read the tables too: they never change
//   without the API lock.
#pragma once

#include <cstdint>
#include <memory>

#include "ppg/PpgChannels.h"
#include "tolvan.h"

// One channel's table. Entries are thousandths of the DC and AC units.
struct PPG_TABLE {
    bool useFile = false;     // handed over by the application (not generated)
    double sampleRate = 0.0;  // rate of the table, Hz
    std::uint64_t length = 0;
    std::unique_ptr<std::int32_t[]> dc;
    std::unique_ptr<std::int32_t[]> ac;
    std::int32_t acMax = 0;     // largest AC value, thousandths
    double acMaxUnits = 0.0;    // the same in AC units (acMax / 1000)
    bool invert = true;         // the reported value is AC maximum - AC
    double frequency = 0.0;     // the generated waveform's frequency (0 for application data)
    double period = 0.0;        // beat period, s: 1 / frequency, or length / rate for app data
    std::int32_t riseTime = 0;  // the generated waveform's rise time, ms
};

// The table of channel 0..2, or null when none is installed (or the channel is out of range).
// Caller holds the interrupt lock or the API lock.
const PPG_TABLE* PPGTable(int channel);

// Module limits in force: the capability record's AC minimum, AC maximum, DC minimum and DC
// maximum; without a module record the default row's (0.75, 30, 100, 3000).
struct PPG_LIMITS {
    double acMin;
    double acMax;
    double dcMin;
    double dcMax;
};
PPG_LIMITS PPGLimits();

// The finger-model conversion applies to the module attached now: it is switched on and the
// module is 0x2112 (its DC tables load at connect) or 0x2012 with tables supplied by the
// application.
bool PPGConversionActive();

// Channel slot of the module's DC tables and factory AC levels: 2, 0, 1 for channels 0, 1, 2.
int PPGTableSlot(int channel);

// Resets one channel's table (released, sync 0); channels outside 0..2 are ignored. Caller
// holds the API lock.
void _ClearPPGData(int channel);

// The reset's PPG step: every output disabled, every table cleared, every record zeroed. Caller
// holds the API lock.
void ResetPPGWaveforms();

// Model numbers with a finger model.
constexpr std::uint16_t kPPGModel2012 = 0x2012;
constexpr std::uint16_t kPPGModel2112 = 0x2112;
