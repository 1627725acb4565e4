// Commands of the converter (0xAD), of the PPG module (0xB0), of the module parameter block
// (0xEA) and of the PPG module's microcontroller loader (0xB9).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/commands/CommandTypes.h"
#include "protocol/commands/StorageCommands.h"

// ==== Converter control: AD, direction, sub-code, 00, value (5 bytes) =======================
constexpr std::size_t kConverterRequestLength = 5;
constexpr std::uint8_t kConverterRightLegDrive = 0x10;  // ConverterSelect: RLD measurement
constexpr std::uint8_t kConverterStop = 0x00;           // ConverterSelect: stop PPG sampling

// ConverterSelect: AD FF 00 00 value. No wait of its own (the RLD measurement sleeps 5 ms
// before its read); read 64 bytes; byte 3 = FF acknowledges (CheckConverterSelectReply). When
// it stops sampling, the reply is only drained.
CommandRequest<kConverterRequestLength> BuildConverterSelect(std::uint8_t value);
ReplyStatus CheckConverterSelectReply(const std::uint8_t* reply, std::size_t received);
// ConverterRead: AD 00 00 00 value. Read 64 bytes and discard them; a complete write succeeds.
CommandRequest<kConverterRequestLength> BuildConverterRead(std::uint8_t value);

// RLDRead: AD 00 01 00 10. No wait; read 64 bytes; byte 3 = FF; two 16-bit big-endian
// converter counts at bytes 6..7 and 8..9, each 3.3/1023 V per count.
struct RldReading {
    std::uint16_t firstCount = 0;
    std::uint16_t secondCount = 0;
    double firstVolts = 0.0;
    double secondVolts = 0.0;
};

CommandRequest<kConverterRequestLength> BuildRLDRead();
ParsedReply<RldReading> ParseRLDReadReply(const std::uint8_t* reply, std::size_t received);

// ==== PPG module control: B0, direction, sub-code, 00, value bytes ==========================
// SignalStrengthEnable: B0 FF 01 00 enable (5 bytes). No wait; read 64 bytes; byte 4 = FF.
constexpr std::size_t kSignalStrengthEnableRequestLength = 5;
CommandRequest<kSignalStrengthEnableRequestLength> BuildSignalStrengthEnable(std::uint8_t enable);
ReplyStatus CheckSignalStrengthEnableReply(const std::uint8_t* reply, std::size_t received);

// SamplingStatusRead: B0 00 02 00 00 (5 bytes). No wait; read 64 bytes; usable when all 64 came
// back; the first 18 reply bytes are the sampling status record.
constexpr std::size_t kSamplingStatusReadRequestLength = 5;
constexpr std::size_t kSamplingStatusRecordBytes = 18;
using SamplingStatusRecord = std::array<std::uint8_t, kSamplingStatusRecordBytes>;

CommandRequest<kSamplingStatusReadRequestLength> BuildSamplingStatusRead();
ParsedReply<SamplingStatusRecord> ParseSamplingStatusReadReply(const std::uint8_t* reply,
                                                               std::size_t received);

// Photodiode values packed two 12-bit numbers in three bytes b0 b1 b2:
// first = b0 * 16 + b1 / 16, second = (b1 % 16) * 256 + b2. Three such groups make six values.
std::array<int, 6> DecodePhotodiodeTriplets(const std::uint8_t* nineBytes);

// The sampling status record decoded: flags are bits 5, 4, 3, 2, 1, 0 of record byte 8;
// the six 12-bit values come from bytes 9..17 (firsts of the three groups, then seconds).
struct SamplingStatus {
    std::array<bool, 6> flags{};
    std::array<int, 3> first{};
    std::array<int, 3> second{};
};
SamplingStatus DecodeSamplingStatus(const SamplingStatusRecord& record);

// PDStatusRead: B0 00 02 (3 bytes). Wait 80 ms; read 64 bytes; valid when byte 3 = FF and the
// low six bits of byte 8 are zero (else kInvalid); six 12-bit values from bytes 9..17, in the
// order first and second of group 0, of group 1, of group 2.
constexpr std::size_t kPDStatusReadRequestLength = 3;
constexpr unsigned kPDStatusReadWaitMs = 80;

CommandRequest<kPDStatusReadRequestLength> BuildPDStatusRead();
ParsedReply<std::array<int, 6>> ParsePDStatusReadReply(const std::uint8_t* reply,
                                                       std::size_t received);

// DynamicLEDEnable: B0 FF 03 00 enable (0 or 1; 5 bytes). No wait; read 64 bytes; byte 4 = FF
// (CheckDynamicLEDEnableReply); one caller needs only the complete reply.
constexpr std::size_t kDynamicLEDEnableRequestLength = 5;
CommandRequest<kDynamicLEDEnableRequestLength> BuildDynamicLEDEnable(bool enable);
ReplyStatus CheckDynamicLEDEnableReply(const std::uint8_t* reply, std::size_t received);

// AmbientLightWrite: B0 FF 10 00 mode 00 (6 bytes). Read 64 bytes only when no stream runs
// (the poll thread consumes it otherwise); success when all 64 came back.
// AmbientLightRead: B0 00 10 00 00 00 (6 bytes). Read 64 bytes; byte 3 = FF; mode at byte 4.
constexpr std::size_t kAmbientLightRequestLength = 6;
constexpr std::uint8_t kAmbientLightMaxMode = 14;

CommandRequest<kAmbientLightRequestLength> BuildAmbientLightWrite(std::uint8_t mode);
CommandRequest<kAmbientLightRequestLength> BuildAmbientLightRead();
ParsedReply<std::uint8_t> ParseAmbientLightReadReply(const std::uint8_t* reply,
                                                     std::size_t received);

// AutoTriggerRead: B0 00 30 00 (4 bytes). Read 64 bytes; usable when all 64 came back; bytes
// 4..13 are the 10-byte trigger-level record as the device sent it (its 16-bit values at
// record bytes 6..7 and 8..9 are big-endian).
constexpr std::size_t kAutoTriggerReadRequestLength = 4;
constexpr std::size_t kAutoTriggerRecordBytes = 10;
using AutoTriggerRecord = std::array<std::uint8_t, kAutoTriggerRecordBytes>;

CommandRequest<kAutoTriggerReadRequestLength> BuildAutoTriggerRead();
ParsedReply<AutoTriggerRecord> ParseAutoTriggerReadReply(const std::uint8_t* reply,
                                                         std::size_t received);
// The record as the application receives it: when both flag bits (0 and 1) of byte 2 are set
// the two 16-bit values (bytes 6..7 and 8..9) are zero, otherwise they are in host byte order.
AutoTriggerRecord AutoTriggerRecordToHostOrder(const AutoTriggerRecord& wire);

// ==== Module parameter block (0xEA) ========================================================
constexpr std::size_t kModuleBlockLength = 64;
using ModuleBlock = std::array<std::uint8_t, kModuleBlockLength>;

// ModuleBlockRead: EA 00 01 (3 bytes; the count its write returns is not tested). No wait;
// read 64 bytes: the reply is block 1, usable when all 64 came back.
constexpr std::size_t kModuleBlockReadRequestLength = 3;
CommandRequest<kModuleBlockReadRequestLength> BuildModuleBlockRead();
ParsedReply<ModuleBlock> ParseModuleBlockReadReply(const std::uint8_t* reply, std::size_t received);

// Fields of block 1 that the library writes.
struct RespirationFields {
    int rate = 0;                // breaths per minute -> byte 8
    int impedanceVariation = 0;  // milliohms; byte 9 = variation / 100
    int ratio = 1;               // inspiration-to-expiration ratio 1..5; byte 10 = ratio - 1
    int baselineSelection = 0;   // byte 11
};
// Writes bytes 8..11 of a block (each limited to 0..255).
void PatchRespirationFields(ModuleBlock& block, const RespirationFields& fields);
// Writes byte 12: apnea on (1) or off (0).
void PatchApneaField(ModuleBlock& block, bool apneaOn);
// Writes the pacing amplitude code (bytes 24..25) and width in steps (26..27), both big-endian,
// and clears bytes 28..37.
void PatchPacingFields(ModuleBlock& block, std::uint16_t amplitudeCode, std::uint16_t widthSteps);
// Pacing width in device steps: trunc(0.5 + duration / step) with steps of 0.1 ms when the
// external respiration module is present, else 0.025 ms; 0 for a non-positive duration and at
// most 65535.
std::uint16_t PacingWidthSteps(double durationMs, bool externalRespirationModule);

// ModuleBlockWrite: the block as read, with byte 1 = FF and the patched fields (64 bytes).
// No wait (the apnea write waits 10 ms before its reply read); read 64 bytes; byte 3 = FF.
CommandRequest<kModuleBlockLength> BuildModuleBlockWrite(const ModuleBlock& block);
ReplyStatus CheckModuleBlockWriteReply(const std::uint8_t* reply, std::size_t received);

// RespirationBlockWrite: EA FF 01 with the respiration fields at bytes 8..11, all else 0
// (19 bytes). Wait 40 ms; read 64 bytes; byte 3 = FF (CheckModuleBlockWriteReply).
constexpr std::size_t kRespirationBlockWriteRequestLength = 19;
constexpr unsigned kRespirationBlockWriteWaitMs = 40;
CommandRequest<kRespirationBlockWriteRequestLength> BuildRespirationBlockWrite(
    const RespirationFields& fields);

// LED pulse group record: the LED of each of eight time slots (0 none, 1, 2 or 3) and a period.
// On the wire: byte 35 flag, 36..37 period big-endian, 40..47 slot bit codes
// (LED 1 -> 1, LED 2 -> 2, LED 3 -> 4, none -> 0).
struct LedPulseGroup {
    std::array<std::uint8_t, 8> slots{};
    std::uint16_t period = 0;
};

// LEDPulseGroupRead: EA FF 00, all else 0 (64 bytes; the write direction with an empty payload
// is how the device is asked for the stored record). Wait 40 ms; read 64 bytes; byte 3 = FF.
// A reply flag (byte 35) of 1 means period 0. All eight slots, slot 0 included, are decoded
// from bytes 40..47 (codes other than 1, 2, 4 read as no LED), so a record reads back as it was
// written.
constexpr unsigned kLEDPulseGroupReadWaitMs = 40;
CommandRequest<kModuleBlockLength> BuildLEDPulseGroupRead();
ParsedReply<LedPulseGroup> ParseLEDPulseGroupReadReply(const std::uint8_t* reply,
                                                       std::size_t received);
// LEDPulseGroupWrite: EA FF 00, flag at 35 (1 when slot 0 holds an LED and the period is 0),
// period at 36..37, codes at 40..47 (64 bytes). No wait; read 64 bytes; byte 3 = FF
// (CheckModuleBlockWriteReply).
CommandRequest<kModuleBlockLength> BuildLEDPulseGroupWrite(const LedPulseGroup& group);

// ==== MCU loader of the PPG module 0x2112 (B9, direction, sub-code, 00, ...) ================
// Address fields are 24-bit big-endian at bytes 5..7; byte 4 is the data count.
constexpr std::size_t kLoaderModeRequestLength = 5;
constexpr std::size_t kMcuRequestLength = 64;
constexpr std::size_t kMcuDataOffset = 8;
constexpr std::size_t kMcuWriteChunkBytes = 32;
constexpr std::size_t kMcuReadChunkBytes = 52;
constexpr std::uint32_t kMcuMaxAddress = 0xFFFFFF;
constexpr unsigned kMcuEraseWaitMs = 100;
constexpr std::uint8_t kLoaderLeave = 0;
constexpr std::uint8_t kLoaderEnter = 1;
constexpr std::uint8_t kLoaderRestart = 255;

// LoaderMode: B9 FF 00 00 mode (5 bytes). No wait; read 64 bytes; byte 3 = FF.
CommandRequest<kLoaderModeRequestLength> BuildLoaderMode(std::uint8_t mode);
ReplyStatus CheckLoaderModeReply(const std::uint8_t* reply, std::size_t received);
// McuErase: B9 FF 02 00 00 addr (64 bytes). Wait 100 ms; read 64 bytes; success when all 64
// came back. nullopt for an address beyond 24 bits.
std::optional<CommandRequest<kMcuRequestLength>> BuildMcuErase(std::uint32_t address);
// McuWrite: B9 FF 03 00 count addr, data from byte 8 (count <= 32). No wait; read 64 bytes;
// success when all 64 came back. nullopt for a larger count or an address beyond 24 bits.
std::optional<CommandRequest<kMcuRequestLength>> BuildMcuWrite(std::uint32_t address,
                                                               const std::uint8_t* data,
                                                               std::size_t count);
// McuRead: B9 00 03 00 count addr (count <= 52). No wait; read 64 bytes; data from reply
// byte 8, usable when all 64 came back.
std::optional<CommandRequest<kMcuRequestLength>> BuildMcuRead(std::uint32_t address,
                                                              std::size_t count);
// Copies count (<= 52) data bytes of a complete reply to out.
ReplyStatus ParseMcuReadReply(const std::uint8_t* reply, std::size_t received, std::uint8_t* out,
                              std::size_t count);
// Chunk plans of an MCU image of totalBytes written from address 0: writes of up to 32 bytes,
// verify reads of up to 52 (use StorageChunkCount for the number of chunks). Erases go to
// every 1024th address below the image size (SectorCount / SectorEraseAddress from 0).
StorageChunk McuWriteChunk(std::size_t totalBytes, std::size_t index);
StorageChunk McuReadChunk(std::size_t totalBytes, std::size_t index);
