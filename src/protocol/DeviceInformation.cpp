#include "protocol/DeviceInformation.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/Storage.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/QueryCommands.h"

MODEL_INFORMATION g_ModelInfo{};
MODEL_INFORMATION g_PPGModelInfo{};
HW_INFORMATION g_HWInfo{};
HW_INFORMATION g_PPGHWInfo{};
DEVICE_FEATURE g_DeviceFeature{};
int g_nPPGDCDacLevel = 4095;
int g_nPPGACDacLevel = 4095;
float g_FPGA_PDRatio[3][8] = {};

namespace {

// What the per-packet code needs of g_PPGModelInfo, in one lock-free word. Republished by every
// writer of the record, right after it writes.
struct ModuleSnapshot {
    std::uint16_t model;
    char letter1;
    char letter2;
    std::uint8_t outputChannel[3];
    std::uint8_t unused;
};
static_assert(sizeof(ModuleSnapshot) == 8, "one machine word");
std::atomic<ModuleSnapshot> s_module{ModuleSnapshot{0, 0, 0, {3, 3, 3}, 0}};
static_assert(std::atomic<ModuleSnapshot>::is_always_lock_free, "lock-free snapshot");

ModuleSnapshot ModuleRecord() {
    return s_module.load(std::memory_order_acquire);
}

struct ModelRow {
    std::uint16_t model;
    DEVICE_FEATURE feature;
};

// Capability rows by full model number; the first row is also the default.
constexpr DEVICE_FEATURE Row(int f0, int f1, int f2, int pd, int o0, int o1, double l0, double l1,
                             double l2, double l3, double l4, double l5, int c0, int c1) {
    return DEVICE_FEATURE{{f0, f1, f2}, pd, {o0, o1}, {l0, l1, l2, l3, l4, l5}, {c0, c1}};
}

constexpr ModelRow kModelTable[] = {
    {0x0000, Row(1, 0, 0, 0, 0, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x1001, Row(1, 1, 0, 1, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2001, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2002, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2003, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2004, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2005, Row(1, 1, 0, 1, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2006, Row(1, 1, 0, 1, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2007, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2008, Row(1, 1, 0, 2, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2009, Row(1, 1, 0, 2, 1, 0, 0.25, 30, 100, 3000, 0.008, 30, 8, 8)},
    {0x2010, Row(1, 1, 0, 2, 1, 0, 0.25, 30, 100, 3000, 0.008, 30, 8, 8)},
    {0x2012, Row(1, 1, 3, 2, 1, 1, 0.75, 30, 30, 3000, 0.025, 30, 8, 8)},
    {0x2112, Row(1, 1, 0, 2, 1, 1, 0.1, 300, 300, 3000, 0.01, 20, 10, 8)},
    {0x2013, Row(1, 1, 0, 2, 1, 0, 0.25, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2014, Row(1, 1, 0, 2, 1, 0, 0.25, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2015, Row(1, 1, 2, 1, 0, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x2016, Row(1, 1, 2, 1, 0, 0, 0.75, 30, 100, 3000, 0.025, 30, 8, 8)},
    {0x3001, Row(1, 1, 0, 3, 1, 0, 0.75, 30, 100, 3000, 0.025, 30, 10, 10)},
    {0x3301, Row(1, 1, 0, 3, 1, 0, 0.25, 60, 100, 3000, 0.025, 30, 10, 10)},
    {0x3311, Row(1, 1, 0, 3, 1, 0, 0.25, 60, 100, 3000, 0.025, 30, 10, 10)},
};
static_assert(sizeof(kModelTable) / sizeof(kModelTable[0]) == 21, "21 model rows");

// A version query: write, wait 100 ms, read exactly 5 bytes.
bool QueryVersion(const CommandRequest<kVersionQueryRequestLength>& request,
                  CommandReply<kVersionQueryReplyLength>& reply) {
    reply = Transact<kVersionQueryReplyLength>(request, kVersionQueryWaitMs);
    return reply.complete();
}

// Fills a record's letters, model code and serial number from a 12-byte flash image.
void FillModelFromImage(MODEL_INFORMATION* info, const std::uint8_t* image) {
    info->Letter1 = static_cast<char>(image[1]);
    info->Letter2 = static_cast<char>(image[2]);
    info->ModelHigh = image[3];
    info->ModelLow = image[4];
    info->SerialGroup = image[5];
    info->SerialSequence = image[6] * 256 + image[7];
}

}  // namespace

void PublishModuleRecord() {
    ModuleSnapshot snapshot{};
    snapshot.model =
        static_cast<std::uint16_t>(g_PPGModelInfo.ModelHigh * 256 + g_PPGModelInfo.ModelLow);
    snapshot.letter1 = g_PPGModelInfo.Letter1;
    snapshot.letter2 = g_PPGModelInfo.Letter2;
    for (int i = 0; i < 3; ++i) {
        const int e = g_PPGModelInfo.OutputChannel[i];
        snapshot.outputChannel[i] = static_cast<std::uint8_t>(e >= 0 && e <= 2 ? e : 3);
    }
    s_module.store(snapshot, std::memory_order_release);
}

DEVICE_FEATURE DeviceFeatureForModel(std::uint16_t fullModelNumber) {
    for (const ModelRow& row : kModelTable) {
        if (row.model == fullModelNumber) return row.feature;
    }
    return kModelTable[0].feature;
}

void UpdateDeviceFeatureByPPGModule(const MODEL_INFORMATION* info) {
    if (info == nullptr) return;
    g_DeviceFeature =
        DeviceFeatureForModel(static_cast<std::uint16_t>(info->ModelHigh * 256 + info->ModelLow));
}

void UpdatePPGLedTypeByModelNumber(MODEL_INFORMATION* info) {
    if (info == nullptr) return;
    auto set = [info](int a, int b, int c) {
        info->OutputChannel[0] = a;
        info->OutputChannel[1] = b;
        info->OutputChannel[2] = c;
    };
    set(3, 3, 3);
    const unsigned code = (info->ModelHigh * 256u + info->ModelLow) & ~0x0F00u;
    if (code == 0) return;
    if (info->Letter1 == 'A' && info->Letter2 == 'T') {
        if (code == 0x2001) {
            set(0, 3, 3);
        } else if (code >= 0x2002 && code <= 0x2005) {
            set(1, 2, 3);
        } else if (code == 0x2006 || code == 0x2007) {
            set(1, 2, 0);
        }
        return;
    }
    switch (code) {
        case 0x1001:
        case 0x4001:
            set(0, 3, 3);
            break;
        case 0x2005:
        case 0x2006:
        case 0x2007:
        case 0x2008:
        case 0x2015:
        case 0x2016:
        case 0x3001:
        case 0x4011:
        case 0x4021:
        case 0x4051:
            set(1, 2, 0);
            break;
        default:
            set(1, 2, 3);
            break;
    }
}

int DoGetPPGDacLevel() {
    return Transact<kDacWidthQueryReplyLength>(BuildDacWidthQuery(), ParseDacWidthQueryReply);
}

extern "C" TOLV_SERVICE_API uint16_t GetPPGFullModelNumber(void) {
    return ModuleRecord().model;
}

bool _IsPPGConnected() {
    const ModuleSnapshot module = ModuleRecord();
    return module.letter1 == 'A' && module.letter2 == 'P';
}

bool ExtRespIsAvailable() {
    const ModuleSnapshot module = ModuleRecord();
    return module.letter1 == 'E' && module.letter2 == 'R';
}

int PPGOutputChannel(int slot) {
    return slot >= 0 && slot < 3 ? ModuleRecord().outputChannel[slot] : 3;
}

int GetFWMainVer() {
    return g_HWInfo.FirmwareVersion[0];
}
int GetPPGFwMainVer() {
    return g_PPGHWInfo.FirmwareVersion[0];
}
std::string GetPPGFwVersion() {
    return FirmwareVersionText(g_PPGHWInfo);
}

void ClearDeviceInformation() {
    CAutoCriticalSection api(g_APICriticalSection);
    g_ModelInfo = MODEL_INFORMATION{};
    g_PPGModelInfo = MODEL_INFORMATION{};
    PublishModuleRecord();
    g_HWInfo = HW_INFORMATION{};
}

void UpdateDeviceInformation() {
    g_ModelInfo = MODEL_INFORMATION{};
    g_PPGModelInfo = MODEL_INFORMATION{};
    PublishModuleRecord();
    g_HWInfo = HW_INFORMATION{};
    // The module's hardware record is zeroed too, so that a module seen on an earlier device
    // does not outlive it.
    g_PPGHWInfo = HW_INFORMATION{};
    g_DeviceFeature = DEVICE_FEATURE{};
    g_nPPGDCDacLevel = g_nPPGACDacLevel = 4095;

    std::uint8_t image[kModelInfoBytes];
    if (!FlashRead(StorageChannel::kModelInfo, kModelInfoAddress, image, sizeof image)) return;
    FillModelFromImage(&g_ModelInfo, image);
    g_ModelInfo.OutputChannel[0] = g_ModelInfo.OutputChannel[1] = g_ModelInfo.OutputChannel[2] = 3;
    g_HWInfo.FirmwareVersion[0] = image[10];
    g_HWInfo.FirmwareVersion[1] = image[11];
    g_HWInfo.HardwareMajor = image[8];
    g_HWInfo.HardwareMinor = image[9];

    // Devices whose stored firmware is older than 1.3 know nothing more.
    const int major = g_HWInfo.FirmwareVersion[0];
    const int minor = g_HWInfo.FirmwareVersion[1];
    if (!(major > 1 || (major == 1 && minor > 2))) return;

    CommandReply<kVersionQueryReplyLength> hardware;
    CommandReply<kVersionQueryReplyLength> firmware;
    if (!QueryVersion(BuildHardwareVersionQuery(), hardware)) return;
    if (!QueryVersion(BuildFirmwareVersionQuery(), firmware)) return;
    for (int i = 0; i < 4; ++i) g_HWInfo.FirmwareVersion[i] = firmware.bytes[1 + i];
    g_HWInfo.HardwareMajor = hardware.bytes[1];
    g_HWInfo.HardwareMinor = hardware.bytes[2];

    std::uint8_t module[kModelInfoBytes];
    if (!FlashRead(StorageChannel::kModule, kModuleModelInfoAddress, module, sizeof module)) {
        return;
    }
    FillModelFromImage(&g_PPGModelInfo, module);
    PublishModuleRecord();
    g_PPGHWInfo.HardwareMajor = module[8];
    g_PPGHWInfo.HardwareMinor = module[9];

    auto version = Transact(BuildModuleVersionQuery(GetPPGFullModelNumber()),
                            ParseModuleVersionQueryReply, kModuleVersionQueryWaitMs);
    if (!version.ok()) return;
    for (int i = 0; i < 4; ++i) g_PPGHWInfo.FirmwareVersion[i] = version.value.parts[i];
    UpdatePPGLedTypeByModelNumber(&g_PPGModelInfo);
    PublishModuleRecord();
    UpdateDeviceFeatureByPPGModule(&g_PPGModelInfo);
    const int bits = DoGetPPGDacLevel();
    g_nPPGDCDacLevel = g_nPPGACDacLevel = (1 << bits) - 1;
    // Dynamic LED strength off; the module's answer is not judged here.
    Transact(BuildDynamicLEDEnable(false));
}

std::string SerialNumberText(const MODEL_INFORMATION& info) {
    char text[64];
    std::snprintf(text, sizeof text, "Q%c%c%02x%02x-%02d%04d", info.Letter1, info.Letter2,
                  info.ModelHigh, info.ModelLow, static_cast<int>(info.SerialGroup),
                  static_cast<int>(info.SerialSequence));
    // A NUL letter ends the text early; only a complete 14-character number is shown.
    return std::strlen(text) == 14 ? std::string(text) : std::string();
}

std::string FirmwareVersionText(const HW_INFORMATION& info) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%02d.%02d", static_cast<int>(info.FirmwareVersion[0]),
                  static_cast<int>(info.FirmwareVersion[1]),
                  static_cast<int>(info.FirmwareVersion[2]),
                  static_cast<int>(info.FirmwareVersion[3]));
    return text;
}

std::string DeviceIdText(const MODEL_INFORMATION& model, const HW_INFORMATION& hw) {
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d", static_cast<int>(hw.HardwareMinor / 10),
                  static_cast<int>(hw.HardwareMinor % 10));
    const std::string plain = SerialNumberText(model) + version;
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : plain) {
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
    }
    return out;
}

void BuildFPGAReport(const std::uint8_t* r, const float* pdRatios, double* out) {
    for (int i = 0; i < 6; ++i) out[i] = ((r[8] >> (5 - i)) & 1) != 0 ? 1.0 : 0.0;
    out[6] = r[9] * 16 + (r[10] >> 4);
    out[7] = r[12] * 16 + (r[13] >> 4);
    out[8] = r[15] * 16 + (r[16] >> 4);
    out[9] = (r[10] & 0x0F) * 256 + r[11];
    out[10] = (r[13] & 0x0F) * 256 + r[14];
    out[11] = (r[16] & 0x0F) * 256 + r[17];
    for (int i = 0; i < 3; ++i) {
        out[12 + i] = out[6 + i] * static_cast<double>(pdRatios[i]);
        out[15 + i] = out[9 + i] * static_cast<double>(pdRatios[8 + i]);
    }
}

namespace {
// Read-modify-write of the 12-byte model image in channel 1: the read reply is reused as the
// write request (its bytes 0..15 repeat the request header). patch edits the frame.
template <typename Patch>
bool RewriteModelImage(Patch patch) {
    auto read = BuildStorageRead(StorageChannel::kModelInfo, kModelInfoAddress, kModelInfoBytes);
    if (!read) return false;
    CommandReply<kCommandReplyLength> image = Transact(*read);
    if (!image.complete()) return false;
    if (!FlashErase(StorageChannel::kModelInfo, kModelInfoAddress)) return false;
    CommandRequest<kCommandReplyLength>& frame = image.bytes;
    frame[3] = 0xFF;
    frame[4] = 0;
    patch(frame.data());
    return TransactOk(frame, CheckStorageWriteReply, kStorageWriteReplyWaitMs);
}
}  // namespace

bool SetModelInfo(const MODEL_INFORMATION* info) {
    if (info == nullptr) return false;
    const MODEL_INFORMATION record = *info;
    bool ok = RewriteModelImage([&record](std::uint8_t* frame) {
        frame[16] = 'Q';
        frame[17] = static_cast<std::uint8_t>(record.Letter1);
        frame[18] = static_cast<std::uint8_t>(record.Letter2);
        frame[19] = record.ModelHigh;
        frame[20] = record.ModelLow;
        frame[21] = static_cast<std::uint8_t>(record.SerialGroup & 0xFF);
        frame[22] = static_cast<std::uint8_t>((record.SerialSequence >> 8) & 0xFF);
        frame[23] = static_cast<std::uint8_t>(record.SerialSequence & 0xFF);
    });
    if (ok) g_ModelInfo = record;
    return ok;
}

bool SetHWInfo(int major, int minor) {
    bool ok = RewriteModelImage([major, minor](std::uint8_t* frame) {
        frame[24] = static_cast<std::uint8_t>(major);
        frame[25] = static_cast<std::uint8_t>(minor);
    });
    if (ok) {
        g_HWInfo.HardwareMajor = major;
        g_HWInfo.HardwareMinor = minor;
    }
    return ok;
}
