// Types shared by every command family: the request buffer, the verdict on a reply and the
// parsed value of a reply.
//
// Conventions of all builders and parsers in src/protocol/commands (pure: bytes in, values out;
// no I/O, no locks, nothing outside this folder and the C++ library):
// - A builder returns the whole request as a zero-filled std::array whose size is the exact
//   number of bytes to write in one DeviceWriteData call. A write that returns fewer bytes
//   fails the command and no reply is read.
// - A builder whose payload size comes from the caller returns std::optional and refuses
//   (nullopt) a payload that does not fit the frame, instead of cutting it.
// - A reply parser takes the reply buffer and the count that DeviceReadData returned
//   ("received"); reply may be nullptr when received is 0. It never reads past received.
// - Each builder's comment gives: the request length, the wait (sleep of the calling thread
//   between write and read unless said otherwise), the reply length to read and how to judge it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

template <std::size_t N>
using CommandRequest = std::array<std::uint8_t, N>;

// Almost every command is answered with one 64-byte frame.
constexpr std::size_t kCommandReplyLength = 64;
// The value of the acknowledge byte (its position differs by family).
constexpr std::uint8_t kCommandAcknowledge = 0xFF;
// Direction byte of the families that have one.
constexpr std::uint8_t kDirectionRead = 0x00;
constexpr std::uint8_t kDirectionWrite = 0xFF;

enum class ReplyStatus : std::uint8_t {
    kOk,               // complete and, where the command tests it, acknowledged
    kShort,            // fewer bytes came back than the command reads
    kNotAcknowledged,  // complete, but the acknowledge byte is not 0xFF
    kInvalid,          // complete and acknowledged, but a content check failed
};

template <typename T>
struct ParsedReply {
    ReplyStatus status = ReplyStatus::kShort;
    T value{};

    bool ok() const { return status == ReplyStatus::kOk; }
};

// Verdict for commands whose only test is that the whole 64-byte reply came back.
inline ReplyStatus CheckReplyComplete(std::size_t received) {
    return received == kCommandReplyLength ? ReplyStatus::kOk : ReplyStatus::kShort;
}

// Verdict for a 64-byte reply acknowledged by 0xFF at ackIndex.
inline ReplyStatus CheckReplyAcknowledged(const std::uint8_t* reply, std::size_t received,
                                          std::size_t ackIndex) {
    if (reply == nullptr || received != kCommandReplyLength) return ReplyStatus::kShort;
    return reply[ackIndex] == kCommandAcknowledge ? ReplyStatus::kOk
                                                  : ReplyStatus::kNotAcknowledged;
}
