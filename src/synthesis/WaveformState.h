// The waveform state: the one process-wide record of what the simulator plays, changed by the
// waveform setters and read by the synthesizer for every sample.
//
// Thread contract
//   - Writers: API threads, always under the API lock (g_APICriticalSection), through the
//     setters and the reset. The play thread writes a few fields too: a change applied at a
//     period end may clamp g_F and g_PulseWidth and lower g_Amplitude; output 10000 rewrites
//     g_DCSetting every sample; the frequency scans sweep g_F; the end of a table or recording
//     that does not loop sets g_MainOutput to 0.
//   - Readers: the play thread (or the simulation timer's tick), without any lock, once per
//     sample; API getters under the API lock (TOLVGetAmplitude and TOLVGetFrequency without).
//   - Every field that the play thread reads is a CRelaxed<T>: a std::atomic<T> accessed with
//     relaxed ordering. A store is one indivisible write and a load one indivisible read, so a
//     sample sees either the old or the new value of each field, never a torn one, and
//     ThreadSanitizer sees no data race. Relaxed loads compile to plain loads on the targets we
//     build for, so the per-sample path stays as cheap as with plain variables. No ordering
//     between fields is promised: a sample taken during a change may combine old and new
//     values of different fields, as it may with plain stores; the next sample is consistent.
//   - Compound updates (s_t += dt) are a load and a store, not an atomic read-modify-write;
//     they are only used where one thread at a time writes the field.
#pragma once

#include <atomic>

#include "tolvan.h"

// A value shared between API threads and the play thread: an atomic accessed with relaxed
// ordering, used like a plain variable (assignment stores, conversion loads).
template <typename T>
class CRelaxed {
  public:
    constexpr explicit CRelaxed(T value) noexcept : m_value(value) {}
    CRelaxed(const CRelaxed&) = delete;
    CRelaxed& operator=(const CRelaxed&) = delete;

    T load() const noexcept { return m_value.load(std::memory_order_relaxed); }
    void store(T value) noexcept { m_value.store(value, std::memory_order_relaxed); }

    operator T() const noexcept { return load(); }
    CRelaxed& operator=(T value) noexcept {
        store(value);
        return *this;
    }
    // Load, add, store: for fields with one writer at a time.
    CRelaxed& operator+=(T delta) noexcept {
        store(load() + delta);
        return *this;
    }
    CRelaxed& operator-=(T delta) noexcept {
        store(load() - delta);
        return *this;
    }

  private:
    std::atomic<T> m_value;
};

// --- General settings (TOLVSet... of the waveform parameters) ------------------------------

// Selected output function (OutputFunction_E value; any value is stored, unknown ones play 0).
extern CRelaxed<int> g_MainOutput;
// Peak-to-peak amplitude of the main function in mV; the R amplitude of the ECG forms.
extern CRelaxed<double> g_Amplitude;
// Repetition frequency in Hz (heart rate / 60 for the ECG forms).
extern CRelaxed<double> g_F;
// Width of the pulse forms 4 and 5 in ms.
extern CRelaxed<double> g_PulseWidth;
// DC offset on the DC path in mV.
extern CRelaxed<int> g_DCSetting;
// DC offset from the DC converter (any value) rather than the fixed +-300 mV relays.
extern CRelaxed<bool> g_DCVariable;
// DC offset applied in common mode (relay setting).
extern CRelaxed<bool> g_DCCommon;
// Input-impedance mode (relay setting).
extern CRelaxed<bool> g_InputImpedance;
// ECG beat parameters: durations in ms, amplitudes in mV.
extern CRelaxed<double> g_QRSDuration;
extern CRelaxed<double> g_CusT;
extern CRelaxed<double> g_CusP;
extern CRelaxed<double> g_CusST;
extern CRelaxed<double> g_PDuration;
extern CRelaxed<double> g_PRInterval;
extern CRelaxed<double> g_QTInterval;
extern CRelaxed<double> g_TDuration;
// ECG synthesis on; when off the AC path carries 0 mV.
extern CRelaxed<bool> g_bECGOutputEnabled;
// Standard tables (outputs 8, 9, 16, 17) repeat; false stops after one period.
extern CRelaxed<bool> s_loopPlay;
// The recorded ECG (output 13) repeats.
extern CRelaxed<bool> s_loopFile;
// ECG sample rate requested by the application, samples/s.
extern CRelaxed<int> s_sampleRate;
// Selected standard waveform and ANE20000 lead (0..8).
extern CRelaxed<int> SpecialWaveFormNo;
extern CRelaxed<int> ANE20000ChannelNo;

// --- Settings of pacing, noise, tests and respiration that the main function reads ----------

// Pacing pulse amplitude in mV; 0 = pacing off.
extern CRelaxed<double> g_PA;
// Mains interference: selector 0..9 and peak-to-peak amplitude in mV.
extern CRelaxed<int> g_MainNoise;
extern CRelaxed<double> g_MainsNoiseAmp;
// Baseline-reset test mode 0..4 (0 = off); the amplitude and frequency setters refuse while on.
extern CRelaxed<int> g_BaseLineOverload;
// Triangular baseline drift of outputs 7 and 14: on, amplitude (mV peak-to-peak), period (s),
// a quarter and three quarters of the period (s), slope 2 * amplitude / period (mV/s).
extern CRelaxed<bool> g_AAMIDriftTest;
extern CRelaxed<double> g_AAMIDriftTestAmp;
extern CRelaxed<double> g_AAMIDriftTestWaveLen;
extern CRelaxed<double> g_AAMIDriftTestWaveLenQuad;
extern CRelaxed<double> g_AAMIDriftTestWaveLenQuad3;
extern CRelaxed<double> g_AAMIDriftTestSlope;
// Dynamic-range test: on, test sine amplitude (mV peak-to-peak) and frequency (Hz).
extern CRelaxed<bool> g_DynamicRangeTest;
extern CRelaxed<double> g_ADynamicRange;
extern CRelaxed<double> g_FDynamicRange;
// A frequency scan runs (TOLVSetFrequency refuses meanwhile).
extern CRelaxed<bool> s_FreqScanOn;
// Respiratory modulation of outputs 7 and 14: baseline (mV), amplitude (mV), rate (Hz).
extern CRelaxed<double> s_BaselineModV;
extern CRelaxed<double> s_AmpModV;
extern CRelaxed<double> s_FreqModHz;

// --- Callbacks (plain function pointers owned by the application; empty = none) -------------

// A change clamped g_F (argument: new g_F); frequency-scan progress and end (-1.0).
extern CRelaxed<TOLV_SYNC_FREQUENCY_CALLBACK> g_SyncFreqCB;
// Output 15 stepped its DC offset (argument: whole millivolts).
extern CRelaxed<TOLV_SYNC_DC_OFFSET_CALLBACK> g_SyncDCOffsetCB;
// A frequency scan switched the output function.
extern CRelaxed<TOLV_SYNC_MAIN_FUNCTION_CALLBACK> g_SyncMainFuncCB;
// A standard table or recording that does not loop has played one period and stops.
extern CRelaxed<TOLV_STANDARD_STOP_CALLBACK> g_StandardStopCB;
// The baseline-reset test mode changes.
extern CRelaxed<TOLV_BASELINE_RESET_CALLBACK> g_BaselineResetCB;

// Restores every setting above to its value at load. Registered callbacks stay registered and
// the derived synthesis values are left to the next change. Call under the API lock.
void ResetWaveformState();
