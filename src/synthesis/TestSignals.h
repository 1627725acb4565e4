// The test signals of the ECG standards that the application switches on: mains noise of the
// IEC 60601-2-27 noise test, the AAMI drift, the baseline-reset and dynamic-range tests, and the
// two frequency scans (a sine sweep and an ECG heart-rate sweep).
//
// Thread contract
//   - The exported setters run on API threads under the API lock (g_APICriticalSection).
//   - The play thread (or the simulation timer's tick) runs FrequencyScanSampleStep once per
//     sample and _UpdateFreqScanIfRequired once per packet, holding the interrupt lock (or the
//     API lock for the first packet). It never takes the API lock here: doing so while holding
//     the interrupt lock would invert the lock order. The end of a scan, found after a packet,
//     therefore switches the scan off through the internal bodies below.
//   - The clean-up after playback (StopTestSignals, play thread, no lock held) takes the API
//     lock to switch the baseline-reset test off.
//   - Every field is a CRelaxed (see WaveformState.h).
#pragma once

#include "synthesis/PlayClock.h"
#include "synthesis/WaveformState.h"

// --- Frequency-scan state -------------------------------------------------------------------

// Start and end frequency of the running or last scan, Hz.
extern CRelaxed<double> g_Fstart;
extern CRelaxed<double> g_Ffinal;
// Duration of the sine scan, s.
extern CRelaxed<int> g_Fduration;
// The sine scan, respectively the ECG scan, was started; cleared when playback ends.
extern CRelaxed<bool> g_FreqScan1;
extern CRelaxed<bool> g_FreqScan3;
// Frequency increment per sample while a scan runs, Hz.
extern CRelaxed<double> s_Fd;

// Restores the scan fields above and s_FreqScanOn to their values at load.
void ResetTestSignalState();

// --- Per sample and per packet (packet builder) ----------------------------------------------

// One sample's step of a running scan, before the period-end check: the frequency grows by s_Fd
// and the play time is re-phased so that the position within the period, as a fraction of the
// period, survives the new period. s_tg is not touched. A step that would make the frequency
// zero or negative (a falling scan overshooting within one packet) is skipped. Arithmetic only.
inline void FrequencyScanSampleStep() {
    if (!s_FreqScanOn) return;
    const double f = g_F + s_Fd;
    if (!(f > 0.0)) return;
    g_F = f;
    RephaseSynthesisTime(1.0 / f);
}

// Once per packet while a scan runs: reports the current frequency to the frequency callback;
// when the frequency (rounded to 1e-5 Hz) has left start..end, reports -1.0 and switches the
// scans that were started off, which stops playback. Does nothing once the output function is
// already 0 (the scan has ended and playback is stopping).
void _UpdateFreqScanIfRequired();

// --- Internal bodies (caller holds the API lock, or is the play thread) -----------------------

// Baseline-reset test mode change: journal, callback when the mode changes, output function 1
// for a non-zero mode, store, change request. No wait.
void DoSetBaselineResetTest(int mode);
// Sine scan on or off with its arguments already checked.
void DoSetFrequencyScanSine(bool enable, int duration, double start, double stop);
// ECG scan on or off.
void DoSetFrequencyScanECG(bool enable);
// Clears the scan flags (s_FreqScanOn, g_FreqScan1, g_FreqScan3) when playback has ended.
void ClearFrequencyScans();
