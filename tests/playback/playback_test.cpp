// Playback end to end: on a virtual device (exact stream bytes, decoded by the device's own
// calibration) and without a device (the simulation timer drives the callbacks).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/OutputStage.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using vdev::Bytes;

struct Captured {
    std::mutex mutex;
    std::vector<std::pair<double, double>> points;
};
Captured* s_captured = nullptr;

void Capture(double t, double mv) {
    std::lock_guard<std::mutex> lock(s_captured->mutex);
    s_captured->points.emplace_back(t, mv);
}

void NoConnection(bool) {}

class PlaybackTest : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        s_captured = &m_captured;
    }
    void TearDown() override {
        TOLVSetOutputFunction(0);
        TOLVRegisterOutputSignalCallback(nullptr, 1);
        TOLVSetSynchronizationSignal(nullptr);
        DeviceFixture::TearDown();
        TOLVSetAmplitude(1.0);
        TOLVSetFrequency(1.0);
    }
    std::vector<std::pair<double, double>> Points() {
        std::lock_guard<std::mutex> lock(m_captured.mutex);
        return m_captured.points;
    }
    Captured m_captured;
};

bool IsStreamPacket(const Bytes& r) {
    return r.size() == 3200 && r[0] == 0x01;
}
bool IsFullOutputConfig(const Bytes& r) {
    return r.size() == 17 && r[0] == 0x00 && r[1] == 0xFF;
}

TEST_F(PlaybackTest, SineOnTheDeviceIsExactToTheCode) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetAmplitude(1.0), 0);
    ASSERT_EQ(TOLVSetFrequency(10.0), 0);
    device.ClearLog();
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    ASSERT_TRUE(device.WaitForPackets(6, std::chrono::milliseconds(5000)));
    EXPECT_TRUE(TOLVIsPlaying());
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_FALSE(TOLVIsPlaying());

    // The relay configuration goes out before the first packet: operate mode 3, 20000 samples/s,
    // output lead 0 (relay bit 16).
    const auto requests = device.Requests();
    auto firstPacket =
        std::find_if(requests.begin(), requests.end(),
                     [](const vdev::TrafficEntry& e) { return IsStreamPacket(e.bytes); });
    ASSERT_NE(firstPacket, requests.end());
    auto config =
        std::find_if(std::make_reverse_iterator(firstPacket), requests.rend(),
                     [](const vdev::TrafficEntry& e) { return IsFullOutputConfig(e.bytes); });
    ASSERT_NE(config, requests.rend());
    EXPECT_EQ(config->bytes,
              (Bytes{0x00, 0xFF, 0x03, 0x4E, 0x20, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // Every sub-packet of the first packet: header bytes and consecutive sequence numbers.
    const Bytes& packet = firstPacket->bytes;
    for (int j = 0; j < 50; ++j) {
        const std::uint8_t* sub = packet.data() + 64 * j;
        EXPECT_EQ(sub[0], 0x01);
        EXPECT_EQ(sub[1], 0x03);
        EXPECT_EQ(sub[5], 14);
        EXPECT_EQ((sub[6] << 8) | sub[7], j);
    }
    const auto stats = device.Stats();
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();

    // The samples: AC codes of 0.5 sin(2 pi 10 t) at 20000 samples/s, DC at 0 mV through the
    // device's own calibration table.
    const auto samples = device.DecodedSamples();
    ASSERT_GE(samples.size(), 3000u);
    for (std::size_t i = 0; i < 3000; ++i) {
        const double t = static_cast<double>(i) / 20000.0;
        const double p = t - std::trunc(t / 0.1) * 0.1;
        const double expected = std::trunc(1600.0 * 0.5 * std::sin(2 * M_PI * 10.0 * p));
        ASSERT_EQ(samples[i].acCode, static_cast<std::int16_t>(expected)) << "sample " << i;
        ASSERT_NEAR(samples[i].dcMillivolts, 0.0, 0.05) << "sample " << i;
    }
}

TEST_F(PlaybackTest, StopSendsTheStopPacketThenTheSwitchOffCommands) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetOutputFunction(3), 0);
    ASSERT_TRUE(device.WaitForPackets(3, std::chrono::milliseconds(5000)));
    device.ClearLog();
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto requests = device.Requests();
    // The stop packet is the last stream packet (the packet being built when the stop came may
    // also end in 0 mV).
    auto last = std::find_if(requests.rbegin(), requests.rend(),
                             [](const vdev::TrafficEntry& e) { return IsStreamPacket(e.bytes); });
    ASSERT_NE(last, requests.rend());
    auto stop = std::prev(last.base());
    const Bytes& packet = stop->bytes;
    const std::uint16_t zero = static_cast<std::uint16_t>((packet[8] << 8) | packet[9]);
    for (int j = 0; j < 50; ++j) {
        const std::uint8_t* sub = packet.data() + 64 * j;
        EXPECT_EQ(sub[5], 14);
        for (int k = 0; k < 14; ++k) {
            EXPECT_EQ((sub[8 + 4 * k] << 8) | sub[9 + 4 * k], zero);
            EXPECT_EQ((sub[10 + 4 * k] << 8) | sub[11 + 4 * k], 0);
        }
    }
    EXPECT_NEAR(device.Stats().errors.size(), 0, 0);
    // After the stop packet: the pacing settings (module block read, then write with zero
    // amplitude and width) and dynamic LED strength off.
    std::vector<Bytes> after;
    for (auto it = stop + 1; it != requests.end(); ++it) after.push_back(it->bytes);
    ASSERT_GE(after.size(), 3u);
    std::size_t i = 0;
    if (IsFullOutputConfig(after[i])) ++i;  // only if the relay configuration changed
    EXPECT_EQ(after[i], (Bytes{0xEA, 0x00, 0x01}));
    ASSERT_EQ(after[i + 1].size(), 64u);
    EXPECT_EQ(after[i + 1][0], 0xEA);
    EXPECT_EQ(after[i + 1][1], 0xFF);
    for (int b = 24; b <= 37; ++b) EXPECT_EQ(after[i + 1][b], 0) << "byte " << b;
    EXPECT_EQ(after[i + 2], (Bytes{0xB0, 0xFF, 0x03, 0x00, 0x00}));
}

TEST_F(PlaybackTest, WithoutADeviceTheTimerDrivesTheCallbacksInRealTime) {
    ASSERT_TRUE(TOLVInit(NoConnection));  // a session, but no device anywhere
    TOLVRegisterOutputSignalCallback(Capture, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(Eventually([this] { return Points().size() > 3000; }));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto count = Points().size();
    // Paced by the timer, not as fast as it can: at most three times the 20000 samples/s for the
    // time that really passed (a busy machine only lowers the count).
    EXPECT_LT(static_cast<double>(count), 60000.0 * seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Points().size(), count) << "no callback after the stop";
    const auto points = Points();
    for (std::size_t i = 1; i < points.size() && i < 5000; ++i) {
        ASSERT_GT(points[i].first, points[i - 1].first - 1e-9);
    }
}

// A session without a connection callback whose simulator goes away while playing: the
// playback waits for the simulator, and both the application's stop and TOLVFree still end it.
TEST_F(PlaybackTest, APlaybackThatOutlivedItsSimulatorCanStillBeStopped) {
    for (const bool byFree : {false, true}) {
        SCOPED_TRACE(byFree ? "TOLVFree" : "TOLVSetOutputFunction(0)");
        vdev::VirtualDevice& device = StartDevice();
        ASSERT_TRUE(TOLVConnect(0, 5000));
        ASSERT_TRUE(TOLVInit(nullptr));  // the session goes on; no callback from now on
        ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
        ASSERT_TRUE(Eventually([&device] { return device.Stats().packets > 2; }));
        device.Unplug();
        ASSERT_TRUE(Eventually([] { return !TOLVIsConnected(); }));
        ASSERT_TRUE(TOLVIsPlaying());
        EXPECT_EQ(TOLVSetOutputFunction(OUTPUT_SQUARE), -1) << "nothing starts without a session";
        if (byFree) {
            TOLVFree();
        } else {
            EXPECT_EQ(TOLVSetOutputFunction(0), 0);
        }
        EXPECT_FALSE(TOLVIsPlaying());
        EXPECT_EQ(TOLVSetOutputFunction(0), -1) << "nothing plays: the usual answer";
        TOLVFree();
        StopDevices();
    }
}

// A playback started before the simulator is found runs on the timer; when the simulator
// connects, its acknowledgements take over. Exactly one source sends packets: the device sees
// the real sample rate, consecutive sequence numbers and, from its first sample on, exactly the
// samples the callbacks showed, without a jump or a repeat. Repeated, since the handover races
// with the timer's ticks (TOLVAN_HANDOVER_RUNS sets the count for a stress run).
TEST_F(PlaybackTest, ATimerDrivenPlaybackHandsOverToTheDeviceThatConnects) {
    const char* runsText = std::getenv("TOLVAN_HANDOVER_RUNS");
    const int runs = runsText != nullptr ? std::max(1, std::atoi(runsText)) : 5;
    const double dt = 1.0 / 20000.0;
    double pacedSamples = 0.0;
    double pacedSeconds = 0.0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        {
            std::lock_guard<std::mutex> lock(m_captured.mutex);
            m_captured.points.clear();
        }
        ASSERT_TRUE(TOLVInit(NoConnection));  // no device yet
        TOLVRegisterOutputSignalCallback(Capture, 1);
        ASSERT_EQ(TOLVSetAmplitude(1.0), 0);
        ASSERT_EQ(TOLVSetFrequency(1.0), 0);
        ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
        ASSERT_TRUE(Eventually([this] { return Points().size() > 2000; }));

        vdev::Options options;
        options.config = vdev::MakePreset(vdev::Preset::kCurrent);  // acknowledged at real pace
        auto& device = StartDevice(options, 0);
        ASSERT_TRUE(device.WaitForPackets(30, std::chrono::milliseconds(8000)));
        ASSERT_EQ(TOLVSetOutputFunction(0), 0);
        TOLVFree();

        const auto stats = device.Stats();
        EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
        // One source: every packet but the one in flight and the one the device holds in
        // reserve waited for an acknowledgement (a timer sending on would outrun them).
        std::vector<vdev::Clock::time_point> times;
        std::size_t acks = 0;
        for (const auto& e : device.Log()) {
            if (e.direction == vdev::Direction::kHostToDevice && IsStreamPacket(e.bytes)) {
                times.push_back(e.time);
            } else if (e.note.rfind("StreamData ack", 0) == 0) {
                ++acks;
            }
        }
        ASSERT_GE(times.size(), 30u);
        EXPECT_LE(times.size(), acks + 2) << "packets sent without an acknowledgement";
        // Pace, packets 3 .. n-1 (the device holds one in reserve, the last is the stop packet):
        // summed over the runs, so that a busy machine delaying single packets does not count.
        pacedSamples += 700.0 * static_cast<double>(times.size() - 4);
        pacedSeconds += std::chrono::duration<double>(times[times.size() - 2] - times[2]).count();

        // The callbacks: one continuous clock from 0; the drift compensation repeats one time
        // point in 33,334.
        const auto points = Points();
        ASSERT_GT(points.size(), 20000u);
        EXPECT_EQ(points.front().first, 0.0);
        std::size_t repeats = 0;
        for (std::size_t i = 1; i < points.size(); ++i) {
            const double step = points[i].first - points[i - 1].first;
            if (step == 0.0) {
                ++repeats;
                continue;
            }
            ASSERT_NEAR(step, dt, 1e-9) << "sample " << i;
        }
        EXPECT_EQ(repeats, points.size() / 33334);
        // The device's samples (without the stop packet) are the callbacks' samples from a
        // packet boundary on.
        auto samples = device.DecodedSamples();
        ASSERT_GT(samples.size(), 1400u);
        samples.resize(samples.size() - 700);
        std::size_t first = 0;
        auto matchesFrom = [&](std::size_t offset, std::size_t count) {
            for (std::size_t i = 0; i < count; ++i) {
                if (offset + i >= points.size()) return false;
                if (std::fabs(samples[i].acMillivolts - points[offset + i].second) > 1.0 / 1600) {
                    return false;
                }
            }
            return true;
        };
        while (first < points.size() && !matchesFrom(first, 700)) first += 700;
        ASSERT_LT(first, points.size()) << "the device's first packet continues the callbacks";
        const std::size_t common = std::min(samples.size(), points.size() - first);
        EXPECT_GT(common, 15000u);
        EXPECT_TRUE(matchesFrom(first, common));
        StopDevices();
    }
    EXPECT_NEAR(pacedSamples / pacedSeconds, 20000.0, 200.0) << "samples per second on the wire";
}

TEST_F(PlaybackTest, ChangeWhilePlayingWaitsForTheEndOfThePeriod) {
    ASSERT_TRUE(TOLVInit(NoConnection));
    TOLVRegisterOutputSignalCallback(Capture, 1);
    ASSERT_EQ(TOLVSetFrequency(2.0), 0);  // 0.5 s period
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_EQ(TOLVSetAmplitude(4.0), 0);
    ASSERT_TRUE(Eventually([this] {
        const auto points = Points();
        return !points.empty() && points.back().first > 1.0;
    }));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    double firstPeriodPeak = 0.0;
    double secondPeriodPeak = 0.0;
    for (const auto& [t, mv] : Points()) {
        if (t < 0.4999) firstPeriodPeak = std::max(firstPeriodPeak, std::fabs(mv));
        if (t > 0.5001 && t < 0.9999) secondPeriodPeak = std::max(secondPeriodPeak, std::fabs(mv));
    }
    EXPECT_NEAR(firstPeriodPeak, 0.5, 1e-3) << "the first period keeps the old amplitude";
    EXPECT_NEAR(secondPeriodPeak, 2.0, 1e-3) << "the next period plays the new one";
}

TEST_F(PlaybackTest, StopBeforeTheFirstPacketStillStops) {
    ASSERT_TRUE(TOLVInit(NoConnection));
    void* signal = TOLVCreateSynchronizationSignal();
    ASSERT_NE(signal, nullptr);
    TOLVSetSynchronizationSignal(signal);
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);  // the play thread waits for the signal
    std::thread stopper([] { EXPECT_EQ(TOLVSetOutputFunction(0), 0); });
    stopper.join();  // returns although no packet was ever sent
    EXPECT_FALSE(TOLVIsPlaying());
    TOLVDestroySynchronizationSignal(signal);
}

TEST_F(PlaybackTest, SynchronisationSignalReleasesTheStart) {
    ASSERT_TRUE(TOLVInit(NoConnection));
    TOLVRegisterOutputSignalCallback(Capture, 1);
    void* signal = TOLVCreateSynchronizationSignal();
    TOLVSetSynchronizationSignal(signal);
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(Points().empty()) << "nothing plays before the signal";
    TOLVSynchronizationSignalSetEvent(signal);
    EXPECT_TRUE(Eventually([this] { return !Points().empty(); }));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    TOLVDestroySynchronizationSignal(signal);
}

TEST_F(PlaybackTest, CommandDuringPlaybackFitsBetweenPackets) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetOutputFunction(1), 0);
    ASSERT_TRUE(device.WaitForPackets(2, std::chrono::milliseconds(5000)));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
    const auto before = device.Stats().packets;
    ASSERT_TRUE(device.WaitForPackets(before + 3, std::chrono::milliseconds(5000)))
        << "the stream goes on after the commands";
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_TRUE(device.Stats().errors.empty());
}

}  // namespace
