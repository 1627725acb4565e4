#include "protocol/Calibration.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "link/Device.h"
#include "platform/NoThrow.h"
#include "platform/Text.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/MfgInfo.h"
#include "protocol/Storage.h"
#include "tolvan.h"

std::atomic<std::uint16_t> g_ECGDCVariableCalibrationData[kDcCalibrationWords];

namespace {

constexpr const char kCalibrationFileName[] = "calibration.dat";
constexpr const char kCalibrationIdFileName[] = "calibration.id";
constexpr std::size_t kCalibrationPathSize = 512;
constexpr std::uint16_t kErasedWord = 0xFFFF;
// Entries 1500..2500 (-500..+500 mV) decide whether a table is usable.
constexpr std::size_t kValidatedFirst = 1500;
constexpr std::size_t kValidatedLast = 2500;
// Entries 1000..2999 of a cached table must not be 255.
constexpr std::size_t kCacheCheckedFirst = 1000;
constexpr std::size_t kCacheCheckedLast = 2999;
constexpr std::uint16_t kRejectedCacheValue = 255;

// Cache file state, guarded by the API lock.
char s_calibrationPath[kCalibrationPathSize] = "";
std::uint16_t* g_CalibrationCache = nullptr;
// Serial-number text of the device whose table is in force; empty for the built-in table or a
// table of no known device. Guarded by the API lock. A plain array, like the path: nothing to
// construct or destroy, whatever thread still runs at load or unload.
char s_liveTableDevice[kCalibrationIdMaxBytes + 1] = "";

// Before the first connect the output stage uses the built-in table (of no device).
struct DefaultTableInstaller {
    DefaultTableInstaller() {
        std::uint16_t table[kDcCalibrationWords];
        FillDefaultDCCalibrationTable(table);
        SetLiveDCCalibrationTable(table);
    }
} s_defaultTableInstaller;

bool FileExists(const std::string& path) {
    std::FILE* file = OpenFileUtf8(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

// Removes a file; true when it is gone afterwards (also when it never existed).
bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0 || !FileExists(path);
}

// The device a table read from or written to the connected simulator's flash belongs to: the
// simulator's serial-number text, unless the table is not usable (erased entries), which is
// nobody's calibration.
std::string DeviceOfFlashTable(const std::uint16_t* table) {
    return IsValidDCCalibrationTable(table) ? SerialNumberText(g_ModelInfo) : std::string();
}

// Channel 18 reads back exactly as table.
bool Channel18Holds(const std::uint16_t* table) {
    std::uint16_t readBack[kDcCalibrationWords];
    return ReadDCVariableCalibrationData(readBack) &&
           std::equal(readBack, readBack + kDcCalibrationWords, table);
}

// Replaces the cache file by the table given; when it cannot be written, removes any older
// file so that the next connect does not prefer a stale copy over the flash.
void RefreshCalibrationFile() {
    if (DoSaveCalibrationData(s_calibrationPath) != 0) {
        RemoveFile(CalibrationIdPath(s_calibrationPath));
        std::remove(CalibrationFilePath(s_calibrationPath).c_str());
    }
}

}  // namespace

// ---- Pure parts ---------------------------------------------------------------------------

void FillDefaultDCCalibrationTable(std::uint16_t* table) {
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        if (i < 1000) {
            table[i] = 0;
        } else if (i <= 3000) {
            table[i] = static_cast<std::uint16_t>(32.7675 * static_cast<double>(i - 1000));
        } else {
            table[i] = 65535;
        }
    }
}

bool IsValidDCCalibrationTable(const std::uint16_t* table) {
    return std::none_of(table + kValidatedFirst, table + kValidatedLast + 1,
                        [](std::uint16_t v) { return v == kErasedWord; });
}

bool IsAcceptableCachedTable(const std::uint16_t* table) {
    return std::none_of(table + kCacheCheckedFirst, table + kCacheCheckedLast + 1,
                        [](std::uint16_t v) { return v == kRejectedCacheValue; });
}

void EncodeCalibrationFile(const std::uint16_t* table, std::uint8_t* bytes) {
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(table[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(table[i] >> 8);
    }
}

bool DecodeCalibrationFile(const std::uint8_t* bytes, std::size_t size, std::uint16_t* table) {
    if (bytes == nullptr || size != kCalibrationFileBytes) return false;
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        table[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return true;
}

std::string CalibrationFilePath(const char* directory) {
    std::string path = directory != nullptr ? directory : "";
    path += kCalibrationFileName;
    return path;
}

std::string CalibrationIdPath(const char* directory) {
    std::string path = directory != nullptr ? directory : "";
    path += kCalibrationIdFileName;
    return path;
}

std::string EncodeCalibrationId(const std::string& serial) {
    return serial + "\n";
}

std::string DecodeCalibrationId(const std::uint8_t* bytes, std::size_t size) {
    if (bytes == nullptr || size > kCalibrationIdMaxBytes) return {};
    std::string text(reinterpret_cast<const char*>(bytes), size);
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    const auto notSpace = [](char c) { return !IsTextSpace(c); };
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    return text;
}

// ---- Live table ---------------------------------------------------------------------------

void SetLiveDCCalibrationTable(const std::uint16_t* table, const std::string& device) {
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        g_ECGDCVariableCalibrationData[i].store(table[i], std::memory_order_relaxed);
    }
    const std::size_t length = std::min(device.size(), kCalibrationIdMaxBytes);
    std::memcpy(s_liveTableDevice, device.data(), length);
    s_liveTableDevice[length] = '\0';
}

void CopyLiveDCCalibrationTable(std::uint16_t* table) {
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        table[i] = g_ECGDCVariableCalibrationData[i].load(std::memory_order_relaxed);
    }
}

// ---- Flash records ------------------------------------------------------------------------

bool ReadDCVariableCalibrationData(std::uint16_t* words) {
    return DoReadFlash(kDcCalibrationAddress, StorageChannel::kDcCalibration, words,
                       kDcCalibrationWords);
}

bool WriteDCVariableCalibrationData(const std::uint16_t* words) {
    return DoWriteFlash(kDcCalibrationAddress, StorageChannel::kDcCalibration, words,
                        kDcCalibrationWords);
}

bool ClearDCVariableCalibrationData() {
    for (std::uint32_t i = 0; i < kDcCalibrationSectors; ++i) {
        if (!FlashErase(StorageChannel::kDcCalibration,
                        SectorEraseAddress(kDcCalibrationAddress, i))) {
            return false;
        }
    }
    return true;
}

bool ReadFlashCalibrationData(std::uint16_t* words) {
    std::uint16_t presence[kOldDcCalibrationPresenceWords];
    if (!DoReadFlash(kOldDcCalibrationPresenceAddress, StorageChannel::kFirmware, presence,
                     kOldDcCalibrationPresenceWords)) {
        return false;
    }
    if (std::any_of(presence, presence + kOldDcCalibrationPresenceWords,
                    [](std::uint16_t v) { return v == kErasedWord; })) {
        return false;
    }
    return DoReadFlash(kOldDcCalibrationAddress, StorageChannel::kFirmware, words,
                       kDcCalibrationWords);
}

bool ClearFlashCalibrationData() {
    std::uint8_t mfg[kManufacturingTextMaxBytes];
    if (!ReadECGMfgInfo(mfg, sizeof mfg)) return false;
    for (std::uint32_t i = 0; i < kOldDcCalibrationRegionSectors; ++i) {
        if (!FlashErase(StorageChannel::kFirmware,
                        SectorEraseAddress(kOldDcCalibrationRegionAddress, i))) {
            return false;
        }
    }
    const bool blank = std::all_of(mfg, mfg + sizeof mfg, [](std::uint8_t b) { return b == 0xFF; });
    if (blank) return true;
    return FlashWrite(StorageChannel::kFirmware, kManufacturingTextAddress, mfg, sizeof mfg);
}

// ---- Cache file and load order ------------------------------------------------------------

const char* CalibrationDataPath() {
    return s_calibrationPath;
}

int DoSaveCalibrationData(const char* directory) {
    std::uint16_t table[kDcCalibrationWords];
    CopyLiveDCCalibrationTable(table);
    std::uint8_t bytes[kCalibrationFileBytes];
    EncodeCalibrationFile(table, bytes);
    // A companion that named the file's earlier table must be gone before the table changes.
    const std::string idPath = CalibrationIdPath(directory);
    if (!RemoveFile(idPath)) return -1;
    const std::string path = CalibrationFilePath(directory);
    std::FILE* file = OpenFileUtf8(path.c_str(), "wb");
    if (file == nullptr) return -1;
    const bool written = std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return -1;
    // A table of no known device is saved without a companion: no device will apply it.
    if (s_liveTableDevice[0] == '\0') return 0;
    const std::string id = EncodeCalibrationId(s_liveTableDevice);
    if (WriteFileBinaryData(idPath.c_str(), reinterpret_cast<const unsigned char*>(id.data()),
                            static_cast<unsigned int>(id.size()))) {
        return 0;
    }
    RemoveFile(idPath);  // a partly written companion names nobody
    return -1;
}

bool ReadCalibrationFile(std::uint16_t* table) {
    const std::string path = CalibrationFilePath(s_calibrationPath);
    // Anything but the exact size is not a cache file; it is not even read.
    if (GetFileSizeUtf8(path.c_str()) != static_cast<long long>(kCalibrationFileBytes)) {
        return false;
    }
    unsigned char* data = nullptr;
    unsigned int size = 0;
    if (!ReadFileBinaryData(path.c_str(), &data, &size)) return false;
    const bool ok = DecodeCalibrationFile(data, size, table);
    delete[] data;
    return ok;
}

std::string ReadCalibrationId() {
    const std::string path = CalibrationIdPath(s_calibrationPath);
    const long long size = GetFileSizeUtf8(path.c_str());
    if (size < 0 || size > static_cast<long long>(kCalibrationIdMaxBytes)) return {};
    unsigned char* data = nullptr;
    unsigned int got = 0;
    if (!ReadFileBinaryData(path.c_str(), &data, &got)) return {};
    std::string id = DecodeCalibrationId(data, got);
    delete[] data;
    return id;
}

int DoLoadCalibrationData(const std::string& device) {
    std::uint16_t table[kDcCalibrationWords];
    if (!ReadCalibrationFile(table)) return -1;
    // The cache of another simulator, or of none known, is not this device's calibration.
    if (device.empty() || ReadCalibrationId() != device) return -3;
    if (!IsAcceptableCachedTable(table)) {
        FillDefaultDCCalibrationTable(table);
        SetLiveDCCalibrationTable(table);
        return -1;
    }
    SetLiveDCCalibrationTable(table, device);
    return 0;
}

void FreeCalibrationCache() {
    delete[] g_CalibrationCache;
    g_CalibrationCache = nullptr;
}

DCCalibrationSource SetECGDCVariableCalibrationData() {
    // The table in force is replaced only by a complete one, never zeroed on the way: a stream
    // that goes on across a reconnect keeps sending sound DC codes.
    const std::string device = SerialNumberText(g_ModelInfo);
    if (DoLoadCalibrationData(device) == 0) return DCCalibrationSource::kCacheFile;

    std::uint16_t table[kDcCalibrationWords];
    if (ReadFlashCalibrationData(table) && IsValidDCCalibrationTable(table)) {
        SetLiveDCCalibrationTable(table, device);
        DoSaveCalibrationData(s_calibrationPath);
        // The old copy is removed only once the new location is known to hold the table.
        if (WriteDCVariableCalibrationData(table) && Channel18Holds(table)) {
            ClearFlashCalibrationData();
        }
        return DCCalibrationSource::kMigratedFromOldLocation;
    }
    if (ReadDCVariableCalibrationData(table) && IsValidDCCalibrationTable(table)) {
        SetLiveDCCalibrationTable(table, device);
        DoSaveCalibrationData(s_calibrationPath);
        return DCCalibrationSource::kChannel18;
    }
    FillDefaultDCCalibrationTable(table);
    SetLiveDCCalibrationTable(table);
    return DCCalibrationSource::kDefault;
}

bool _outputECGDCVariableCalibrationData(const char* path) {
    std::uint16_t table[kDcCalibrationWords];
    CopyLiveDCCalibrationTable(table);
    std::FILE* file = OpenFileUtf8(path, "wb");
    if (file == nullptr) return false;
    bool written = true;
    for (std::uint16_t value : table) {
        if (std::fprintf(file, "%u\n", static_cast<unsigned>(value)) < 0) written = false;
    }
    return std::fclose(file) == 0 && written;
}

// ---- Exported calibration interface -------------------------------------------------------

extern "C" {

TOLV_SERVICE_API int SetCalibrationDataPath(const char* directory) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (directory == nullptr || directory[0] == '\0') {
        s_calibrationPath[0] = '\0';
        return 0;
    }
    const std::size_t length = std::strlen(directory);
    if (length >= kCalibrationPathSize) return -2;
    std::memcpy(s_calibrationPath, directory, length + 1);
    return 0;
}

TOLV_SERVICE_API bool ReadDCCalibrationData(void) {
    return RunDeviceCommand(false, [] {
        std::uint16_t table[kDcCalibrationWords];
        if (!ReadDCVariableCalibrationData(table)) return false;
        SetLiveDCCalibrationTable(table, DeviceOfFlashTable(table));
        return true;
    });
}

TOLV_SERVICE_API bool WriteDCCalibrationData(const unsigned int* values, long count) {
    if (values == nullptr || count != static_cast<long>(kDcCalibrationWords)) return false;
    std::uint16_t table[kDcCalibrationWords];
    for (std::size_t i = 0; i < kDcCalibrationWords; ++i) {
        if (values[i] > 0xFFFF) return false;  // not a 16-bit DAC code: refused, not cut
        table[i] = static_cast<std::uint16_t>(values[i]);
    }
    return RunDeviceCommand(false, [&] {
        if (!WriteDCVariableCalibrationData(table)) return false;
        SetLiveDCCalibrationTable(table, DeviceOfFlashTable(table));
        RefreshCalibrationFile();
        return true;
    });
}

TOLV_SERVICE_API bool ValidateDCCalibrationData(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    std::uint16_t table[kDcCalibrationWords];
    CopyLiveDCCalibrationTable(table);
    return IsValidDCCalibrationTable(table);
}

TOLV_SERVICE_API bool ClearDCCalibrationData(void) {
    return RunDeviceCommand(false, [] {
        bool ok = ClearDCVariableCalibrationData();
        ok = ClearFlashCalibrationData() && ok;
        FreeCalibrationCache();
        // No file left is what was asked for; a file that stays is a failure.
        if (!RemoveFile(CalibrationIdPath(s_calibrationPath))) ok = false;
        if (!RemoveFile(CalibrationFilePath(s_calibrationPath))) ok = false;
        return ok;
    });
}

TOLV_SERVICE_API int SaveCalibrationData(const char* directory) {
    if (directory == nullptr) return -2;
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow(-1, [&] { return DoSaveCalibrationData(directory); });
}

TOLV_SERVICE_API int LoadCalibrationData(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return NoThrow(-1, [] { return DoLoadCalibrationData(SerialNumberText(g_ModelInfo)); });
}

TOLV_SERVICE_API const uint16_t* GetCalibrationCache(int* count) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (count != nullptr) *count = 0;
    FreeCalibrationCache();
    std::uint16_t table[kDcCalibrationWords];
    if (!NoThrow(false, [&] { return ReadCalibrationFile(table); })) return nullptr;
    g_CalibrationCache = new (std::nothrow) std::uint16_t[kDcCalibrationWords];
    if (g_CalibrationCache == nullptr) return nullptr;
    std::copy(table, table + kDcCalibrationWords, g_CalibrationCache);
    if (count != nullptr) *count = static_cast<int>(kDcCalibrationWords);
    return g_CalibrationCache;
}

TOLV_SERVICE_API int GetCalibrationCacheEx(uint16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity < static_cast<int>(kDcCalibrationWords)) return 0;
    CAutoCriticalSection api(g_APICriticalSection);
    if (s_calibrationPath[0] == '\0') return 0;
    std::uint16_t table[kDcCalibrationWords];
    if (!NoThrow(false, [&] { return ReadCalibrationFile(table); })) return 0;
    std::copy(table, table + kDcCalibrationWords, buffer);
    return static_cast<int>(kDcCalibrationWords);
}

TOLV_SERVICE_API int ClearCalibrationCache(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    FreeCalibrationCache();
    return NoThrow(-1, [] {
        RemoveFile(CalibrationIdPath(s_calibrationPath));
        return std::remove(CalibrationFilePath(s_calibrationPath).c_str()) == 0 ? 0 : -1;
    });
}

}  // extern "C"
