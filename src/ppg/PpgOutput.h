// PPG sample output: for every output sample and every enabled PPG channel, the DC and AC DAC
// codes and the value reported to the application, from the channel's one-beat table, shifted so
// that the PPG peak follows the synthetic ECG's R wave by the pulse-transit time and modulated by
// the respiration waveform.
//
// Threads: the per-sample functions run in the packet builder (play thread or simulation timer
// tick) under the interrupt lock, which also guards the tables (ppg/PpgWaveforms.h). The
// settings are atomics written by API threads; the frequency-modulation phase belongs to the
// packet builder alone (or to a direct caller of _GetPPGVoltageData in its place). Arithmetic
// only: no allocation, lock or I/O.
#pragma once

#include <atomic>
#include <cstdint>

#include "ppg/PpgWaveforms.h"

// Pulse-transit time from the ECG's R crest to the PPG peak, ms; negative = no synchronisation.
extern std::atomic<int> g_PPG_PTTp;

// Offset of channel 0..2's beat, s: the pulse-transit-time shift while the synthetic ECG plays
// and the channel holds a generated table, else 0.
double _GetPPGTimeOffset(int channel);

// Once per output sample at play time t, before the channels' codes: moves the shared phase of
// the frequency-modulated PPG on by one sample of the output rate (dt seconds) when t is above 0.
// Returns the respiration value r that modulates this sample (0 without modulation).
double PPGBeginSample(double t, double dt);

// Full scales of one channel's codes: the DC level that gives the full DC code, the AC level
// that gives the full AC code, and the two full codes. They follow the module and its AC
// calibration mode; the packet builder takes them once per packet.
struct PPG_SCALE {
    double dcFullScale = 0.0;
    int dcLevel = 0;
    double acFullScale = 0.0;
    int acLevel = 0;
    // The DC code of the DC entry last converted with this scale (tables mostly hold one DC
    // level): a repeated entry reuses its code.
    std::int32_t lastDcEntry = 0;
    unsigned short lastDcCode = 0;
    bool haveDc = false;
};
PPG_SCALE PPGChannelScale(int channel);

// The per-sample function with the channel's table, scale and the sample's respiration value
// at hand (the packet builder's form of _GetPPGVoltageData).
void PPGVoltageData(const PPG_TABLE* table, PPG_SCALE& scale, double t, double offset,
                    double respiration, unsigned short* dcCode, unsigned short* acCode,
                    double* value, double* beatPhase = nullptr);

// Ground truth of channel `channel` at play time t, the beat phase (0..1) that PPGVoltageData
// gave for its table: the pulse's foot and peak (the generated pulse's rise time after the foot).
void NotePpgTableTruth(int channel, const PPG_TABLE* table, double phase, double t);

// The per-sample function: channel's DC code, AC code and reported value at play time t with the
// beat offset (s). A channel without a table gives 0, 0 and 0; codes are limited to the full
// scales. Any pointer may be null. Called at a play time other than that of the sample begun
// last, it begins that sample as PPGBeginSample does (at the effective sample rate); called
// again at the same time (the sample's other channels), it does not. So calls at the packet
// builder's successive sample times give the packet builder's values.
void _GetPPGVoltageData(double t, int channel, double offset, unsigned short* dcCode,
                        unsigned short* acCode, double* value);

// The reset's part: no pulse-transit time, no modulation (the phase restarts with the next
// playback, at play time 0).
void ResetPPGOutputSettings();
