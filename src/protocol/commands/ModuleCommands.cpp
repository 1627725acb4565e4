#include "protocol/commands/ModuleCommands.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/commands/Bytes.h"

namespace {

std::uint8_t ClampToByte(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// Slot LED (1, 2, 3) to its bit code on the wire, and back.
std::uint8_t LedToSlotCode(std::uint8_t led) {
    switch (led) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 3:
            return 4;
        default:
            return 0;
    }
}

std::uint8_t SlotCodeToLed(std::uint8_t code) {
    switch (code) {
        case 1:
            return 1;
        case 2:
            return 2;
        case 4:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

// ---- Converter control ----

CommandRequest<kConverterRequestLength> BuildConverterSelect(std::uint8_t value) {
    return {0xAD, kDirectionWrite, 0x00, 0x00, value};
}

ReplyStatus CheckConverterSelectReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 3);
}

CommandRequest<kConverterRequestLength> BuildConverterRead(std::uint8_t value) {
    return {0xAD, kDirectionRead, 0x00, 0x00, value};
}

CommandRequest<kConverterRequestLength> BuildRLDRead() {
    return {0xAD, kDirectionRead, 0x01, 0x00, kConverterRightLegDrive};
}

ParsedReply<RldReading> ParseRLDReadReply(const std::uint8_t* reply, std::size_t received) {
    ParsedReply<RldReading> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (!parsed.ok()) return parsed;
    constexpr double kVoltsPerCount = 3.3 / 1023.0;
    parsed.value.firstCount = GetBigEndian16(reply + 6);
    parsed.value.secondCount = GetBigEndian16(reply + 8);
    parsed.value.firstVolts = parsed.value.firstCount * kVoltsPerCount;
    parsed.value.secondVolts = parsed.value.secondCount * kVoltsPerCount;
    return parsed;
}

// ---- PPG module control ----

CommandRequest<kSignalStrengthEnableRequestLength> BuildSignalStrengthEnable(std::uint8_t enable) {
    return {0xB0, kDirectionWrite, 0x01, 0x00, enable};
}

ReplyStatus CheckSignalStrengthEnableReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 4);
}

CommandRequest<kSamplingStatusReadRequestLength> BuildSamplingStatusRead() {
    return {0xB0, kDirectionRead, 0x02, 0x00, 0x00};
}

ParsedReply<SamplingStatusRecord> ParseSamplingStatusReadReply(const std::uint8_t* reply,
                                                               std::size_t received) {
    ParsedReply<SamplingStatusRecord> parsed;
    parsed.status = CheckReplyComplete(reply == nullptr ? 0 : received);
    if (parsed.ok()) std::copy(reply, reply + kSamplingStatusRecordBytes, parsed.value.begin());
    return parsed;
}

std::array<int, 6> DecodePhotodiodeTriplets(const std::uint8_t* nineBytes) {
    std::array<int, 6> values{};
    for (int g = 0; g < 3; ++g) {
        const std::uint8_t* b = nineBytes + 3 * g;
        values[2 * g] = b[0] * 16 + b[1] / 16;
        values[2 * g + 1] = (b[1] % 16) * 256 + b[2];
    }
    return values;
}

SamplingStatus DecodeSamplingStatus(const SamplingStatusRecord& record) {
    SamplingStatus status;
    for (int i = 0; i < 6; ++i) status.flags[i] = (record[8] >> (5 - i)) & 1;
    const std::array<int, 6> values = DecodePhotodiodeTriplets(record.data() + 9);
    for (int g = 0; g < 3; ++g) {
        status.first[g] = values[2 * g];
        status.second[g] = values[2 * g + 1];
    }
    return status;
}

CommandRequest<kPDStatusReadRequestLength> BuildPDStatusRead() {
    return {0xB0, kDirectionRead, 0x02};
}

ParsedReply<std::array<int, 6>> ParsePDStatusReadReply(const std::uint8_t* reply,
                                                       std::size_t received) {
    ParsedReply<std::array<int, 6>> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (!parsed.ok()) return parsed;
    if ((reply[8] & 0x3F) != 0) {
        parsed.status = ReplyStatus::kInvalid;
        return parsed;
    }
    parsed.value = DecodePhotodiodeTriplets(reply + 9);
    return parsed;
}

CommandRequest<kDynamicLEDEnableRequestLength> BuildDynamicLEDEnable(bool enable) {
    return {0xB0, kDirectionWrite, 0x03, 0x00, static_cast<std::uint8_t>(enable ? 1 : 0)};
}

ReplyStatus CheckDynamicLEDEnableReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 4);
}

CommandRequest<kAmbientLightRequestLength> BuildAmbientLightWrite(std::uint8_t mode) {
    return {0xB0, kDirectionWrite, 0x10, 0x00, mode, 0x00};
}

CommandRequest<kAmbientLightRequestLength> BuildAmbientLightRead() {
    return {0xB0, kDirectionRead, 0x10, 0x00, 0x00, 0x00};
}

ParsedReply<std::uint8_t> ParseAmbientLightReadReply(const std::uint8_t* reply,
                                                     std::size_t received) {
    ParsedReply<std::uint8_t> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (parsed.ok()) parsed.value = reply[4];
    return parsed;
}

CommandRequest<kAutoTriggerReadRequestLength> BuildAutoTriggerRead() {
    return {0xB0, kDirectionRead, 0x30, 0x00};
}

ParsedReply<AutoTriggerRecord> ParseAutoTriggerReadReply(const std::uint8_t* reply,
                                                         std::size_t received) {
    ParsedReply<AutoTriggerRecord> parsed;
    parsed.status = CheckReplyComplete(reply == nullptr ? 0 : received);
    if (parsed.ok())
        std::copy(reply + 4, reply + 4 + kAutoTriggerRecordBytes, parsed.value.begin());
    return parsed;
}

AutoTriggerRecord AutoTriggerRecordToHostOrder(const AutoTriggerRecord& wire) {
    AutoTriggerRecord record = wire;
    const bool bothFlags = (wire[2] & 0x03) == 0x03;
    for (std::size_t at : {std::size_t{6}, std::size_t{8}}) {
        const std::uint16_t value = bothFlags ? 0 : GetBigEndian16(wire.data() + at);
        std::memcpy(record.data() + at, &value, sizeof value);
    }
    return record;
}

// ---- Module parameter block ----

CommandRequest<kModuleBlockReadRequestLength> BuildModuleBlockRead() {
    return {0xEA, kDirectionRead, 0x01};
}

ParsedReply<ModuleBlock> ParseModuleBlockReadReply(const std::uint8_t* reply,
                                                   std::size_t received) {
    ParsedReply<ModuleBlock> parsed;
    parsed.status = CheckReplyComplete(reply == nullptr ? 0 : received);
    if (parsed.ok()) std::copy(reply, reply + kModuleBlockLength, parsed.value.begin());
    return parsed;
}

void PatchRespirationFields(ModuleBlock& block, const RespirationFields& fields) {
    block[8] = ClampToByte(fields.rate);
    block[9] = ClampToByte(fields.impedanceVariation / 100);
    block[10] = ClampToByte(fields.ratio - 1);
    block[11] = ClampToByte(fields.baselineSelection);
}

void PatchApneaField(ModuleBlock& block, bool apneaOn) {
    block[12] = apneaOn ? 1 : 0;
}

void PatchPacingFields(ModuleBlock& block, std::uint16_t amplitudeCode, std::uint16_t widthSteps) {
    PutBigEndian16(block.data() + 24, amplitudeCode);
    PutBigEndian16(block.data() + 26, widthSteps);
    std::fill(block.begin() + 28, block.begin() + 38, 0);
}

std::uint16_t PacingWidthSteps(double durationMs, bool externalRespirationModule) {
    const double step = externalRespirationModule ? 0.1 : 0.025;
    if (!(durationMs > 0.0)) return 0;  // also NaN
    const double steps = std::trunc(0.5 + durationMs / step);
    return steps >= 65535.0 ? 65535 : static_cast<std::uint16_t>(steps);
}

CommandRequest<kModuleBlockLength> BuildModuleBlockWrite(const ModuleBlock& block) {
    CommandRequest<kModuleBlockLength> frame = block;
    frame[1] = kDirectionWrite;
    return frame;
}

ReplyStatus CheckModuleBlockWriteReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 3);
}

CommandRequest<kRespirationBlockWriteRequestLength> BuildRespirationBlockWrite(
    const RespirationFields& fields) {
    ModuleBlock block{};
    PatchRespirationFields(block, fields);
    CommandRequest<kRespirationBlockWriteRequestLength> frame{};
    frame[0] = 0xEA;
    frame[1] = kDirectionWrite;
    frame[2] = 0x01;
    std::copy(block.begin() + 8, block.begin() + 12, frame.begin() + 8);
    return frame;
}

CommandRequest<kModuleBlockLength> BuildLEDPulseGroupRead() {
    CommandRequest<kModuleBlockLength> frame{};
    frame[0] = 0xEA;
    frame[1] = kDirectionWrite;
    return frame;
}

ParsedReply<LedPulseGroup> ParseLEDPulseGroupReadReply(const std::uint8_t* reply,
                                                       std::size_t received) {
    ParsedReply<LedPulseGroup> parsed;
    parsed.status = CheckReplyAcknowledged(reply, received, 3);
    if (!parsed.ok()) return parsed;
    parsed.value.period = reply[35] == 1 ? 0 : GetBigEndian16(reply + 36);
    for (int i = 0; i < 8; ++i) parsed.value.slots[i] = SlotCodeToLed(reply[40 + i]);
    return parsed;
}

CommandRequest<kModuleBlockLength> BuildLEDPulseGroupWrite(const LedPulseGroup& group) {
    CommandRequest<kModuleBlockLength> frame = BuildLEDPulseGroupRead();
    frame[35] = (group.slots[0] != 0 && group.period == 0) ? 1 : 0;
    PutBigEndian16(frame.data() + 36, group.period);
    for (int i = 0; i < 8; ++i) frame[40 + i] = LedToSlotCode(group.slots[i]);
    return frame;
}

// ---- MCU loader ----

namespace {

CommandRequest<kMcuRequestLength> McuFrame(std::uint8_t direction, std::uint8_t subCode,
                                           std::size_t count, std::uint32_t address) {
    CommandRequest<kMcuRequestLength> frame{};
    frame[0] = 0xB9;
    frame[1] = direction;
    frame[2] = subCode;
    frame[4] = static_cast<std::uint8_t>(count);
    PutBigEndian24(frame.data() + 5, address);
    return frame;
}

}  // namespace

CommandRequest<kLoaderModeRequestLength> BuildLoaderMode(std::uint8_t mode) {
    return {0xB9, kDirectionWrite, 0x00, 0x00, mode};
}

ReplyStatus CheckLoaderModeReply(const std::uint8_t* reply, std::size_t received) {
    return CheckReplyAcknowledged(reply, received, 3);
}

std::optional<CommandRequest<kMcuRequestLength>> BuildMcuErase(std::uint32_t address) {
    if (address > kMcuMaxAddress) return std::nullopt;
    return McuFrame(kDirectionWrite, 0x02, 0, address);
}

std::optional<CommandRequest<kMcuRequestLength>> BuildMcuWrite(std::uint32_t address,
                                                               const std::uint8_t* data,
                                                               std::size_t count) {
    if (address > kMcuMaxAddress || count > kMcuWriteChunkBytes) return std::nullopt;
    if (count > 0 && data == nullptr) return std::nullopt;
    auto frame = McuFrame(kDirectionWrite, 0x03, count, address);
    std::copy(data, data + count, frame.begin() + kMcuDataOffset);
    return frame;
}

std::optional<CommandRequest<kMcuRequestLength>> BuildMcuRead(std::uint32_t address,
                                                              std::size_t count) {
    if (address > kMcuMaxAddress || count > kMcuReadChunkBytes) return std::nullopt;
    return McuFrame(kDirectionRead, 0x03, count, address);
}

ReplyStatus ParseMcuReadReply(const std::uint8_t* reply, std::size_t received, std::uint8_t* out,
                              std::size_t count) {
    const ReplyStatus status = CheckReplyComplete(reply == nullptr ? 0 : received);
    if (status != ReplyStatus::kOk) return status;
    if (count > kMcuReadChunkBytes || (count > 0 && out == nullptr)) return ReplyStatus::kInvalid;
    std::copy(reply + kMcuDataOffset, reply + kMcuDataOffset + count, out);
    return ReplyStatus::kOk;
}

StorageChunk McuWriteChunk(std::size_t totalBytes, std::size_t index) {
    return ChunkOf(0, totalBytes, index, kMcuWriteChunkBytes, 1);
}

StorageChunk McuReadChunk(std::size_t totalBytes, std::size_t index) {
    return ChunkOf(0, totalBytes, index, kMcuReadChunkBytes, 1);
}
