#include <gtest/gtest.h>

#include <cstring>

#include "ByteFrames.h"
#include "protocol/commands/ModuleCommands.h"

namespace {

template <typename Request>
Bytes Built(const std::optional<Request>& request) {
    return request ? ToBytes(*request) : Bytes{};
}

RespirationFields Breathing() {
    RespirationFields f;
    f.rate = 15;
    f.impedanceVariation = 1050;  // 10 after integer division by 100
    f.ratio = 2;                  // index 1
    f.baselineSelection = 3;
    return f;
}

const std::uint8_t kThreeBytes[] = {0x01, 0x02, 0x03};

const std::vector<BuilderCase> kModuleBuilders = {
    {"ConverterSelectRightLegDrive", ToBytes(BuildConverterSelect(kConverterRightLegDrive)),
     Hex("AD FF 00 00 10")},
    {"ConverterSelectStop", ToBytes(BuildConverterSelect(kConverterStop)), Hex("AD FF 00 00 00")},
    {"ConverterRead", ToBytes(BuildConverterRead(0x05)), Hex("AD 00 00 00 05")},
    {"RLDRead", ToBytes(BuildRLDRead()), Hex("AD 00 01 00 10")},
    {"SignalStrengthEnable", ToBytes(BuildSignalStrengthEnable(1)), Hex("B0 FF 01 00 01")},
    {"SamplingStatusRead", ToBytes(BuildSamplingStatusRead()), Hex("B0 00 02 00 00")},
    {"PDStatusRead", ToBytes(BuildPDStatusRead()), Hex("B0 00 02")},
    {"DynamicLEDEnableOn", ToBytes(BuildDynamicLEDEnable(true)), Hex("B0 FF 03 00 01")},
    {"DynamicLEDEnableOff", ToBytes(BuildDynamicLEDEnable(false)), Hex("B0 FF 03 00 00")},
    {"AmbientLightWrite", ToBytes(BuildAmbientLightWrite(14)), Hex("B0 FF 10 00 0E 00")},
    {"AmbientLightRead", ToBytes(BuildAmbientLightRead()), Hex("B0 00 10 00 00 00")},
    {"AutoTriggerRead", ToBytes(BuildAutoTriggerRead()), Hex("B0 00 30 00")},
    {"ModuleBlockRead", ToBytes(BuildModuleBlockRead()), Hex("EA 00 01")},
    {"RespirationBlockWrite", ToBytes(BuildRespirationBlockWrite(Breathing())),
     Hex("EA FF 01 00 00 00 00 00 0F 0A 01 03 00 00 00 00 00 00 00")},
    {"LEDPulseGroupRead", ToBytes(BuildLEDPulseGroupRead()), Frame(64, {{0, "EA FF 00"}})},
    {"LEDPulseGroupWriteSlot0WithoutPeriod",
     ToBytes(BuildLEDPulseGroupWrite({{2, 1, 3, 0, 0, 0, 0, 0}, 0})),
     Frame(64, {{0, "EA FF 00"}, {35, "01 00 00"}, {40, "02 01 04 00 00 00 00 00"}})},
    {"LEDPulseGroupWriteWithPeriod",
     ToBytes(BuildLEDPulseGroupWrite({{1, 2, 3, 1, 2, 3, 0, 9}, 400})),
     Frame(64, {{0, "EA FF 00"}, {35, "00 01 90"}, {40, "01 02 04 01 02 04 00 00"}})},
    {"LoaderModeEnter", ToBytes(BuildLoaderMode(kLoaderEnter)), Hex("B9 FF 00 00 01")},
    {"LoaderModeRestart", ToBytes(BuildLoaderMode(kLoaderRestart)), Hex("B9 FF 00 00 FF")},
    {"McuErase", Built(BuildMcuErase(0x012400)), Frame(64, {{0, "B9 FF 02 00 00 01 24 00"}})},
    {"McuWrite", Built(BuildMcuWrite(0x20, kThreeBytes, 3)),
     Frame(64, {{0, "B9 FF 03 00 03 00 00 20 01 02 03"}})},
    {"McuRead", Built(BuildMcuRead(0x10000, 52)), Frame(64, {{0, "B9 00 03 00 34 01 00 00"}})},
};
INSTANTIATE_BUILDER_TABLE(Module, kModuleBuilders);

TEST(McuBuilders, RefuseOversizedChunksAndAddressesBeyond24Bits) {
    const std::uint8_t data[33] = {};
    EXPECT_TRUE(BuildMcuWrite(0xFFFFFF, data, 32).has_value());
    EXPECT_FALSE(BuildMcuWrite(0, data, 33).has_value());
    EXPECT_FALSE(BuildMcuWrite(0x1000000, data, 1).has_value());
    EXPECT_FALSE(BuildMcuWrite(0, nullptr, 1).has_value());
    EXPECT_FALSE(BuildMcuRead(0, 53).has_value());
    EXPECT_FALSE(BuildMcuErase(0x1000000).has_value());
}

TEST(ParseMcuReadReply, CopiesFromByte8OfAWholeReply) {
    const Bytes reply = Reply({{0, "B9 00 03 00 02"}, {8, "AB CD EF"}});
    std::uint8_t out[2] = {};
    ASSERT_EQ(ParseMcuReadReply(reply.data(), 64, out, 2), ReplyStatus::kOk);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xCD);
    EXPECT_EQ(ParseMcuReadReply(reply.data(), 60, out, 2), ReplyStatus::kShort);
    EXPECT_EQ(ParseMcuReadReply(reply.data(), 64, out, 53), ReplyStatus::kInvalid);
}

TEST(ModuleBlockWrite, PatchesOnlyItsFieldsAndReturnsTheRestAsRead) {
    const Bytes device = Reply({{0, "EA 00 01 FF"},
                                {8, "11 22 33 44 55"},
                                {24, "AA AA AA AA AA AA AA AA AA AA AA AA AA AA"},
                                {50, "77"}});
    auto read = ParseModuleBlockReadReply(device.data(), 64);
    ASSERT_TRUE(read.ok());
    ModuleBlock block = read.value;
    PatchPacingFields(block, 0x1234, PacingWidthSteps(2.0, false));
    EXPECT_EQ(
        ToHex(ToBytes(BuildModuleBlockWrite(block))),
        ToHex(Reply({{0, "EA FF 01 FF"}, {8, "11 22 33 44 55"}, {24, "12 34 00 50"}, {50, "77"}})));

    PatchRespirationFields(block, Breathing());
    PatchApneaField(block, true);
    const Bytes apnea = ToBytes(BuildModuleBlockWrite(block));
    EXPECT_EQ(ToHex(Bytes(apnea.begin() + 8, apnea.begin() + 13)), "0F 0A 01 03 01");
    EXPECT_EQ(ParseModuleBlockReadReply(device.data(), 63).status, ReplyStatus::kShort);
}

TEST(RespirationFields, AreLimitedToOneByteEach) {
    RespirationFields f;
    f.rate = 300;
    f.impedanceVariation = 30000;
    f.ratio = 0;
    f.baselineSelection = -1;
    ModuleBlock block{};
    PatchRespirationFields(block, f);
    EXPECT_EQ(ToHex(Bytes(block.begin() + 8, block.begin() + 12)), "FF FF 00 00");
}

TEST(PacingWidthSteps, CountsSteps25UsOr100UsWithTheRespirationModule) {
    EXPECT_EQ(PacingWidthSteps(2.0, false), 80);
    EXPECT_EQ(PacingWidthSteps(2.0, true), 20);
    EXPECT_EQ(PacingWidthSteps(3.0, false), 120);
    EXPECT_EQ(PacingWidthSteps(0.03, false), 1);  // 1.2 steps, rounded
    EXPECT_EQ(PacingWidthSteps(0.05, true), 1);   // 0.5 steps round up
    EXPECT_EQ(PacingWidthSteps(0.0, false), 0);
    EXPECT_EQ(PacingWidthSteps(-1.0, false), 0);
    EXPECT_EQ(PacingWidthSteps(1e9, false), 65535);
}

TEST(ParseRLDReadReply, ScalesBothCountsTo3Point3VoltsFullScale) {
    const Bytes reply = Reply({{0, "AD 00 01 FF"}, {6, "03 FF 01 00"}});
    auto rld = ParseRLDReadReply(reply.data(), 64);
    ASSERT_TRUE(rld.ok());
    EXPECT_EQ(rld.value.firstCount, 1023);
    EXPECT_EQ(rld.value.secondCount, 256);
    EXPECT_DOUBLE_EQ(rld.value.firstVolts, 3.3);
    EXPECT_DOUBLE_EQ(rld.value.secondVolts, 256 * 3.3 / 1023);
    EXPECT_EQ(ParseRLDReadReply(Reply({}).data(), 64).status, ReplyStatus::kNotAcknowledged);
}

TEST(ParsePDStatusReadReply, UnpacksTwelveBitPairsWhenNoStatusBitIsSet) {
    Bytes reply = Reply({{0, "B0 00 02 FF"}, {8, "C0 12 34 56 AB CD EF 00 10 01"}});
    auto pd = ParsePDStatusReadReply(reply.data(), 64);
    ASSERT_TRUE(pd.ok());
    EXPECT_EQ(pd.value, (std::array<int, 6>{0x123, 0x456, 0xABC, 0xDEF, 0x001, 0x001}));

    reply[8] = 0x01;  // a status bit
    EXPECT_EQ(ParsePDStatusReadReply(reply.data(), 64).status, ReplyStatus::kInvalid);
    reply[8] = 0x00;
    reply[3] = 0x00;
    EXPECT_EQ(ParsePDStatusReadReply(reply.data(), 64).status, ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(ParsePDStatusReadReply(reply.data(), 17).status, ReplyStatus::kShort);
}

TEST(SamplingStatus, RecordIsTheFirst18BytesAndDecodesFlagsAndValues) {
    const Bytes reply =
        Reply({{0, "B0 00 02 FF"}, {8, "29 12 34 56 AB CD EF 00 10 01"}, {18, "99"}});
    auto record = ParseSamplingStatusReadReply(reply.data(), 64);
    ASSERT_TRUE(record.ok());
    EXPECT_EQ(ToHex(ToBytes(record.value)), ToHex(Bytes(reply.begin(), reply.begin() + 18)));
    const SamplingStatus status = DecodeSamplingStatus(record.value);
    // 0x29 = 101001: bits 5, 4, 3, 2, 1, 0
    EXPECT_EQ(status.flags, (std::array<bool, 6>{true, false, true, false, false, true}));
    EXPECT_EQ(status.first, (std::array<int, 3>{0x123, 0xABC, 0x001}));
    EXPECT_EQ(status.second, (std::array<int, 3>{0x456, 0xDEF, 0x001}));
    EXPECT_EQ(ParseSamplingStatusReadReply(reply.data(), 18).status, ReplyStatus::kShort);
}

TEST(PpgModuleReplies, AcknowledgeBytesDifferByCommand) {
    const Bytes byte3 = Reply({{3, "FF"}, {4, "0E"}});
    const Bytes byte4 = Reply({{4, "FF"}});
    EXPECT_EQ(CheckSignalStrengthEnableReply(byte4.data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckSignalStrengthEnableReply(byte3.data(), 64), ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(CheckDynamicLEDEnableReply(byte4.data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckDynamicLEDEnableReply(byte4.data(), 0), ReplyStatus::kShort);
    EXPECT_EQ(CheckConverterSelectReply(byte3.data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckConverterSelectReply(byte4.data(), 64), ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(CheckLoaderModeReply(byte3.data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckModuleBlockWriteReply(byte4.data(), 64), ReplyStatus::kNotAcknowledged);

    auto mode = ParseAmbientLightReadReply(byte3.data(), 64);
    ASSERT_TRUE(mode.ok());
    EXPECT_EQ(mode.value, 14);
    EXPECT_EQ(ParseAmbientLightReadReply(byte4.data(), 64).status, ReplyStatus::kNotAcknowledged);
}

TEST(ParseAutoTriggerReadReply, CopiesBytes4To13AsSent) {
    const Bytes reply = Reply({{0, "B0 00 30 00 01 02 03 04 05 06 07 08 09 0A 0B"}});
    auto record = ParseAutoTriggerReadReply(reply.data(), 64);
    ASSERT_TRUE(record.ok());
    EXPECT_EQ(ToHex(ToBytes(record.value)), "01 02 03 04 05 06 07 08 09 0A");
    EXPECT_EQ(ParseAutoTriggerReadReply(reply.data(), 14).status, ReplyStatus::kShort);
}

TEST(LEDPulseGroupReadReply, DecodesSlotCodesAndThePeriod) {
    Bytes reply = Reply({{0, "EA FF 00 FF"}, {35, "00 01 90"}, {40, "02 01 04 00 08 00 00 01"}});
    auto group = ParseLEDPulseGroupReadReply(reply.data(), 64);
    ASSERT_TRUE(group.ok());
    EXPECT_EQ(group.value.period, 400);
    EXPECT_EQ(group.value.slots, (std::array<std::uint8_t, 8>{2, 1, 3, 0, 0, 0, 0, 1}));

    reply[35] = 1;  // the flag means "no period"
    EXPECT_EQ(ParseLEDPulseGroupReadReply(reply.data(), 64).value.period, 0);
    reply[3] = 0;
    EXPECT_EQ(ParseLEDPulseGroupReadReply(reply.data(), 64).status, ReplyStatus::kNotAcknowledged);
}

TEST(LEDPulseGroup, WhatIsWrittenReadsBackUnchanged) {
    const LedPulseGroup groups[] = {{{2, 1, 3, 0, 0, 0, 0, 0}, 0},
                                    {{1, 2, 3, 1, 2, 3, 0, 0}, 400},
                                    {{0, 0, 0, 0, 0, 0, 0, 3}, 0}};
    for (const LedPulseGroup& written : groups) {
        CommandRequest<kModuleBlockLength> stored = BuildLEDPulseGroupWrite(written);
        stored[3] = kCommandAcknowledge;  // the device answers with the stored record
        auto read = ParseLEDPulseGroupReadReply(stored.data(), stored.size());
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read.value.slots, written.slots);
        EXPECT_EQ(read.value.period, written.period);
    }
}

}  // namespace

namespace {

std::uint16_t HostWordAt(const AutoTriggerRecord& record, std::size_t at) {
    std::uint16_t value;
    std::memcpy(&value, record.data() + at, sizeof value);
    return value;
}

TEST(AutoTriggerRecordToHostOrder, ConvertsBothValuesUnlessBothFlagsAreSet) {
    const AutoTriggerRecord wire = {0x01, 0x02, 0x01, 0x04, 0x05, 0x06, 0x12, 0x34, 0xAB, 0xCD};
    const AutoTriggerRecord host = AutoTriggerRecordToHostOrder(wire);
    EXPECT_EQ(HostWordAt(host, 6), 0x1234);
    EXPECT_EQ(HostWordAt(host, 8), 0xABCD);
    EXPECT_EQ(ToHex(Bytes(host.begin(), host.begin() + 6)), "01 02 01 04 05 06");

    AutoTriggerRecord flagged = wire;
    flagged[2] = 0x03;
    const AutoTriggerRecord zeroed = AutoTriggerRecordToHostOrder(flagged);
    EXPECT_EQ(HostWordAt(zeroed, 6), 0);
    EXPECT_EQ(HostWordAt(zeroed, 8), 0);
}

TEST(McuChunks, WritesOf32AndReadsOf52FromAddress0) {
    const std::size_t size = 118780;  // just reaches the version bytes
    ASSERT_EQ(StorageChunkCount(size, kMcuWriteChunkBytes), 3712u);
    const StorageChunk lastWrite = McuWriteChunk(size, 3711);
    EXPECT_EQ(lastWrite.address, 118752u);
    EXPECT_EQ(lastWrite.elements, 28u);
    ASSERT_EQ(StorageChunkCount(size, kMcuReadChunkBytes), 2285u);
    const StorageChunk secondRead = McuReadChunk(size, 1);
    EXPECT_EQ(secondRead.address, 52u);
    EXPECT_EQ(secondRead.elements, 52u);
    EXPECT_EQ(McuReadChunk(size, 2284).elements, 118780u - 2284u * 52u);
    EXPECT_EQ(SectorCount(size), 116u);  // erases at 0, 1024, ... 117760
    EXPECT_EQ(SectorEraseAddress(0, 115), 117760u);
}

}  // namespace
