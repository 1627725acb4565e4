// The current recording and the output recorder, with the exported functions that act on them
// directly.
#include "recordings/Recording.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#include "platform/NoThrow.h"
#include "platform/Text.h"
#include "recordings/RecordingApi.h"
#include "session/Session.h"
#include "tolvan.h"

EcgRecording::EcgRecording(SampleVector&& samples, double sampleRate, bool unitMillivolts)
    : m_samples(std::move(samples)), m_sampleRate(sampleRate), m_unitMillivolts(unitMillivolts) {
    Settle(true);
}

EcgRecording::EcgRecording(const std::vector<double>& samples, double sampleRate,
                           bool unitMillivolts)
    : m_samples(samples.begin(), samples.end()),
      m_sampleRate(sampleRate),
      m_unitMillivolts(unitMillivolts) {
    Settle(true);
}

EcgRecording::EcgRecording(FiniteMillivolts, SampleVector&& samples, double sampleRate)
    : m_samples(std::move(samples)), m_sampleRate(sampleRate), m_unitMillivolts(true) {
    Settle(false);
}

void EcgRecording::Settle(bool checkFinite) {
    if (checkFinite) {
        for (double& v : m_samples) {
            if (!std::isfinite(v)) v = 0.0;
        }
    }
    m_samples.shrink_to_fit();
    if (!m_samples.empty() && !(std::isfinite(m_sampleRate) && m_sampleRate > 0.0)) {
        m_samples.clear();  // a recording without a usable rate cannot be played
        m_samples.shrink_to_fit();
    }
}

namespace {

// The current recording. Written under the API lock by the loaders (atomic store), read with
// an atomic load by any thread (the synthesizer on the play thread, GetFileArray).
EcgRecordingPtr s_currentRecording = std::make_shared<const EcgRecording>(kClearedRecordingRate);

// Reset of the respiration recording, registered by the respiration module.
std::atomic<void (*)()> s_resetRespirationRecording{nullptr};

// Output recorder, guarded by the API lock: written by EnableRecordRaw/DisableRecordRaw on
// application threads and by RecordOutputSample on the play thread while it builds a packet.
struct OutputRecorder {
    bool enabled = false;
    double* ac = nullptr;
    double* dc = nullptr;
    int length = 0;
    int index = 0;
};
OutputRecorder s_recorder;

}  // namespace

EcgRecordingPtr CurrentEcgRecording() {
    return std::atomic_load(&s_currentRecording);
}

void InstallEcgRecording(EcgRecordingPtr recording) {
    if (!recording) recording = std::make_shared<const EcgRecording>(kClearedRecordingRate);
    std::atomic_store(&s_currentRecording, std::move(recording));
}

EcgRecordingPtr InstallEcgSamples(SampleVector&& samples, double sampleRate) {
    auto recording = std::make_shared<const EcgRecording>(std::move(samples), sampleRate, true);
    InstallEcgRecording(recording);
    return recording;
}

EcgRecordingPtr InstallEcgSamples(const std::vector<double>& samples, double sampleRate) {
    auto recording = std::make_shared<const EcgRecording>(samples, sampleRate, true);
    InstallEcgRecording(recording);
    return recording;
}

EcgRecordingPtr InstallFiniteEcgSamples(SampleVector&& samples, double sampleRate) {
    auto recording = std::make_shared<const EcgRecording>(EcgRecording::FiniteMillivolts{},
                                                          std::move(samples), sampleRate);
    InstallEcgRecording(recording);
    return recording;
}

void InstallEmptyEcgRecording(double sampleRate) {
    // An empty recording needs only its rate; making it must not fail the caller's cleanup.
    try {
        InstallEcgRecording(std::make_shared<const EcgRecording>(sampleRate));
    } catch (const std::bad_alloc&) {
        InstallEcgRecording(nullptr);
    }
}

void RegisterRespirationRecordingReset(void (*reset)()) {
    s_resetRespirationRecording = reset;
}

void RecordOutputSample(double acMv, double dcMv) {
    OutputRecorder& r = s_recorder;
    if (!r.enabled || r.ac == nullptr || r.dc == nullptr || r.index >= r.length) return;
    r.ac[r.index] = acMv;
    r.dc[r.index] = dcMv;
    ++r.index;
}

bool RecorderArmed() {
    return s_recorder.enabled;
}
int RecorderIndex() {
    return s_recorder.index;
}

int DoDumpRawData(const double* values, int count, const char* path) {
    if (count < 0 || (values == nullptr && count > 0)) return -2;
    std::FILE* raw = OpenFileUtf8(path, "w+b");
    if (raw == nullptr) return -3;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) ok = std::fprintf(raw, "%.3f\n", values[i]) > 0;
    if (std::fclose(raw) != 0) ok = false;  // buffered data is written here
    return ok ? 0 : -6;
}

extern "C" {

TOLV_SERVICE_API void SetRawArray(int count, const double* samples, int sampleRate) {
    NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (count < 0 || (samples == nullptr && count > 0) || sampleRate <= 0) return 0;
        SampleVector copy(samples, samples + count);
        InstallEcgSamples(std::move(copy), sampleRate);
        return 0;
    });
}

TOLV_SERVICE_API void ClearRawArray(void) {
    NoThrow(0, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        InstallEcgRecording(nullptr);
        if (auto reset = s_resetRespirationRecording.load()) reset();
        return 0;
    });
}

TOLV_SERVICE_API const double* GetFileArray(int* count, int* sampleRate) {
    return NoThrow(static_cast<const double*>(nullptr), [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        EcgRecordingPtr recording = CurrentEcgRecording();
        if (count != nullptr) *count = recording->Count();
        if (sampleRate != nullptr) *sampleRate = static_cast<int>(recording->SampleRate());
        return recording->Data();  // kept alive by the current-recording pointer
    });
}

TOLV_SERVICE_API int DumpRawData(const double* values, int count, const char* path) {
    return NoThrow(-6, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoDumpRawData(values, count, path);
    });
}

TOLV_SERVICE_API bool EnableRecordRaw(double* ac, double* dc, int length) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (s_recorder.enabled || length < 0) return false;
        s_recorder = OutputRecorder{true, ac, dc, length, 0};
        return true;
    });
}

TOLV_SERVICE_API void DisableRecordRaw(void) {
    NoThrow(0, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        s_recorder = OutputRecorder{};
        return 0;
    });
}

}  // extern "C"

std::vector<double> Resample(const std::vector<double>& values, double rate, double target) {
    const double span = static_cast<double>(values.size() - 1) / rate;
    const auto count = static_cast<std::size_t>(std::floor(span * target + 1e-9)) + 1;
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = static_cast<double>(i) * rate / target;
        const auto k = static_cast<std::size_t>(x);
        const double frac = x - static_cast<double>(k);
        out[i] =
            k + 1 < values.size() ? values[k] + frac * (values[k + 1] - values[k]) : values.back();
    }
    return out;
}
