// Setting access family (0xCC): CC, direction, setting id, 00, value bytes. Replies are 64
// bytes; byte 3 = FF acknowledges and a read's value starts at byte 4. 16-bit values of
// SettingRead / SettingWrite are little-endian; the respiration module's words are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/commands/CommandTypes.h"

constexpr std::size_t kSettingFrameLength = 64;
constexpr std::size_t kSettingValueOffset = 4;
// Most value bytes a 64-byte setting frame can carry.
constexpr std::size_t kSettingMaxValueBytes = kSettingFrameLength - kSettingValueOffset;

// Setting identifiers.
constexpr std::uint8_t kSettingLedLevel[3] = {1, 2, 18};      // LEDs 1, 2, 3 (SettingWriteShort)
constexpr std::uint8_t kSettingTriggerLevel[3] = {3, 4, 19};  // LEDs 1, 2, 3 (SettingReadShort)
// Transmission rates of the PPG module with its own microcontroller (SettingWrite, 16-bit):
// first and second value of channel 0, first and second value of channel 1.
constexpr std::uint8_t kSettingRateA1 = 1;
constexpr std::uint8_t kSettingRateA2 = 2;
constexpr std::uint8_t kSettingRateB1 = 25;
constexpr std::uint8_t kSettingRateB2 = 26;

// ---- SettingRead: CC 00 id (64 bytes) -----------------------------------------------------
// No wait; read 64 bytes; byte 3 = FF; value at byte 4 (8-bit) or bytes 4..5 (16-bit LE).
CommandRequest<kSettingFrameLength> BuildSettingRead(std::uint8_t id);
ParsedReply<std::uint8_t> ParseSettingReadReply8(const std::uint8_t* reply, std::size_t received);
ParsedReply<std::uint16_t> ParseSettingReadReply16(const std::uint8_t* reply, std::size_t received);

// ---- SettingWrite: CC FF id 00 value... (64 bytes) ----------------------------------------
// Wait 10 ms before the write; read 64 bytes; byte 3 = FF acknowledges
// (CheckSettingWriteReply); wait 40 ms after a good reply.
constexpr unsigned kSettingWriteLeadMs = 10;
constexpr unsigned kSettingWritePauseMs = 40;

CommandRequest<kSettingFrameLength> BuildSettingWrite8(std::uint8_t id, std::uint8_t value);
CommandRequest<kSettingFrameLength> BuildSettingWrite16(std::uint8_t id, std::uint16_t value);
// A byte string of up to 60 bytes (nullopt when longer).
std::optional<CommandRequest<kSettingFrameLength>> BuildSettingWriteBytes(std::uint8_t id,
                                                                          const std::uint8_t* value,
                                                                          std::size_t length);
ReplyStatus CheckSettingWriteReply(const std::uint8_t* reply, std::size_t received);

// ---- SettingWriteShort: CC FF id 00 value (5 bytes) ---------------------------------------
// Wait 80 ms; read 64 bytes; success when all 64 came back (CheckReplyComplete).
constexpr std::size_t kSettingShortRequestLength = 5;
constexpr unsigned kSettingShortWaitMs = 80;

CommandRequest<kSettingShortRequestLength> BuildSettingWriteShort(std::uint8_t id,
                                                                  std::uint8_t value);

// ---- SettingReadShort: CC 00 id 00 00 (5 bytes) -------------------------------------------
// Wait 80 ms; read 64 bytes; valid when byte 0 is CC, byte 2 equals id and byte 3 is FF; the
// value is byte 4. A wrong byte 0 or id gives kInvalid, a wrong byte 3 kNotAcknowledged.
CommandRequest<kSettingShortRequestLength> BuildSettingReadShort(std::uint8_t id);
ParsedReply<std::uint8_t> ParseSettingReadShortReply(const std::uint8_t* reply,
                                                     std::size_t received, std::uint8_t id);

// ---- BusVoltageRead: CC 00 42 (3 bytes) ---------------------------------------------------
// No wait; read 64 bytes; the USB bus voltage is byte 4 as an unsigned number, 0 when the reply
// is short.
constexpr std::size_t kBusVoltageReadRequestLength = 3;

CommandRequest<kBusVoltageReadRequestLength> BuildBusVoltageRead();
unsigned ParseBusVoltageReadReply(const std::uint8_t* reply, std::size_t received);

// ---- RespModuleRead: CC 00 0D 00 (4 bytes) / RespModuleWrite: CC FF 0D 00 w0..w3 (64) -----
// No waits; read 64 bytes; byte 3 = FF. Four 16-bit big-endian words at bytes 4..11:
// potentiometer 1 code, potentiometer 2 code, potentiometer 3 step, baseline DAC code.
constexpr std::size_t kRespModuleReadRequestLength = 4;
using RespModuleWords = std::array<std::uint16_t, 4>;

CommandRequest<kRespModuleReadRequestLength> BuildRespModuleRead();
ParsedReply<RespModuleWords> ParseRespModuleReadReply(const std::uint8_t* reply,
                                                      std::size_t received);
CommandRequest<kSettingFrameLength> BuildRespModuleWrite(const RespModuleWords& words);
ReplyStatus CheckRespModuleWriteReply(const std::uint8_t* reply, std::size_t received);

// ---- RespBaselineRead: CC 00 0E 00 (4 bytes) / RespBaselineWrite: CC FF 0E 00 sel lead (6) -
// No waits; read 64 bytes; success when all 64 came back. The read's reply carries the stored
// baseline selection at byte 4 and the lead code at byte 5.
constexpr std::size_t kRespBaselineReadRequestLength = 4;
constexpr std::size_t kRespBaselineWriteRequestLength = 6;

struct RespBaseline {
    std::uint8_t selection = 0;
    std::uint8_t leadCode = 0;
};

CommandRequest<kRespBaselineReadRequestLength> BuildRespBaselineRead();
ParsedReply<RespBaseline> ParseRespBaselineReadReply(const std::uint8_t* reply,
                                                     std::size_t received);
CommandRequest<kRespBaselineWriteRequestLength> BuildRespBaselineWrite(
    const RespBaseline& baseline);
// The lead code: 1, 2 or 4 for the first of output leads 0, 1, 2 (bits of outputLeadMask) that
// is on while respiration is enabled; 0 when respiration is off or none of them is on.
std::uint8_t RespBaselineLeadCode(std::uint32_t outputLeadMask, bool respirationEnabled);
