// The ECG DC calibration table: the live table the output stage reads per sample, its records in
// the simulator's flash (channel 18, and the old location in channel 3), the host-side cache file
// "calibration.dat" with its companion "calibration.id", and the load order run at every connect.
//
// The cache file itself says nothing about the simulator it was made for, so every write of it
// also writes "calibration.id" beside it: one line, the serial-number text of the device whose
// table the file holds. A cache is applied only to the device its companion names; a file
// without a companion, or with one naming another device, is treated as no cache at all.
//
// Threads and locks:
// - The live table g_ECGDCVariableCalibrationData is written at connect (connect thread, under
//   the API lock) and by the calibration functions (application threads, under the API lock). It
//   is read by the play thread for every sample without any lock, through
//   GetECGDCCalibrationEntry. Every entry is an atomic word read and written with relaxed order:
//   a table replaced while a stream plays may mix old and new entries within one packet, but
//   every entry the play thread sees is a whole code of one of the two tables.
// - The cache path, the cache copy and the device of the live table are touched only under the
//   API lock.
// - The flash record functions issue storage commands; their caller holds the access discipline
//   of a device command (CDeviceCommand).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/commands/StorageCommands.h"

// Entry i is the DC DAC code of (i - 2000) mV, i = 0..4000.
extern std::atomic<std::uint16_t> g_ECGDCVariableCalibrationData[kDcCalibrationWords];

// The output stage's per-sample accessor: entry index of the live table (index is clamped to
// 0..4000). Lock-free; safe on the play thread while the table is being replaced.
inline std::uint16_t GetECGDCCalibrationEntry(int index) {
    if (index < 0) index = 0;
    if (index > static_cast<int>(kDcCalibrationWords) - 1) {
        index = static_cast<int>(kDcCalibrationWords) - 1;
    }
    return g_ECGDCVariableCalibrationData[index].load(std::memory_order_relaxed);
}

// ---- Pure parts ---------------------------------------------------------------------------
// The built-in table: 0 for entries 0..999, trunc(32.7675 * (i - 1000)) for 1000..3000 (0 at
// -1000 mV up to 65535 at +1000 mV), 65535 for 3001..4000.
void FillDefaultDCCalibrationTable(std::uint16_t* table);
// A table is usable when none of its entries 1500..2500 (-500..+500 mV) is 0xFFFF (erased).
bool IsValidDCCalibrationTable(const std::uint16_t* table);
// A cached table is rejected when any entry 1000..2999 is 255.
bool IsAcceptableCachedTable(const std::uint16_t* table);
// The cache file: 4001 words, 16-bit little-endian, no header (8002 bytes).
constexpr std::size_t kCalibrationFileBytes = 2 * kDcCalibrationWords;
void EncodeCalibrationFile(const std::uint16_t* table, std::uint8_t* bytes);
// Decodes exactly kCalibrationFileBytes; false for any other size.
bool DecodeCalibrationFile(const std::uint8_t* bytes, std::size_t size, std::uint16_t* table);
// "<directory>calibration.dat": the directory text is put unchanged in front of the file name.
std::string CalibrationFilePath(const char* directory);
// "<directory>calibration.id", the companion naming the device whose table the file holds.
std::string CalibrationIdPath(const char* directory);
// The companion's content: the serial-number text and a line feed.
std::string EncodeCalibrationId(const std::string& serial);
// The serial-number text a companion names: its first line without surrounding white space;
// empty for anything longer than kCalibrationIdMaxBytes (not a companion).
constexpr std::size_t kCalibrationIdMaxBytes = 64;
std::string DecodeCalibrationId(const std::uint8_t* bytes, std::size_t size);

// ---- Live table ---------------------------------------------------------------------------
// Puts table in force. device is the serial-number text of the simulator whose calibration it
// is (empty: the built-in table, or a table of no known device); the cache file written from
// the live table names that device. Caller holds the API lock (every caller in the
// library does; a single-threaded test need not).
void SetLiveDCCalibrationTable(const std::uint16_t* table, const std::string& device = {});
void CopyLiveDCCalibrationTable(std::uint16_t* table);

// ---- Flash records (caller holds the access discipline) -----------------------------------
// Channel 18, address 0, 4001 words.
bool ReadDCVariableCalibrationData(std::uint16_t* words);
// Channel 18, address 0, 4001 words; no erase before the write.
bool WriteDCVariableCalibrationData(const std::uint16_t* words);
// Erases the 14 sectors of channel 18 (0..14335); every erase must be answered.
bool ClearDCVariableCalibrationData();
// The old location, channel 3 at 102400: first reads the 16 words at 104400 (entries
// 1000..1015); when any is 0xFFFF the old table is absent and the read fails.
bool ReadFlashCalibrationData(std::uint16_t* words);
// Erases the 14 sectors of channel 3 from 102400. The manufacturing text record at 115712 lies
// in the last of them: it is read first and written back after the erase (unless it was blank),
// and nothing is erased when it cannot be read.
bool ClearFlashCalibrationData();

// ---- Cache file and load order ------------------------------------------------------------
// The directory of the cache file (empty: the current directory).
const char* CalibrationDataPath();
// Writes the live table to "calibration.dat" in directory (truncating) and its companion
// "calibration.id" naming the live table's device. The old companion is removed before the
// table file is touched, so a failure on the way never leaves a companion beside a table that
// is not its device's; with no known device no companion is written. 0, or -1 when a file
// cannot be written or the old companion cannot be removed (the table file is then untouched).
int DoSaveCalibrationData(const char* directory);
// Reads the cache file of the stored directory into table; true when it holds exactly 4001
// words. The companion is not consulted.
bool ReadCalibrationFile(std::uint16_t* table);
// The device the companion in the stored directory names; empty when there is none.
std::string ReadCalibrationId();
// Loads the cache file into the live table, when it is the cache of device (the serial-number
// text of the connected simulator). 0 on success; -1 when the file is missing or not 8002 bytes
// (live table unchanged); -3 when device is empty or the companion is missing or names another
// device (live table unchanged); -1 when any entry 1000..2999 is 255 (live table = default).
int DoLoadCalibrationData(const std::string& device);
// Frees the library's copy handed out by GetCalibrationCache.
void FreeCalibrationCache();

// Where the table in force came from after SetECGDCVariableCalibrationData.
enum class DCCalibrationSource {
    kCacheFile,
    kMigratedFromOldLocation,
    kChannel18,
    kDefault,
};
// The load at every connect: the cache file when its companion names the connected device,
// else the old flash table (saved to the file, written to channel 18 and, once channel 18 reads
// back equal, removed from channel 3), else channel 18 (saved to the file), else the built-in
// default. Every save rewrites the companion for the connected device. Caller holds the API
// lock and the access discipline; the device information of the identification is loaded.
DCCalibrationSource SetECGDCVariableCalibrationData();

// Writes the live table as 4001 lines of decimal values to path. False when the file cannot be
// written.
bool _outputECGDCVariableCalibrationData(const char* path);
