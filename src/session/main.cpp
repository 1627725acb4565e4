// The exported entry points of the session and of the device information.
//
// Every function holds the API lock for its whole body unless noted, validates its pointers and
// never lets an exception out.
#include <cstdio>
#include <cstring>
#include <string>

#include "link/Device.h"
#include "platform/LastError.h"
#include "platform/NoThrow.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/Identify.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "session/Session.h"
#include "tolvan.h"

#ifndef TOLVAN_SDK_VERSION_TEXT
#error "the build defines TOLVAN_SDK_VERSION_TEXT from the file VERSION"
#endif

namespace {

// Copies a text into a static buffer of the caller's function (cut to fit).
const char* Keep(char* buffer, std::size_t size, const std::string& text) {
    std::snprintf(buffer, size, "%s", text.c_str());
    return buffer;
}

}  // namespace

extern "C" {

TOLV_API const char* TOLVGetSDKVersion(void) {
    return TOLVAN_SDK_VERSION_TEXT;  // from the file VERSION, through the build
}

TOLV_API bool TOLVInit(void (*callback)(bool connected)) {
    return NoThrow(false, [&] {
        g_nPortNumber = -1;
        return DoInit(callback);
    });
}

TOLV_API bool TOLVConnect(int port, uint32_t timeout) {
    if (port < -1) {
        NoThrow(0, [&] {
            SetLastErrorText("port " + std::to_string(port) +
                             " is not a port number (0 and up; -1 scans every port)");
            return 0;
        });
        return false;
    }
    return NoThrow(false, [&] { return ConnectWithTimeout(port, timeout); });
}

TOLV_API void TOLVFree(void) {
    NoThrow(0, [] {
        DoFree();
        return 0;
    });
}

TOLV_API bool TOLVIsConnected(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_bConnected != 0;
}

TOLV_API bool TOLVIsPPGConnected(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_bConnected != 0 && _IsPPGConnected();
}

TOLV_SERVICE_API int64_t TOLVGetDeviceHandle(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_hDevice;
}

TOLV_SERVICE_API void TOLVSetDeviceHandle(int64_t handle) {
    NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        {
            CAutoCriticalSection access(g_AccessCriticalSection);
            g_hDevice = handle;
        }
        if (handle != 0) IsTargetDevice();
        return 0;
    });
}

TOLV_API bool TOLVGetDeviceInformation(MODEL_INFORMATION* info) {
    if (info == nullptr) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    if (g_bConnected == 0) return false;
    *info = g_ModelInfo;
    return true;
}

TOLV_API bool TOLVGetPPGDeviceInformation(MODEL_INFORMATION* info) {
    if (info == nullptr) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    if (g_PPGModelInfo.Letter1 == 0 || g_PPGModelInfo.Letter2 == 0) return false;
    *info = g_PPGModelInfo;
    return true;
}

TOLV_API bool TOLVGetHWInformation(HW_INFORMATION* info) {
    if (info == nullptr) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    *info = g_HWInfo;
    return true;
}

TOLV_API bool TOLVGetPPGHWInformation(HW_INFORMATION* info) {
    if (info == nullptr) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    *info = g_PPGHWInfo;
    return true;
}

TOLV_SERVICE_API bool TOLVSetDeviceInformation(const MODEL_INFORMATION* info) {
    if (info == nullptr) return false;
    return RunDeviceCommand(false, [&] { return SetModelInfo(info); });
}

TOLV_SERVICE_API bool TOLVSetHWInformation(int major, int minor) {
    if (major < 0 || major > 255 || minor < 0 || minor > 255) return false;
    return RunDeviceCommand(false, [&] { return SetHWInfo(major, minor); });
}

TOLV_API const char* TOLVGetSerialNumber(void) {
    static char text[32];
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow<const char*>(
        text, [] { return Keep(text, sizeof text, SerialNumberText(g_ModelInfo)); });
}

TOLV_API const char* TOLVGetPPGSerialNumber(void) {
    static char text[32];
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow<const char*>(
        text, [] { return Keep(text, sizeof text, SerialNumberText(g_PPGModelInfo)); });
}

TOLV_API const char* TOLVGetFWVersion(void) {
    static char text[64];
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow<const char*>(
        text, [] { return Keep(text, sizeof text, FirmwareVersionText(g_HWInfo)); });
}

TOLV_API const char* TOLVGetHWVersion(void) {
    static char text[32];
    CAutoCriticalSection api(g_APICriticalSection);
    std::snprintf(text, sizeof text, "%d.%d", static_cast<int>(g_HWInfo.HardwareMajor),
                  static_cast<int>(g_HWInfo.HardwareMinor));
    return text;
}

TOLV_SERVICE_API const char* TOLVGetDeviceID(void) {
    static char text[128];
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow<const char*>(
        text, [] { return Keep(text, sizeof text, DeviceIdText(g_ModelInfo, g_HWInfo)); });
}

TOLV_SERVICE_API void TOLVGetDeviceFeature(DEVICE_FEATURE* feature) {
    if (feature == nullptr) return;
    CAutoCriticalSection api(g_APICriticalSection);
    *feature = g_DeviceFeature;
}

TOLV_SERVICE_API int TOLVGetUSBBusVoltage(void) {
    return RunDeviceCommand(0, [] {
        return static_cast<int>(Transact(BuildBusVoltageRead(), ParseBusVoltageReadReply));
    });
}

TOLV_SERVICE_API bool TOLVEnableFPGASampling(int enable) {
    return RunDeviceCommand(false, [&] {
        return TransactOk(BuildSignalStrengthEnable(static_cast<std::uint8_t>(enable)),
                          CheckSignalStrengthEnableReply);
    });
}

TOLV_SERVICE_API bool TOLVGetFPGAReport(double* report) {
    if (report == nullptr) return false;
    return RunDeviceCommand(false, [&] {
        auto record = Transact(BuildSamplingStatusRead(), ParseSamplingStatusReadReply);
        if (!record.ok()) return false;
        BuildFPGAReport(record.value.data(), &g_FPGA_PDRatio[0][0], report);
        return true;
    });
}

}  // extern "C"
