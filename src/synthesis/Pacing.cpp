#include "synthesis/Pacing.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/Device.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "session/Defaults.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/ConverterCodes.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/Respiration.h"
#include "synthesis/SetterPattern.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

CRelaxed<double> g_PacingDuration{defaults::kPacingDuration};
CRelaxed<unsigned> g_PacingRate{defaults::kPacingRate};
CRelaxed<bool> g_pacingSynchronized{true};
CRelaxed<unsigned> g_PacingPulse{defaults::kPacingPulseMode};
CRelaxed<unsigned> g_PacingOvershootTC{defaults::kOvershootTimeConstant};
CRelaxed<double> g_POA{0.0};

CRelaxed<int> s_PulsesRequired{0};
CRelaxed<bool> s_PacingPulseRaised{false};
CRelaxed<bool> s_PacingIndicationNeeded{false};
CRelaxed<bool> g_PacingApplyRequested{false};

namespace {

constexpr double g_Pacing_leading = 0.03;

// Schedule state: derived at a change, advanced by the play thread per sample.
CRelaxed<double> s_OTC{0.0};                          // overshoot time constant, s
CRelaxed<double> s_pp{60.0 / defaults::kPacingRate};  // pacing period, s
CRelaxed<double> s_rate{defaults::kSampleRate};
CRelaxed<int> g_nPacingDurationCounter{0};  // pulse width in samples
CRelaxed<int> g_nPacingPulseCount{1000};    // samples since the last pulse start
CRelaxed<bool> s_pulseTriggered{false};     // trigger latch

void _CheckIfPacingPulseNeeded(double offset) {
    const double pp = s_pp;
    const double dt = 1.0 / s_rate;
    const double x = s_t + offset;
    const double k = std::trunc(1e-6 + x / pp);
    const double b = k * pp;
    if (x - b > 0.01 && g_nPacingPulseCount >= g_nPacingDurationCounter) s_pulseTriggered = false;
    const double r = pp - std::trunc(pp / dt) * dt;
    double tolerance = dt;
    if (r == 0.0) {
        tolerance = dt / 2;
    } else if (r >= dt) {
        tolerance = bumpNextToFirstNonZero(r);
    }
    if (s_pulseTriggered) return;
    if (std::fabs(x - b) < tolerance) {
        g_nPacingPulseCount = 0;
        s_PacingPulseRaised = true;
        s_PacingIndicationNeeded = true;
        s_pulseTriggered = true;
        if (GroundTruthOn()) NotePacingTruth(s_t, g_PA);
    }
}

}  // namespace

double bumpNextToFirstNonZero(double x) {
    char text[512];
    std::snprintf(text, sizeof text, "%.20f", x);
    char* first = nullptr;
    for (char* p = text; *p != '\0'; ++p) {
        if (*p >= '1' && *p <= '9') {
            first = p;
            break;
        }
    }
    char* digit = nullptr;
    if (first == nullptr) {
        for (char* p = text; *p != '\0'; ++p) {
            if (*p >= '0' && *p <= '9') {
                digit = p;
                break;
            }
        }
    } else {
        for (char* p = first + 1; *p != '\0'; ++p) {
            if (*p >= '0' && *p <= '9') {
                digit = p;
                break;
            }
        }
    }
    if (digit != nullptr) *digit = *digit == '9' ? '0' : static_cast<char>(*digit + 1);
    return std::strtod(text, nullptr);
}

double GetPacingLeadingTime() {
    return g_MainOutput == OUTPUT_ECG ? g_Pacing_leading - 0.01 : g_Pacing_leading;
}

void DerivePacingSchedule() {
    const double sampleRate = s_SynthesisRate;
    s_PacingPulseRaised = false;
    if (g_PA == 0.0) {
        s_PulsesRequired = 0;
        return;
    }
    s_rate = sampleRate > 0 ? sampleRate : defaults::kSampleRate;
    s_PulsesRequired = g_PacingPulse != 0 ? 2 : 1;
    s_OTC = g_PacingOvershootTC / 1000.0;
    g_nPacingDurationCounter = static_cast<int>(0.5 + s_rate * g_PacingDuration / 1000.0);
    g_nPacingPulseCount = 1000;
    const double tp = s_tp;
    if (tp >= 1.0 / 6.0 && tp <= 6.0 && g_pacingSynchronized) {
        s_pp = tp;
    } else {
        s_pp = 60.0 / (g_PacingRate > 0 ? g_PacingRate : defaults::kPacingRate);
    }
}

double _GetPacingV5(double* overshoot, double p) {
    if (s_PulsesRequired >= 1) {
        const double leading = GetPacingLeadingTime();
        _CheckIfPacingPulseNeeded(leading);
        if (g_PacingPulse == 1) _CheckIfPacingPulseNeeded(leading + 0.15);
        if (g_PacingPulse == 2) _CheckIfPacingPulseNeeded(leading + 0.25);
        const double sign = g_PA > 0 ? -1.0 : 1.0;
        if (g_nPacingDurationCounter - g_nPacingPulseCount < 1) {
            if (s_OTC == 0.0) return 0.0;
            if (overshoot != nullptr) {
                *overshoot +=
                    sign * std::fabs(static_cast<double>(g_POA)) *
                    std::exp((g_nPacingDurationCounter - g_nPacingPulseCount) / (s_OTC * s_rate));
            }
            g_nPacingPulseCount = g_nPacingPulseCount + 1;
            return 0.0;
        }
        g_nPacingPulseCount = g_nPacingPulseCount + 1;
        return g_PA;
    }
    if (g_BaseLineOverload != 0) return 0.0;
    if (g_MainOutput == OUTPUT_INPUT_DYNAMIC_RANGE) return GetInputDynamicRangeDC();
    if (g_MainOutput == OUTPUT_YY1079_DYNAMIC_RANGE) {
        g_DCSetting = static_cast<int>(std::trunc(getYY1079DynamicRangeVoltage(p)));
        return g_DCSetting;
    }
    return g_DCSetting;
}

bool SetPacing() {
    CDeviceCommand command(CDeviceCommand::kNoApiLock);
    if (!command.Ready()) return false;
    double amplitude = g_PA;
    double width = g_PacingDuration;
    if (amplitude == 0.0) {
        width = 0.0;
    } else if (g_RespirationEnabled) {
        amplitude = std::fmax(-20.0, std::fmin(20.0, amplitude)) / GetAttenuation();
    }
    auto block = Transact(BuildModuleBlockRead(), ParseModuleBlockReadReply);
    if (!block.ok()) return false;
    std::uint16_t code = 0;
    if (g_PA != 0.0 && g_RespirationEnabled) {
        code = static_cast<std::uint16_t>(GetAcDac(amplitude));
    } else {
        code = static_cast<std::uint16_t>(GetPacketDCValue(amplitude) - GetPacketDCValue(0.0));
    }
    const std::uint16_t steps = PacingWidthSteps(width, ExtRespIsAvailable());
    PatchPacingFields(block.value, code, steps);
    return TransactOk(BuildModuleBlockWrite(block.value), CheckModuleBlockWriteReply);
}

void ClearPacingApplyRequest() {
    g_PacingApplyRequested = false;
}

extern "C" {

TOLV_API int TOLVSetPacingAmplitude(double amplitude) {
    return SetDoubleSetting(amplitude, -700.0, 700.0, "TOLVSetPacingAmplitude(%.0f);", g_PA,
                            Apply::NextPeriod);
}

TOLV_API double TOLVGetPacingAmplitude(void) {
    return GetLocked(g_PA);
}

TOLV_API int TOLVSetPacingDuration(double duration) {
    return SetDoubleSetting(duration, 0.03, 3.0, "TOLVSetPacingDuration(%.0f);", g_PacingDuration,
                            Apply::NextPeriod);
}

TOLV_API double TOLVGetPacingDuration(void) {
    return GetLocked(g_PacingDuration);
}

TOLV_API int TOLVSetPacingRate(unsigned rate) {
    return RunSetter([&] {
        if (rate < 10 || rate > 360) return -2;
        _outputLog("TOLVSetPacingRate(%.0f);", static_cast<double>(rate));
        g_PacingRate = rate;
        g_pacingSynchronized = false;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API unsigned TOLVGetPacingRate(void) {
    return GetLocked(g_PacingRate);
}

TOLV_API int TOLVSetPacingRateSynchronized(void) {
    return RunSetter([&] {
        if (!InSettingRange(60.0 * g_F, 10.0, 360.0)) return -2;
        _outputLog("TOLVSetPacingRateSynchronized();");
        g_pacingSynchronized = true;
        return 0;
    });
}

TOLV_API int TOLVSetPacingPulseMode(unsigned mode) {
    return RunSetter([&] {
        _outputLog("TOLVSetPacingPulseMode(%d);", static_cast<int>(mode));
        g_PacingPulse = mode;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API unsigned TOLVGetPacingPulseMode(void) {
    return GetLocked(g_PacingPulse);
}

TOLV_API int TOLVSetOvershootTimeConstant(unsigned milliseconds) {
    return RunSetter([&] {
        if (milliseconds > 100) return -2;
        _outputLog("TOLVSetOvershootTimeConstant(%.0f);", static_cast<double>(milliseconds));
        g_PacingOvershootTC = milliseconds;
        playback::RequestChange();
        return 0;
    });
}

TOLV_API unsigned TOLVGetOvershootTimeConstant(void) {
    return GetLocked(g_PacingOvershootTC);
}

TOLV_API int TOLVSetOvershootAmplitude(double amplitude) {
    // The magnitude is what is stored and journaled.
    return SetDoubleSetting(std::fabs(amplitude), 0.0, 5.0, "TOLVSetOvershootAmplitude(%.1f);",
                            g_POA, Apply::NextPeriod);
}

TOLV_API double TOLVGetOvershootAmplitude(void) {
    return std::fabs(GetLocked(g_POA));
}

TOLV_API bool TOLVApplyPacing(void) {
    return NoThrow(false, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_bConnected && playback::IsRunning()) {
            g_PacingApplyRequested = true;
            return true;
        }
        return SetPacing();
    });
}

}  // extern "C"
