// Records in the flash of the module attached to the simulator (storage channel 19): the PPG
// module's factory settings, photodiode sampling tables, photodiode ratios, microcontroller
// factory settings and DC tables; the external respiration module's coefficients, baseline DAC
// table and potentiometer-3 resistance table. And the loads of them run at every connect.
//
// Byte records carry their numbers little-endian; the photodiode sampling tables are word
// tables (big-endian on the wire). Every flash function issues storage commands: its caller
// holds the access discipline of a device command (CDeviceCommand).
//
// Threads and locks:
// - All state here is written at connect (connect thread, under the API lock and the interrupt
//   lock) and by the record writers (application threads, under both locks).
// - The PPG DC tables and the microcontroller factory words are read by the play thread for
//   every sample without a lock, through GetPPGDCTableEntry and GetFactorySettingMCUWord: they
//   are atomic words with relaxed order, so a reload during playback is race-free (one packet
//   may mix entries of the old and the new table).
// - The photodiode sampling tables are read by the poll thread's sampling handler, which runs
//   under the interrupt lock.
// - The respiration calibration is read under the API lock (RespirationDACCalibration), by the
//   respiration work when a change is applied, never per sample.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "protocol/commands/StorageCommands.h"

// ---- PPG module factory settings (channel 19 at 5120, 64 bytes) ---------------------------
struct FACTORY_SETTING {
    std::uint8_t Valid;          // 1 when the record holds data (0xFF when erased)
    std::uint8_t LedLevel1;      // LED drive level of PPG output 1
    std::uint8_t LedLevel2;      // LED drive level of PPG output 2
    std::uint8_t TriggerLevel1;  // trigger level of PPG output 1
    std::uint8_t TriggerLevel2;  // trigger level of PPG output 2
    std::uint8_t LedLevel3;      // LED drive level of PPG output 3
    std::uint8_t TriggerLevel3;  // trigger level of PPG output 3
    std::uint8_t Unused[57];     // not used by the library; written back as read
};
static_assert(sizeof(FACTORY_SETTING) == kPpgFactorySettingBytes, "64-byte record");

// The PPG module's factory settings as last read (zero when none was read).
extern FACTORY_SETTING g_PPGFactorySettings;

// Reads the record; succeeds when it came whole and byte 0 is below 0xFF. *record is changed
// only on success.
bool ReadFactorySetting(FACTORY_SETTING* record);
// Writes the 64 bytes (no erase: the sector also holds the other module records).
bool WriteFactorySetting(const FACTORY_SETTING* record);

// ---- Microcontroller factory settings (module 0x2112; channel 19 at 5248, 256 bytes) -------
constexpr std::size_t kFactorySettingMCUWords = kMcuFactorySettingBytes / 2;
// Reads the 256 raw bytes.
bool ReadFactorySettingMCU(std::uint8_t* bytes);
// Reads the record into the words of g_FactorySettingMCU; they are zero when the read fails.
bool LoadFactorySettingMCU();
// Word index (0..127, little-endian in the record) of the settings in force; 0 out of range.
std::uint16_t GetFactorySettingMCUWord(int index);

// ---- Photodiode sampling calibration (two tables of 1024 words) ----------------------------
constexpr std::size_t kPDSamplingTables = 2;
// Table 0 belongs to LED type 1, table 1 to the other LED type. The identity until loaded.
extern std::uint16_t g_pPPGPDSamplingCalibrationData[kPDSamplingTables][kPdSamplingWords];
// Word table at 1024 for LED type 1, else at 3072; 1024 words.
bool ReadPPGCalibrationDataPDSampling(int ledType, std::uint16_t* words);
// A sampling table is replaced by the identity when its first word is 0xFFFF or its last is 0.
bool IsUsablePDSamplingTable(const std::uint16_t* words);
// With a PPG module attached: loads table 0, and table 1 when the module has more than one
// photodiode path (each judged by its own first and last word; otherwise the identity); then
// the photodiode ratios on modules 0x2112, 0x2012 and 0x2014. False without a PPG module.
bool LoadPPGPDSamplingCalibrationData();

// ---- Photodiode ratios (g_FPGA_PDRatio, channel 19 at 5248 + 32k, 8 floats each) ----------
// A stored ratio that is 0 or not a finite number is used as 1.0. A block that cannot be read
// is all 1.0. True when all three blocks were read.
bool FPGASyncFromEEPROM();
// The ratio to use for a stored value.
float UsablePDRatio(float stored);

// ---- PPG DC tables (module 0x2112; channel 19 at 5632, 13824, 22016) -----------------------
constexpr std::size_t kPPGDCTables = 3;
// Reads the 8192 bytes of table k (0..2) and copies the first count words (count <= 4096).
bool ReadPPGDCTable(int k, std::uint16_t* words, std::size_t count);
// A table is replaced by the identity when its last word (index 3000) is 0xFFFF.
bool IsUsablePPGDCTable(const std::uint16_t* words);
// On module 0x2112: reads tables 0 and 1 (3001 words each); an erased or unreadable table
// becomes the identity. False on any other module.
bool LoadPPGDCTable();
// Entry index (0..3000) of table slot (0..2); lock-free, for the play thread. 0 out of range.
inline std::uint16_t GetPPGDCTableEntry(int slot, int index);
// Copies min(count, 3001) words of table k; returns that number, 0 for k outside 0..2.
int CopyPPGDCTable(int k, std::uint16_t* buffer, int count);

// ---- External respiration module (letters 'E' 'R') ----------------------------------------
// The module's calibration: the record's validity mark is the first double of the coefficient
// record.
constexpr double kRespirationCoefficientMark = 0.60991;
constexpr std::size_t kRespirationCoefficients = 4;
constexpr std::size_t kRespirationBaselineEntries = 12;
constexpr std::size_t kRespirationRDAC3Steps = 96;
struct RESPIRATION_DAC_CALIBRATION {
    // Resistor coefficients in ohms: [0], [1] fixed resistances in series with potentiometers 1
    // and 2, [2] the offset that selects potentiometer 3's step, [3] as stored.
    double Coefficients[kRespirationCoefficients] = {110.0, 110.0, 110.0, 110.0};
    // Baseline DAC code of each module baseline selection 0..11.
    std::uint16_t BaselineDAC[kRespirationBaselineEntries] = {};
    // Resistance in ohms of each step of potentiometer 3.
    double RDAC3[kRespirationRDAC3Steps] = {};
};

// The respiration calibration in force (a copy). Caller holds the API lock.
RESPIRATION_DAC_CALIBRATION RespirationDACCalibration();

// Coefficient record (channel 19 at 5248, 64 bytes): the mark, four coefficients, zeros. The
// load fails unless the mark is there and the coefficients are finite; load and write both
// put the coefficients in force.
bool LoadRespirationRWA();
bool WriteRespirationRWA(const double* coefficients);
// Baseline DAC table (channel 19 at 5312, twelve 16-bit words).
bool LoadRespirationBaselineDACTable();
bool WriteRespirationBaselineDACTable(const std::uint16_t* words);
// Potentiometer-3 resistance table (channel 19 at 5376, 96 doubles).
bool LoadRespirationRDAC3();
bool WriteRespirationRDAC3(const double* ohms);
// With the module attached: the coefficient record, the baseline table and the resistance table
// are loaded, each only when the one before loaded.
// False without the module or when a load failed.
bool LoadRespirationDACCalibrationData();

// ---- Connect ------------------------------------------------------------------------------
// Puts every table of this file back to its built-in value (identity tables, ratios 1.0, zero
// factory settings, the default respiration calibration), so that nothing of an earlier module
// outlives it. Called at every connect before the loads.
void ResetModuleTables();

// ---- Pure record codecs (little-endian) ----------------------------------------------------
void EncodeRespirationRWA(const double* coefficients, std::uint8_t* record64);
// False when the mark is missing or a coefficient is not finite.
bool DecodeRespirationRWA(const std::uint8_t* record64, double* coefficients);
double GetLittleEndianDouble(const std::uint8_t* at);
void PutLittleEndianDouble(std::uint8_t* at, double value);
float GetLittleEndianFloat(const std::uint8_t* at);

// ---- Inline accessor ---------------------------------------------------------------------
extern std::atomic<std::uint16_t> g_PPGDCTable[kPPGDCTables][kPpgDcTableWordsUsed];

inline std::uint16_t GetPPGDCTableEntry(int slot, int index) {
    if (slot < 0 || slot >= static_cast<int>(kPPGDCTables) || index < 0 ||
        index >= static_cast<int>(kPpgDcTableWordsUsed)) {
        return 0;
    }
    return g_PPGDCTable[slot][index].load(std::memory_order_relaxed);
}
