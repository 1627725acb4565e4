// The synthesizer's known values through the offline renderer, and the drift compensation and the
// low-frequency change rule end to end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "support/DeviceFixture.h"
#include "support/OfflineSession.h"
#include "tolvan.h"

namespace {

void NoConnection(bool) {}

struct RenderCase {
    const char* name;
    int function;
    double amplitude;
    double frequency;
    double pulseWidth;
    double time;  // s
    double expected;
};

class Render : public OfflineSessionTest<::testing::TestWithParam<RenderCase>> {
  protected:
};

TEST_P(Render, ValueAtTheEdgePoint) {
    const RenderCase& c = GetParam();
    ASSERT_EQ(TOLVSetAmplitude(c.amplitude), 0);
    ASSERT_EQ(TOLVSetFrequency(c.frequency), 0);
    ASSERT_EQ(TOLVSetPulseWidth(c.pulseWidth), 0);
    const int rate = 40000;
    const int index = static_cast<int>(std::lround(c.time * rate));
    std::vector<double> out(static_cast<std::size_t>(index) + 1);
    ASSERT_GT(GetRawDataArrayEx(c.function, out.data(), index + 1, rate), 0);
    EXPECT_NEAR(out[static_cast<std::size_t>(index)], c.expected, 1e-9) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    EdgePoints, Render,
    ::testing::Values(RenderCase{"sineQuarter", 1, 1.0, 1.0, 100, 0.25, 0.5},
                      RenderCase{"sineThreeQuarters", 1, 1.0, 1.0, 100, 0.75, -0.5},
                      RenderCase{"triangleStart", 2, 2.0, 1.0, 100, 0.0, 0.0},
                      RenderCase{"triangleQuarter", 2, 2.0, 1.0, 100, 0.25, 1.0},
                      RenderCase{"triangleThreeQuarters", 2, 2.0, 1.0, 100, 0.75, -1.0},
                      RenderCase{"squareFirstHalf", 3, 2.0, 1.0, 100, 0.1, 1.0},
                      RenderCase{"squareSecondHalf", 3, 2.0, 1.0, 100, 0.6, -1.0},
                      RenderCase{"pulseRisingEdge", 4, 1.0, 1.0, 100, 0.0005, 0.5},
                      RenderCase{"pulseTop", 4, 1.0, 1.0, 100, 0.05, 1.0},
                      RenderCase{"pulseFallingEdge", 4, 1.0, 1.0, 100, 0.1005, 0.5},
                      RenderCase{"pulseAfter", 4, 1.0, 1.0, 100, 0.101, 0.0},
                      RenderCase{"triangularPulsePeak", 5, 1.0, 1.0, 100, 0.05, 2.0 * 0.5},
                      RenderCase{"expDecayStart", 6, 1.0, 1.0, 100, 0.0, 1.0},
                      RenderCase{"expDecayOneTau", 6, 1.0, 1.0, 100, 0.05, std::exp(-1.0)},
                      RenderCase{"alternatingNegative", 12, 2.0, 3.0, 10, 0.5, -1.0}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

std::mutex s_mutex;
std::vector<std::pair<double, double>> s_points;
void Capture(double t, double mv) {
    std::lock_guard<std::mutex> lock(s_mutex);
    s_points.emplace_back(t, mv);
}

class LiveTest : public DeviceFixture {
  protected:
    void TearDown() override {
        TOLVSetOutputFunction(0);
        TOLVRegisterOutputSignalCallback(nullptr, 1);
        DeviceFixture::TearDown();
        TOLVSetAmplitude(1.0);
        TOLVSetFrequency(1.0);
    }
};

// The waveform clock of the packet builder, step by step: 30 ppm slower than the sample clock,
// one sample in about 33,334 repeating the time of the one before.
std::vector<double> PacketClock(std::size_t samples, double rate) {
    std::vector<double> times(samples);
    const double dt = 1.0 / rate;
    double t = 0.0;
    double drift = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
        times[i] = t;
        t += dt;
        drift += 0.00003 / rate;
        if (drift >= 1.0 / rate) {
            drift -= 1.0 / rate;
            t -= dt;
        }
    }
    return times;
}

TEST_F(LiveTest, DriftCompensationRepeatsOneTimePointExactlyWhereTheClockSaysSo) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetAmplitude(1.0), 0);
    ASSERT_EQ(TOLVSetFrequency(1.0), 0);
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(52, std::chrono::milliseconds(20000)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    const auto samples = device.DecodedSamples();
    const std::size_t n = 35000;
    ASSERT_GE(samples.size(), n);
    const auto times = PacketClock(n, 20000.0);
    int repeats = 0;
    for (std::size_t i = 1; i < n; ++i) repeats += times[i] == times[i - 1] ? 1 : 0;
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(times[33334], times[33333]) << "the repeat comes after 33,334 samples";
    for (std::size_t i = 0; i < n; ++i) {
        const double p = times[i] - std::trunc(times[i]);
        const double expected = std::trunc(1600.0 * 0.5 * std::sin(2 * M_PI * p));
        ASSERT_EQ(samples[i].acCode, static_cast<std::int16_t>(expected)) << "sample " << i;
    }
}

TEST_F(LiveTest, BelowPointFifteenHertzAChangeTakesEffectAtTheNextSample) {
    ASSERT_TRUE(TOLVInit(NoConnection));
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_points.clear();
    }
    TOLVRegisterOutputSignalCallback(Capture, 1);
    ASSERT_EQ(TOLVSetFrequency(0.1), 0);  // a 10 s square period
    ASSERT_EQ(TOLVSetAmplitude(2.0), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SQUARE), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(TOLVSetAmplitude(4.0), 0);
    // Played on until the change shows (held to the end of the 10 s period, it fails below).
    ASSERT_TRUE(Eventually([] {
        std::lock_guard<std::mutex> lock(s_mutex);
        return !s_points.empty() && s_points.back().second > 1.5;
    }));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    std::lock_guard<std::mutex> lock(s_mutex);
    ASSERT_FALSE(s_points.empty());
    EXPECT_DOUBLE_EQ(s_points.front().second, 1.0);
    EXPECT_DOUBLE_EQ(s_points.back().second, 2.0) << "changed long before the period ended";
    EXPECT_LT(s_points.back().first, 5.0);
}

}  // namespace
