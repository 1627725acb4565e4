// Known-answer tests of the stream decoder: packet layouts, header checks, DC conversion.
#include <gtest/gtest.h>

#include "Packets.h"
#include "vdev/VirtualDevice.h"

namespace {

using vdev::Bytes;
using vdev::DecodedSample;
using vdev::StreamDecoder;
using vdevtest::EcgPacket;
using vdevtest::MakePacket;

TEST(GroupsPerSubPacket, FollowsTheOperateModeBits) {
    const struct {
        std::uint8_t mode;
        int groups;
    } cases[] = {{0x03, 14}, {0x07, 7}, {0x0B, 7}, {0x13, 7}, {0x0F, 4},
                 {0x1B, 4},  {0x1F, 3}, {0x23, 4}, {0x08, 14}};
    for (const auto& c : cases) {
        EXPECT_EQ(vdev::GroupsPerSubPacket(c.mode), c.groups) << "mode " << int(c.mode);
    }
}

TEST(StreamDecoderDc, InvertsTheCalibrationTable) {
    StreamDecoder defaultTable;  // entries 1000..3000 span the codes 0..65535
    EXPECT_DOUBLE_EQ(defaultTable.DcMillivolts(0), -1000.0);
    EXPECT_DOUBLE_EQ(defaultTable.DcMillivolts(65535), 1000.0);
    EXPECT_DOUBLE_EQ(defaultTable.DcMillivolts(32767), 0.0);  // entry 2000 = trunc(32767.5)
    // Halfway between entries 2000 (32767) and 2001 (trunc(32800.2675) = 32800).
    EXPECT_NEAR(defaultTable.DcMillivolts(32783), 16.0 / 33.0, 1e-9);

    const std::vector<std::uint16_t> table = vdev::PresetDcTable();
    StreamDecoder preset(table);
    for (int mv : {-900, -250, -1, 0, 1, 300, 990}) {
        EXPECT_DOUBLE_EQ(preset.DcMillivolts(table[mv + 2000]), mv) << mv << " mV";
    }
}

TEST(StreamDecoderPacket, EcgPacketsDecodeWithoutErrors) {
    const std::vector<std::uint16_t> table = vdev::PresetDcTable();
    StreamDecoder decoder(table);
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    EXPECT_TRUE(decoder.Decode(EcgPacket(0, table[2000 + 300], 1.0).data(), &samples, &errors));
    EXPECT_TRUE(decoder.Decode(EcgPacket(50, table[2000 - 20], -0.5).data(), &samples, &errors));
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(samples.size(), 1400u);
    EXPECT_EQ(samples[0].operateMode, 3);
    EXPECT_DOUBLE_EQ(samples[0].dcMillivolts, 300.0);
    EXPECT_DOUBLE_EQ(samples[0].acMillivolts, 1.0);
    EXPECT_EQ(samples[0].acCode, 1600);
    EXPECT_EQ(samples[699].index, 699u);
    EXPECT_DOUBLE_EQ(samples[700].dcMillivolts, -20.0);
    EXPECT_EQ(samples[700].acCode, -800);
    EXPECT_DOUBLE_EQ(samples[1399].acMillivolts, -0.5);
}

// One corrupted byte of an otherwise good packet, and the problem it must raise.
struct Corruption {
    const char* name;
    std::size_t offset;
    std::uint8_t value;
    const char* expected;
    std::size_t problems;  // a corrupted sequence number breaks the run twice: there and back
    std::size_t samples;   // samples still delivered
};

class StreamDecoderCorruption : public ::testing::TestWithParam<Corruption> {};

TEST_P(StreamDecoderCorruption, IsReported) {
    const Corruption& c = GetParam();
    StreamDecoder decoder;
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    Bytes packet = EcgPacket(0, 32767, 0.0);
    packet[c.offset] = c.value;
    EXPECT_FALSE(decoder.Decode(packet.data(), &samples, &errors));
    ASSERT_EQ(errors.size(), c.problems);
    EXPECT_NE(errors[0].find(c.expected), std::string::npos) << errors[0];
    EXPECT_EQ(samples.size(), c.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, StreamDecoderCorruption,
    ::testing::Values(Corruption{"FirstByte", 64 * 3, 0x02, "sub-packet 3: first byte", 1, 700},
                      Corruption{"OperateMode", 64 * 4 + 1, 0x07, "operate mode", 1, 700},
                      Corruption{"ReservedBytes", 64 * 5 + 2, 0x01, "bytes 2..3", 1, 700},
                      Corruption{"GroupCount", 64 * 6 + 5, 13, "group count", 2, 699},
                      Corruption{"Sequence", 64 * 7 + 7, 0x63, "got 99, expected 7", 2, 700},
                      Corruption{"PacingMarker", 64 * 8 + 4, 15, "pacing marker", 1, 700}),
    [](const ::testing::TestParamInfo<Corruption>& info) { return info.param.name; });

TEST(StreamDecoderPacket, FillBytesMustBeZero) {
    // Mode 0x0B: 7 groups of 8 bytes fill the sub-packet; mode 0x0F leaves 8 bytes of fill.
    StreamDecoder decoder;
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    Bytes packet = MakePacket(0x0F, 4, 0, [](int) { return std::vector<std::uint16_t>(6, 1); });
    packet[64 * 2 + 63] = 0x5A;
    EXPECT_FALSE(decoder.Decode(packet.data(), &samples, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("fill byte"), std::string::npos) << errors[0];
}

TEST(StreamDecoderPacket, SequenceContinuesAcrossPacketsAndRestartsAtZero) {
    StreamDecoder decoder;
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    EXPECT_TRUE(decoder.Decode(EcgPacket(65500, 0, 0).data(), &samples, &errors));
    EXPECT_TRUE(
        decoder.Decode(EcgPacket(14, 0, 0).data(), &samples, &errors));         // 65550 wraps to 14
    EXPECT_TRUE(decoder.Decode(EcgPacket(0, 0, 0).data(), &samples, &errors));  // new playback
    EXPECT_FALSE(decoder.Decode(EcgPacket(51, 0, 0).data(), &samples, &errors));  // one lost
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("got 51, expected 50"), std::string::npos) << errors[0];
}

TEST(StreamDecoderPacket, PacingMarkerFlagsItsSample) {
    StreamDecoder decoder;
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    Bytes packet = EcgPacket(0, 100, 0);
    packet[64 * 2 + 4] = 3;  // third sample of sub-packet 2
    EXPECT_TRUE(decoder.Decode(packet.data(), &samples, &errors));
    std::vector<std::size_t> flagged;
    for (const auto& s : samples) {
        if (s.pacing) flagged.push_back(s.index);
    }
    EXPECT_EQ(flagged, std::vector<std::size_t>{2 * 14 + 2});
}

TEST(StreamDecoderPacket, PpgSlotsAndRespirationLayouts) {
    StreamDecoder decoder;
    std::vector<DecodedSample> samples;
    std::vector<std::string> errors;
    // Mode 0x0F: ECG plus two PPG slots, 4 groups of 12 bytes.
    const Bytes ppg = MakePacket(0x0F, 4, 0, [](int n) {
        return std::vector<std::uint16_t>{32767, 0,  100, static_cast<std::uint16_t>(200 + n),
                                          300,   400};
    });
    EXPECT_TRUE(decoder.Decode(ppg.data(), &samples, &errors));
    ASSERT_EQ(samples.size(), 200u);
    EXPECT_EQ(samples[5].ppgSlots, 2);
    EXPECT_EQ(samples[5].ppg[0][0], 100);
    EXPECT_EQ(samples[5].ppg[0][1], 205);
    EXPECT_EQ(samples[5].ppg[1][0], 300);
    EXPECT_EQ(samples[5].ppg[1][1], 400);

    // Mode 0x23: ECG plus three potentiometer codes and the baseline code, 4 groups of 12 bytes.
    samples.clear();
    const Bytes resp = MakePacket(0x23, 4, 50, [](int) {
        return std::vector<std::uint16_t>{32767, 16, 511, 1023, 40, 2500};
    });
    EXPECT_TRUE(decoder.Decode(resp.data(), &samples, &errors));
    ASSERT_EQ(samples.size(), 200u);
    EXPECT_TRUE(samples[0].respiration);
    EXPECT_EQ(samples[0].acCode, 16);
    EXPECT_EQ(samples[0].respirationCodes, (std::array<std::uint16_t, 4>{511, 1023, 40, 2500}));

    // The stop packet of that layout may declare 14 groups of DC and AC codes.
    samples.clear();
    const Bytes stop = MakePacket(0x23, 14, 100, [](int) {
        return std::vector<std::uint16_t>{32767, 0};
    });
    EXPECT_TRUE(decoder.Decode(stop.data(), &samples, &errors));
    EXPECT_EQ(samples.size(), 700u);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
