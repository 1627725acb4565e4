// Exported functions called from several threads at once while a waveform plays, while the
// device comes and goes, and while other threads end the session; and sessions started and
// ended in a loop. The assertions are that nothing hangs or crashes, that ThreadSanitizer stays
// quiet, and that the library is still usable afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using std::chrono::milliseconds;

std::atomic<int> s_samples{0};
void CountSample(double, double) {
    ++s_samples;
}

// Runs each body in a loop on its own thread for the given time.
void RunTogether(const std::vector<std::function<void(int)>>& bodies, milliseconds duration) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (const auto& body : bodies) {
        threads.emplace_back([&stop, body] {
            for (int i = 0; !stop; ++i) body(i);
        });
    }
    std::this_thread::sleep_for(duration);
    stop = true;
    for (auto& t : threads) t.join();
}

const std::vector<double> kRaw = {0.0, 0.5, 1.0, 0.5, 0.0, -0.5, -1.0, -0.5};

void Setters(int i) {
    TOLVSetAmplitude(i % 2 ? 1.0 : 2.0);
    TOLVSetFrequency(i % 3 ? 1.0 : 1.5);
    TOLVSetPacingAmplitude(i % 2 ? 0.0 : 5.0);
    TOLVSetOutputLead(i % 9, i % 2 == 0);
}
void Getters(int) {
    TOLVGetAmplitude();
    TOLVGetFrequency();
    TOLVIsPlaying();
    TOLVIsConnected();
    TOLVGetSerialNumber();
    TOLVGetUSBBusVoltage();
}
void Loaders(int i) {
    SetRawArray(static_cast<int>(kRaw.size()), kRaw.data(), 500);
    if (i % 4 == 0) ClearRawArray();
}
void Functions(int i) {
    const int functions[] = {OUTPUT_SINE, OUTPUT_ECG, OUTPUT_ECG_FILE, OUTPUT_OFF};
    TOLVSetOutputFunction(functions[i % 4]);
    std::this_thread::sleep_for(milliseconds(5));
}

class ApiRaceTest : public DeviceFixture {};

TEST_F(ApiRaceTest, CallsFromManyThreadsWhilePlayingAndReplugging) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVInit(nullptr));
    ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); }));
    TOLVRegisterOutputSignalCallback(CountSample, 64);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    RunTogether({Setters, Getters, Loaders, Functions,
                 [&](int i) {
                     std::this_thread::sleep_for(milliseconds(150));
                     if (i % 2 == 0) {
                         device.Unplug();
                     } else {
                         device.Replug();
                     }
                 }},
                milliseconds(2500));
    device.Replug();
    TOLVRegisterOutputSignalCallback(nullptr, 1);
    ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); }));
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    device.ClearDecoded();
    EXPECT_TRUE(device.WaitForPackets(5, milliseconds(5000))) << "playback after the races";
    EXPECT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_GT(s_samples.load(), 0);
}

TEST_F(ApiRaceTest, FreeFromSeveralThreadsWhilePlayingAndConnecting) {
    StartDevice();
    RunTogether({Setters, Getters, Functions,
                 [](int) {
                     TOLVInit(nullptr);
                     std::this_thread::sleep_for(milliseconds(60));
                 },
                 [](int i) {
                     std::this_thread::sleep_for(milliseconds(40 + 13 * (i % 5)));
                     TOLVFree();
                 },
                 [](int i) {
                     std::this_thread::sleep_for(milliseconds(70 + 11 * (i % 3)));
                     TOLVFree();
                 }},
                milliseconds(3000));
    TOLVFree();
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_TRUE(Eventually([] { return !TOLVIsPlaying(); }, milliseconds(3000)))
        << "playback outlived the end of the session";
    ASSERT_TRUE(TOLVConnect(0, 5000)) << "a new session after the races";
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
}

// An application thread that sends commands while a port is being identified: nothing of its
// gets between the identification's requests (its reply would be drained, or taken for the
// identification's), and the connection comes up working.
TEST_F(ApiRaceTest, CommandsDuringIdentificationStayOutOfIt) {
    auto& device = StartDevice();
    std::atomic<bool> stop{false};
    std::thread commands([&stop] {
        while (!stop) TOLVGetUSBBusVoltage();
    });
    const bool connected = TOLVConnect(0, 5000);
    stop = true;
    commands.join();
    ASSERT_TRUE(connected);
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
    const auto requests = device.Requests();
    std::size_t first = 0;
    while (first < requests.size() && requests[first].bytes[0] != 0xAD) ++first;
    ASSERT_LT(first + 1, requests.size());
    EXPECT_EQ(requests[first + 1].bytes[0], 0x55) << "a command got into the identification";
}

struct LoopCase {
    const char* name;
    bool device;
};

class InitFreeLoop : public DeviceFixture, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(InitFreeLoop, HundredSessionsLeaveTheLibraryUsable) {
    if (GetParam().device) StartDevice();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(TOLVInit(nullptr)) << "round " << i;
        if (i % 10 == 0 && GetParam().device) {
            ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); })) << "round " << i;
        }
        TOLVFree();
        ASSERT_FALSE(TOLVIsConnected()) << "round " << i;
    }
    if (!GetParam().device) StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, InitFreeLoop,
                         ::testing::Values(LoopCase{"WithDevice", true},
                                           LoopCase{"WithoutDevice", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
