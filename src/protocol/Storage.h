// Storage primitives over the storage commands: byte records in 32-byte chunks, word tables in
// 16-word chunks, sector erases. The caller holds the access discipline of a device command.
// Every function returns false at the first chunk that fails; no chunk is retried.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/commands/StorageCommands.h"

bool FlashRead(StorageChannel channel, std::uint32_t address, std::uint8_t* bytes,
               std::size_t count);
bool FlashWrite(StorageChannel channel, std::uint32_t address, const std::uint8_t* bytes,
                std::size_t count);
// Erases the 1024-byte sector at address; succeeds when the 64-byte reply came back.
bool FlashErase(StorageChannel channel, std::uint32_t address);
// Reads a word table; the destination is zeroed first.
bool DoReadFlash(std::uint32_t address, StorageChannel channel, std::uint16_t* words,
                 std::size_t count);
bool DoWriteFlash(std::uint32_t address, StorageChannel channel, const std::uint16_t* words,
                  std::size_t count);
