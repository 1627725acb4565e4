// The current ECG recording: the one recorded channel that output function 13
// (OUTPUT_ECG_FILE) plays, and the recorder of the output stage's values. Whether it loops is a
// setting of the waveform state (s_loopFile).
//
// Thread-safety contract
// ----------------------
// A recording is immutable once made: an EcgRecording never changes after it has been
// installed, and it is held by std::shared_ptr. The current recording is one shared pointer
// that loaders replace as a whole (always under the API lock, with an atomic store), so a
// reader on any thread sees either the old or the new (samples, count, rate) triple, never a
// mix, and the array it reads stays alive for as long as the reader holds its snapshot.
//
//   - Writers: every loader (TOLVLoadECGtxt, TOLVLoadECGedf, TOLVLoadECGdat, LoadECGBin,
//     LoadECGAHA, SetRawArray, ClearRawArray) on application threads, under the API lock.
//   - Readers: the main-function synthesizer on the play thread (or the timer tick) and
//     GetFileArray. A reader calls CurrentEcgRecording() once (when output 13 is applied, or
//     once per packet) and then reads through its snapshot with no lock: no allocation, no
//     lock and no I/O per sample. Reading through a snapshot taken at apply time keeps the
//     period and the data consistent until output 13 is applied again.
//   - CurrentEcgRecording() never returns null; with no recording it returns an empty one.
//
// Invariants of every installed recording: samples are finite; when Count() > 0 the sample
// rate is finite and > 0 (so Count() / SampleRate() is a valid period).
//
// Output recorder: its state is guarded by the API lock. RecordOutputSample is called by the
// output stage for every sample it marks for recording, while it builds a packet under the API
// lock; it is arithmetic only.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "recordings/SampleVector.h"

// One loaded recording: a single channel of samples at one rate.
class EcgRecording {
  public:
    // An empty recording (no samples) at the given rate.
    explicit EcgRecording(double sampleRate) : m_sampleRate(sampleRate) {}
    // Takes the samples (millivolts when unitMillivolts, else microvolts). Non-finite values
    // are stored as 0 so that the play path only ever sees finite numbers.
    EcgRecording(SampleVector&& samples, double sampleRate, bool unitMillivolts = true);
    EcgRecording(const std::vector<double>& samples, double sampleRate, bool unitMillivolts = true);
    // Takes millivolts that the loader has already made finite (its decoding loop checks them).
    struct FiniteMillivolts {};
    EcgRecording(FiniteMillivolts, SampleVector&& samples, double sampleRate);

    EcgRecording(const EcgRecording&) = delete;
    EcgRecording& operator=(const EcgRecording&) = delete;

    // Number of samples (0 = no recording).
    int Count() const { return static_cast<int>(m_samples.size()); }
    // Sampling rate in Hz; not necessarily a whole number.
    double SampleRate() const { return m_sampleRate; }
    // True when the stored samples are millivolts (every loader of the library), false when
    // they are microvolts.
    bool UnitMillivolts() const { return m_unitMillivolts; }
    // The stored samples (nullptr when empty).
    const double* Data() const { return m_samples.empty() ? nullptr : m_samples.data(); }

    // Sample `index` in millivolts (divided by 1000 when the unit is microvolts); 0 for an
    // index outside 0 .. Count() - 1 and for an empty recording.
    double MillivoltsAt(long long index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= m_samples.size()) return 0.0;
        double v = m_samples[static_cast<std::size_t>(index)];
        return m_unitMillivolts ? v : v / 1000.0;
    }
    // The sample played at time t seconds within the period: index = trunc(rate * t). The play
    // clock is a sum of 1/rate steps, so rate * t lands a rounding error below a whole number;
    // a millionth of a sample of slack keeps such a time on its own sample.
    double MillivoltsAtTime(double t) const {
        if (m_samples.empty() || !(t >= 0.0)) return 0.0;
        double index = m_sampleRate * t + 1e-6;
        if (!(index < static_cast<double>(m_samples.size()))) return 0.0;
        return MillivoltsAt(static_cast<long long>(index));
    }
    // Period of the recording in seconds (Count() / SampleRate()); 0 when empty.
    double PeriodSeconds() const {
        return m_samples.empty() ? 0.0 : static_cast<double>(m_samples.size()) / m_sampleRate;
    }

  private:
    void Settle(bool checkFinite);

    SampleVector m_samples;
    double m_sampleRate = 0.0;
    bool m_unitMillivolts = true;
};

using EcgRecordingPtr = std::shared_ptr<const EcgRecording>;

// Rate of the empty recording at start and after ClearRawArray.
constexpr double kClearedRecordingRate = 20000.0;

// Snapshot of the current recording; never null. Safe on any thread.
EcgRecordingPtr CurrentEcgRecording();
// Makes `recording` the current one (null installs an empty recording at the cleared rate).
// Callers hold the API lock.
void InstallEcgRecording(EcgRecordingPtr recording);
// Convenience for loaders: installs the samples (millivolts) at the rate and returns the new
// recording. Throws std::bad_alloc when memory runs out (the current recording is unchanged).
EcgRecordingPtr InstallEcgSamples(SampleVector&& samples, double sampleRate);
EcgRecordingPtr InstallEcgSamples(const std::vector<double>& samples, double sampleRate);
// The same for samples that are finite already (a loader's checked decoding loop).
EcgRecordingPtr InstallFiniteEcgSamples(SampleVector&& samples, double sampleRate);
// Installs an empty recording at the given rate (a load that failed after its header checks).
void InstallEmptyEcgRecording(double sampleRate);

// The respiration recording (owned by the respiration module) is reset together with the ECG
// recording by ClearRawArray. The respiration module registers its reset here; null removes it.
void RegisterRespirationRecordingReset(void (*reset)());

// --- Output recorder ---------------------------------------------------------------------------

// Called by the output stage for every output sample it marks for recording, with the value
// sent to the AC channel (millivolts, after respiration attenuation) and the DC-channel value.
// While armed, both buffers set and the index below the capacity, stores both values at the
// index and advances it; when full, nothing more is stored (the recorder stays armed until
// DisableRecordRaw). Caller holds the API lock. No allocation, lock or I/O.
void RecordOutputSample(double acMv, double dcMv);
// True while EnableRecordRaw has armed the recorder (API lock held).
bool RecorderArmed();
// Next slot of the recorder (the number of samples stored so far); API lock held.
int RecorderIndex();
