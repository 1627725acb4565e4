// TOLVLoadECGWfdbRecord: one signal of any WFDB record that WfdbRecord reads, into the current
// recording; a rate that is not a whole number is resampled when the caller asks for it.
#include <cmath>
#include <new>
#include <vector>

#include "recordings/Recording.h"
#include "recordings/RecordingApi.h"
#include "recordings/WfdbRecord.h"
#include "session/Session.h"
#include "tolvan.h"

namespace {

constexpr int kMinRate = 100;
constexpr int kMaxRate = 40000;

int DoLoadWfdbRecord(const char* headerPath, int channel, int flags) {
    if ((flags & ~TOLV_WFDB_RESAMPLE) != 0) return -6;
    if (headerPath == nullptr) return -1;
    WFDB_SIGNAL signal;
    int rc = 0;
    try {
        rc = ReadWfdbRecordSignal(headerPath, channel, signal);
    } catch (const std::bad_alloc&) {
        return -4;
    }
    if (rc != 0) return rc;
    double rate = signal.rate;
    try {
        if (rate != std::floor(rate)) {
            if ((flags & TOLV_WFDB_RESAMPLE) == 0) return -5;
            const double target = std::max(1.0, std::round(rate));
            signal.values = Resample(signal.values, rate, target);
            rate = target;
        }
        InstallEcgSamples(std::move(signal.values), rate);
    } catch (const std::bad_alloc&) {
        return -4;
    }
    const int count = CurrentEcgRecording()->Count();
    if (rate < kMinRate || rate > kMaxRate) return -5;
    return count;
}

}  // namespace

extern "C" {

TOLV_API int TOLVLoadECGWfdbRecord(const char* headerPath, int channel, int flags) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadWfdbRecord(headerPath, channel, flags);
    } catch (...) {
        return -4;
    }
}

}  // extern "C"
