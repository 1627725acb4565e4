#include <gtest/gtest.h>

#include "ByteFrames.h"
#include "protocol/commands/OutputCommands.h"

namespace {

OutputConfigFields EcgWithPpg() {
    OutputConfigFields f;
    f.operateMode = 3;
    f.sampleRate = 20000;    // 4E 20
    f.relayWord = 0x010044;  // lead 0 (bit 16), fixed DC path (bit 6), variable DC (bit 2)
    f.ledSyncCode = {0x0A, 0x0B, 0x0C};        // PPG channels 0, 1, 2
    f.acCalibrationMode = {0x01, 0x02, 0x03};  // PPG channels 0, 1, 2
    return f;
}

OutputConfigFields StoppedWithHighBits() {
    OutputConfigFields f;
    f.operateMode = 8;
    f.sampleRate = 10000;      // 27 10
    f.relayWord = 0x7FABCDEF;  // only bits 0..23 travel
    return f;
}

OutputConfigFields RateAboveSixteenBits() {
    OutputConfigFields f;
    f.sampleRate = 70000;
    return f;
}

const std::vector<BuilderCase> kOutputBuilders = {
    {"OutputConfigFull", ToBytes(BuildOutputConfig(EcgWithPpg())),
     Hex("00 FF 03 4E 20 01 00 44 0B 0C 0A 02 03 01 00 00 00")},
    {"OutputConfigRelayBitsAbove23Dropped", ToBytes(BuildOutputConfig(StoppedWithHighBits())),
     Hex("00 FF 08 27 10 AB CD EF 00 00 00 00 00 00 00 00 00")},
    {"OutputConfigRateSaturates", ToBytes(BuildOutputConfig(RateAboveSixteenBits())),
     Hex("00 FF 03 FF FF 00 00 00 00 00 00 00 00 00 00 00 00")},
    {"OutputConfigShort", ToBytes(BuildOutputConfigShort(20000, 0x080800)),
     Hex("00 FF 03 4E 20 08 08 00")},
};
INSTANTIATE_BUILDER_TABLE(Output, kOutputBuilders);

TEST(OutputConfigFilter, SendsAnIdenticalRequestOnlyWhenForced) {
    OutputConfigFilter filter;
    const OutputConfigRequest request = BuildOutputConfig(EcgWithPpg());
    ASSERT_TRUE(filter.MustSend(request, false));
    filter.RecordWritten(request);
    EXPECT_FALSE(filter.MustSend(request, false));
    EXPECT_TRUE(filter.MustSend(request, true));

    OutputConfigFields changed = EcgWithPpg();
    changed.relayWord ^= 1u << 19;  // output lead 3
    EXPECT_TRUE(filter.MustSend(BuildOutputConfig(changed), false));
}

TEST(OutputConfigFilter, RetriesAFailedWriteAndForgetsAtReconnect) {
    OutputConfigFilter filter;
    const OutputConfigRequest first = BuildOutputConfig(EcgWithPpg());
    const OutputConfigRequest second = BuildOutputConfig(StoppedWithHighBits());
    filter.RecordWritten(first);
    // The write of the second request failed: it was not recorded, so it goes out again.
    EXPECT_TRUE(filter.MustSend(second, false));
    EXPECT_TRUE(filter.MustSend(second, false));
    EXPECT_FALSE(filter.MustSend(first, false));
    filter.Forget();
    EXPECT_TRUE(filter.MustSend(first, false));
}

struct LayoutCase {
    std::uint8_t operateMode;
    int slots;
    int groups;
    int groupBytes;
};

class StreamLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(StreamLayout, FollowsTheOperateMode) {
    const LayoutCase& c = GetParam();
    EXPECT_EQ(StreamPpgSlotCount(c.operateMode), c.slots);
    EXPECT_EQ(StreamGroupsPerSubPacket(c.operateMode), c.groups);
    EXPECT_EQ(StreamGroupBytes(c.operateMode), c.groupBytes);
    EXPECT_LE(static_cast<std::size_t>(c.groups * c.groupBytes),
              kStreamSubPacketLength - kStreamGroupsOffset);
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamLayout,
                         ::testing::Values(LayoutCase{0x03, 0, 14, 4}, LayoutCase{0x07, 1, 7, 8},
                                           LayoutCase{0x0F, 2, 4, 12}, LayoutCase{0x1F, 3, 3, 16},
                                           LayoutCase{0x13, 1, 7, 8}, LayoutCase{0x23, 0, 4, 12}));

TEST(StreamSubPacketHeader, HoldsModeGroupsAndBigEndianSequence) {
    Bytes sub(64, 0xEE);
    WriteStreamSubPacketHeader(sub.data(), 0x03, 14, 0x0102);
    EXPECT_EQ(ToHex(Bytes(sub.begin(), sub.begin() + 9)), "01 03 00 00 00 0E 01 02 EE");
}

Bytes SubPacket(const StreamPacket& packet, std::size_t j) {
    return Bytes(packet.begin() + 64 * j, packet.begin() + 64 * (j + 1));
}

TEST(StreamStopPacket, EcgOnlyCarries14GroupsOfTheZeroCodeInEverySubPacket) {
    const StreamPacket packet = BuildStreamStopPacket(0x03, 0x8000, 5);
    Bytes group14(56, 0);
    for (int k = 0; k < 14; ++k) group14[4 * k] = 0x80;
    for (std::size_t j = 0; j < kStreamSubPackets; ++j) {
        const Bytes sub = SubPacket(packet, j);
        const std::uint16_t seq = static_cast<std::uint16_t>(5 + j);
        EXPECT_EQ(ToHex(Bytes(sub.begin(), sub.begin() + 8)),
                  ToHex({0x01, 0x03, 0x00, 0x00, 0x00, 0x0E, static_cast<std::uint8_t>(seq >> 8),
                         static_cast<std::uint8_t>(seq)}))
            << "sub-packet " << j;
        EXPECT_EQ(ToHex(Bytes(sub.begin() + 8, sub.end())), ToHex(group14)) << "sub-packet " << j;
    }
}

TEST(StreamStopPacket, PpgSlotsWidenTheGroupsAndLeaveThePpgCodesZero) {
    const StreamPacket packet = BuildStreamStopPacket(0x0F, 0x1234, 0);
    EXPECT_EQ(ToHex(SubPacket(packet, 1)), ToHex(Frame(64, {{0, "01 0F 00 00 00 04 00 01"},
                                                            {8, "12 34"},
                                                            {20, "12 34"},
                                                            {32, "12 34"},
                                                            {44, "12 34"}})));
}

TEST(StreamStopPacket, ExternalRespirationUsesItsOwnFourGroupsOf12Bytes) {
    StopRespirationCodes rest;
    rest.dac = {0x0102, 0x0304, 0x0506};
    rest.baseline = 0x0708;
    const StreamPacket packet = BuildStreamStopPacket(0x23, 0x8000, 0, rest);
    const char* group = "80 00 00 00 01 02 03 04 05 06 07 08";
    EXPECT_EQ(
        ToHex(SubPacket(packet, 0)),
        ToHex(Frame(
            64,
            {{0, "01 23 00 00 00 04 00 00"}, {8, group}, {20, group}, {32, group}, {44, group}})));
}

TEST(StreamStopPacket, WithoutTheEcgChannelOnlyHeadersAreWritten) {
    const StreamPacket packet = BuildStreamStopPacket(0x08, 0x8000, 0xFFF0);
    EXPECT_EQ(ToHex(SubPacket(packet, 0)), ToHex(Frame(64, {{0, "01 08 00 00 00 0E FF F0"}})));
    // The sequence wraps at 16 bits: 0xFFF0 + 49 = 0x10021.
    EXPECT_EQ(ToHex(SubPacket(packet, 49)), ToHex(Frame(64, {{0, "01 08 00 00 00 0E 00 21"}})));
    const StreamPacket none = BuildStreamStopPacket(0x00, 0x8000, 0);
    EXPECT_EQ(none[5], 0);  // no channels at all: no groups, no division by zero
}

}  // namespace
