// Where the device's framing ends a request, for every rule of the framing.
#include "Framing.h"

#include <gtest/gtest.h>

#include "Packets.h"
#include "SerialClient.h"

namespace {

using vdev::Bytes;
using vdev::RequestEnd;

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FramingCase {
    const char* name;
    Bytes rx;
    bool quiet;
    std::size_t end;  // 0: wait
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, EndsTheRequestWhereExpected) {
    EXPECT_EQ(RequestEnd(GetParam().rx, GetParam().quiet), GetParam().end);
}

const Bytes kPacket = vdevtest::EcgPacket(7, 32767, 0);
const Bytes kAmbient{0xB0, 0xFF, 0x10, 0x00, 0x03, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Rules, Framing,
    ::testing::Values(
        // Families of one length end without waiting for the gap.
        FramingCase{"IdentifyAtOnce", {0x55, 0x00, 0x00}, false, 3},
        FramingCase{"TwoIdentifiesBackToBack", {0x55, 0x00, 0x00, 0x55, 0x00, 0x00}, false, 3},
        FramingCase{"VersionQuery", {0xAA, 0x03}, false, 2},
        FramingCase{"RestartByte", {0xDD}, false, 1},
        FramingCase{"ConverterWaitsForFiveBytes", {0xAD, 0xFF, 0x00}, false, 0},
        FramingCase{"StorageFrameAt64", Bytes(64, 0x12), false, 64},
        FramingCase{"StorageFrameIncomplete", Bytes(40, 0x12), false, 0},
        // Families of several lengths wait for the gap.
        FramingCase{"ShortOutputConfigWaits", {0x00, 0xFF, 0x03, 0x4E, 0x20, 0, 0, 1}, false, 0},
        FramingCase{"ShortOutputConfigAtGap", {0x00, 0xFF, 0x03, 0x4E, 0x20, 0, 0, 1}, true, 8},
        FramingCase{"FullOutputConfigAtGap", Bytes(17, 0x00), true, 17},
        FramingCase{"SettingWriteShortAtGap", {0xCC, 0xFF, 0x01, 0x00, 0x96}, true, 5},
        FramingCase{"SettingWriteAt64", vdevtest::Request({0xCC, 0xFF, 0x19, 0x00, 0x34}, 64),
                    false, 64},
        // A value byte 0x01 where a shorter form could end: wait for the gap.
        FramingCase{"SettingWriteWithValueOneWaits",
                    vdevtest::Request({0xCC, 0xFF, 0x19, 0x00, 0x01}, 64), false, 0},
        FramingCase{"SettingWriteWithValueOneAtGap",
                    vdevtest::Request({0xCC, 0xFF, 0x19, 0x00, 0x01}, 64), true, 64},
        // The MCU loader's 64-byte frames end at 64 even with an address byte 0x01.
        FramingCase{"McuWriteAt64", vdevtest::Request({0xB9, 0xFF, 0x03, 0x00, 32, 0x01, 0, 0}, 64),
                    false, 64},
        FramingCase{"LoaderModeAtGap", {0xB9, 0xFF, 0x00, 0x00, 0x01}, true, 5},
        // A command whose reply is not awaited, followed at once by the next stream packet.
        FramingCase{"AmbientLightWriteThenPacket", Concat(kAmbient, kPacket), false, 6},
        FramingCase{"AmbientLightWriteThenPartialPacket",
                    Concat(kAmbient, Bytes(kPacket.begin(), kPacket.begin() + 100)), false, 0},
        FramingCase{"LongestFormThenPacket",
                    Concat(vdevtest::Request({0xCC, 0xFF, 0x19, 0x00, 0x01}, 64), kPacket), false,
                    64},
        // Bytes of no family: up to 64 at the gap.
        FramingCase{"UnknownAtGap", {0x77, 0x01}, true, 2},
        FramingCase{"OverlongAtGap", Concat(kAmbient, {0x09, 0x09}), true, 8}),
    [](const ::testing::TestParamInfo<FramingCase>& info) { return info.param.name; });

TEST(FramingStreamStart, NeedsTwoConsecutiveSubPacketHeaders) {
    EXPECT_TRUE(vdev::StreamPacketStartsAt(kPacket, 0));
    EXPECT_FALSE(vdev::StreamPacketStartsAt(kPacket, 64 * 49));  // only one header left
    Bytes broken = kPacket;
    broken[64 + 7] = 0x09;  // the second sequence number does not follow the first
    EXPECT_FALSE(vdev::StreamPacketStartsAt(broken, 0));
    broken = kPacket;
    broken[64 + 1] = 0x07;  // another operate mode
    EXPECT_FALSE(vdev::StreamPacketStartsAt(broken, 0));
}

}  // namespace
