#include "ppg/ModuleControl.h"

#include <cstdint>

#include "link/Device.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/ModuleTables.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "session/Journal.h"
#include "session/SessionHooks.h"
#include "tolvan.h"

namespace {

// Last dynamic-light state SetDynamicLight sent (guarded by the API lock).
int s_PPGDynamicLight = 1;

constexpr int kDefaultLedLevel = 150;
constexpr int kFactoryValid = 1;

bool Connected() {
    return g_bConnected != 0 && DeviceIsConnected();
}

bool ValidLed(int led) {
    return led >= 1 && led <= 3;
}

bool ValidByte(int value) {
    return value >= 0 && value <= 255;
}

// Reads the factory settings when they are not valid yet: 0, -1 unreadable, -2 invalid.
int EnsureFactorySettings() {
    if (g_PPGFactorySettings.Valid == kFactoryValid) return 0;
    FACTORY_SETTING record{};
    const bool read = RunDeviceCommand(false, [&] { return ReadFactorySetting(&record); });
    if (!read) return -1;
    g_PPGFactorySettings = record;
    return g_PPGFactorySettings.Valid == kFactoryValid ? 0 : -2;
}

bool WriteSettingShort(std::uint8_t id, std::uint8_t value) {
    return RunDeviceCommand(false, [&] {
        return Transact(BuildSettingWriteShort(id, value), kSettingShortWaitMs).complete();
    });
}

}  // namespace

bool DoEnableDynamicLEDStrength(int enable) {
    return TransactOk(BuildDynamicLEDEnable(enable != 0), CheckDynamicLEDEnableReply);
}

bool PPGLedSlotUsed(int led) {
    return ValidLed(led) && PPGOutputChannel(led - 1) != 3;
}

int _SetPPGMode(int id, int value) {
    if (!ValidByte(id) || !ValidByte(value)) return -1;
    return WriteSettingShort(static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(value)) ? 0
                                                                                              : -1;
}

int _GetPPGMode(int id) {
    if (!ValidByte(id)) return -1;
    const auto key = static_cast<std::uint8_t>(id);
    return RunDeviceCommand(-1, [&] {
        const auto reply = Transact(BuildSettingReadShort(key), kSettingShortWaitMs);
        const auto value = ParseSettingReadShortReply(reply.bytes.data(), reply.received, key);
        return value.ok() ? static_cast<int>(value.value) : -1;
    });
}

extern "C" {

TOLV_API bool TOLVEnableDynamicLEDStrength(bool enable) {
    return EnableDynamicLEDStrength(enable ? 1 : 0);
}

TOLV_SERVICE_API bool EnableDynamicLEDStrength(int enable) {
    return RunDeviceCommand(false, [&] { return DoEnableDynamicLEDStrength(enable); });
}

TOLV_SERVICE_API int SetDynamicLight(int state) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (state == s_PPGDynamicLight) return 0;
        const bool replied = RunDeviceCommand(
            false, [&] { return Transact(BuildDynamicLEDEnable(state != 0)).complete(); });
        if (!replied) return -1;
        s_PPGDynamicLight = state;
        return 0;
    });
}

TOLV_SERVICE_API bool EnableSignalStrengthDetection(int value) {
    if (!ValidByte(value)) return false;
    return RunDeviceCommand(false, [&] {
        return TransactOk(BuildSignalStrengthEnable(static_cast<std::uint8_t>(value)),
                          CheckSignalStrengthEnableReply);
    });
}

TOLV_SERVICE_API bool ReadFGPASamplingStatus(FGPA_SAMPLING_OUT* status) {
    if (status == nullptr) return false;
    return RunDeviceCommand(false, [&] {
        const auto record = Transact(BuildSamplingStatusRead(), ParseSamplingStatusReadReply);
        if (!record.ok()) return false;
        for (std::size_t i = 0; i < record.value.size(); ++i) status->Bytes[i] = record.value[i];
        return true;
    });
}

TOLV_SERVICE_API int SetPPGLedLevel(int led, int level) {
    if (!ValidLed(led)) return -1;
    if (!ValidByte(level)) return -2;
    return WriteSettingShort(kSettingLedLevel[led - 1], static_cast<std::uint8_t>(level)) ? 0 : -3;
}

TOLV_SERVICE_API int ResetPPGLedLevel(void) {
    return NoThrow(-1, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        const int factory = EnsureFactorySettings();
        if (factory != 0) return factory;
        const int stored[3] = {g_PPGFactorySettings.LedLevel1, g_PPGFactorySettings.LedLevel2,
                               g_PPGFactorySettings.LedLevel3};
        for (int led = 1; led <= 3; ++led) {
            int level = stored[led - 1];
            if (level == 0 && PPGLedSlotUsed(led)) level = kDefaultLedLevel;
            if (SetPPGLedLevel(led, level) != 0) return -3;
        }
        return 0;
    });
}

TOLV_SERVICE_API int SetPPGTriggerLevel(int led, int level) {
    if (!Connected()) return -1;
    if (!ValidLed(led)) return -2;
    if (!ValidByte(level)) return -3;
    return WriteSettingShort(kSettingTriggerLevel[led - 1], static_cast<std::uint8_t>(level)) ? 0
                                                                                              : -4;
}

TOLV_SERVICE_API int GetPPGTriggerLevel(int led) {
    if (!Connected()) return -1;
    if (!ValidLed(led)) return -2;
    const int level = _GetPPGMode(kSettingTriggerLevel[led - 1]);
    return level < 0 ? -3 : level;
}

TOLV_SERVICE_API int ResetPPGTriggerLevel(void) {
    return NoThrow(-1, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!Connected()) return -1;
        const int factory = EnsureFactorySettings();
        if (factory != 0) return factory - 1;  // -2 unreadable, -3 invalid
        const int stored[3] = {g_PPGFactorySettings.TriggerLevel1,
                               g_PPGFactorySettings.TriggerLevel2,
                               g_PPGFactorySettings.TriggerLevel3};
        for (int led = 1; led <= 3; ++led) {
            if (!PPGLedSlotUsed(led)) continue;
            if (SetPPGTriggerLevel(led, stored[led - 1]) != 0) return -4;
        }
        return 0;
    });
}

TOLV_SERVICE_API bool GetAutoTriggerLevelStatus(unsigned char* status) {
    if (status == nullptr) return false;
    return RunDeviceCommand(false, [&] {
        const auto record = Transact(BuildAutoTriggerRead(), ParseAutoTriggerReadReply);
        if (!record.ok()) return false;
        const AutoTriggerRecord host = AutoTriggerRecordToHostOrder(record.value);
        for (std::size_t i = 0; i < host.size(); ++i) status[i] = host[i];
        return true;
    });
}

TOLV_API int TOLVSetLEDAmbientLightMode(int mode) {
    return NoThrow(-3, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!TOLVIsPPGConnected()) return -1;
        CDeviceCommand command;
        if (mode < 0 || mode > kAmbientLightMaxMode) return -2;
        if (!command.Ready()) return -3;
        _outputLog("SetLEDAmbientLightMode(%d);", mode);
        const auto request = BuildAmbientLightWrite(static_cast<std::uint8_t>(mode));
        if (s_ECGGoing) {
            // The poll thread reads the reply between two stream packets.
            return ExchangeCommand(request.data(), request.size(), 0, nullptr, 0) == kShortWrite
                       ? -3
                       : 0;
        }
        return Transact(request).complete() ? 0 : -3;
    });
}

TOLV_API int TOLVGetLEDAmbientLightMode(void) {
    return NoThrow(-2, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!TOLVIsPPGConnected()) return -1;
        return RunDeviceCommand(-2, [] {
            const auto mode = Transact(BuildAmbientLightRead(), ParseAmbientLightReadReply);
            if (mode.status == ReplyStatus::kNotAcknowledged) return -3;
            return mode.ok() ? static_cast<int>(mode.value) : -2;
        });
    });
}

TOLV_API bool TOLVReadLEDPulseGroupSetting(LED_PULSE_GROUP* group) {
    if (group == nullptr) return false;
    return RunDeviceCommand(false, [&] {
        if (IsPlayingOrSampling()) return false;
        const auto read = Transact(BuildLEDPulseGroupRead(), ParseLEDPulseGroupReadReply,
                                   kLEDPulseGroupReadWaitMs);
        if (!read.ok()) return false;
        for (std::size_t i = 0; i < read.value.slots.size(); ++i) {
            group->Slot[i] = read.value.slots[i];
        }
        group->Period = read.value.period;
        return true;
    });
}

TOLV_API bool TOLVWriteLEDPulseGroupSetting(const LED_PULSE_GROUP* group) {
    if (group == nullptr) return false;
    LedPulseGroup record;
    for (std::size_t i = 0; i < record.slots.size(); ++i) record.slots[i] = group->Slot[i];
    record.period = group->Period;
    return RunDeviceCommand(false, [&] {
        if (IsPlayingOrSampling()) return false;
        return TransactOk(BuildLEDPulseGroupWrite(record), CheckModuleBlockWriteReply);
    });
}

TOLV_SERVICE_API int GetPDStatus(int* value1, int* value2, int* value3, int* value4, int* value5,
                                 int* value6) {
    return NoThrow(-3, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!Connected()) return -1;
        if (IsPlayingOrSampling()) return -2;
        return RunDeviceCommand(-3, [&] {
            const auto reply = Transact(BuildPDStatusRead(), kPDStatusReadWaitMs);
            const auto values = ParsePDStatusReadReply(reply.bytes.data(), reply.received);
            if (values.status == ReplyStatus::kShort) return -3;
            if (!values.ok()) return -4;
            int* outputs[6] = {value1, value2, value3, value4, value5, value6};
            for (int i = 0; i < 6; ++i) {
                if (outputs[i] != nullptr) *outputs[i] = values.value[static_cast<std::size_t>(i)];
            }
            return 0;
        });
    });
}

TOLV_SERVICE_API bool ReadCalibrationSetting(int id, unsigned char* value) {
    if (!ValidByte(id)) return false;
    return RunDeviceCommand(false, [&] {
        const auto read =
            Transact(BuildSettingRead(static_cast<std::uint8_t>(id)), ParseSettingReadReply8);
        if (!read.ok()) return false;
        if (value != nullptr) *value = read.value;
        return true;
    });
}

TOLV_SERVICE_API bool ReadCalibrationSetting16(int id, uint16_t* value) {
    if (!ValidByte(id)) return false;
    return RunDeviceCommand(false, [&] {
        const auto read =
            Transact(BuildSettingRead(static_cast<std::uint8_t>(id)), ParseSettingReadReply16);
        if (!read.ok()) return false;
        if (value != nullptr) *value = read.value;
        return true;
    });
}

}  // extern "C"

namespace {

// One SettingWrite: 10 ms after taking the port, then 40 ms after a good reply.
template <typename Request>
bool WriteSetting(const Request& request) {
    return RunDeviceCommand(false, [&] {
        SleepEx(kSettingWriteLeadMs);
        if (!TransactOk(request, CheckSettingWriteReply)) return false;
        SleepEx(kSettingWritePauseMs);
        return true;
    });
}

}  // namespace

extern "C" {

TOLV_SERVICE_API bool WriteCalibrationSetting(int id, unsigned char value) {
    if (!ValidByte(id)) return false;
    return WriteSetting(BuildSettingWrite8(static_cast<std::uint8_t>(id), value));
}

TOLV_SERVICE_API bool WriteCalibrationSetting16(int id, uint16_t value) {
    if (!ValidByte(id)) return false;
    return WriteSetting(BuildSettingWrite16(static_cast<std::uint8_t>(id), value));
}

TOLV_SERVICE_API bool WriteCalibrationSettingBytes(int id, const unsigned char* values,
                                                   int length) {
    if (!ValidByte(id) || values == nullptr || length < 0) return false;
    const auto request = BuildSettingWriteBytes(static_cast<std::uint8_t>(id), values,
                                                static_cast<std::size_t>(length));
    return request.has_value() && WriteSetting(*request);
}

}  // extern "C"

namespace {

// Once the device's data is loaded at a connect, dynamic LED strength goes off.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kDeviceLoaded, [] { DoEnableDynamicLEDStrength(0); });
    }
} s_sessionHooksRegistrar;

}  // namespace
