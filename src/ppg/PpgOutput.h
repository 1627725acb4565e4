// PPG sample output: for every output sample and every enabled PPG channel, the DC and AC DAC
// codes and the value reported to the application, from the channel's one-beat table, shifted so
// that the PPG peak follows the synthetic ECG's R wave by the pulse-transit time and modulated by
// the respiration waveform.
//
// Threads: the per-sample functions run in the packet builder (play thread or simulation timer
// tick) under the interrupt lock, which also guards the tables (ppg/PpgWaveforms.h). The
// settings are atomics written by API threads; the frequency-modulation phase belongs to the
// packet builder alone. Arithmetic only: no allocation, lock or I/O.
#pragma once

#include <atomic>

// Pulse-transit time from the ECG's R crest to the PPG peak, ms; negative = no synchronisation.
extern std::atomic<int> g_PPG_PTTp;

// Offset of channel 0..2's beat, s: the pulse-transit-time shift while the synthetic ECG plays
// and the channel holds a generated table, else 0.
double _GetPPGTimeOffset(int channel);

// Once per output sample, before the channels' codes: advances the shared phase of the
// frequency-modulated PPG by one sample of the output rate (dt seconds) when t is above 0.
void PPGBeginSample(double t, double dt);

// The per-sample function: channel's DC code, AC code and reported value at play time t with the
// beat offset (s). A channel without a table gives 0, 0 and 0; codes are limited to the full
// scales. Any pointer may be null.
void _GetPPGVoltageData(double t, int channel, double offset, unsigned short* dcCode,
                        unsigned short* acCode, double* value);

// The reset's part: no pulse-transit time, no modulation (the phase restarts with the next
// playback, at play time 0).
void ResetPPGOutputSettings();
