#include "synthesis/Noise.h"

#include <cmath>

#include "platform/NoThrow.h"
#include "session/Defaults.h"
#include "session/Session.h"
#include "session/SessionHooks.h"
#include "synthesis/NoiseRecords.h"
#include "synthesis/PlayClock.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SetterPattern.h"
#include "tolvan.h"

CRelaxed<int> s_NST_Noise{defaults::kNSTNoise};
CRelaxed<double> s_NST_gain{defaults::kNSTGain};

namespace {
// The selected record's samples, taken when the selection changes (the records live for the
// whole process, so the pointer stays valid). Written under the API lock, read per sample.
CRelaxed<const std::int32_t*> s_noiseSamples{nullptr};
CRelaxed<int> s_noiseLength{0};
CRelaxed<int> s_noiseRate{360};
}  // namespace

double NstNoiseAt(const std::int32_t* x, int length, int rate, double gain, double t) {
    if (x == nullptr || length < 1 || rate < 1 || !(t >= 0.0)) return 0.0;
    const double y = rate * t;
    const double whole = std::trunc(y);
    const long long i = static_cast<long long>(std::fmod(whole, static_cast<double>(length)));
    const double w = y - whole;
    if (i < length - 1) return ((1.0 - w) * x[i] + w * x[i + 1]) * gain / 1000.0;
    return x[length - 1] * gain / 1000.0;
}

double GetNstNoise() {
    if (s_NST_Noise == 0) return 0.0;
    return NstNoiseAt(s_noiseSamples, s_noiseLength, s_noiseRate, s_NST_gain, s_t);
}

extern "C" TOLV_API int TOLVSetNSTNoise(unsigned record, double gain) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (playback::IsRunning()) return -1;
        if (!InSettingRange(gain, 0.1, 10.0)) return -2;
        const NOISE_RECORD_VIEW view = NoiseRecord(static_cast<int>(record));
        if (record >= 1 && record <= 3 && view.samples == nullptr) return TOLV_TABLE_MISSING;
        s_noiseSamples = view.samples;
        s_noiseLength = view.length;
        s_noiseRate = view.rate > 0 ? view.rate : 360;
        s_NST_gain = gain;
        s_NST_Noise = record <= 3 ? static_cast<int>(record) : 0;
        return 0;
    });
}

namespace {

// The reset puts the noise-stress record and its gain back to their values at load.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kReset, [] {
            s_NST_Noise = defaults::kNSTNoise;
            s_NST_gain = defaults::kNSTGain;
        });
    }
} s_sessionHooksRegistrar;

}  // namespace
