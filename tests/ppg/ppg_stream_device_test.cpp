// PPG channels on the wire: the slot layouts of the stream packet with their exact codes, the
// LED synchronisation codes and AC calibration modes of the output configuration, the levels the
// virtual module plays, and a channel cleared while it plays.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/ByteFrames.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using namespace std::chrono_literals;

bool IsStream(const Bytes& b) {
    return b.size() == 3200;
}
bool IsFullOutputConfig(const Bytes& b) {
    return b.size() == 17 && b[0] == 0x00 && b[1] == 0xFF;
}

class PpgStreamTest : public DeviceFixture {
  protected:
    // Constant levels on the three channels (one-entry tables); the ECG path plays 0 mV.
    static void InstallLevels() {
        const struct {
            int sync;
            double dc;
            double ac;
        } levels[3] = {{1, 3000, 30}, {2, 1500, 18.75}, {1, 750, 7.5}};
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(
                TOLVSetPPGRawData(k, levels[k].sync, 0, 1, &levels[k].dc, &levels[k].ac, 10000), 0);
        }
        ASSERT_EQ(TOLVEnableECGOutput(false), 0);
    }
    static Bytes FirstStreamPacket(vdev::VirtualDevice& device) {
        const auto packet = device.WaitForRequest(IsStream, 10s);
        return packet ? packet->bytes : Bytes{};
    }
};

struct LayoutCase {
    std::string name;
    vdev::Preset preset;
    std::vector<int> channels;
    std::uint8_t operateMode;
    int groups;
    const char* group;  // one sample group: ECG DC, ECG AC, then the PPG slots
};

class PpgLayout : public PpgStreamTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(PpgLayout, EverySubPacketCarriesTheChannelsCodesInSlotOrder) {
    const LayoutCase& c = GetParam();
    vdev::VirtualDevice& device = StartDevice(c.preset);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    InstallLevels();
    for (int k : c.channels) ASSERT_EQ(TOLVEnablePPGOutput(k, true), 0);
    EXPECT_EQ(TOLVGetSampleRate(), 10000);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    const Bytes packet = FirstStreamPacket(device);
    ASSERT_TRUE(TOLVIsPlaying());
    TOLVSetOutputFunction(OUTPUT_OFF);
    ASSERT_EQ(packet.size(), 3200u);

    const Bytes group = Hex(c.group);
    for (int j = 0; j < 50; ++j) {
        Bytes expected(64, 0);
        expected[0] = 0x01;
        expected[1] = c.operateMode;
        expected[5] = static_cast<std::uint8_t>(c.groups);
        expected[7] = static_cast<std::uint8_t>(j);
        for (int k = 0; k < c.groups; ++k) {
            std::copy(group.begin(), group.end(), expected.begin() + 8 + k * group.size());
        }
        const Bytes sub(packet.begin() + 64 * j, packet.begin() + 64 * (j + 1));
        ASSERT_EQ(sub, expected) << "sub-packet " << j;
    }
    EXPECT_TRUE(device.Stats().errors.empty());
}

// ECG: 0 mV is DC code 0x8029 of the preset's calibration table, AC 0. PPG levels of channels
// 0, 1, 2: DC 3000, 1500, 750 and AC 30, 18.75, 7.5 of the module's full scales.
const LayoutCase kLayouts[] = {
    // 12-bit module, map 1, 2, 3: channel 1 in slot 0x04.
    {"Ppg2012OneChannel", vdev::Preset::kPpg2012, {1}, 0x07, 7, "80 29 00 00  07 FF 09 FF"},
    // Channels 1 and 2: slots 0x04 and 0x08.
    {"Ppg2012TwoChannels",
     vdev::Preset::kPpg2012,
     {1, 2},
     0x0F,
     4,
     "80 29 00 00  07 FF 09 FF  03 FF 03 FF"},
    // Channel 0 is not in the module's map: it plays nowhere.
    {"Ppg2012UnmappedChannel", vdev::Preset::kPpg2012, {0, 2}, 0x0B, 7, "80 29 00 00  03 FF 03 FF"},
    // No module: slots 0x04 (map entry 0 of an empty record: channel 0), 0x08 (2), 0x10 (0).
    {"NoModuleThreeChannels",
     vdev::Preset::kCurrent,
     {0, 1, 2},
     0x1F,
     3,
     "80 29 00 00  0F FF 0F FF  03 FF 03 FF  0F FF 0F FF"},
    // 16-bit module with the finger model: DC through the module's DC tables (slot 0 passes
    // 3/4, slot 1 1/2), AC by calibration mode (0: 300 full scale, level word 60000; 1: 15,
    // 56000).
    {"Ppg2112TwoChannels",
     vdev::Preset::kPpg2112,
     {1, 2},
     0x0F,
     4,
     "80 29 00 00  5F FF 0E A6  1F FF 6D 60"},
};
INSTANTIATE_TEST_SUITE_P(Stream, PpgLayout, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return info.param.name; });

TEST_F(PpgStreamTest, OutputConfigurationCarriesSyncCodesAndAcModesAndTheModulePlaysTheLevels) {
    vdev::VirtualDevice& device = StartDevice(vdev::Preset::kPpg2112);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    InstallLevels();
    ASSERT_EQ(TOLVEnablePPGOutput(1, true), 0);
    ASSERT_EQ(TOLVEnablePPGOutput(2, true), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(3, 10s));
    TOLVSetOutputFunction(OUTPUT_OFF);

    // The last full configuration sent before the stream: operate mode 0x0F at 10000 samples/s,
    // LED sync codes of channels 1, 2, 0 (2, 1, off) and AC modes of channels 1, 2, 0 (0, 1, 0).
    Bytes config;
    for (const auto& entry : device.Requests()) {
        if (IsStream(entry.bytes)) break;
        if (IsFullOutputConfig(entry.bytes)) config = entry.bytes;
    }
    ASSERT_EQ(config.size(), 17u);
    EXPECT_EQ(config[2], 0x0F);
    EXPECT_EQ(Bytes(config.begin() + 3, config.begin() + 5), Hex("27 10"));
    EXPECT_EQ(Bytes(config.begin() + 8, config.begin() + 14), Hex("02 01 00  00 01 00"));

    const auto samples = device.DecodedSamples();
    ASSERT_FALSE(samples.empty());
    const vdev::DecodedSample& s = samples.front();
    EXPECT_FALSE(s.ppgCarried[0]);
    ASSERT_TRUE(s.ppgCarried[1]);
    ASSERT_TRUE(s.ppgCarried[2]);
    EXPECT_DOUBLE_EQ(s.ppgAcLevel[1], 18.75);
    EXPECT_DOUBLE_EQ(s.ppgAcLevel[2], 7.5);
    EXPECT_NEAR(s.ppgDcLevel[1], 1125.0, 0.1) << "3/4 of 1500 through the finger model";
    EXPECT_NEAR(s.ppgDcLevel[2], 375.0, 0.1);
}

TEST_F(PpgStreamTest, ChannelClearedWhilePlayingPlaysZeroFromTheNextPacket) {
    vdev::VirtualDevice& device = StartDevice(vdev::Preset::kPpg2012);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    InstallLevels();
    ASSERT_EQ(TOLVEnablePPGOutput(1, true), 0);
    ASSERT_EQ(TOLVEnablePPGOutput(2, true), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(2, 10s));
    const double one = 1.0;
    EXPECT_EQ(TOLVSetPPGRawData(1, 1, 0, 1, &one, &one, 100), -1) << "no install while playing";
    EXPECT_EQ(TOLVEnablePPGOutput(0, true), -1);
    // Clears race the packet builder from another thread as well.
    std::thread other([] {
        for (int i = 0; i < 200; ++i) TOLVClearPPGWaveform(2);
    });
    TOLVClearPPGWaveform(1);
    other.join();
    // Packets built before the clear may still be on their way: skip them.
    device.ClearDecoded();
    ASSERT_TRUE(device.WaitForPackets(3, 10s));
    device.ClearDecoded();
    ASSERT_TRUE(device.WaitForPackets(2, 10s));
    TOLVSetOutputFunction(OUTPUT_OFF);
    const auto samples = device.DecodedSamples();
    ASSERT_FALSE(samples.empty());
    for (const auto& s : samples) {
        ASSERT_EQ(s.ppgSlots, 2);
        ASSERT_EQ(s.ppg[0][0] + s.ppg[0][1] + s.ppg[1][0] + s.ppg[1][1], 0) << s.index;
    }
    EXPECT_TRUE(device.Stats().errors.empty());
}

}  // namespace
