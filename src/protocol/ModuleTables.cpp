#include "protocol/ModuleTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Storage.h"
#include "protocol/commands/Bytes.h"
#include "tolvan.h"

FACTORY_SETTING g_PPGFactorySettings = {};
std::uint16_t g_pPPGPDSamplingCalibrationData[kPDSamplingTables][kPdSamplingWords];
std::atomic<std::uint16_t> g_PPGDCTable[kPPGDCTables][kPpgDcTableWordsUsed];

namespace {

constexpr std::uint16_t kErasedWord = 0xFFFF;
constexpr std::uint16_t kModel2112 = 0x2112;
constexpr std::uint16_t kModel2012 = 0x2012;
constexpr std::uint16_t kModel2014 = 0x2014;
constexpr std::size_t kPdRatiosPerBlock = kPdRatioBlockBytes / 4;
constexpr std::size_t kPpgDcTableMaxWords = kPpgDcTableBytes / 2;

// The attached module is the external respiration module (letters 'E' 'R').
bool RespirationModuleAttached() {
    return ExtRespIsAvailable();
}

// Microcontroller factory settings in force (module 0x2112), guarded as the file head says.
std::atomic<std::uint16_t> s_FactorySettingMCU[kFactorySettingMCUWords];
// Respiration module calibration, guarded by the API lock.
RESPIRATION_DAC_CALIBRATION s_RespirationCalibration;

template <typename T>
void FillIdentity(T* table, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) table[i] = static_cast<std::uint16_t>(i);
}

void SetPPGDCTable(std::size_t slot, const std::uint16_t* words) {
    for (std::size_t i = 0; i < kPpgDcTableWordsUsed; ++i) {
        g_PPGDCTable[slot][i].store(words[i], std::memory_order_relaxed);
    }
}

void SetPPGDCTableIdentity(std::size_t slot) {
    std::uint16_t identity[kPpgDcTableWordsUsed];
    FillIdentity(identity, kPpgDcTableWordsUsed);
    SetPPGDCTable(slot, identity);
}

// Until a module's tables are loaded, every table is the identity.
struct IdentityTablesInstaller {
    IdentityTablesInstaller() {
        for (std::size_t slot = 0; slot < kPPGDCTables; ++slot) SetPPGDCTableIdentity(slot);
        for (auto& table : g_pPPGPDSamplingCalibrationData) FillIdentity(table, kPdSamplingWords);
    }
} s_identityTablesInstaller;

// Loads sampling table `index` for ledType: the flash copy when usable, else the identity.
void LoadPDSamplingTable(std::size_t index, int ledType) {
    std::uint16_t words[kPdSamplingWords];
    if (ReadPPGCalibrationDataPDSampling(ledType, words) && IsUsablePDSamplingTable(words)) {
        std::copy(words, words + kPdSamplingWords, g_pPPGPDSamplingCalibrationData[index]);
    } else {
        FillIdentity(g_pPPGPDSamplingCalibrationData[index], kPdSamplingWords);
    }
}

}  // namespace

// ---- Codecs --------------------------------------------------------------------------------

double GetLittleEndianDouble(const std::uint8_t* at) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | at[i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void PutLittleEndianDouble(std::uint8_t* at, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

float GetLittleEndianFloat(const std::uint8_t* at) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = (bits << 8) | at[i];
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void EncodeRespirationRWA(const double* coefficients, std::uint8_t* record64) {
    std::fill(record64, record64 + kRespirationCoefficientBytes, static_cast<std::uint8_t>(0));
    PutLittleEndianDouble(record64, kRespirationCoefficientMark);
    for (std::size_t i = 0; i < kRespirationCoefficients; ++i) {
        PutLittleEndianDouble(record64 + 8 * (i + 1), coefficients[i]);
    }
}

bool DecodeRespirationRWA(const std::uint8_t* record64, double* coefficients) {
    if (GetLittleEndianDouble(record64) != kRespirationCoefficientMark) return false;
    double values[kRespirationCoefficients];
    for (std::size_t i = 0; i < kRespirationCoefficients; ++i) {
        values[i] = GetLittleEndianDouble(record64 + 8 * (i + 1));
        if (!std::isfinite(values[i])) return false;
    }
    std::copy(values, values + kRespirationCoefficients, coefficients);
    return true;
}

// ---- PPG module factory settings ------------------------------------------------------------

bool ReadFactorySetting(FACTORY_SETTING* record) {
    if (record == nullptr) return false;
    std::uint8_t bytes[kPpgFactorySettingBytes];
    if (!FlashRead(StorageChannel::kModule, kPpgFactorySettingAddress, bytes, sizeof bytes)) {
        return false;
    }
    if (bytes[0] == 0xFF) return false;
    std::memcpy(record, bytes, sizeof bytes);
    return true;
}

bool WriteFactorySetting(const FACTORY_SETTING* record) {
    if (record == nullptr) return false;
    std::uint8_t bytes[kPpgFactorySettingBytes];
    std::memcpy(bytes, record, sizeof bytes);
    return FlashWrite(StorageChannel::kModule, kPpgFactorySettingAddress, bytes, sizeof bytes);
}

// ---- Microcontroller factory settings --------------------------------------------------------

bool ReadFactorySettingMCU(std::uint8_t* bytes) {
    return FlashRead(StorageChannel::kModule, kMcuFactorySettingAddress, bytes,
                     kMcuFactorySettingBytes);
}

bool LoadFactorySettingMCU() {
    std::uint8_t bytes[kMcuFactorySettingBytes];
    const bool ok = ReadFactorySettingMCU(bytes);
    for (std::size_t i = 0; i < kFactorySettingMCUWords; ++i) {
        s_FactorySettingMCU[i].store(ok ? GetLittleEndian16(bytes + 2 * i) : 0,
                                     std::memory_order_relaxed);
    }
    return ok;
}

std::uint16_t GetFactorySettingMCUWord(int index) {
    if (index < 0 || index >= static_cast<int>(kFactorySettingMCUWords)) return 0;
    return s_FactorySettingMCU[index].load(std::memory_order_relaxed);
}

// ---- Photodiode sampling calibration and ratios ---------------------------------------------

bool ReadPPGCalibrationDataPDSampling(int ledType, std::uint16_t* words) {
    const std::uint32_t address =
        ledType == 1 ? kPdSamplingLedType1Address : kPdSamplingOtherLedAddress;
    return DoReadFlash(address, StorageChannel::kModule, words, kPdSamplingWords);
}

bool IsUsablePDSamplingTable(const std::uint16_t* words) {
    return words[0] != kErasedWord && words[kPdSamplingWords - 1] != 0;
}

bool LoadPPGPDSamplingCalibrationData() {
    if (!_IsPPGConnected()) return false;
    LoadPDSamplingTable(0, 1);
    if (g_DeviceFeature.PDPathCount > 1) {
        LoadPDSamplingTable(1, 2);
    } else {
        FillIdentity(g_pPPGPDSamplingCalibrationData[1], kPdSamplingWords);
    }
    const std::uint16_t model = GetPPGFullModelNumber();
    if (model == kModel2112 || model == kModel2012 || model == kModel2014) FPGASyncFromEEPROM();
    return true;
}

float UsablePDRatio(float stored) {
    return stored == 0.0f || !std::isfinite(stored) ? 1.0f : stored;
}

bool FPGASyncFromEEPROM() {
    bool all = true;
    for (std::size_t k = 0; k < 3; ++k) {
        std::uint8_t bytes[kPdRatioBlockBytes];
        const bool ok =
            FlashRead(StorageChannel::kModule, kPdRatioBlockAddress[k], bytes, sizeof bytes);
        all = all && ok;
        for (std::size_t i = 0; i < kPdRatiosPerBlock; ++i) {
            g_FPGA_PDRatio[k][i] = ok ? UsablePDRatio(GetLittleEndianFloat(bytes + 4 * i)) : 1.0f;
        }
    }
    return all;
}

// ---- PPG DC tables --------------------------------------------------------------------------

bool ReadPPGDCTable(int k, std::uint16_t* words, std::size_t count) {
    if (k < 0 || k >= static_cast<int>(kPPGDCTables) || words == nullptr ||
        count > kPpgDcTableMaxWords) {
        return false;
    }
    std::uint8_t bytes[kPpgDcTableBytes];
    if (!FlashRead(StorageChannel::kModule, kPpgDcTableAddress[k], bytes, sizeof bytes)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) words[i] = GetLittleEndian16(bytes + 2 * i);
    return true;
}

bool IsUsablePPGDCTable(const std::uint16_t* words) {
    return words[kPpgDcTableWordsUsed - 1] != kErasedWord;
}

bool LoadPPGDCTable() {
    if (GetPPGFullModelNumber() != kModel2112) return false;
    for (std::size_t slot = 0; slot < 2; ++slot) {
        std::uint16_t words[kPpgDcTableWordsUsed];
        if (ReadPPGDCTable(static_cast<int>(slot), words, kPpgDcTableWordsUsed) &&
            IsUsablePPGDCTable(words)) {
            SetPPGDCTable(slot, words);
        } else {
            SetPPGDCTableIdentity(slot);
        }
    }
    return true;
}

int CopyPPGDCTable(int k, std::uint16_t* buffer, int count) {
    if (k < 0 || k >= static_cast<int>(kPPGDCTables) || buffer == nullptr || count < 1) return 0;
    const int n = std::min(count, static_cast<int>(kPpgDcTableWordsUsed));
    for (int i = 0; i < n; ++i) buffer[i] = GetPPGDCTableEntry(k, i);
    return n;
}

// ---- External respiration module -----------------------------------------------------------

RESPIRATION_DAC_CALIBRATION RespirationDACCalibration() {
    return s_RespirationCalibration;
}

bool LoadRespirationRWA() {
    std::uint8_t record[kRespirationCoefficientBytes];
    if (!FlashRead(StorageChannel::kModule, kRespirationCoefficientAddress, record,
                   sizeof record)) {
        return false;
    }
    return DecodeRespirationRWA(record, s_RespirationCalibration.Coefficients);
}

bool WriteRespirationRWA(const double* coefficients) {
    if (coefficients == nullptr) return false;
    for (std::size_t i = 0; i < kRespirationCoefficients; ++i) {
        if (!std::isfinite(coefficients[i])) return false;
    }
    std::uint8_t record[kRespirationCoefficientBytes];
    EncodeRespirationRWA(coefficients, record);
    if (!FlashWrite(StorageChannel::kModule, kRespirationCoefficientAddress, record,
                    sizeof record)) {
        return false;
    }
    std::copy(coefficients, coefficients + kRespirationCoefficients,
              s_RespirationCalibration.Coefficients);
    return true;
}

bool LoadRespirationBaselineDACTable() {
    std::uint8_t bytes[kRespirationBaselineTableBytes];
    if (!FlashRead(StorageChannel::kModule, kRespirationBaselineTableAddress, bytes,
                   sizeof bytes)) {
        return false;
    }
    for (std::size_t i = 0; i < kRespirationBaselineEntries; ++i) {
        s_RespirationCalibration.BaselineDAC[i] = GetLittleEndian16(bytes + 2 * i);
    }
    return true;
}

bool WriteRespirationBaselineDACTable(const std::uint16_t* words) {
    if (words == nullptr) return false;
    std::uint8_t bytes[kRespirationBaselineTableBytes];
    for (std::size_t i = 0; i < kRespirationBaselineEntries; ++i) {
        PutLittleEndian16(bytes + 2 * i, words[i]);
    }
    if (!FlashWrite(StorageChannel::kModule, kRespirationBaselineTableAddress, bytes,
                    sizeof bytes)) {
        return false;
    }
    std::copy(words, words + kRespirationBaselineEntries, s_RespirationCalibration.BaselineDAC);
    return true;
}

bool LoadRespirationRDAC3() {
    std::uint8_t bytes[kRespirationResistanceTableBytes];
    if (!FlashRead(StorageChannel::kModule, kRespirationResistanceTableAddress, bytes,
                   sizeof bytes)) {
        return false;
    }
    double ohms[kRespirationRDAC3Steps];
    for (std::size_t i = 0; i < kRespirationRDAC3Steps; ++i) {
        ohms[i] = GetLittleEndianDouble(bytes + 8 * i);
        if (!std::isfinite(ohms[i])) return false;  // erased or damaged: keep the defaults
    }
    std::copy(ohms, ohms + kRespirationRDAC3Steps, s_RespirationCalibration.RDAC3);
    return true;
}

bool WriteRespirationRDAC3(const double* ohms) {
    if (ohms == nullptr) return false;
    std::uint8_t bytes[kRespirationResistanceTableBytes];
    for (std::size_t i = 0; i < kRespirationRDAC3Steps; ++i) {
        PutLittleEndianDouble(bytes + 8 * i, ohms[i]);
    }
    if (!FlashWrite(StorageChannel::kModule, kRespirationResistanceTableAddress, bytes,
                    sizeof bytes)) {
        return false;
    }
    std::copy(ohms, ohms + kRespirationRDAC3Steps, s_RespirationCalibration.RDAC3);
    return true;
}

bool LoadRespirationDACCalibrationData() {
    if (!RespirationModuleAttached()) return false;
    return LoadRespirationRWA() && LoadRespirationBaselineDACTable() && LoadRespirationRDAC3();
}

void ResetModuleTables() {
    g_PPGFactorySettings = FACTORY_SETTING{};
    for (std::size_t slot = 0; slot < kPPGDCTables; ++slot) SetPPGDCTableIdentity(slot);
    for (auto& table : g_pPPGPDSamplingCalibrationData) FillIdentity(table, kPdSamplingWords);
    for (auto& block : g_FPGA_PDRatio) std::fill(std::begin(block), std::end(block), 1.0f);
    for (auto& word : s_FactorySettingMCU) word.store(0, std::memory_order_relaxed);
    s_RespirationCalibration = RESPIRATION_DAC_CALIBRATION{};
}

// ---- Exported --------------------------------------------------------------------------------

extern "C" {

TOLV_SERVICE_API int GetPPGDCTable(int table, uint16_t* buffer, int count) {
    CAutoCriticalSection api(g_APICriticalSection);
    return CopyPPGDCTable(table, buffer, count);
}

}  // extern "C"
