// TOLVLoadECGedf: one signal of an EDF or EDF+ file into the current recording.
#include <new>
#include <vector>

#include "recordings/EdfFile.h"
#include "recordings/Recording.h"
#include "recordings/RecordingApi.h"
#include "recordings/RecordingCodecs.h"
#include "session/Session.h"
#include "tolvan.h"

namespace {
constexpr int kMinRate = 100;
constexpr int kMaxRate = 40000;
}  // namespace

int DoLoadECGedf(const char* path, int channel) {
    EdfFile edf;
    if (int code = edf.readFile(path); code != 0) return code;
    const EdfHeader& header = edf.Header();
    if (channel < 0 || channel >= header.numberOfSignals) return -3;
    const EdfSignal& signal = header.signals[static_cast<std::size_t>(channel)];
    if (signal.IsAnnotation()) return -3;
    if (signal.digitalMaximum == signal.digitalMinimum) return -2;

    // Whole-number division, as the device's rate is set in whole samples per second.
    const int rate = signal.samplesPerRecord / header.durationOfDataRecord;
    InstallEmptyEcgRecording(rate > 0 ? rate : kClearedRecordingRate);
    // The signal's physical dimension gives the scale (unknown units read as microvolts); the
    // clamp applies to the scaled millivolts.
    const double millivoltsPerUnit = EdfMillivoltsPerUnit(signal.physicalDimension);
    SampleVector samples;
    try {
        const int count = edf.readSignalMillivolts(channel, millivoltsPerUnit, samples);
        if (count < 0) return count == -1 ? -3 : -2;
    } catch (const std::bad_alloc&) {
        return -4;
    }
    if (rate == 0) return -5;  // a 0 Hz recording cannot be played: nothing stays loaded
    // Clamped values are finite.
    const int loaded = InstallFiniteEcgSamples(std::move(samples), rate)->Count();
    if (rate < kMinRate || rate > kMaxRate) return -5;
    return loaded;
}

extern "C" {

TOLV_API int TOLVLoadECGedf(const char* path, int channel) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadECGedf(path, channel);
    } catch (...) {
        return -4;
    }
}

}  // extern "C"
