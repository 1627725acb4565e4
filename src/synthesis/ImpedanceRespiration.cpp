#include "synthesis/ImpedanceRespiration.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "link/Device.h"
#include "platform/NoThrow.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/ModuleTables.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "recordings/Recording.h"
#include "session/Journal.h"
#include "session/SessionHooks.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/MathConstants.h"
#include "synthesis/PlayClock.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/Respiration.h"
#include "tolvan.h"

CRelaxed<int> s_RespVariation{0};
CRelaxed<int> s_RespFreq{0};
CRelaxed<double> s_RespPeriod{0.0};
CRelaxed<int> s_RespRatio{0};
CRelaxed<int> s_RespBaselineSelection{0};
CRelaxed<int> s_ApneaTime{0};
CRelaxed<bool> s_Apnea_On{false};
CRelaxed<int> g_nECGExtRespirationMode{0};
CRelaxed<std::uint16_t> g_nECGExtRespirationBaselineDAC{0};

namespace {

constexpr double kRestingOhms = 50.0;
constexpr int kApneaReplyWaitMs = 10;

// Baselines the device offers, ohms, by selection.
constexpr int kDeviceBaselines[] = {500, 1000, 1500, 2000, 2500};
constexpr int kModuleBaselines[kExtRespBaselineCount] = {0,    100,  200,  500,  1000, 1500,
                                                         2000, 2500, 3000, 3500, 4000, 4500};

// Replaced as a whole under the API lock; loaded by the packet builder once per packet.
std::shared_ptr<const EXT_RESPIRATION_DATA> s_extResp = std::make_shared<EXT_RESPIRATION_DATA>();

void Publish(std::shared_ptr<const EXT_RESPIRATION_DATA> data) {
    std::atomic_store(&s_extResp, std::move(data));
}

// A copy of the snapshot in force, to be changed and published.
EXT_RESPIRATION_DATA CopyOfCurrent() {
    return *CurrentExtRespiration();
}

void SetRecording(std::shared_ptr<const RESP_RECORDING> recording) {
    EXT_RESPIRATION_DATA data = CopyOfCurrent();
    data.recording = std::move(recording);
    Publish(std::make_shared<const EXT_RESPIRATION_DATA>(std::move(data)));
}

// trunc(x) as an int; values beyond the int range saturate and NaN gives 0, so that a table
// entry of 0 (no calibration) cannot make the conversion undefined.
int TruncToInt(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(std::trunc(x));
}

// The device exchange of one respiration operation, on the caller's thread.
CDeviceCommand::ApiLock ApiLockFor(bool inPacketBuilder) {
    return inPacketBuilder ? CDeviceCommand::kNoApiLock : CDeviceCommand::kWithApiLock;
}

RespirationFields CurrentFields() {
    RespirationFields fields;
    fields.rate = s_RespFreq;
    fields.impedanceVariation = s_RespVariation;
    fields.ratio = s_RespRatio + 1;
    fields.baselineSelection = s_RespBaselineSelection;
    return fields;
}

// Module settings read, patched, written back. Caller holds the device command.
template <typename Patch>
bool PatchModuleWords(Patch patch) {
    auto words = Transact(BuildRespModuleRead(), ParseRespModuleReadReply);
    if (!words.ok()) return false;
    patch(words.value);
    return TransactOk(BuildRespModuleWrite(words.value), CheckRespModuleWriteReply);
}

// With the module: baseline command with the selection and the lead code, then the module
// settings with word 3 = the selection's baseline DAC code. Caller holds the API lock.
bool SendModuleBaseline(int selection) {
    CDeviceCommand command;
    if (!command.Ready()) return false;
    const auto snapshot = CurrentExtRespiration();
    const RespBaseline baseline{
        static_cast<std::uint8_t>(selection),
        RespBaselineLeadCode(playback::OutputLeads(), g_RespirationEnabled)};
    if (!Transact(BuildRespBaselineWrite(baseline)).complete()) return false;
    const std::uint16_t code = ExtRespGetBaselineDAC(selection, *snapshot);
    return PatchModuleWords([code](RespModuleWords& w) { w[3] = code; });
}

// Without the module: the 19-byte respiration settings write. Caller holds the API lock.
bool SendDeviceRespiration() {
    CDeviceCommand command;
    if (!command.Ready()) return false;
    return TransactOk(BuildRespirationBlockWrite(CurrentFields()), CheckModuleBlockWriteReply,
                      kRespirationBlockWriteWaitMs);
}

// Every impedance setting back to its value at load (the switch itself is not touched).
void ClearImpedanceSettings() {
    s_ApneaTime = 0;
    s_RespFreq = 0;
    s_RespPeriod = 0.0;
    s_RespVariation = 0;
    s_RespRatio = 0;
    s_RespBaseline = 0;
    s_RespBaselineSelection = 0;
    g_nECGExtRespirationMode = 0;
    g_nECGExtRespirationBaselineDAC = 0;
}

struct Registrar {
    Registrar() {
        // ClearRawArray clears the recorded respiration too.
        RegisterRespirationRecordingReset([] { SetRecording(nullptr); });
        // The module's tables were loaded: take them into the snapshot.
        RegisterSessionHook(SessionPoint::kDeviceLoaded, RefreshExtRespiration);
        RegisterSessionHook(SessionPoint::kReset, [] {
            ClearImpedanceSettings();
            s_Apnea_On = false;
            SetRecording(nullptr);
        });
    }
};
const Registrar s_registrar;

}  // namespace

ExtRespirationSnapshot CurrentExtRespiration() {
    return std::atomic_load(&s_extResp);
}

void RefreshExtRespiration() {
    const RESPIRATION_DAC_CALIBRATION calibration = RespirationDACCalibration();
    EXT_RESPIRATION_DATA data = CopyOfCurrent();
    std::copy(calibration.Coefficients, calibration.Coefficients + 4, data.coef);
    std::copy(calibration.RDAC3, calibration.RDAC3 + kExtRespRDAC3Steps, data.rdac3);
    std::copy(calibration.BaselineDAC, calibration.BaselineDAC + kExtRespBaselineCount,
              data.baselineDAC);
    Publish(std::make_shared<const EXT_RESPIRATION_DATA>(std::move(data)));
}

double CalculateECGExtRespiration(double t, const EXT_RESPIRATION_DATA& data) {
    if (data.recording && !data.recording->samples.empty() && data.recording->rate > 0.0) {
        const RESP_RECORDING& rec = *data.recording;
        const double length = static_cast<double>(rec.samples.size()) / rec.rate;
        const double x = t - std::trunc(t / length) * length;
        std::size_t i = static_cast<std::size_t>(std::max(0.0, std::trunc(rec.rate * x)));
        if (i >= rec.samples.size()) i = rec.samples.size() - 1;
        double sample = rec.samples[i];
        if (!(sample >= 0.0)) sample = 0.0;  // also NaN
        if (sample > 10.0) sample = 10.0;
        return kRestingOhms + sample;
    }
    const double v = s_RespVariation;
    if (g_nECGExtRespirationMode == 1) return kRestingOhms + v / 1000.0;
    const double period = s_RespPeriod;
    if (!(period > 0.0)) return kRestingOhms;
    const double x = t - std::trunc(t / period) * period;
    const double inhale = period / (2.0 + s_RespRatio);
    const double half = v / 2000.0;
    if (x < inhale) return kRestingOhms + half + half * std::sin(kPi * x / inhale - kPi / 2.0);
    return kRestingOhms + half + half * std::cos(kPi * (x - inhale) / (period - inhale));
}

void ExtRespGetAmplitudeDAC(double r, const EXT_RESPIRATION_DATA& data, std::uint16_t codes[3]) {
    const double k0 = data.coef[0];
    const double k1 = data.coef[1];
    const double k2 = data.coef[2];
    // Potentiometer 3: a coarse step chosen from the resistance.
    std::uint16_t step =
        static_cast<std::uint16_t>(TruncToInt((r - 50.0) * 6.0 + 10.0 + (100.0 - k2) / 21.0));
    if (step > 95) step = 95;
    const double g3 = 1.0 / data.rdac3[step];
    // Potentiometer 2 (20 kOhm, 1024 steps, in series with k1) with the trimming branch at full
    // scale, which the device's rule takes as 20 kOhm plus k1 (the module's two series resistors
    // are near equal, so this is far below one step from 20 kOhm plus k0); one step up so that
    // potentiometer 1 has a remainder.
    const double r2 = 1.0 / (1.0 / r - 1.0 / (k1 + 20000.0) - g3) - k1;
    std::uint16_t c1 = static_cast<std::uint16_t>(TruncToInt(0.0512 * r2) + 1);
    if (c1 > 1023) c1 = 1023;
    // Potentiometer 1 trims the remainder.
    const double r1 = 1.0 / (1.0 / r - 1.0 / (k1 + c1 * 20000.0 / 1024.0) - g3) - k0;
    const int c0 = std::min(1023, std::max(0, TruncToInt(0.5 + 0.0512 * r1)));
    codes[0] = static_cast<std::uint16_t>(c0);
    codes[1] = c1;
    codes[2] = step;
}

std::uint16_t ExtRespGetBaselineDAC(int selection, const EXT_RESPIRATION_DATA& data) {
    selection = std::min(kExtRespBaselineCount - 1, std::max(0, selection));
    return data.baselineDAC[selection];
}

int GetRespiratoryBaselineSelection(int baseline) {
    if (ExtRespIsAvailable()) {
        for (int k = 0; k < kExtRespBaselineCount; ++k) {
            if (kModuleBaselines[k] != baseline) continue;
            g_nECGExtRespirationBaselineDAC = ExtRespGetBaselineDAC(k, *CurrentExtRespiration());
            return k;
        }
        return 0;
    }
    for (int k = 0; k < static_cast<int>(std::size(kDeviceBaselines)); ++k) {
        if (kDeviceBaselines[k] == baseline) return k;
    }
    return 0;
}

bool ApneaWantedAt(int seconds) {
    const int apnea = s_ApneaTime;
    return apnea > 0 && seconds % 60 >= 60 - apnea;
}

bool _SetApnea(bool on, bool inPacketBuilder) {
    CDeviceCommand command(ApiLockFor(inPacketBuilder));
    if (!command.Ready()) return false;
    auto block = Transact(BuildModuleBlockRead(), ParseModuleBlockReadReply);
    if (!block.ok()) return false;
    PatchRespirationFields(block.value, CurrentFields());
    PatchApneaField(block.value, on);
    return TransactOk(BuildModuleBlockWrite(block.value), CheckModuleBlockWriteReply,
                      kApneaReplyWaitMs);
}

void _CheckApnea(int seconds, bool inPacketBuilder) {
    const bool wanted = ApneaWantedAt(seconds);
    if (wanted == s_Apnea_On) return;
    s_Apnea_On = wanted;
    NoteApnoeaTruth(0, wanted, s_t);
    if (DeviceIsConnected()) _SetApnea(wanted, inPacketBuilder);
}

void SwitchApneaOffAtStop() {
    if (!g_RespirationEnabled || ExtRespIsAvailable() || !s_Apnea_On) return;
    s_Apnea_On = false;
    if (DeviceIsConnected()) _SetApnea(false, false);
}

// Called by TOLVEnableRespiration(false).
void ClearImpedanceRespiration() {
    ClearImpedanceSettings();
}

extern "C" {

TOLV_API bool TOLVSetRespiration(int variation, int rate, int ratio, int baseline, int apnea) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!DeviceIsConnected()) return false;
        if (variation < 50 || variation > 10000 || rate < 1 || rate > 200 || ratio < 1 ||
            ratio > 5 || apnea < 0 || apnea > 60) {
            return false;
        }
        g_nECGExtRespirationMode = 0;
        s_ApneaTime = apnea;
        s_RespFreq = rate;
        s_RespPeriod = 60.0 / rate;
        s_RespVariation = variation;
        s_RespRatio = ratio - 1;
        s_RespBaseline = baseline;
        const int selection = GetRespiratoryBaselineSelection(baseline);
        s_RespBaselineSelection = selection;
        _outputLog("TOLVSetRespiration(%d, %d, %d, %d, %d);", variation, rate, ratio, baseline,
                   apnea);
        if (ExtRespIsAvailable()) return SendModuleBaseline(selection);
        return SendDeviceRespiration();
    });
}

TOLV_API bool TOLVSetCalibrationRespiration(int variation, int baseline) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!DeviceIsConnected()) return false;
        g_nECGExtRespirationMode = 1;
        s_RespVariation = variation;
        s_RespBaseline = baseline;
        const int selection = GetRespiratoryBaselineSelection(baseline);
        s_RespBaselineSelection = selection;
        if (ExtRespIsAvailable()) return SendModuleBaseline(selection);
        return SendDeviceRespiration();
    });
}

TOLV_API bool TOLVGetRespiration(int* variation, int* rate, int* ratio, int* baseline, int* apnea) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (variation == nullptr || rate == nullptr || ratio == nullptr || baseline == nullptr ||
            apnea == nullptr) {
            return false;
        }
        *variation = s_RespVariation;
        *rate = s_RespFreq;
        *ratio = s_RespRatio + 1;
        *baseline = s_RespBaseline;
        *apnea = s_ApneaTime;
        return true;
    });
}

TOLV_API bool TOLVSetRespirationRawData(const double* samples, int count, int rate) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (samples == nullptr || count < 1 || rate <= 0) return false;
        auto recording = std::make_shared<RESP_RECORDING>();
        recording->samples.assign(samples, samples + count);
        recording->rate = rate;
        SetRecording(std::move(recording));
        return true;
    });
}

TOLV_API int TOLVGetRespirationRawData(int* sampleRate) {
    return NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        const auto snapshot = CurrentExtRespiration();
        const RESP_RECORDING* rec = snapshot->recording.get();
        if (sampleRate != nullptr) *sampleRate = rec ? static_cast<int>(rec->rate) : 0;
        return rec ? static_cast<int>(rec->samples.size()) : 0;
    });
}

TOLV_API bool TOLVExternalRespiratorySetBaseline(int selection, int /*lead*/) {
    return NoThrow(false, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!DeviceIsConnected()) return false;
        return SendModuleBaseline(std::min(kExtRespBaselineCount - 1, std::max(0, selection)));
    });
}

TOLV_API bool TOLVExternalRespiratoryGetBaseline(int* selection, int* lead) {
    return RunDeviceCommand(false, [&] {
        if (selection == nullptr || lead == nullptr) return false;
        auto reply = Transact(BuildRespBaselineRead(), ParseRespBaselineReadReply);
        if (!reply.ok()) return false;
        *selection = reply.value.selection;
        *lead = reply.value.leadCode;
        return true;
    });
}

TOLV_API bool TOLVExternalRespiratorySetDAC(int w0, int w1, int w2, int w3) {
    return RunDeviceCommand(false, [&] {
        const RespModuleWords words{static_cast<std::uint16_t>(w0), static_cast<std::uint16_t>(w1),
                                    static_cast<std::uint16_t>(w2), static_cast<std::uint16_t>(w3)};
        return TransactOk(BuildRespModuleWrite(words), CheckRespModuleWriteReply);
    });
}

TOLV_API bool TOLVExternalRespiratoryGetDAC(int* words) {
    return RunDeviceCommand(false, [&] {
        if (words == nullptr) return false;
        auto reply = Transact(BuildRespModuleRead(), ParseRespModuleReadReply);
        if (!reply.ok()) return false;
        for (int i = 0; i < 4; ++i) words[i] = reply.value[i];
        return true;
    });
}

TOLV_API bool TOLVExternalRespiratorySetBaselineDAC(int code) {
    return RunDeviceCommand(false, [&] {
        const auto value = static_cast<std::uint16_t>(code);
        return PatchModuleWords([value](RespModuleWords& w) { w[3] = value; });
    });
}

TOLV_API bool TOLVExternalRespiratorySetAmplitudeByResistance(double resistance) {
    return RunDeviceCommand(false, [&] {
        if (!std::isfinite(resistance)) return false;
        std::uint16_t codes[3];
        ExtRespGetAmplitudeDAC(resistance, *CurrentExtRespiration(), codes);
        return PatchModuleWords([&codes](RespModuleWords& w) {
            for (int i = 0; i < 3; ++i) w[i] = codes[i];
        });
    });
}

TOLV_API bool TOLVWriteRespirationRWA(const double* coefficients) {
    return RunDeviceCommand(false, [&] {
        if (coefficients == nullptr || !WriteRespirationRWA(coefficients)) return false;
        RefreshExtRespiration();
        return true;
    });
}

TOLV_API bool TOLVExternalRespiratoryWriteRDAC3(const double* ohms) {
    return RunDeviceCommand(false, [&] {
        if (ohms == nullptr || !WriteRespirationRDAC3(ohms)) return false;
        RefreshExtRespiration();
        return true;
    });
}

TOLV_API bool TOLVWriteRespirationBaselineDACTable(const unsigned short* codes) {
    return RunDeviceCommand(false, [&] {
        if (codes == nullptr || !WriteRespirationBaselineDACTable(codes)) return false;
        RefreshExtRespiration();
        return true;
    });
}

}  // extern "C"
