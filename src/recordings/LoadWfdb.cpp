// TOLVLoadECGdat: one signal of a WFDB record into the current recording.
#include <cmath>
#include <new>
#include <vector>

#include "recordings/Recording.h"
#include "recordings/RecordingApi.h"
#include "recordings/Wfdb.h"
#include "session/Session.h"
#include "tolvan.h"

namespace {
constexpr int kMinRate = 100;
constexpr int kMaxRate = 40000;
}  // namespace

int DoLoadECGdat(const char* headerPath, const char* signalPath, int channel) {
    HeaFile header;
    if (!header.OpenFile(headerPath)) return -1;
    DatFile data;
    if (!data.OpenFile(signalPath, header)) return -2;
    if (channel < 0 || channel >= data.SignalCount()) return -3;

    const int rate = data.SampleRate();
    InstallEmptyEcgRecording(rate > 0 ? rate : kClearedRecordingRate);
    SampleVector values;
    double maximum = 0.0, minimum = 0.0;
    int count = 0;
    try {
        count = data.ReadChannel(channel, maximum, minimum, values);
    } catch (const std::bad_alloc&) {
        return -4;
    }
    if (count <= 0) return -4;
    // A rate of 0 or below cannot be played at all: nothing stays loaded then.
    if (rate <= 0) return -5;
    // The extremes are values of the array: when both are finite, every value is.
    if (std::isfinite(maximum) && std::isfinite(minimum)) {
        InstallFiniteEcgSamples(std::move(values), rate);
    } else {
        InstallEcgSamples(std::move(values), rate);
    }
    if (rate < kMinRate || rate > kMaxRate) return -5;
    return count;
}

extern "C" {

TOLV_API int TOLVLoadECGdat(const char* headerPath, const char* signalPath, int channel) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadECGdat(headerPath, signalPath, channel);
    } catch (...) {
        return -4;
    }
}

}  // extern "C"
