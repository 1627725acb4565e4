// The PPG module's controls and photodiode sampling against the virtual device: the exact
// requests on the line, the values read back, the refusals without a module, and sampling
// reports decoded through the application's callbacks.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "protocol/ByteFrames.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using namespace std::chrono_literals;

class PpgControlTest : public DeviceFixture {
  protected:
    vdev::VirtualDevice& Connect(vdev::Preset preset = vdev::Preset::kPpg2012) {
        vdev::VirtualDevice& device = StartDevice(preset);
        EXPECT_TRUE(TOLVConnect(0, 20000));
        return device;
    }

    // Requests sent since the last ClearLog, but for flash reads (the factory settings that the
    // resets read when they are not loaded yet).
    static std::vector<Bytes> Sent(const vdev::VirtualDevice& device) {
        std::vector<Bytes> out;
        for (const auto& entry : device.Requests()) {
            const Bytes& b = entry.bytes;
            if (b.size() == 64 && b[0] == 0x12 && b[1] == 0x55 && b[3] == 0x00) continue;
            out.push_back(b);
        }
        return out;
    }
};

// ---- Requests of each operation ------------------------------------------------------------

struct OperationCase {
    std::string name;
    std::function<bool()> call;  // the operation and the check of its result
    std::vector<Bytes> requests;
};

class PpgOperation : public PpgControlTest, public testing::WithParamInterface<OperationCase> {};

TEST_P(PpgOperation, SendsExactlyItsRequestAndSucceeds) {
    vdev::VirtualDevice& device = Connect();
    device.ClearLog();
    EXPECT_TRUE(GetParam().call());
    EXPECT_EQ(Sent(device), GetParam().requests);
}

bool PulseGroupWriteWithFlag() {
    LED_PULSE_GROUP group = {{2, 1, 3, 0, 0, 0, 0, 0}, 0};
    return TOLVWriteLEDPulseGroupSetting(&group);
}

const OperationCase kOperations[] = {
    {"SetPPGLedLevel", [] { return SetPPGLedLevel(3, 200) == 0; }, {Hex("CC FF 12 00 C8")}},
    {"SetPPGTriggerLevel", [] { return SetPPGTriggerLevel(3, 7) == 0; }, {Hex("CC FF 13 00 07")}},
    // The preset's trigger level of LED 2.
    {"GetPPGTriggerLevel", [] { return GetPPGTriggerLevel(2) == 32; }, {Hex("CC 00 04 00 00")}},
    {"SetLEDAmbientLightMode",
     [] { return TOLVSetLEDAmbientLightMode(9) == 0; },
     {Hex("B0 FF 10 00 09 00")}},
    {"GetLEDAmbientLightMode",
     [] { return TOLVGetLEDAmbientLightMode() == 0; },
     {Hex("B0 00 10 00 00 00")}},
    {"EnableDynamicLEDStrength",
     [] { return EnableDynamicLEDStrength(5); },
     {Hex("B0 FF 03 00 01")}},
    {"TOLVEnableDynamicLEDStrength",
     [] { return TOLVEnableDynamicLEDStrength(false); },
     {Hex("B0 FF 03 00 00")}},
    {"EnableSignalStrengthDetection",
     [] { return EnableSignalStrengthDetection(1); },
     {Hex("B0 FF 01 00 01")}},
    {"ReadFGPASamplingStatus",
     [] {
         FGPA_SAMPLING_OUT status = {};
         // Byte 9.. of the record: the preset's first photodiode value 1000 = 0x3E8 -> 3E 8.
         return ReadFGPASamplingStatus(&status) && status.Bytes[0] == 0xB0 &&
                status.Bytes[9] == 0x3E && (status.Bytes[10] >> 4) == 0x8;
     },
     {Hex("B0 00 02 00 00")}},
    {"GetAutoTriggerLevelStatus",
     [] {
         unsigned char status[10] = {};
         return GetAutoTriggerLevelStatus(status);
     },
     {Hex("B0 00 30 00")}},
    {"GetPDStatus",
     [] {
         int v[6] = {};
         return GetPDStatus(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 0 && v[0] == 1000 &&
                v[1] == 2000 && v[2] == 1500 && v[3] == 2500 && v[4] == 1200 && v[5] == 2200;
     },
     {Hex("B0 00 02")}},
    {"WriteLEDPulseGroupSettingFlagsSlot0WithPeriod0",
     PulseGroupWriteWithFlag,
     {Frame(64, {{0, "EA FF 00"}, {35, "01 00 00"}, {40, "02 01 04"}})}},
    {"ReadLEDPulseGroupSetting",
     [] {
         LED_PULSE_GROUP group = {};
         return TOLVReadLEDPulseGroupSetting(&group);
     },
     {Frame(64, {{0, "EA FF 00"}})}},
    {"ReadCalibrationSetting",
     [] {
         unsigned char value = 0xEE;
         return ReadCalibrationSetting(7, &value) && value == 0;
     },
     {Frame(64, {{0, "CC 00 07"}})}},
    {"WriteCalibrationSetting16",
     [] { return WriteCalibrationSetting16(25, 0x1234); },
     {Frame(64, {{0, "CC FF 19 00 34 12"}})}},
    {"WriteCalibrationSettingBytes",
     [] {
         const unsigned char bytes[3] = {9, 8, 7};
         return WriteCalibrationSettingBytes(40, bytes, 3);
     },
     {Frame(64, {{0, "CC FF 28 00 09 08 07"}})}},
    {"ResetPPGTriggerLevelSkipsTheEmptySlot",
     [] { return ResetPPGTriggerLevel() == 0; },
     {Hex("CC FF 03 00 1E"), Hex("CC FF 04 00 20")}},
};

INSTANTIATE_TEST_SUITE_P(Requests, PpgOperation, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<OperationCase>& info) {
                             return info.param.name;
                         });

TEST_F(PpgControlTest, WrittenValuesReadBack) {
    vdev::VirtualDevice& device = Connect();
    ASSERT_EQ(TOLVSetLEDAmbientLightMode(14), 0);
    EXPECT_EQ(device.AmbientLightMode(), 14);
    EXPECT_EQ(TOLVGetLEDAmbientLightMode(), 14);
    ASSERT_EQ(SetPPGTriggerLevel(1, 77), 0);
    EXPECT_EQ(GetPPGTriggerLevel(1), 77);
    ASSERT_TRUE(WriteCalibrationSetting16(26, 0xBEEF));
    uint16_t word = 0;
    ASSERT_TRUE(ReadCalibrationSetting16(26, &word));
    EXPECT_EQ(word, 0xBEEF);
    const LED_PULSE_GROUP written = {{0, 1, 2, 3, 0, 3, 2, 1}, 1250};
    ASSERT_TRUE(TOLVWriteLEDPulseGroupSetting(&written));
    LED_PULSE_GROUP read = {};
    ASSERT_TRUE(TOLVReadLEDPulseGroupSetting(&read));
    EXPECT_EQ(Bytes(read.Slot, read.Slot + 8), Bytes(written.Slot, written.Slot + 8));
    EXPECT_EQ(read.Period, 1250);
}

TEST_F(PpgControlTest, ArgumentsOutOfRangeSendNothing) {
    vdev::VirtualDevice& device = Connect();
    device.ClearLog();
    EXPECT_EQ(SetPPGLedLevel(3, 256), -2);
    EXPECT_EQ(SetPPGLedLevel(4, 10), -1);
    EXPECT_EQ(SetPPGTriggerLevel(0, 10), -2);
    EXPECT_EQ(SetPPGTriggerLevel(1, -1), -3);
    EXPECT_EQ(GetPPGTriggerLevel(4), -2);
    EXPECT_EQ(TOLVSetLEDAmbientLightMode(15), -2);
    EXPECT_EQ(TOLVSetLEDAmbientLightMode(-1), -2);
    EXPECT_FALSE(TOLVReadLEDPulseGroupSetting(nullptr));
    EXPECT_FALSE(TOLVWriteLEDPulseGroupSetting(nullptr));
    EXPECT_FALSE(ReadFGPASamplingStatus(nullptr));
    EXPECT_FALSE(GetAutoTriggerLevelStatus(nullptr));
    EXPECT_FALSE(WriteCalibrationSettingBytes(1, nullptr, 1));
    const unsigned char big[61] = {};
    EXPECT_FALSE(WriteCalibrationSettingBytes(1, big, 61));
    EXPECT_FALSE(ReadCalibrationSetting(256, nullptr));
    EXPECT_EQ(TOLVEnablePPGSampling(4, nullptr), -4);
    EXPECT_TRUE(Sent(device).empty());
}

TEST_F(PpgControlTest, ResetLedLevelsUseTheFactoryLevelsAnd150ForAZeroOnAUsedSlot) {
    vdev::VirtualDevice& device = StartDevice(vdev::Preset::kPpg2012);
    // Factory record: valid, LED 1 level 0, LED 2 level 90, triggers, LED 3 level 0 (its slot is
    // empty on module 0x2012).
    ASSERT_TRUE(device.WriteFlash(19, 5120, Hex("01 00 5A 1E 20 00 22")));
    ASSERT_TRUE(TOLVConnect(0, 20000));
    device.ClearLog();
    EXPECT_EQ(ResetPPGLedLevel(), 0);
    EXPECT_EQ(Sent(device), (std::vector<Bytes>{Hex("CC FF 01 00 96"), Hex("CC FF 02 00 5A"),
                                                Hex("CC FF 12 00 00")}));
}

TEST_F(PpgControlTest, DynamicLightIsSentOnlyWhenItChanges) {
    vdev::VirtualDevice& device = Connect();
    device.ClearLog();
    EXPECT_EQ(SetDynamicLight(1), 0);
    EXPECT_TRUE(Sent(device).empty());
    EXPECT_EQ(SetDynamicLight(0), 0);
    EXPECT_EQ(SetDynamicLight(0), 0);
    EXPECT_EQ(Sent(device), std::vector<Bytes>{Hex("B0 FF 03 00 00")});
    EXPECT_FALSE(device.DynamicLedEnabled());
    // A lost reply leaves the state last sent in force: the same change is sent again.
    vdev::FaultRule lost;
    lost.firstByte = 0xB0;
    lost.count = 1;
    device.AddFault(lost);
    device.ClearLog();
    EXPECT_EQ(SetDynamicLight(1), -1);
    EXPECT_EQ(SetDynamicLight(1), 0);
    EXPECT_EQ(Sent(device), (std::vector<Bytes>{Hex("B0 FF 03 00 01"), Hex("B0 FF 03 00 01")}));
    EXPECT_TRUE(device.DynamicLedEnabled());
    EXPECT_EQ(SetDynamicLight(0), 0);  // back to the state of the load for the next test
}

TEST_F(PpgControlTest, WithoutAModuleTheModuleOperationsAreRefused) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent);
    device.ClearLog();
    EXPECT_FALSE(TOLVIsPPGConnected());
    EXPECT_EQ(TOLVSetLEDAmbientLightMode(3), -1);
    EXPECT_EQ(TOLVGetLEDAmbientLightMode(), -1);
    EXPECT_EQ(TOLVEnablePPGSampling(0, nullptr), -2);
    EXPECT_EQ(TOLVStartPPGSampling(), -2);
    EXPECT_TRUE(Sent(device).empty());
    // The module's own commands go out and come back unacknowledged.
    EXPECT_FALSE(EnableSignalStrengthDetection(1));
    EXPECT_FALSE(TOLVEnableDynamicLEDStrength(true));
    int v = 0;
    EXPECT_EQ(GetPDStatus(&v, nullptr, nullptr, nullptr, nullptr, nullptr), -4);
}

TEST(PpgModuleNoDevice, OperationsNeedAConnection) {
    EXPECT_EQ(SetPPGTriggerLevel(1, 10), -1);
    EXPECT_EQ(GetPPGTriggerLevel(1), -1);
    EXPECT_EQ(ResetPPGTriggerLevel(), -1);
    EXPECT_EQ(SetPPGLedLevel(1, 10), -3);
    EXPECT_EQ(GetPDStatus(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(TOLVSetLEDAmbientLightMode(1), -1);
    EXPECT_EQ(TOLVEnablePPGSampling(0, nullptr), -1);
    EXPECT_EQ(TOLVStartPPGSampling(), -1);
    EXPECT_EQ(TOLVDisablePPGSampling(), 0);
    EXPECT_FALSE(TOLVIsPlaying());
}

// ---- Photodiode sampling -------------------------------------------------------------------

using Sample = std::tuple<int, int, int>;  // input, value, status

std::mutex g_samplesMutex;
std::vector<Sample> g_samples;

void OnSample(int input, int value, int status) {
    std::lock_guard<std::mutex> lock(g_samplesMutex);
    g_samples.emplace_back(input, value, status);
}

std::vector<Sample> TakeSamples() {
    std::lock_guard<std::mutex> lock(g_samplesMutex);
    return std::move(g_samples);
}

std::size_t SampleCount() {
    std::lock_guard<std::mutex> lock(g_samplesMutex);
    return g_samples.size();
}

bool WaitForSamples(std::size_t count) {
    for (int i = 0; i < 500 && SampleCount() < count; ++i) std::this_thread::sleep_for(10ms);
    return SampleCount() >= count;
}

// The frames of the sampling reports the device sent, decoded here independently: per frame
// the samples of the subscribed inputs, then the status.
std::vector<std::vector<Sample>> SentFrames(const vdev::VirtualDevice& device,
                                            const std::vector<int>& subscribed) {
    std::vector<std::vector<Sample>> frames;
    for (const auto& entry : device.Log()) {
        if (entry.direction != vdev::Direction::kDeviceToHost) continue;
        if (entry.note.find("sampling report") == std::string::npos) continue;
        const Bytes& r = entry.bytes;
        std::vector<int> inputs;
        for (int i = 0; i < 4; ++i) {
            if ((r[4] >> i) & 1) inputs.push_back(i);
        }
        const std::size_t size = 2 * inputs.size() + 1;
        for (std::size_t at = 8; at + size <= r.size(); at += size) {
            std::vector<Sample> frame;
            for (std::size_t j = 0; j < inputs.size(); ++j) {
                bool wanted = false;
                for (int s : subscribed) wanted = wanted || s == inputs[j];
                if (!wanted) continue;
                frame.emplace_back(inputs[j], r[at + 2 * j] * 256 + r[at + 2 * j + 1],
                                   r[at + size - 1]);
            }
            frames.push_back(frame);
        }
    }
    return frames;
}

struct SamplingCase {
    std::string name;
    std::vector<int> inputs;
    int mask;
};

class PpgSampling : public PpgControlTest, public testing::WithParamInterface<SamplingCase> {
  protected:
    void SetUp() override {
        PpgControlTest::SetUp();
        TakeSamples();
    }
};

TEST_P(PpgSampling, ReportsReachTheCallbacksOfTheSubscribedInputs) {
    const SamplingCase& c = GetParam();
    vdev::VirtualDevice& device = Connect();
    for (int input : c.inputs) ASSERT_EQ(TOLVEnablePPGSampling(input, OnSample), 0);
    EXPECT_FALSE(TOLVIsPlaying());
    device.ClearLog();
    ASSERT_EQ(TOLVStartPPGSampling(), 0);
    EXPECT_TRUE(TOLVIsPlaying());
    EXPECT_EQ(TOLVStartPPGSampling(), -3);
    EXPECT_EQ(TOLVEnablePPGSampling(0, OnSample), -3);
    const auto mask = static_cast<std::uint8_t>(c.mask);
    EXPECT_EQ(Sent(device), (std::vector<Bytes>{Bytes{0xAD, 0xFF, 0x00, 0x00, mask},
                                                Bytes{0xAD, 0x00, 0x00, 0x00, mask}}));
    ASSERT_TRUE(WaitForSamples(40 * c.inputs.size()));
    TOLVStopPPGSampling();
    EXPECT_FALSE(TOLVIsPlaying());
    EXPECT_FALSE(device.IsSampling());
    EXPECT_EQ(device.Requests().back().bytes, Hex("AD FF 00 00 00"));

    // Every delivered frame is a frame the device sent, whole and in order; a report that a
    // command's reply read took is skipped as a whole.
    const std::vector<Sample> got = TakeSamples();
    const auto frames = SentFrames(device, c.inputs);
    std::size_t next = 0;
    std::size_t matched = 0;
    for (std::size_t at = 0; at < got.size(); at += c.inputs.size()) {
        const std::vector<Sample> frame(
            got.begin() + static_cast<std::ptrdiff_t>(at),
            got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), at + c.inputs.size())));
        while (next < frames.size() && frames[next] != frame) ++next;
        ASSERT_LT(next, frames.size()) << "frame " << at / c.inputs.size() << " was not sent";
        ++next;
        ++matched;
    }
    EXPECT_GE(matched, 40u);
}

INSTANTIATE_TEST_SUITE_P(Masks, PpgSampling,
                         testing::Values(SamplingCase{"input0", {0}, 1},
                                         SamplingCase{"inputs0and2", {0, 2}, 5},
                                         SamplingCase{"inputs0_1_3", {0, 1, 3}, 15}),
                         [](const testing::TestParamInfo<SamplingCase>& info) {
                             return info.param.name;
                         });

TEST_F(PpgControlTest, StartNeedsASubscriptionOfThisSession) {
    Connect();
    EXPECT_EQ(TOLVStartPPGSampling(), -4);
    EXPECT_FALSE(TOLVIsPlaying());
    ASSERT_EQ(TOLVEnablePPGSampling(3, OnSample), 0);
    TOLVFree();
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(TOLVStartPPGSampling(), -4);
}

TEST_F(PpgControlTest, DisableWhileSamplingStopsTheConverterAndEndsPlaying) {
    vdev::VirtualDevice& device = Connect();
    TakeSamples();
    ASSERT_EQ(TOLVEnablePPGSampling(1, OnSample), 0);
    ASSERT_EQ(TOLVStartPPGSampling(), 0);
    ASSERT_TRUE(WaitForSamples(5));
    device.ClearLog();
    EXPECT_EQ(TOLVDisablePPGSampling(), 0);
    EXPECT_EQ(Sent(device), std::vector<Bytes>{Hex("AD FF 00 00 00")});
    EXPECT_FALSE(device.IsSampling());
    EXPECT_FALSE(TOLVIsPlaying());
    // The subscriptions are gone: a start needs a new one.
    EXPECT_EQ(TOLVStartPPGSampling(), -4);
    // A device command runs as it does when idle.
    EXPECT_EQ(TOLVSetLEDAmbientLightMode(2), 0);
}

TEST_F(PpgControlTest, AFailedDisableKeepsSamplingForARetry) {
    vdev::VirtualDevice& device = Connect();
    ASSERT_EQ(TOLVEnablePPGSampling(0, OnSample), 0);
    ASSERT_EQ(TOLVStartPPGSampling(), 0);
    // The device vanishes: the stop cannot be written.
    device.Unplug();
    for (int i = 0; i < 500 && TOLVIsConnected(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(TOLVIsPlaying());  // the lost connection ended sampling
    EXPECT_EQ(TOLVDisablePPGSampling(), -1);
    ASSERT_TRUE(device.Replug());
    for (int i = 0; i < 1000 && !TOLVIsConnected(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(TOLVIsConnected());
    EXPECT_EQ(TOLVDisablePPGSampling(), 0);
    EXPECT_EQ(TOLVStartPPGSampling(), -4);
}

}  // namespace
