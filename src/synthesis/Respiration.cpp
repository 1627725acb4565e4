#include "synthesis/Respiration.h"

#include <cmath>

#include "link/Device.h"
#include "platform/NoThrow.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/SettingCommands.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/ImpedanceRespiration.h"
#include "synthesis/MathConstants.h"
#include "synthesis/PlayClock.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SetterPattern.h"
#include "synthesis/SynthesisHooks.h"
#include "tolvan.h"

CRelaxed<bool> g_RespirationEnabled{false};
CRelaxed<int> s_RespBaseline{0};
CRelaxed<double> s_OneRespireS{0.0};
CRelaxed<double> s_InhaleS{0.0};
CRelaxed<double> s_ExhaleS{0.0};
CRelaxed<double> s_OneApneaS{0.0};
CRelaxed<int> g_PPG_BaselineModV{0};
CRelaxed<int> g_PPG_AmpModV{0};
CRelaxed<int> g_PPG_FreqModHz{0};

double RespirationBreathShape(double x) {
    const double inhale = s_InhaleS;
    const double exhale = s_ExhaleS;
    if (x <= inhale) return inhale > 0.0 ? std::sin(kPi * x / inhale) : 0.0;
    if (x - inhale <= exhale) return exhale > 0.0 ? -std::sin(kPi * (x - inhale) / exhale) : 0.0;
    return 0.0;
}

double RespirationModulationAt(double t) {
    const double breath = s_OneRespireS;
    if (!(breath > 0.0)) return 0.0;
    const double apnea = s_OneApneaS;
    if (apnea == 0.0) return RespirationBreathShape(t - std::trunc(t / breath) * breath);
    const double q = t - 60.0 * std::trunc(t / 60.0);
    if (q >= 60.0 - apnea) return 0.0;
    return RespirationBreathShape(q - std::trunc(q / breath) * breath);
}

double GetRespirationVoltage() {
    const double t = s_t;
    if (GroundTruthOn()) {
        const double apnea = s_OneApneaS;
        const double breath = s_OneRespireS;
        const bool on =
            apnea > 0.0 && breath > 0.0 && t - 60.0 * std::trunc(t / 60.0) >= 60.0 - apnea;
        NoteApnoeaTruth(1, on, t);
    }
    return RespirationModulationAt(t);
}

double GetAttenuation() {
    if (!g_RespirationEnabled) return 1.0;
    const int ohms = s_RespBaseline;
    if (ExtRespIsAvailable()) {
        switch (ohms) {
            case 100:
                return 1.04;
            case 200:
                return 2.04;
            case 500:
                return 5.04;
            case 1000:
                return 10.04;
            case 1500:
                return 15.04;
            case 2000:
                return 20.04;
            case 2500:
                return 25.04;
            case 3000:
                return 30.04;
            case 3500:
                return 35.04;
            case 4000:
                return 40.04;
            case 4500:
                return 45.05;
            default:
                break;
        }
    }
    switch (ohms) {
        case 500:
            return 4.793;
        case 1000:
            return 9.534;
        case 1500:
            return 14.096;
        case 2000:
            return 18.419;
        case 2500:
            return 22.597;
        default:
            return 1.0;
    }
}

namespace {
void ClearModulation() {
    s_OneRespireS = 0.0;
    s_InhaleS = 0.0;
    s_ExhaleS = 0.0;
    s_OneApneaS = 0.0;
    s_BaselineModV = 0.0;
    s_AmpModV = 0.0;
    s_FreqModHz = 0.0;
    g_PPG_BaselineModV = 0;
    g_PPG_AmpModV = 0;
    g_PPG_FreqModHz = 0;
}
}  // namespace

extern "C" {

TOLV_API int TOLVSetRespirationAlgorithm(int rate, int ratio, int apnea, int baselinePercent,
                                         int amplitudePercent, int frequencyPercent) {
    return NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        _outputLog("TOLVSetRespirationAlgorithm(%d, %d, %d, %d, %d, %d);", rate, ratio, apnea,
                   baselinePercent, amplitudePercent, frequencyPercent);
        auto percent = [](int p) { return p >= 0 && p <= 100; };
        if (rate < 1 || rate > 200 || ratio < 1 || ratio > 5 || apnea < 0 || apnea > 60 ||
            !percent(baselinePercent) || !percent(amplitudePercent) || !percent(frequencyPercent)) {
            return 0;
        }
        const double breath = 60.0 / rate;
        const double exhale = breath * ratio / (ratio + 1.0);
        s_OneRespireS = breath;
        s_ExhaleS = exhale;
        s_InhaleS = exhale / ratio;
        s_OneApneaS = apnea;
        s_BaselineModV = g_Amplitude * baselinePercent / 100.0;
        s_AmpModV = g_Amplitude * amplitudePercent / 100.0;
        s_FreqModHz = frequencyPercent == 0 ? 0.0 : g_F * frequencyPercent / 100.0;
        return 1;
    });
}

TOLV_API void TOLVDisableRespireAlgorithm(void) {
    NoThrow(0, [] {
        _outputLog("TOLVDisableRespireAlgorithm();");
        ClearModulation();
        return 0;
    });
}

TOLV_API bool TOLVRespirationModuleIsConnected(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return ExtRespIsAvailable();
}

TOLV_API bool TOLVEnableRespiration(bool enable) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        g_RespirationEnabled = enable;
        _outputLog("TOLVEnableRespiration(%s);", JournalBool(enable));
        if (!enable) ClearImpedanceRespiration();
        if (!DeviceIsConnected()) return false;
        playback::RequestChange();
        playback::UpdateRelays();
        if (ExtRespIsAvailable() && !enable) {
            CDeviceCommand command;
            if (command.Ready()) Transact(BuildRespBaselineWrite(RespBaseline{0, 0}));
        }
        return true;
    });
}

}  // extern "C"
