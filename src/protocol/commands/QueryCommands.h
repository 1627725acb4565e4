// Identification and version queries: the query family (0x55), the version query family (0xAA),
// the module version query (0xB8 / 0xB9) and the restart after a firmware burn (0xDD).
#pragma once

#include <cstdint>

#include "protocol/commands/CommandTypes.h"

// ---- Identify: 55 00 00 -------------------------------------------------------------------
// Request 3 bytes; wait 80 ms; read 12 bytes. The device is the simulator when exactly 12 bytes
// came back, bytes 4..6 are "QTV" and byte 7 is 'P'; bytes 10..11 are its serial sequence
// number (big-endian). Anything else is kInvalid (or kShort).
constexpr std::size_t kIdentifyRequestLength = 3;
constexpr std::size_t kIdentifyReplyLength = 12;
constexpr unsigned kIdentifyWaitMs = 80;

struct IdentifyReply {
    std::uint16_t serialSequence = 0;
};

CommandRequest<kIdentifyRequestLength> BuildIdentify();
ParsedReply<IdentifyReply> ParseIdentifyReply(const std::uint8_t* reply, std::size_t received);

// ---- DacWidthQuery: 55 00 81 --------------------------------------------------------------
// Request 3 bytes; no wait; read 12 bytes. Byte 4 equal to 1 means a 16-bit PPG DAC; any other
// value, or a short reply, means 12 bits. The parser therefore always yields a width.
constexpr std::size_t kDacWidthQueryRequestLength = 3;
constexpr std::size_t kDacWidthQueryReplyLength = 12;

CommandRequest<kDacWidthQueryRequestLength> BuildDacWidthQuery();
// Returns 16 or 12 (bits).
int ParseDacWidthQueryReply(const std::uint8_t* reply, std::size_t received);

// ---- HardwareVersionQuery: AA 02 / FirmwareVersionQuery: AA 03 ------------------------------
// Request 2 bytes; wait 100 ms; read 5 bytes; the reply is usable only when all 5 came back.
constexpr std::size_t kVersionQueryRequestLength = 2;
constexpr std::size_t kVersionQueryReplyLength = 5;
constexpr unsigned kVersionQueryWaitMs = 100;

struct HardwareVersion {
    std::uint8_t major = 0;  // reply byte 1
    std::uint8_t minor = 0;  // reply byte 2
};

struct FirmwareVersion {
    std::uint8_t parts[4] = {0, 0, 0, 0};  // reply bytes 1..4, first part first
};

CommandRequest<kVersionQueryRequestLength> BuildHardwareVersionQuery();
ParsedReply<HardwareVersion> ParseHardwareVersionQueryReply(const std::uint8_t* reply,
                                                            std::size_t received);
CommandRequest<kVersionQueryRequestLength> BuildFirmwareVersionQuery();
ParsedReply<FirmwareVersion> ParseFirmwareVersionQueryReply(const std::uint8_t* reply,
                                                            std::size_t received);

// ---- ModuleVersionQuery: B9 00 01 for the PPG module 0x2112, else B8 00 01 -----------------
// Request 3 bytes; wait 100 ms; read 64 bytes; bytes 4..7 are the four parts of the module's
// firmware version, usable when all 64 bytes came back (nothing else is tested).
constexpr std::size_t kModuleVersionQueryRequestLength = 3;
constexpr unsigned kModuleVersionQueryWaitMs = 100;
// The full model number of the PPG module that has its own microcontroller (and loader).
constexpr std::uint16_t kPpgModelWithMcu = 0x2112;

CommandRequest<kModuleVersionQueryRequestLength> BuildModuleVersionQuery(
    std::uint16_t ppgFullModelNumber);
ParsedReply<FirmwareVersion> ParseModuleVersionQueryReply(const std::uint8_t* reply,
                                                          std::size_t received);

// ---- Restart: DD ---------------------------------------------------------------------------
// Request 1 byte, written after a verified firmware burn; read one 64-byte reply and do not
// test it. Only a short write fails the command.
constexpr std::size_t kRestartRequestLength = 1;

CommandRequest<kRestartRequestLength> BuildRestart();
