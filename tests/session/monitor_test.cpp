// The hot-plug monitor: one probe round's rule, and unplug/replug of a virtual device seen by the
// application's connection callback.
#include "link/Monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

std::vector<bool> s_answers;
std::size_t s_asked = 0;
std::vector<unsigned> s_sleeps;

bool ScriptedAlive() {
    return s_asked < s_answers.size() ? s_answers[s_asked++] : false;
}
bool RecordSleep(unsigned ms) {
    s_sleeps.push_back(ms);
    return true;
}

struct ProbeCase {
    const char* name;
    std::vector<bool> answers;
    bool alive;
    std::size_t probes;
    unsigned slept;
};

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, FourProbesOverOneAndAHalfSecondsDecide) {
    s_answers = GetParam().answers;
    s_asked = 0;
    s_sleeps.clear();
    EXPECT_EQ(ProbeDeviceAlive(ScriptedAlive, RecordSleep), GetParam().alive);
    EXPECT_EQ(s_asked, GetParam().probes);
    unsigned slept = 0;
    for (unsigned ms : s_sleeps) slept += ms;
    EXPECT_EQ(slept, GetParam().slept);
}

INSTANTIATE_TEST_SUITE_P(
    Rounds, Probe,
    ::testing::Values(
        ProbeCase{"alive", {true, true}, true, 2, 0},
        ProbeCase{"oneListingFails", {false, true}, true, 2, 0},
        ProbeCase{"aliveAtTheLastProbe", {false, false, false, true}, true, 4, 1000},
        ProbeCase{"firstSaysAliveTheOthersFail", {true, false, false, false}, true, 4, 1500},
        ProbeCase{"gone", {false, false, false, false}, false, 4, 1500}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

std::atomic<int> s_connects{0};
std::atomic<int> s_disconnects{0};
void Count(bool connected) {
    ++(connected ? s_connects : s_disconnects);
}

class MonitorTest : public DeviceFixture {};

TEST_F(MonitorTest, UnplugIsNoticedAndReplugConnectsAgain) {
    s_connects = 0;
    s_disconnects = 0;
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVInit(Count));
    ASSERT_TRUE(Eventually([] { return s_connects == 1; }));
    device.Unplug();
    // How long the monitor takes to decide is the probe rule above; here only that it does.
    ASSERT_TRUE(Eventually([] { return s_disconnects == 1; }));
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1) << "the lock file went with the port";
    ASSERT_TRUE(device.Replug());
    ASSERT_TRUE(Eventually([] { return s_connects == 2; }));
    EXPECT_TRUE(TOLVIsConnected());
    EXPECT_STREQ(TOLVGetSerialNumber(), "QPS0130-260815");
}

TEST_F(MonitorTest, PlaybackCarriesOnAfterAReplug) {
    s_connects = 0;
    s_disconnects = 0;
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVInit(Count));
    ASSERT_TRUE(Eventually([] { return s_connects == 1; }));
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(3, std::chrono::milliseconds(5000)));
    device.Unplug();
    ASSERT_TRUE(Eventually([] { return s_disconnects == 1; }));
    ASSERT_TRUE(device.Replug());
    ASSERT_TRUE(Eventually([] { return s_connects == 2; }));
    device.ClearDecoded();
    EXPECT_TRUE(device.WaitForPackets(device.Stats().packets + 3, std::chrono::milliseconds(5000)))
        << "the stream goes on with the device that came back";
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
}

}  // namespace
