#include "ppg/PpgOutput.h"

#include <algorithm>
#include <cmath>

#include "platform/NoThrow.h"
#include "ppg/PpgWaveforms.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/ModuleTables.h"
#include "session/Defaults.h"
#include "session/Journal.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/PlayClock.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/Respiration.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

std::atomic<int> g_PPG_PTTp{-1};

namespace {

double Frac(double x) {
    return x - std::trunc(x);
}

// The running phase of the frequency-modulated PPG, in beats, shared by every channel, and the
// play time of the output sample it last moved for. Only the per-sample functions below touch
// it, on the thread that builds packets (or a direct caller of _GetPPGVoltageData instead).
struct FreqModPhase {
    double beats = 0.0;
    double sampleTime = 0.0;
};
FreqModPhase s_freqModPhase;

// How the shared phase moves, in one place: at play time 0 (or before) it starts from the phase
// of the channel that reads it, FreqModulatedPhase; from then on every output sample moves it by
// f * dt with f = g_F * (1 + 0.01 * depth * r), MoveFreqModPhase, once per sample however many
// channels read it.
void MoveFreqModPhase(double t, double dt, int depth, double r) {
    s_freqModPhase.sampleTime = t;
    if (depth != 0 && t > 0.0) {
        const double f = g_F * (1.0 + 0.01 * depth * r);
        s_freqModPhase.beats = Frac(s_freqModPhase.beats + f * dt);
    }
}

double FreqModulatedPhase(double t, double channelPhase) {
    if (!(t > 0.0)) s_freqModPhase.beats = channelPhase;
    double phase = Frac(s_freqModPhase.beats);
    if (phase < 0.0) phase += 1.0;
    return phase;
}

// Seconds per output sample at the effective sample rate (the packet builder's step).
double OutputSampleStep() {
    const int rate = playback::SampleRate();
    return 1.0 / (rate > 0 ? rate : defaults::kSampleRate);
}

// AC full scale of each AC calibration mode of module 0x2112.
constexpr double kAcRange[3] = {300.0, 15.0, 1.5};

unsigned short LimitedCode(double level, double fullScale, int dacLevel) {
    if (!(fullScale > 0.0) || dacLevel <= 0) return 0;
    const double code = std::trunc(level / fullScale * dacLevel);
    if (!(code > 0.0)) return 0;
    return static_cast<unsigned short>(std::min(code, static_cast<double>(dacLevel)));
}

}  // namespace

double _GetPPGTimeOffset(int channel) {
    const PPG_TABLE* table = PPGTable(channel);
    if (table == nullptr || table->useFile || !g_bECGOutputEnabled) return 0.0;
    const int ptt = g_PPG_PTTp.load(std::memory_order_relaxed);
    if (ptt < 0 || table->riseTime < 0) return 0.0;
    const int function = g_MainOutput;
    double crest = 0.0;
    if (function == OUTPUT_ECG) {
        crest = s_t1;
    } else if (function == OUTPUT_CUSTOM_ECG) {
        crest = s_Cus_t3;
    } else {
        return 0.0;
    }
    const double period = std::trunc(1000.0 * s_tp);
    const double shift = std::trunc(1000.0 * crest) - table->riseTime + ptt;
    if (!(period >= 1.0) || !(period < 1e9) || !(std::fabs(shift) < 1e9)) return 0.0;
    const long long whole = static_cast<long long>(period);
    return static_cast<double>(static_cast<long long>(shift) % whole) / 1000.0;
}

double PPGBeginSample(double t, double dt) {
    const int depth = g_PPG_FreqModHz;
    if (depth == 0 && g_PPG_AmpModV == 0 && g_PPG_BaselineModV == 0) {
        MoveFreqModPhase(t, dt, 0, 0.0);
        return 0.0;
    }
    const double r = GetRespirationVoltage();
    MoveFreqModPhase(t, dt, depth, r);
    return r;
}

PPG_SCALE PPGChannelScale(int channel) {
    PPG_SCALE scale;
    const PPG_LIMITS limits = PPGLimits();
    scale.dcFullScale = limits.dcMax;
    scale.dcLevel = g_nPPGDCDacLevel;
    scale.acFullScale = std::trunc(limits.acMax);
    scale.acLevel = g_nPPGACDacLevel;
    if (GetPPGFullModelNumber() == kPPGModel2112 && channel >= 0 && channel < kPPGChannels) {
        const int mode = std::min<int>(g_ACCalMode[channel].load(std::memory_order_relaxed), 2);
        scale.acFullScale = std::trunc(kAcRange[mode]);
        const int word = GetFactorySettingMCUWord(9 + 3 * PPGTableSlot(channel) + mode);
        if (word != 0) scale.acLevel = word;
    }
    return scale;
}

void PPGVoltageData(const PPG_TABLE* table, PPG_SCALE& scale, double t, double offset, double r,
                    unsigned short* dcCode, unsigned short* acCode, double* value,
                    double* beatPhase) {
    if (dcCode != nullptr) *dcCode = 0;
    if (acCode != nullptr) *acCode = 0;
    if (value != nullptr) *value = 0.0;
    if (table == nullptr || table->length == 0 || !table->ac || !table->dc) return;

    const double period = table->period;
    double phase = Frac((t + period - offset) / period);
    // An offset longer than the beat puts the position before the beat's start: wrap it.
    if (phase < 0.0) phase += 1.0;

    const int baselineDepth = g_PPG_BaselineModV;
    const int amplitudeDepth = g_PPG_AmpModV;
    const int frequencyDepth = g_PPG_FreqModHz;
    if (frequencyDepth != 0) phase = FreqModulatedPhase(t, phase);

    if (beatPhase != nullptr) *beatPhase = phase;
    std::uint64_t index = static_cast<std::uint64_t>(static_cast<double>(table->length) * phase);
    if (index >= table->length) index = table->length - 1;
    const std::int32_t dcEntry = table->dc[index];
    double ac = table->ac[index] / 1000.0;
    const double acMax = table->acMaxUnits;
    double shown = table->invert ? acMax - ac : ac;
    if (amplitudeDepth != 0) {
        const double factor = 1.0 + 0.01 * amplitudeDepth * r;
        ac *= factor;
        shown *= factor;
    }
    if (baselineDepth != 0) {
        const double lift = 0.01 * baselineDepth * r * acMax;
        ac += lift;
        shown += lift;
    }
    if (!scale.haveDc || dcEntry != scale.lastDcEntry) {
        scale.lastDcCode = LimitedCode(dcEntry / 1000.0, scale.dcFullScale, scale.dcLevel);
        scale.lastDcEntry = dcEntry;
        scale.haveDc = true;
    }
    if (dcCode != nullptr) *dcCode = scale.lastDcCode;
    if (acCode != nullptr) *acCode = LimitedCode(ac, scale.acFullScale, scale.acLevel);
    if (value != nullptr) *value = shown;
}

void _GetPPGVoltageData(double t, int channel, double offset, unsigned short* dcCode,
                        unsigned short* acCode, double* value) {
    double r = 0.0;
    if (t != s_freqModPhase.sampleTime) {
        r = PPGBeginSample(t, OutputSampleStep());  // a new sample, as the packet builder's
    } else if (g_PPG_BaselineModV != 0 || g_PPG_AmpModV != 0 || g_PPG_FreqModHz != 0) {
        r = GetRespirationVoltage();  // another channel of the sample begun already
    }
    PPG_SCALE scale = PPGChannelScale(channel);
    PPGVoltageData(PPGTable(channel), scale, t, offset, r, dcCode, acCode, value);
}

void NotePpgTableTruth(int channel, const PPG_TABLE* table, double phase, double t) {
    if (table == nullptr || !(table->period > 0.0)) return;
    const double peak = table->useFile || table->riseTime < 0
                            ? -1.0
                            : std::min(1.0, table->riseTime / 1000.0 / table->period);
    NotePpgTruth(channel, phase, table->period, peak, t);
}

void ResetPPGOutputSettings() {
    g_PPG_PTTp = -1;
    g_PPG_BaselineModV = 0;
    g_PPG_AmpModV = 0;
    g_PPG_FreqModHz = 0;
}

extern "C" {

TOLV_API void TOLVSetPTTp(int milliseconds) {
    CAutoCriticalSection api(g_APICriticalSection);
    _outputLog("TOLVSetPTTp(%d);", milliseconds);
    g_PPG_PTTp = milliseconds;
}

TOLV_API bool TOLVSetPPGRespirationAlgorithm(int baselinePercent, int amplitudePercent,
                                             int frequencyPercent) {
    auto percent = [](int p) { return p >= 0 && p <= 100; };
    if (!percent(baselinePercent) || !percent(amplitudePercent) || !percent(frequencyPercent)) {
        return false;
    }
    g_PPG_BaselineModV = baselinePercent;
    g_PPG_AmpModV = amplitudePercent;
    g_PPG_FreqModHz = frequencyPercent;
    return true;
}

}  // extern "C"
