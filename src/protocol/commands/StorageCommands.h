// Storage access family (12 55 AA): reads, writes and sector erases of the flash of the
// simulator and of its attached module, the chunk plans of longer transfers, and the map of
// the storage channels.
//
// One 64-byte frame serves all three commands:
//   0      0x12          1..2   0x55 0xAA       3   direction: 00 read, FF write or erase
//   4      00 (the reply's acknowledge byte)    5   storage channel
//   6      01 for a sector erase, else 00       7   byte count of the data (0 for an erase)
//   8..11  byte address within the channel, 32-bit big-endian
//   12..15 00                                   16..63  data of a write; a read's data in the reply
// The reply is 64 bytes: byte 4 = FF acknowledges and a read's data start at byte 16.
//
// Byte records travel as raw bytes (numbers inside them are little-endian); word tables travel
// big-endian: word i of a chunk at bytes 16 + 2i (high) and 17 + 2i (low).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/commands/CommandTypes.h"

constexpr std::size_t kStorageRequestLength = 64;
constexpr std::size_t kStorageDataOffset = 16;
// Most data one frame can carry (bytes 16..63).
constexpr std::size_t kStorageMaxData = 48;

// Chunk sizes of the transfers: byte records in 32-byte chunks, word tables in 16-word chunks,
// firmware images in 48-byte chunks.
constexpr std::size_t kStorageRecordChunkBytes = 32;
constexpr std::size_t kStorageTableChunkWords = 16;
constexpr std::size_t kStorageFirmwareChunkBytes = 48;

// Delays of the storage transfers, in milliseconds (firmware images use none).
constexpr unsigned kStorageRecordReadPauseMs = 6;  // after each good chunk of a record read
constexpr unsigned kStorageWriteReplyWaitMs = 6;   // between a write and its reply read
constexpr unsigned kStorageWritePauseMs = 40;      // after a good write reply
constexpr unsigned kStorageEraseReplyWaitMs = 40;  // between an erase and its reply read

// The erase unit.
constexpr std::uint32_t kFlashSectorBytes = 1024;

// ---- Storage channels and their maps ------------------------------------------------------
enum class StorageChannel : std::uint8_t {
    kModelInfo = 1,       // model information image of the simulator
    kFirmware = 3,        // firmware image, old DC calibration, manufacturing text
    kDcCalibration = 18,  // DC calibration table
    kModule = 19,         // flash of the attached PPG or respiration module
};

// Channel 1.
constexpr std::uint32_t kModelInfoAddress = 0;
constexpr std::size_t kModelInfoBytes = 12;
// Channel 3.
constexpr std::uint32_t kFirmwareFirstPartAddress = 0;
constexpr std::uint32_t kFirmwareFirstPartBytes = 102400;
constexpr std::uint32_t kOldDcCalibrationAddress = 102400;
constexpr std::uint32_t kOldDcCalibrationPresenceAddress = 104400;  // entries 1000..1015
constexpr std::size_t kOldDcCalibrationPresenceWords = 16;
constexpr std::uint32_t kOldDcCalibrationRegionAddress = 102400;
constexpr std::uint32_t kOldDcCalibrationRegionSectors = 14;  // up to 116736
constexpr std::uint32_t kManufacturingTextAddress = 115712;
constexpr std::size_t kManufacturingTextMaxBytes = 64;
constexpr std::uint32_t kFirmwareSecondPartAddress = 116736;
constexpr std::uint32_t kFirmwareImageBytes = 122880;
// Channel 18.
constexpr std::uint32_t kDcCalibrationAddress = 0;
constexpr std::uint32_t kDcCalibrationSectors = 14;  // addresses 0..14335
// The DC calibration table: one word per millivolt from -2000 to +2000 mV.
constexpr std::size_t kDcCalibrationWords = 4001;
// Channel 19.
constexpr std::uint32_t kModuleModelInfoAddress = 0;
constexpr std::uint32_t kPdSamplingLedType1Address = 1024;
constexpr std::uint32_t kPdSamplingOtherLedAddress = 3072;
constexpr std::size_t kPdSamplingWords = 1024;
constexpr std::uint32_t kPpgFactorySettingAddress = 5120;
constexpr std::size_t kPpgFactorySettingBytes = 64;
constexpr std::uint32_t kMcuFactorySettingAddress = 5248;
constexpr std::size_t kMcuFactorySettingBytes = 256;
constexpr std::uint32_t kPdRatioBlockAddress[3] = {5248, 5280, 5312};
constexpr std::size_t kPdRatioBlockBytes = 32;
constexpr std::uint32_t kRespirationCoefficientAddress = 5248;
constexpr std::size_t kRespirationCoefficientBytes = 64;
constexpr std::uint32_t kRespirationBaselineTableAddress = 5312;
constexpr std::size_t kRespirationBaselineTableBytes = 24;
constexpr std::uint32_t kRespirationResistanceTableAddress = 5376;
constexpr std::size_t kRespirationResistanceTableBytes = 768;
constexpr std::uint32_t kPpgDcTableAddress[3] = {5632, 13824, 22016};
constexpr std::size_t kPpgDcTableBytes = 8192;
constexpr std::size_t kPpgDcTableWordsUsed = 3001;

// ---- StorageRead --------------------------------------------------------------------------
// Request 64 bytes (direction 00); no wait; read 64 bytes; acknowledged by reply byte 4 = FF;
// the data start at reply byte 16. Byte records pause 6 ms after each good chunk. A firmware
// verify tests only that 64 bytes came back (CheckReplyComplete) and compares the bytes at
// kStorageDataOffset itself. count is in bytes and must not exceed 48 (else nullopt).
std::optional<CommandRequest<kStorageRequestLength>> BuildStorageRead(StorageChannel channel,
                                                                      std::uint32_t address,
                                                                      std::size_t count);
// The same request for wordCount big-endian words (byte 7 = 2 * wordCount; at most 24).
std::optional<CommandRequest<kStorageRequestLength>> BuildStorageReadWords(StorageChannel channel,
                                                                           std::uint32_t address,
                                                                           std::size_t wordCount);
// Judges the reply and copies its first count data bytes to out (count <= 48; else kInvalid
// and nothing copied). out is left untouched unless the reply is kOk.
ReplyStatus ParseStorageReadReply(const std::uint8_t* reply, std::size_t received,
                                  std::uint8_t* out, std::size_t count);
// As above for wordCount big-endian words (wordCount <= 24).
ReplyStatus ParseStorageReadWordsReply(const std::uint8_t* reply, std::size_t received,
                                       std::uint16_t* out, std::size_t wordCount);

// ---- StorageWrite -------------------------------------------------------------------------
// Request 64 bytes (direction FF) with count data bytes at byte 16 (count <= 48, else nullopt);
// wait 6 ms; read 64 bytes; acknowledged by reply byte 4 = FF (CheckStorageWriteReply); pause
// 40 ms after a good reply. Firmware image chunks use neither wait and test only that 64 bytes
// came back (CheckReplyComplete).
std::optional<CommandRequest<kStorageRequestLength>> BuildStorageWrite(StorageChannel channel,
                                                                       std::uint32_t address,
                                                                       const std::uint8_t* data,
                                                                       std::size_t count);
// The same for wordCount words, each written big-endian (wordCount <= 24, else nullopt).
std::optional<CommandRequest<kStorageRequestLength>> BuildStorageWriteWords(
    StorageChannel channel, std::uint32_t address, const std::uint16_t* words,
    std::size_t wordCount);
ReplyStatus CheckStorageWriteReply(const std::uint8_t* reply, std::size_t received);

// ---- StorageErase -------------------------------------------------------------------------
// Request 64 bytes (direction FF, erase flag 1, count 0) for the 1024-byte sector at address;
// wait 40 ms; read 64 bytes; success when all 64 came back (CheckReplyComplete).
CommandRequest<kStorageRequestLength> BuildStorageErase(StorageChannel channel,
                                                        std::uint32_t address);

// ---- Chunk plans --------------------------------------------------------------------------
// A transfer longer than one chunk is cut into consecutive chunks in ascending address order;
// each chunk must be acknowledged before the next is sent, and the first failing chunk ends
// the transfer with failure.
struct StorageChunk {
    std::uint32_t address = 0;   // channel address of the chunk (frame bytes 8..11)
    std::size_t first = 0;       // index of the chunk's first element in the caller's buffer
    std::size_t elements = 0;    // bytes (records) or words (tables) in this chunk
    std::uint8_t countByte = 0;  // frame byte 7: the chunk's size in bytes
};

// Number of chunks of a transfer of total elements, at most perChunk in each.
std::size_t StorageChunkCount(std::size_t total, std::size_t perChunk);
// Chunk index of a transfer of total elements of elementBytes each, perChunk elements per
// chunk, starting at baseAddress. An index past the end gives an empty chunk.
StorageChunk ChunkOf(std::uint32_t baseAddress, std::size_t total, std::size_t index,
                     std::size_t perChunk, std::size_t elementBytes);
// Chunk index of a byte record of totalBytes at baseAddress (32 bytes per chunk).
StorageChunk ByteRecordChunk(std::uint32_t baseAddress, std::size_t totalBytes, std::size_t index);
// Chunk index of a word table of totalWords at baseAddress (16 words per chunk; the address
// advances by twice the index of the chunk's first word).
StorageChunk WordTableChunk(std::uint32_t baseAddress, std::size_t totalWords, std::size_t index);
// Chunk index of a firmware area of totalBytes at baseAddress (48 bytes per chunk).
StorageChunk FirmwareChunk(std::uint32_t baseAddress, std::size_t totalBytes, std::size_t index);

// Clearing a region erases every 1024th address of it: regionStart, regionStart + 1024, ...
// below regionStart + regionBytes. Also serves the microcontroller erase (McuErase).
std::size_t SectorCount(std::uint32_t regionBytes);
std::uint32_t SectorEraseAddress(std::uint32_t regionStart, std::size_t index);
