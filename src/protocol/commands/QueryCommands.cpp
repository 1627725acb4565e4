#include "protocol/commands/QueryCommands.h"

#include "protocol/commands/Bytes.h"

CommandRequest<kIdentifyRequestLength> BuildIdentify() {
    return {0x55, 0x00, 0x00};
}

ParsedReply<IdentifyReply> ParseIdentifyReply(const std::uint8_t* reply, std::size_t received) {
    ParsedReply<IdentifyReply> parsed;
    if (reply == nullptr || received != kIdentifyReplyLength) return parsed;
    if (reply[4] != 'Q' || reply[5] != 'T' || reply[6] != 'V' || reply[7] != 'P') {
        parsed.status = ReplyStatus::kInvalid;
        return parsed;
    }
    parsed.status = ReplyStatus::kOk;
    parsed.value.serialSequence = GetBigEndian16(reply + 10);
    return parsed;
}

CommandRequest<kDacWidthQueryRequestLength> BuildDacWidthQuery() {
    return {0x55, 0x00, 0x81};
}

int ParseDacWidthQueryReply(const std::uint8_t* reply, std::size_t received) {
    const bool wide = reply != nullptr && received == kDacWidthQueryReplyLength && reply[4] == 1;
    return wide ? 16 : 12;
}

CommandRequest<kVersionQueryRequestLength> BuildHardwareVersionQuery() {
    return {0xAA, 0x02};
}

ParsedReply<HardwareVersion> ParseHardwareVersionQueryReply(const std::uint8_t* reply,
                                                            std::size_t received) {
    ParsedReply<HardwareVersion> parsed;
    if (reply == nullptr || received != kVersionQueryReplyLength) return parsed;
    parsed.status = ReplyStatus::kOk;
    parsed.value.major = reply[1];
    parsed.value.minor = reply[2];
    return parsed;
}

CommandRequest<kVersionQueryRequestLength> BuildFirmwareVersionQuery() {
    return {0xAA, 0x03};
}

ParsedReply<FirmwareVersion> ParseFirmwareVersionQueryReply(const std::uint8_t* reply,
                                                            std::size_t received) {
    ParsedReply<FirmwareVersion> parsed;
    if (reply == nullptr || received != kVersionQueryReplyLength) return parsed;
    parsed.status = ReplyStatus::kOk;
    for (int i = 0; i < 4; ++i) parsed.value.parts[i] = reply[1 + i];
    return parsed;
}

CommandRequest<kModuleVersionQueryRequestLength> BuildModuleVersionQuery(
    std::uint16_t ppgFullModelNumber) {
    const std::uint8_t code = ppgFullModelNumber == kPpgModelWithMcu ? 0xB9 : 0xB8;
    return {code, 0x00, 0x01};
}

ParsedReply<FirmwareVersion> ParseModuleVersionQueryReply(const std::uint8_t* reply,
                                                          std::size_t received) {
    ParsedReply<FirmwareVersion> parsed;
    if (reply == nullptr || received != kCommandReplyLength) return parsed;
    parsed.status = ReplyStatus::kOk;
    for (int i = 0; i < 4; ++i) parsed.value.parts[i] = reply[4 + i];
    return parsed;
}

CommandRequest<kRestartRequestLength> BuildRestart() {
    return {0xDD};
}
