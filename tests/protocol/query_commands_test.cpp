#include <gtest/gtest.h>

#include "ByteFrames.h"
#include "protocol/commands/Commands.h"

TEST_P(BuilderBytes, AreExactlyTheRequestBytes) {
    const BuilderCase& c = GetParam();
    EXPECT_EQ(ToHex(c.built), ToHex(c.expected));
}

namespace {

const std::vector<BuilderCase> kQueryBuilders = {
    {"Identify", ToBytes(BuildIdentify()), Hex("55 00 00")},
    {"DacWidthQuery", ToBytes(BuildDacWidthQuery()), Hex("55 00 81")},
    {"HardwareVersionQuery", ToBytes(BuildHardwareVersionQuery()), Hex("AA 02")},
    {"FirmwareVersionQuery", ToBytes(BuildFirmwareVersionQuery()), Hex("AA 03")},
    {"ModuleVersionQueryMcuModule", ToBytes(BuildModuleVersionQuery(0x2112)), Hex("B9 00 01")},
    {"ModuleVersionQueryOtherModule", ToBytes(BuildModuleVersionQuery(0x2012)), Hex("B8 00 01")},
    {"ModuleVersionQueryNoModule", ToBytes(BuildModuleVersionQuery(0)), Hex("B8 00 01")},
    {"Restart", ToBytes(BuildRestart()), Hex("DD")},
};
INSTANTIATE_BUILDER_TABLE(Query, kQueryBuilders);

TEST(ParseIdentifyReply, AcceptsTheSimulatorAndReadsItsSerialSequence) {
    const Bytes reply = Hex("00 00 00 00 51 54 56 50 00 00 04 D2");  // "QTVP", 1234
    auto parsed = ParseIdentifyReply(reply.data(), reply.size());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value.serialSequence, 1234);
}

TEST(ParseIdentifyReply, RejectsOtherDevicesAndShortReplies) {
    const Bytes notP = Hex("00 00 00 00 51 54 56 51 00 00 04 D2");  // "QTVQ"
    EXPECT_EQ(ParseIdentifyReply(notP.data(), notP.size()).status, ReplyStatus::kInvalid);
    const Bytes notQtv = Hex("00 00 00 00 51 54 57 50 00 00 04 D2");
    EXPECT_EQ(ParseIdentifyReply(notQtv.data(), notQtv.size()).status, ReplyStatus::kInvalid);
    const Bytes good = Hex("00 00 00 00 51 54 56 50 00 00 04 D2");
    EXPECT_EQ(ParseIdentifyReply(good.data(), 11).status, ReplyStatus::kShort);
    EXPECT_EQ(ParseIdentifyReply(nullptr, 0).status, ReplyStatus::kShort);
}

TEST(ParseDacWidthQueryReply, SixteenBitsOnlyForAFullReplyWithByte4EqualTo1) {
    Bytes reply(12, 0);
    reply[4] = 1;
    EXPECT_EQ(ParseDacWidthQueryReply(reply.data(), 12), 16);
    EXPECT_EQ(ParseDacWidthQueryReply(reply.data(), 11), 12);
    reply[4] = 2;
    EXPECT_EQ(ParseDacWidthQueryReply(reply.data(), 12), 12);
    EXPECT_EQ(ParseDacWidthQueryReply(nullptr, 0), 12);
}

TEST(ParseVersionQueryReplies, TakeTheVersionBytesOfAFiveByteReply) {
    const Bytes hardware = Hex("AA 02 05 00 00");
    auto hw = ParseHardwareVersionQueryReply(hardware.data(), hardware.size());
    ASSERT_TRUE(hw.ok());
    EXPECT_EQ(hw.value.major, 2);
    EXPECT_EQ(hw.value.minor, 5);

    const Bytes firmware = Hex("AA 01 03 07 0C");
    auto fw = ParseFirmwareVersionQueryReply(firmware.data(), firmware.size());
    ASSERT_TRUE(fw.ok());
    EXPECT_EQ(fw.value.parts[0], 1);
    EXPECT_EQ(fw.value.parts[1], 3);
    EXPECT_EQ(fw.value.parts[2], 7);
    EXPECT_EQ(fw.value.parts[3], 12);

    EXPECT_EQ(ParseHardwareVersionQueryReply(hardware.data(), 4).status, ReplyStatus::kShort);
    EXPECT_EQ(ParseFirmwareVersionQueryReply(firmware.data(), 0).status, ReplyStatus::kShort);
}

TEST(ParseModuleVersionQueryReply, TakesBytes4To7OfAFullReply) {
    const Bytes reply = Reply({{4, "02 01 00 09"}});
    auto version = ParseModuleVersionQueryReply(reply.data(), reply.size());
    ASSERT_TRUE(version.ok());
    EXPECT_EQ(version.value.parts[0], 2);
    EXPECT_EQ(version.value.parts[1], 1);
    EXPECT_EQ(version.value.parts[2], 0);
    EXPECT_EQ(version.value.parts[3], 9);
    EXPECT_EQ(ParseModuleVersionQueryReply(reply.data(), 63).status, ReplyStatus::kShort);
}

}  // namespace
