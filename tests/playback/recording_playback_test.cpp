// Output 13 end to end: a recording set by the application plays on the virtual device, sample
// for sample, looping or once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

std::atomic<int> s_stops{0};
void CountStop() {
    ++s_stops;
}

class RecordingPlaybackTest : public DeviceFixture {
  protected:
    void TearDown() override {
        TOLVSetOutputFunction(0);
        TOLVSetFileLoop(true);
        RegisterStandardWaveformCB(nullptr);
        ClearRawArray();
        DeviceFixture::TearDown();
    }
};

// A 0.1 s ramp at 20000 samples/s: -2 .. +2 mV in 0.002 mV steps.
std::vector<double> Ramp() {
    std::vector<double> samples(2000);
    for (int i = 0; i < 2000; ++i) samples[i] = -2.0 + 0.002 * i;
    return samples;
}

TEST_F(RecordingPlaybackTest, LoopingRecordingRepeatsSampleForSample) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    const auto ramp = Ramp();
    SetRawArray(static_cast<int>(ramp.size()), ramp.data(), 20000);
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_ECG_FILE), 0);
    ASSERT_TRUE(device.WaitForPackets(10, std::chrono::milliseconds(5000)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto samples = device.DecodedSamples();
    ASSERT_GE(samples.size(), 6000u);
    for (std::size_t i = 0; i < 6000; ++i) {
        const double expected = std::trunc(1600.0 * ramp[i % 2000]);
        ASSERT_EQ(samples[i].acCode, static_cast<std::int16_t>(expected)) << "sample " << i;
    }
}

TEST_F(RecordingPlaybackTest, RecordingThatDoesNotLoopStopsOnceAndTellsTheCallback) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    const auto ramp = Ramp();
    SetRawArray(static_cast<int>(ramp.size()), ramp.data(), 20000);
    s_stops = 0;
    RegisterStandardWaveformCB(CountStop);
    TOLVSetFileLoop(false);
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_ECG_FILE), 0);
    ASSERT_TRUE(Eventually([] { return !TOLVIsPlaying(); }));
    EXPECT_EQ(s_stops.load(), 1);
    EXPECT_EQ(TOLVGetOutputFunction(), OUTPUT_OFF);
    const auto samples = device.DecodedSamples();
    ASSERT_GE(samples.size(), 2000u);
    for (std::size_t i = 0; i < 2000; ++i) {
        ASSERT_EQ(samples[i].acCode, static_cast<std::int16_t>(std::trunc(1600.0 * ramp[i])));
    }
}

}  // namespace
