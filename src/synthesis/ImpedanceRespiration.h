// Impedance respiration: the settings the device generates the breathing from when it has no
// external respiration module, apnoea, and with the module the resistance that the host computes
// for every sample and the three potentiometer codes that make it.
//
// Threads: the settings are written by API threads under the API lock and read by the packet
// builder once per sample without a lock (CRelaxed fields). The module calibration and the
// recorded respiration reach the packet builder as one immutable snapshot, replaced as a whole
// under the API lock and taken once per packet (CurrentExtRespiration).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "synthesis/WaveformState.h"

// ---- Settings ------------------------------------------------------------------------------

// Impedance variation, peak to peak, milliohms.
extern CRelaxed<int> s_RespVariation;
// Respiration rate, breaths per minute, and one breath, s (60 / rate; 0 while unset).
extern CRelaxed<int> s_RespFreq;
extern CRelaxed<double> s_RespPeriod;
// Exhale-to-inhale ratio minus 1 (0..4).
extern CRelaxed<int> s_RespRatio;
// Index of the baseline impedance in the device's list.
extern CRelaxed<int> s_RespBaselineSelection;
// Apnoea seconds at the end of every minute of graph time (0..60).
extern CRelaxed<int> s_ApneaTime;
// Apnoea as last signalled to the device.
extern CRelaxed<bool> s_Apnea_On;
// Waveform of the external module: 0 breathing, 1 constant resistance (calibration).
extern CRelaxed<int> g_nECGExtRespirationMode;
// The external module's baseline DAC code, streamed with every sample.
extern CRelaxed<std::uint16_t> g_nECGExtRespirationBaselineDAC;

// ---- The external module's maths -------------------------------------------------------------

constexpr int kExtRespBaselineCount = 12;
constexpr int kExtRespRDAC3Steps = 96;

// A recorded respiration: values in ohms above 50, at rate samples/s.
struct RESP_RECORDING {
    std::vector<double> samples;
    double rate = 0.0;
};

// What the per-sample resistance and code computation reads besides the settings.
struct EXT_RESPIRATION_DATA {
    double coef[4] = {110.0, 110.0, 110.0, 110.0};  // k0, k1 series resistors; k2 step offset
    double rdac3[kExtRespRDAC3Steps] = {};          // ohms of each potentiometer-3 step
    std::uint16_t baselineDAC[kExtRespBaselineCount] = {};
    std::shared_ptr<const RESP_RECORDING> recording;  // null while none is loaded
};
using ExtRespirationSnapshot = std::shared_ptr<const EXT_RESPIRATION_DATA>;

// The snapshot in force (never null). Any thread.
ExtRespirationSnapshot CurrentExtRespiration();
// Takes the module calibration in force into a new snapshot. Caller holds the API lock.
void RefreshExtRespiration();

// Resistance of the module at play time t, ohms: the recorded respiration when one is loaded,
// else the constant 50 + V/1000 in mode 1, else one breath of period s_RespPeriod rising from
// 50 to 50 + V/1000 ohms over the inhalation and falling back over the exhalation.
double CalculateECGExtRespiration(double t, const EXT_RESPIRATION_DATA& data);
// The three potentiometer codes (1, 2 and the step of 3) whose parallel combination makes r.
void ExtRespGetAmplitudeDAC(double r, const EXT_RESPIRATION_DATA& data, std::uint16_t codes[3]);
// Baseline DAC code of a module baseline selection (limited to 0..11).
std::uint16_t ExtRespGetBaselineDAC(int selection, const EXT_RESPIRATION_DATA& data);
// Selection of a baseline impedance in the list of the device (without the module 500..2500 in
// steps of 500; with it 0, 100, 200, 500, then up to 4500 in steps of 500); 0 when not listed.
// With the module a listed baseline also sets g_nECGExtRespirationBaselineDAC.
int GetRespiratoryBaselineSelection(int baseline);

// Every impedance setting back to its value at load (respiration switched off).
void ClearImpedanceRespiration();

// ---- Apnoea ----------------------------------------------------------------------------------

// Apnoea is wanted at whole second s of graph time (the last s_ApneaTime seconds of a minute).
bool ApneaWantedAt(int seconds);
// After a stream packet, without the module: signals a change of the wanted apnoea state to the
// device. inPacketBuilder: the caller builds a packet and holds the interrupt lock (the exchange
// then runs without the API lock, which must never be taken after the interrupt lock).
void _CheckApnea(int seconds, bool inPacketBuilder);
// Sends apnoea on or off (module parameter block byte 12); true when acknowledged.
bool _SetApnea(bool on, bool inPacketBuilder);
// End of playback: apnoea that is on goes off (respiration enabled, no module).
void SwitchApneaOffAtStop();
