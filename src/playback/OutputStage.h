// The output stage: each sample's AC and DC converter codes, the relay word and operate mode
// with the effective sample rate that follows from them, the output leads, lead-off, the
// right-leg-drive measurement and the fixed DC output.
//
// The relay state is written under the API lock by API threads and, at period ends, by the
// play thread (which holds the interrupt lock); SetRelays takes the API lock itself.
#pragma once

#include <atomic>
#include <cstdint>

// Relay word (24 bits used) and operate mode last computed by SetRelays.
extern std::atomic<std::int32_t> g_nRelayControl;
extern std::atomic<std::uint8_t> g_OperateMode;
// Output leads switched on: bit i = output lead i (0..8).
extern std::atomic<std::uint32_t> g_OutputLead;
// Fixed DC DAC code; -1 = none (the calibrated DC value is used).
extern std::atomic<int> s_DcDacValue;
// The PPG AC-above-DC option g_bACAboveDC lives with the PPG tables (ppg/PpgChannels.h).

// Effective sample rate: 5000 with the external respiration module, the PPG rate when any PPG
// output is enabled, else the ECG sample rate.
int _GetSampleRate();
// The DC and AC codes of the sample at time t. notify: run the output-signal and pacing
// callbacks and the decimation counter; record: feed the output recorder.
void _GetECGVoltageData(double t, std::uint16_t* dc, std::uint16_t* ac, bool notify, bool record);

// On module 0x2112: the AC calibration mode of each enabled PPG output from its table's AC
// maximum (part of SetRelays).
void RefreshACCalModes();
// Recomputes the relay word, operate mode and PPG bytes; sends OutputConfig when connected and
// it differs from the last one sent, or always when force is true. Returns true unless the
// send failed.
bool SetRelays(bool force);
// Forces the relay configuration out (playback start).
void _RefreshOperateMode();
// Forgets the configuration last sent (a new connection starts from an unknown one).
void ForgetOutputConfig();
// Marks the calling thread as the packet builder while it builds a packet: its device commands
// then take no API lock.
void SetPacketBuilderThread(bool inside);
// Clears the fixed DC code (playback stop).
void ClearFixedDcDac();
// Fixed DC output: code 0..65535; switches variable DC mode on and updates the relays.
bool SetDcDac(int code);

// The relay word and operate mode for the current state; `active` means playing or forced.
struct RelayConfiguration {
    std::uint32_t relayWord = 0;
    std::uint8_t operateMode = 0;
    std::uint8_t ledSync[3] = {0, 0, 0};
};
RelayConfiguration ComputeRelayConfiguration(bool active);
