// One device command on the link: write the request in one call, wait, read the reply.
//
// The caller holds the access discipline of a device command (CDeviceCommand) or, during the
// search, the locks of the identification.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/commands/CommandTypes.h"

// Result of an exchange whose write was short: no reply was read.
constexpr int kShortWrite = -1;

// Writes the request; on a short write returns kShortWrite without reading. Otherwise sleeps
// waitMs (if not 0) and reads replyLength bytes into reply; returns the count DeviceReadData
// gave (replyLength, or less on a timeout or error). replyLength 0 reads nothing.
int ExchangeCommand(const std::uint8_t* request, std::size_t requestLength, unsigned waitMs,
                    std::uint8_t* reply, std::size_t replyLength);

template <std::size_t N>
int ExchangeCommand(const CommandRequest<N>& request, unsigned waitMs, std::uint8_t* reply,
                    std::size_t replyLength) {
    return ExchangeCommand(request.data(), N, waitMs, reply, replyLength);
}
