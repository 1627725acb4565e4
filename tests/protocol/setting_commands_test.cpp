#include <gtest/gtest.h>

#include "ByteFrames.h"
#include "protocol/commands/SettingCommands.h"

namespace {

const std::uint8_t kThreeBytes[] = {0x01, 0x02, 0x03};

Bytes BuiltBytes(std::size_t length) {
    static const std::uint8_t data[64] = {};
    auto request = BuildSettingWriteBytes(9, data, length);
    return request ? ToBytes(*request) : Bytes{};
}

const std::vector<BuilderCase> kSettingBuilders = {
    {"SettingRead", ToBytes(BuildSettingRead(0x05)), Frame(64, {{0, "CC 00 05"}})},
    {"SettingWrite8", ToBytes(BuildSettingWrite8(7, 0x2A)), Frame(64, {{0, "CC FF 07 00 2A"}})},
    {"SettingWrite16LittleEndian", ToBytes(BuildSettingWrite16(1, 0x1234)),
     Frame(64, {{0, "CC FF 01 00 34 12"}})},
    {"SettingWrite16TransmissionRate", ToBytes(BuildSettingWrite16(kSettingRateB1, 1023)),
     Frame(64, {{0, "CC FF 19 00 FF 03"}})},
    {"SettingWriteBytes", ToBytes(*BuildSettingWriteBytes(9, kThreeBytes, 3)),
     Frame(64, {{0, "CC FF 09 00 01 02 03"}})},
    {"SettingWriteShortTriggerOfLed3", ToBytes(BuildSettingWriteShort(kSettingTriggerLevel[2], 7)),
     Hex("CC FF 13 00 07")},
    {"SettingWriteShortLevelOfLed1", ToBytes(BuildSettingWriteShort(kSettingLedLevel[0], 150)),
     Hex("CC FF 01 00 96")},
    {"SettingReadShort", ToBytes(BuildSettingReadShort(3)), Hex("CC 00 03 00 00")},
    {"BusVoltageRead", ToBytes(BuildBusVoltageRead()), Hex("CC 00 42")},
    {"RespModuleRead", ToBytes(BuildRespModuleRead()), Hex("CC 00 0D 00")},
    {"RespModuleWriteBigEndian", ToBytes(BuildRespModuleWrite({0x1234, 0x0001, 0xABCD, 0x00FF})),
     Frame(64, {{0, "CC FF 0D 00 12 34 00 01 AB CD 00 FF"}})},
    {"RespBaselineRead", ToBytes(BuildRespBaselineRead()), Hex("CC 00 0E 00")},
    {"RespBaselineWrite", ToBytes(BuildRespBaselineWrite({3, 2})), Hex("CC FF 0E 00 03 02")},
};
INSTANTIATE_BUILDER_TABLE(Setting, kSettingBuilders);

TEST(SettingWriteBytes, TakesAtMostSixtyValueBytes) {
    EXPECT_EQ(BuiltBytes(60).size(), 64u);
    EXPECT_TRUE(BuiltBytes(61).empty());
    EXPECT_FALSE(BuildSettingWriteBytes(9, nullptr, 2).has_value());
}

TEST(ParseSettingReadReply, ReadsByteAndLittleEndianWordOfAnAcknowledgedReply) {
    const Bytes reply = Reply({{0, "CC 00 05 FF 34 12"}});
    auto byte = ParseSettingReadReply8(reply.data(), 64);
    auto word = ParseSettingReadReply16(reply.data(), 64);
    ASSERT_TRUE(byte.ok());
    ASSERT_TRUE(word.ok());
    EXPECT_EQ(byte.value, 0x34);
    EXPECT_EQ(word.value, 0x1234);

    const Bytes refused = Reply({{0, "CC 00 05 00 34 12"}});
    EXPECT_EQ(ParseSettingReadReply16(refused.data(), 64).status, ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(ParseSettingReadReply8(reply.data(), 63).status, ReplyStatus::kShort);
}

TEST(CheckSettingWriteReply, AcknowledgeIsByte3) {
    EXPECT_EQ(CheckSettingWriteReply(Reply({{3, "FF"}}).data(), 64), ReplyStatus::kOk);
    EXPECT_EQ(CheckSettingWriteReply(Reply({{4, "FF"}}).data(), 64), ReplyStatus::kNotAcknowledged);
    EXPECT_EQ(CheckRespModuleWriteReply(Reply({{3, "FF"}}).data(), 12), ReplyStatus::kShort);
}

struct ShortReadCase {
    const char* name;
    Bytes reply;
    std::size_t received;
    ReplyStatus status;
};

class SettingReadShortReply : public ::testing::TestWithParam<ShortReadCase> {};

TEST_P(SettingReadShortReply, IsJudgedByCodeIdAndAcknowledge) {
    const ShortReadCase& c = GetParam();
    auto parsed = ParseSettingReadShortReply(c.reply.data(), c.received, 19);
    EXPECT_EQ(parsed.status, c.status);
    if (parsed.ok()) {
        EXPECT_EQ(parsed.value, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SettingReadShortReply,
    ::testing::Values(
        ShortReadCase{"Good", Reply({{0, "CC 00 13 FF 07"}}), 64, ReplyStatus::kOk},
        ShortReadCase{"Short", Reply({{0, "CC 00 13 FF 07"}}), 40, ReplyStatus::kShort},
        ShortReadCase{"OtherId", Reply({{0, "CC 00 12 FF 07"}}), 64, ReplyStatus::kInvalid},
        ShortReadCase{"OtherFamily", Reply({{0, "B0 00 13 FF 07"}}), 64, ReplyStatus::kInvalid},
        ShortReadCase{"NotAcknowledged", Reply({{0, "CC 00 13 FE 07"}}), 64,
                      ReplyStatus::kNotAcknowledged}),
    [](const ::testing::TestParamInfo<ShortReadCase>& info) { return info.param.name; });

TEST(ParseBusVoltageReadReply, IsByte4OrZeroOnAShortReply) {
    const Bytes reply = Reply({{0, "CC 00 42 FF C8"}});
    EXPECT_EQ(ParseBusVoltageReadReply(reply.data(), 64), 200u);
    EXPECT_EQ(ParseBusVoltageReadReply(reply.data(), 5), 0u);
    EXPECT_EQ(ParseBusVoltageReadReply(nullptr, 0), 0u);
}

TEST(ParseRespModuleReadReply, DecodesFourBigEndianWords) {
    const Bytes reply = Reply({{0, "CC 00 0D FF 12 34 00 01 AB CD 00 FF"}});
    auto words = ParseRespModuleReadReply(reply.data(), 64);
    ASSERT_TRUE(words.ok());
    EXPECT_EQ(words.value, (RespModuleWords{0x1234, 0x0001, 0xABCD, 0x00FF}));
    const Bytes refused = Reply({{0, "CC 00 0D 00 12 34"}});
    EXPECT_EQ(ParseRespModuleReadReply(refused.data(), 64).status, ReplyStatus::kNotAcknowledged);
}

TEST(ParseRespBaselineReadReply, NeedsOnlyTheWholeReply) {
    const Bytes reply = Reply({{4, "05 04"}});
    auto baseline = ParseRespBaselineReadReply(reply.data(), 64);
    ASSERT_TRUE(baseline.ok());
    EXPECT_EQ(baseline.value.selection, 5);
    EXPECT_EQ(baseline.value.leadCode, 4);
    EXPECT_EQ(ParseRespBaselineReadReply(reply.data(), 63).status, ReplyStatus::kShort);
}

TEST(RespBaselineLeadCode, IsTheFirstOfLeads0To2WhileRespirationIsEnabled) {
    EXPECT_EQ(RespBaselineLeadCode(0x001, true), 1);
    EXPECT_EQ(RespBaselineLeadCode(0x006, true), 2);
    EXPECT_EQ(RespBaselineLeadCode(0x004, true), 4);
    EXPECT_EQ(RespBaselineLeadCode(0x1F8, true), 0);  // only leads 3..8
    EXPECT_EQ(RespBaselineLeadCode(0x000, true), 0);
    EXPECT_EQ(RespBaselineLeadCode(0x001, false), 0);
}

}  // namespace
