// One device command on the link: write the request in one call, wait, read the reply.
//
// The caller holds the access discipline of a device command (CDeviceCommand, which may span
// several exchanges) or, during the search, the locks of the identification. Transact is the
// form every command uses:
//
//     return TransactOk(BuildSignalStrengthEnable(enable), CheckSignalStrengthEnableReply);
//     auto block = Transact(BuildModuleBlockRead(), ParseModuleBlockReadReply);
//
// A short write reads nothing and gives the judge an empty reply (received 0), which every
// parser and check of the catalogue refuses.
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

// The reply of one exchange, zero-filled beyond what came back.
template <std::size_t L>
struct CommandReply {
    bool written = false;       // the whole request went out (else nothing was read)
    std::size_t received = 0;   // reply bytes that came back
    CommandRequest<L> bytes{};  // usable as the request of a following exchange

    // The whole reply came back.
    bool complete() const { return received == L; }
};

// Sends request, sleeps waitMs, reads an L-byte reply.
template <std::size_t L = kCommandReplyLength, std::size_t N>
CommandReply<L> Transact(const CommandRequest<N>& request, unsigned waitMs = 0) {
    CommandReply<L> reply;
    const int got = ExchangeCommand(request.data(), N, waitMs, reply.bytes.data(), L);
    reply.written = got != kShortWrite;
    reply.received = got < 0 ? 0 : static_cast<std::size_t>(got);
    return reply;
}

// Sends request, sleeps waitMs, reads an L-byte reply and returns judge(reply, received): a
// reply parser or check of the command catalogue, or any callable of that shape.
template <std::size_t L = kCommandReplyLength, std::size_t N, typename Judge>
auto Transact(const CommandRequest<N>& request, Judge judge, unsigned waitMs = 0)
    -> decltype(judge(static_cast<const std::uint8_t*>(nullptr), std::size_t{0})) {
    const CommandReply<L> reply = Transact<L>(request, waitMs);
    return judge(reply.bytes.data(), reply.received);
}

// True when check passes the reply (ReplyStatus::kOk).
template <std::size_t N, typename Check>
bool TransactOk(const CommandRequest<N>& request, Check check, unsigned waitMs = 0) {
    return Transact(request, check, waitMs) == ReplyStatus::kOk;
}
