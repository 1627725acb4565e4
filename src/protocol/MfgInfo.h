// The manufacturing text record: up to 64 bytes in channel 3 at 115712, in the last sector of
// the old calibration region. The caller holds the access discipline of a device command.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads min(n, 64) bytes of the record into bytes. Bytes read before a failing chunk stay.
bool ReadECGMfgInfo(std::uint8_t* bytes, std::size_t n);
// Erases the record's sector, then writes min(n, 64) bytes.
bool WriteECGMfgInfo(const std::uint8_t* bytes, std::size_t n);
