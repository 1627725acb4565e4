#include "synthesis/Pacing.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/Device.h"
#include "playback/OutputStage.h"
#include "playback/Play.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Exchange.h"
#include "protocol/ModuleCommands.h"
#include "session/Journal.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "synthesis/Respiration.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

CRelaxed<double> g_PacingDuration{2.0};
CRelaxed<unsigned> g_PacingRate{60};
CRelaxed<bool> g_pacingSynchronized{true};
CRelaxed<unsigned> g_PacingPulse{0};
CRelaxed<unsigned> g_PacingOvershootTC{0};
CRelaxed<double> g_POA{0.0};

CRelaxed<int> s_PulsesRequired{0};
CRelaxed<bool> s_PacingPulseRaised{false};
CRelaxed<bool> s_PacingIndicationNeeded{false};
CRelaxed<bool> g_PacingApplyRequested{false};

namespace {

constexpr double g_Pacing_leading = 0.03;

// Schedule state: derived at a change, advanced by the play thread per sample.
CRelaxed<double> s_OTC{0.0};  // overshoot time constant, s
CRelaxed<double> s_pp{1.0};   // pacing period, s
CRelaxed<double> s_rate{20000.0};
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
    }
}

// The common setter checks: -1 without a session, -2 outside [low, high].
int CheckSetter(double value, double low, double high) {
    if (!SessionStarted()) return -1;
    if (std::isnan(value) || value < low || value > high) return -2;
    return 0;
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

void _DerivePacingSchedule() {
    const double sampleRate = s_SynthesisRate;
    s_PacingPulseRaised = false;
    if (g_PA == 0.0) {
        s_PulsesRequired = 0;
        return;
    }
    s_rate = sampleRate > 0 ? sampleRate : 20000.0;
    s_PulsesRequired = g_PacingPulse != 0 ? 2 : 1;
    s_OTC = g_PacingOvershootTC / 1000.0;
    g_nPacingDurationCounter = static_cast<int>(0.5 + s_rate * g_PacingDuration / 1000.0);
    g_nPacingPulseCount = 1000;
    const double tp = s_tp;
    if (tp >= 1.0 / 6.0 && tp <= 6.0 && g_pacingSynchronized) {
        s_pp = tp;
    } else {
        s_pp = 60.0 / (g_PacingRate > 0 ? g_PacingRate : 60);
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
    if (g_MainOutput == OUTPUT_INPUT_DYNAMIC_RANGE) return _GetInputDynamicRangeDC();
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
    std::uint8_t reply[kCommandReplyLength];
    int got = ExchangeCommand(BuildModuleBlockRead(), 0, reply, sizeof reply);
    auto block = ParseModuleBlockReadReply(reply, got < 0 ? 0 : static_cast<std::size_t>(got));
    if (!block.ok()) return false;
    std::uint16_t code = 0;
    if (g_PA != 0.0 && g_RespirationEnabled) {
        code = static_cast<std::uint16_t>(GetAcDac(amplitude));
    } else {
        code = static_cast<std::uint16_t>(GetPacketDCValue(amplitude) - GetPacketDCValue(0.0));
    }
    const std::uint16_t steps = PacingWidthSteps(width, ExtRespIsAvailable());
    PatchPacingFields(block.value, code, steps);
    got = ExchangeCommand(BuildModuleBlockWrite(block.value), 0, reply, sizeof reply);
    return got >= 0 &&
           CheckModuleBlockWriteReply(reply, static_cast<std::size_t>(got)) == ReplyStatus::kOk;
}

void ClearPacingApplyRequest() {
    g_PacingApplyRequested = false;
}

void ResetPacingSettings() {
    g_PA = 0.0;
    g_PacingDuration = 2.0;
    g_PacingRate = 60;
    g_pacingSynchronized = true;
    g_PacingPulse = 0;
    g_PacingOvershootTC = 0;
    g_POA = 0.0;
    s_PulsesRequired = 0;
}

extern "C" {

TOLV_API int TOLVSetPacingAmplitude(double amplitude) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (int rc = CheckSetter(amplitude, -700.0, 700.0)) return rc;
    _outputLog("TOLVSetPacingAmplitude(%.0f);", amplitude);
    g_PA = amplitude;
    _ChangeRequested();
    return 0;
}

TOLV_API double TOLVGetPacingAmplitude(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_PA;
}

TOLV_API int TOLVSetPacingDuration(double duration) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (int rc = CheckSetter(duration, 0.03, 3.0)) return rc;
    _outputLog("TOLVSetPacingDuration(%.0f);", duration);
    g_PacingDuration = duration;
    _ChangeRequested();
    return 0;
}

TOLV_API double TOLVGetPacingDuration(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_PacingDuration;
}

TOLV_API int TOLVSetPacingRate(unsigned rate) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (int rc = CheckSetter(rate, 10, 360)) return rc;
    _outputLog("TOLVSetPacingRate(%.0f);", static_cast<double>(rate));
    g_PacingRate = rate;
    g_pacingSynchronized = false;
    _ChangeRequested();
    return 0;
}

TOLV_API unsigned TOLVGetPacingRate(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_PacingRate;
}

TOLV_API int TOLVSetPacingRateSynchronized(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (int rc = CheckSetter(60.0 * g_F, 10.0, 360.0)) return rc;
    _outputLog("TOLVSetPacingRateSynchronized();");
    g_pacingSynchronized = true;
    return 0;
}

TOLV_API int TOLVSetPacingPulseMode(unsigned mode) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!SessionStarted()) return -1;
    _outputLog("TOLVSetPacingPulseMode(%d);", static_cast<int>(mode));
    g_PacingPulse = mode;
    _ChangeRequested();
    return 0;
}

TOLV_API unsigned TOLVGetPacingPulseMode(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_PacingPulse;
}

TOLV_API int TOLVSetOvershootTimeConstant(unsigned milliseconds) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (int rc = CheckSetter(milliseconds, 0, 100)) return rc;
    _outputLog("TOLVSetOvershootTimeConstant(%.0f);", static_cast<double>(milliseconds));
    g_PacingOvershootTC = milliseconds;
    _ChangeRequested();
    return 0;
}

TOLV_API unsigned TOLVGetOvershootTimeConstant(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_PacingOvershootTC;
}

TOLV_API int TOLVSetOvershootAmplitude(double amplitude) {
    CAutoCriticalSection api(g_APICriticalSection);
    const double magnitude = std::fabs(amplitude);
    if (int rc = CheckSetter(magnitude, 0.0, 5.0)) return rc;
    _outputLog("TOLVSetOvershootAmplitude(%.1f);", magnitude);
    g_POA = magnitude;
    _ChangeRequested();
    return 0;
}

TOLV_API double TOLVGetOvershootAmplitude(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return std::fabs(static_cast<double>(g_POA));
}

TOLV_API bool TOLVApplyPacing(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (g_bConnected && IsPlaybackRunning()) {
        g_PacingApplyRequested = true;
        return true;
    }
    return SetPacing();
}

}  // extern "C"
