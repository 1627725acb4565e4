#include "protocol/commands/SettingCommands.h"

#include <algorithm>

#include "protocol/commands/Bytes.h"

namespace {

template <std::size_t N>
CommandRequest<N> SettingFrame(std::uint8_t direction, std::uint8_t id) {
    CommandRequest<N> frame{};
    frame[0] = 0xCC;
    frame[1] = direction;
    frame[2] = id;
    return frame;
}

}  // namespace

CommandRequest<kSettingFrameLength> BuildSettingRead(std::uint8_t id) {
    return SettingFrame<kSettingFrameLength>(kDirectionRead, id);
}

ParsedReply<std::uint8_t> ParseSettingReadReply8(const std::uint8_t* reply, std::size_t received) {
    ParsedReply<std::uint8_t> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (parsed.ok()) parsed.value = reply[kSettingValueOffset];
    return parsed;
}

ParsedReply<std::uint16_t> ParseSettingReadReply16(const std::uint8_t* reply,
                                                   std::size_t received) {
    ParsedReply<std::uint16_t> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (parsed.ok()) parsed.value = GetLittleEndian16(reply + kSettingValueOffset);
    return parsed;
}

CommandRequest<kSettingFrameLength> BuildSettingWrite8(std::uint8_t id, std::uint8_t value) {
    auto frame = SettingFrame<kSettingFrameLength>(kDirectionWrite, id);
    frame[kSettingValueOffset] = value;
    return frame;
}

CommandRequest<kSettingFrameLength> BuildSettingWrite16(std::uint8_t id, std::uint16_t value) {
    auto frame = SettingFrame<kSettingFrameLength>(kDirectionWrite, id);
    PutLittleEndian16(frame.data() + kSettingValueOffset, value);
    return frame;
}

std::optional<CommandRequest<kSettingFrameLength>> BuildSettingWriteBytes(std::uint8_t id,
                                                                          const std::uint8_t* value,
                                                                          std::size_t length) {
    if (length > kSettingMaxValueBytes || (length > 0 && value == nullptr)) return std::nullopt;
    auto frame = SettingFrame<kSettingFrameLength>(kDirectionWrite, id);
    std::copy(value, value + length, frame.begin() + kSettingValueOffset);
    return frame;
}

ReplyStatus CheckSettingWriteReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 3);
}

CommandRequest<kSettingShortRequestLength> BuildSettingWriteShort(std::uint8_t id,
                                                                  std::uint8_t value) {
    auto frame = SettingFrame<kSettingShortRequestLength>(kDirectionWrite, id);
    frame[4] = value;
    return frame;
}

CommandRequest<kSettingShortRequestLength> BuildSettingReadShort(std::uint8_t id) {
    return SettingFrame<kSettingShortRequestLength>(kDirectionRead, id);
}

ParsedReply<std::uint8_t> ParseSettingReadShortReply(const std::uint8_t* reply,
                                                     std::size_t received, std::uint8_t id) {
    ParsedReply<std::uint8_t> parsed;
    if (reply == nullptr || received != kCommandReplyLength) return parsed;
    if (reply[0] != 0xCC || reply[2] != id) {
        parsed.status = ReplyStatus::kInvalid;
    } else if (reply[3] != kCommandAcknowledge) {
        parsed.status = ReplyStatus::kNotAcknowledged;
    } else {
        parsed.status = ReplyStatus::kOk;
        parsed.value = reply[4];
    }
    return parsed;
}

CommandRequest<kBusVoltageReadRequestLength> BuildBusVoltageRead() {
    return SettingFrame<kBusVoltageReadRequestLength>(kDirectionRead, 'B');
}

unsigned ParseBusVoltageReadReply(const std::uint8_t* reply, std::size_t received) {
    if (reply == nullptr || received != kCommandReplyLength) return 0;
    return reply[4];
}

CommandRequest<kRespModuleReadRequestLength> BuildRespModuleRead() {
    return SettingFrame<kRespModuleReadRequestLength>(kDirectionRead, 0x0D);
}

ParsedReply<RespModuleWords> ParseRespModuleReadReply(const std::uint8_t* reply,
                                                      std::size_t received) {
    ParsedReply<RespModuleWords> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (!parsed.ok()) return parsed;
    for (std::size_t i = 0; i < parsed.value.size(); ++i) {
        parsed.value[i] = GetBigEndian16(reply + 4 + 2 * i);
    }
    return parsed;
}

CommandRequest<kSettingFrameLength> BuildRespModuleWrite(const RespModuleWords& words) {
    auto frame = SettingFrame<kSettingFrameLength>(kDirectionWrite, 0x0D);
    for (std::size_t i = 0; i < words.size(); ++i) {
        PutBigEndian16(frame.data() + 4 + 2 * i, words[i]);
    }
    return frame;
}

ReplyStatus CheckRespModuleWriteReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 3);
}

CommandRequest<kRespBaselineReadRequestLength> BuildRespBaselineRead() {
    return SettingFrame<kRespBaselineReadRequestLength>(kDirectionRead, 0x0E);
}

ParsedReply<RespBaseline> ParseRespBaselineReadReply(const std::uint8_t* reply,
                                                     std::size_t received) {
    ParsedReply<RespBaseline> parsed;
    parsed.status = CheckReplyComplete(reply == nullptr ? 0 : received);
    if (!parsed.ok()) return parsed;
    parsed.value.selection = reply[4];
    parsed.value.leadCode = reply[5];
    return parsed;
}

CommandRequest<kRespBaselineWriteRequestLength> BuildRespBaselineWrite(
    const RespBaseline& baseline) {
    auto frame = SettingFrame<kRespBaselineWriteRequestLength>(kDirectionWrite, 0x0E);
    frame[4] = baseline.selection;
    frame[5] = baseline.leadCode;
    return frame;
}

std::uint8_t RespBaselineLeadCode(std::uint32_t outputLeadMask, bool respirationEnabled) {
    if (!respirationEnabled) return 0;
    for (int lead = 0; lead < 3; ++lead) {
        if (outputLeadMask & (1u << lead)) return static_cast<std::uint8_t>(1u << lead);
    }
    return 0;
}
