// Impedance respiration against the virtual device: the settings write without the module,
// apnoea switched during playback and at stop, and the external module's 0x23 stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using vdev::Bytes;

class RespirationDeviceTest : public DeviceFixture {};

bool IsStreamPacket(const Bytes& r) {
    return r.size() == 3200 && r[0] == 0x01;
}
bool IsApneaWrite(const Bytes& r) {
    return r.size() == 64 && r[0] == 0xEA && r[1] == 0xFF && r[2] == 0x01;
}

TEST_F(RespirationDeviceTest, SettingsWithoutTheModuleAreOneNineteenByteWrite) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    device.ClearLog();
    EXPECT_FALSE(TOLVSetRespiration(40, 20, 2, 1000, 0));  // variation below 50
    EXPECT_FALSE(TOLVSetRespiration(1000, 20, 6, 1000, 0));
    EXPECT_FALSE(TOLVSetRespiration(1000, 20, 2, 1000, 61));
    EXPECT_TRUE(device.Requests().empty());
    ASSERT_TRUE(TOLVSetRespiration(1000, 20, 2, 1000, 0));
    Bytes expected(19, 0);
    expected[0] = 0xEA;
    expected[1] = 0xFF;
    expected[2] = 0x01;
    expected[8] = 20;  // rate
    expected[9] = 10;  // variation / 100
    expected[10] = 1;  // ratio - 1
    expected[11] = 1;  // 1000 ohms is selection 1
    const auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, expected);
    ASSERT_TRUE(TOLVSetRespiration(10000, 200, 5, 1200, 60));
    expected[8] = 200;
    expected[9] = 100;
    expected[10] = 4;
    expected[11] = 0;  // 1200 ohms is not listed
    EXPECT_EQ(device.Requests().back().bytes, expected);
    int v = 0, rate = 0, ratio = 0, baseline = 0, apnea = 0;
    ASSERT_TRUE(TOLVGetRespiration(&v, &rate, &ratio, &baseline, &apnea));
    EXPECT_EQ(v, 10000);
    EXPECT_EQ(rate, 200);
    EXPECT_EQ(ratio, 5);
    EXPECT_EQ(baseline, 1200);
    EXPECT_EQ(apnea, 60);
}

TEST_F(RespirationDeviceTest, ApnoeaGoesOnAtSecondFiftyOffAtSecondZeroAndOffAtStop) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_TRUE(TOLVEnableRespiration(true));
    ASSERT_TRUE(TOLVSetRespiration(1000, 20, 2, 1000, 10));
    device.ClearLog();
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    const auto on = device.WaitForRequest(
        [](const Bytes& r) { return IsApneaWrite(r) && r[12] == 1; }, std::chrono::seconds(120));
    ASSERT_TRUE(on);
    // Past second 60 of graph time (1715 packets of 35 ms), and the switch after it.
    ASSERT_TRUE(device.WaitForPackets(1720, std::chrono::seconds(120)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);

    // Count the stream packets (700 samples at 20000/s, 35 ms each) sent before each switch: the
    // check follows the packet that takes graph time to second 50 (on), then to second 60 (off),
    // and runs before that packet is written. Block writes before the first packet and after the
    // stop packet are the pacing settings of the start and the stop.
    const auto requests = device.Requests();
    std::vector<int> switches;  // packets written before each apnoea write
    std::vector<int> flags;
    int packets = 0;
    int writesAfterStop = 0;
    const auto stop =
        std::find_if(requests.rbegin(), requests.rend(), [](const vdev::TrafficEntry& e) {
            return IsStreamPacket(e.bytes);
        }).base();
    for (auto it = requests.begin(); it != requests.end(); ++it) {
        if (IsStreamPacket(it->bytes)) ++packets;
        if (!IsApneaWrite(it->bytes)) continue;
        if (it >= stop) {
            ++writesAfterStop;
        } else if (packets > 0) {
            switches.push_back(packets);
            flags.push_back(it->bytes[12]);
            // The block keeps the respiration fields.
            EXPECT_EQ(it->bytes[8], 20);
            EXPECT_EQ(it->bytes[9], 10);
            EXPECT_EQ(it->bytes[11], 1);
        }
    }
    auto packetReaching = [](double second) {
        int k = 1;
        while (k * 700 / 20000.0 < second) ++k;
        return k - 1;
    };
    ASSERT_GE(switches.size(), 2u);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(switches[0], packetReaching(50.0));
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(switches[1], packetReaching(60.0));
    // Apnoea still on at the stop adds its switch-off to the pacing write of the stop.
    EXPECT_EQ(writesAfterStop, flags.back() == 1 ? 2 : 1);
}

TEST_F(RespirationDeviceTest, ApnoeaThatIsOnGoesOffWhenPlaybackStops) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_TRUE(TOLVEnableRespiration(true));
    ASSERT_TRUE(TOLVSetRespiration(1000, 20, 2, 1000, 60));  // the whole minute
    device.ClearLog();
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    ASSERT_TRUE(device.WaitForRequest([](const Bytes& r) { return IsApneaWrite(r) && r[12] == 1; },
                                      std::chrono::seconds(10)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto requests = device.Requests();
    auto last = std::find_if(requests.rbegin(), requests.rend(),
                             [](const vdev::TrafficEntry& e) { return IsApneaWrite(e.bytes); });
    ASSERT_NE(last, requests.rend());
    EXPECT_EQ(last->bytes[12], 0);
    // After the stop packet: apnoea off (with the respiration fields), then the pacing write.
    const auto stop =
        std::find_if(requests.rbegin(), requests.rend(), [](const vdev::TrafficEntry& e) {
            return IsStreamPacket(e.bytes);
        }).base();
    std::vector<Bytes> writes;
    for (auto it = stop; it != requests.end(); ++it) {
        if (IsApneaWrite(it->bytes)) writes.push_back(it->bytes);
    }
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0][12], 0);
    EXPECT_EQ(writes[0][8], 20);
}

TEST_F(RespirationDeviceTest, ExternalModuleStreamsTheBreathingResistanceAt5000PerSecond) {
    auto& device = StartDevice(vdev::Preset::kRespiration);
    ASSERT_TRUE(TOLVConnect(0, 5000));
    EXPECT_TRUE(TOLVRespirationModuleIsConnected());
    EXPECT_EQ(TOLVGetSampleRate(), 5000);
    ASSERT_TRUE(TOLVEnableRespiration(true));
    device.ClearLog();
    ASSERT_TRUE(TOLVSetRespiration(1000, 20, 2, 1000, 0));
    // Baseline command: selection 4 (1000 ohms in the module's list), lead code 1 (lead 0 on);
    // then the module words with word 3 = baseline DAC code 4 of the flash table (1000 + 500k).
    const auto settings = device.Requests();
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[0].bytes, (Bytes{0xCC, 0xFF, 0x0E, 0x00, 4, 1}));
    EXPECT_EQ(settings[1].bytes, (Bytes{0xCC, 0x00, 0x0D, 0x00}));
    ASSERT_EQ(settings[2].bytes.size(), 64u);
    EXPECT_EQ(Bytes(settings[2].bytes.begin(), settings[2].bytes.begin() + 12),
              (Bytes{0xCC, 0xFF, 0x0D, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 40, 0x0B, 0xB8}));

    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    ASSERT_TRUE(device.WaitForPackets(100, std::chrono::seconds(20)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto requests = device.Requests();
    auto first = std::find_if(requests.begin(), requests.end(),
                              [](const vdev::TrafficEntry& e) { return IsStreamPacket(e.bytes); });
    ASSERT_NE(first, requests.end());
    for (int j = 0; j < 50; ++j) {
        const std::uint8_t* sub = first->bytes.data() + 64 * j;
        EXPECT_EQ(sub[1], 0x23);
        EXPECT_EQ(sub[5], 4);
        EXPECT_EQ((sub[6] << 8) | sub[7], j);
        for (int b = 8 + 48; b < 64; ++b) EXPECT_EQ(sub[b], 0);
    }
    EXPECT_TRUE(device.Stats().errors.empty()) << device.Stats().errors.front();

    // The resistance the module makes follows one breath: 50 -> 51 ohms over 1 s, back over 2 s.
    const auto samples = device.DecodedSamples();
    ASSERT_GE(samples.size(), 15000u);
    constexpr double kPi = 3.14159265358979323846;
    for (std::size_t i = 0; i < 15000; i += 7) {
        const double t = std::fmod(i / 5000.0, 3.0);
        const double expected = t < 1.0 ? 50.5 + 0.5 * std::sin(kPi * t - kPi / 2)
                                        : 50.5 + 0.5 * std::cos(kPi * (t - 1.0) / 2.0);
        ASSERT_TRUE(samples[i].respiration) << i;
        ASSERT_NEAR(samples[i].respirationOhms, expected, 0.02) << "sample " << i;
        ASSERT_EQ(samples[i].respirationCodes[3], 3000) << i;
    }
}

}  // namespace
