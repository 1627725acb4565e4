// Connecting to virtual devices: discovery, lock files, identification, the information load
// and the session's life cycle, asserted on the bytes that crossed the line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "link/Device.h"
#include "protocol/DeviceInformation.h"
#include "session/Session.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"
#include "vdev/SerialClient.h"

namespace {

using vdev::Bytes;

Bytes StorageReadFrame(std::uint8_t channel, std::uint8_t count, std::uint32_t address) {
    Bytes frame(64, 0);
    frame[0] = 0x12;
    frame[1] = 0x55;
    frame[2] = 0xAA;
    frame[5] = channel;
    frame[7] = count;
    frame[8] = static_cast<std::uint8_t>(address >> 24);
    frame[9] = static_cast<std::uint8_t>(address >> 16);
    frame[10] = static_cast<std::uint8_t>(address >> 8);
    frame[11] = static_cast<std::uint8_t>(address);
    return frame;
}

std::vector<Bytes> RequestBytes(const vdev::VirtualDevice& device) {
    std::vector<Bytes> out;
    for (const auto& entry : device.Requests()) out.push_back(entry.bytes);
    return out;
}

std::atomic<int> s_trueCalls{0};
std::atomic<int> s_falseCalls{0};
void CountingCallback(bool connected) {
    ++(connected ? s_trueCalls : s_falseCalls);
}

class ConnectTest : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        s_trueCalls = 0;
        s_falseCalls = 0;
    }
};

TEST_F(ConnectTest, ConnectByPortLoadsACurrentDeviceAndClaimsThePort) {
    StartDevice(vdev::Preset::kCurrent, 3);
    ASSERT_TRUE(TOLVConnect(3, 5000));
    EXPECT_TRUE(TOLVIsConnected());
    EXPECT_FALSE(TOLVIsPPGConnected());

    MODEL_INFORMATION model;
    ASSERT_TRUE(TOLVGetDeviceInformation(&model));
    EXPECT_EQ(model.Letter1, 'P');
    EXPECT_EQ(model.Letter2, 'S');
    EXPECT_EQ(model.ModelHigh, 0x01);
    EXPECT_EQ(model.ModelLow, 0x30);
    EXPECT_EQ(model.SerialGroup, 26);
    EXPECT_EQ(model.SerialSequence, 815);
    EXPECT_EQ(model.OutputChannel[0], 3);
    EXPECT_EQ(model.OutputChannel[2], 3);
    EXPECT_STREQ(TOLVGetSerialNumber(), "QPS0130-260815");
    EXPECT_STREQ(TOLVGetFWVersion(), "1.3.05.12");
    EXPECT_STREQ(TOLVGetHWVersion(), "2.1");
    EXPECT_STREQ(TOLVGetPPGSerialNumber(), "");
    MODEL_INFORMATION module;
    EXPECT_FALSE(TOLVGetPPGDeviceInformation(&module));
    // "QPS0130-260815" + "0.1", two upper-case hex digits per character.
    EXPECT_STREQ(TOLVGetDeviceID(),
                 "5150533031333"
                 "02D3236303831353"
                 "02E31");

    std::ifstream lock(LockPath(3), std::ios::binary);
    std::int32_t owner = 0;
    lock.read(reinterpret_cast<char*>(&owner), 4);
    EXPECT_EQ(lock.gcount(), 4);
    EXPECT_EQ(owner, getpid());
    EXPECT_GE(TOLVGetDeviceHandle(), 0);
    EXPECT_EQ(DevicePath(), NodePath(3));
}

TEST_F(ConnectTest, ConnectTimeTrafficOfACurrentDeviceIsExactAndInOrder) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    const std::vector<Bytes> expected = {
        {0xAD, 0xFF, 0x00, 0x00, 0x00},  // ConverterSelect 0: photodiode sampling off
        {0x55, 0x00, 0x00},              // Identify
        StorageReadFrame(1, 12, 0),      // model image
        {0xAA, 0x02},                    // HardwareVersionQuery
        {0xAA, 0x03},                    // FirmwareVersionQuery
        StorageReadFrame(19, 12, 0),     // module image: no module, refused
    };
    auto requests = RequestBytes(device);
    ASSERT_GE(requests.size(), expected.size());
    requests.resize(expected.size());
    EXPECT_EQ(requests, expected);
    EXPECT_FALSE(TOLVIsPPGConnected());
}

TEST_F(ConnectTest, OldDeviceLoadsOnlyItsFlashRecord) {
    auto& device = StartDevice(vdev::Preset::kOld, 0);
    // The old calibration table is migrated at this first connect, which takes seconds.
    ASSERT_TRUE(TOLVConnect(0, 60000));
    const std::vector<Bytes> expected = {
        {0xAD, 0xFF, 0x00, 0x00, 0x00}, {0x55, 0x00, 0x00}, StorageReadFrame(1, 12, 0)};
    auto requests = RequestBytes(device);
    ASSERT_GE(requests.size(), 3u);
    requests.resize(3);
    EXPECT_EQ(requests, expected);
    EXPECT_EQ(device.CountRequests([](const Bytes& r) { return r[0] == 0xAA; }), 0u)
        << "a 1.2 device is never asked for its versions";
    EXPECT_STREQ(TOLVGetFWVersion(), "1.2.00.00");
    EXPECT_STREQ(TOLVGetHWVersion(), "1.0");
    EXPECT_STREQ(TOLVGetSerialNumber(), "QPS0130-260112");
}

TEST_F(ConnectTest, AModuleLeftSamplingFallsSilentBeforeIdentification) {
    auto& device = StartDevice(vdev::Preset::kPpg2112, 0);
    {
        // An earlier process selected photodiode inputs 0 and 1 and ended without a stop.
        vdevtest::SerialClient earlier(NodePath(0));
        ASSERT_TRUE(earlier.ok());
        earlier.Exchange({0xAD, 0xFF, 0x00, 0x00, 0x03}, 64);
    }
    ASSERT_TRUE(Eventually([&] { return device.IsSampling(); }));
    device.ClearLog();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    EXPECT_FALSE(device.IsSampling());
    const auto requests = RequestBytes(device);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], (Bytes{0xAD, 0xFF, 0x00, 0x00, 0x00}));
    EXPECT_EQ(requests[1], (Bytes{0x55, 0x00, 0x00}));
    EXPECT_STREQ(TOLVGetSerialNumber(), "QPS0130-260815");
}

struct PpgCase {
    vdev::Preset preset;
    std::uint8_t versionCode;
    const char* serial;
    const char* firmware;
    int dacLevel;
    double acMaximum;
    int flag2;
};

class PpgModuleTest : public ConnectTest, public ::testing::WithParamInterface<PpgCase> {};

TEST_P(PpgModuleTest, ModuleRecordsCapabilitiesAndTrafficFollowItsModel) {
    const PpgCase& c = GetParam();
    auto& device = StartDevice(c.preset, 1);
    ASSERT_TRUE(TOLVConnect(1, 5000));
    EXPECT_TRUE(TOLVIsPPGConnected());
    MODEL_INFORMATION module;
    ASSERT_TRUE(TOLVGetPPGDeviceInformation(&module));
    EXPECT_EQ(module.Letter1, 'A');
    EXPECT_EQ(module.Letter2, 'P');
    EXPECT_EQ(module.OutputChannel[0], 1);
    EXPECT_EQ(module.OutputChannel[1], 2);
    EXPECT_EQ(module.OutputChannel[2], 3);
    EXPECT_STREQ(TOLVGetPPGSerialNumber(), c.serial);
    HW_INFORMATION hw;
    ASSERT_TRUE(TOLVGetPPGHWInformation(&hw));
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%02d.%02d", hw.FirmwareVersion[0],
                  hw.FirmwareVersion[1], hw.FirmwareVersion[2], hw.FirmwareVersion[3]);
    EXPECT_STREQ(version, c.firmware);
    EXPECT_EQ(hw.HardwareMajor, 1);
    EXPECT_EQ(hw.HardwareMinor, 2);
    DEVICE_FEATURE feature;
    TOLVGetDeviceFeature(&feature);
    EXPECT_EQ(feature.Limits[1], c.acMaximum);
    EXPECT_EQ(feature.Flags[2], c.flag2);
    EXPECT_EQ(g_nPPGDCDacLevel, c.dacLevel);

    const std::vector<Bytes> tail = {
        StorageReadFrame(19, 12, 0),
        {c.versionCode, 0x00, 0x01},     // ModuleVersionQuery
        {0x55, 0x00, 0x81},              // DacWidthQuery
        {0xB0, 0xFF, 0x03, 0x00, 0x00},  // dynamic LED strength off
    };
    auto requests = RequestBytes(device);
    ASSERT_GE(requests.size(), 9u);
    EXPECT_EQ(std::vector<Bytes>(requests.begin() + 5, requests.begin() + 9), tail);
}

INSTANTIATE_TEST_SUITE_P(Modules, PpgModuleTest,
                         ::testing::Values(PpgCase{vdev::Preset::kPpg2012, 0xB8, "QAP2012-252012",
                                                   "1.0.03.07", 4095, 30.0, 3},
                                           PpgCase{vdev::Preset::kPpg2112, 0xB9, "QAP2112-252112",
                                                   "2.1.00.04", 65535, 300.0, 0}),
                         [](const ::testing::TestParamInfo<PpgCase>& info) {
                             return std::string(vdev::PresetName(info.param.preset));
                         });

TEST_F(ConnectTest, ScanSkipsANodeThatIsNotTheSimulatorAndReleasesItsLock) {
    vdev::Options other;
    other.config.identifyMark = {'Q', 'T', 'V', 'X'};  // "QTV" but not 'P'
    auto& stranger = StartDevice(other, 0);
    StartDevice(vdev::Preset::kCurrent, 1);
    ASSERT_TRUE(TOLVConnect(-1, 8000));
    EXPECT_EQ(DevicePath(), NodePath(1));
    EXPECT_GE(stranger.CountRequests([](const Bytes& r) { return r == Bytes{0x55, 0, 0}; }), 1u);
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1) << "the stranger's lock file was removed";
    EXPECT_EQ(access(LockPath(1).c_str(), F_OK), 0);
}

TEST_F(ConnectTest, PortLockedByALiveProcessIsNotOpened) {
    auto& device = StartDevice(vdev::Preset::kCurrent, 2);
    pid_t owner = fork();
    if (owner == 0) {
        pause();
        _exit(0);
    }
    {
        std::ofstream lock(LockPath(2), std::ios::binary);
        std::int32_t pid = owner;
        lock.write(reinterpret_cast<const char*>(&pid), 4);
    }
    EXPECT_FALSE(TOLVConnect(2, 1500));
    EXPECT_EQ(device.CountRequests([](const Bytes&) { return true; }), 0u);
    kill(owner, SIGKILL);
    waitpid(owner, nullptr, 0);
    // The owner is gone: its lock is stale now and the port is taken.
    ASSERT_TRUE(TOLVConnect(2, 5000));
}

TEST_F(ConnectTest, ZeroTimeoutFreesTheSessionAtOnce) {
    StartDevice();
    EXPECT_FALSE(TOLVConnect(0, 0));
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(TOLVGetDeviceHandle(), -1);
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1);
}

TEST_F(ConnectTest, ConnectWhileConnectedWaitsItsTimeoutThenFrees) {
    StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(TOLVConnect(0, 300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1);
}

TEST_F(ConnectTest, InitWithCallbackIsToldOfConnectAndFreeTellsItFalse) {
    StartDevice();
    ASSERT_TRUE(TOLVInit(CountingCallback));
    ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); }));
    EXPECT_EQ(s_trueCalls.load(), 1);
    TOLVFree();
    EXPECT_EQ(s_falseCalls.load(), 1);
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(TOLVGetDeviceHandle(), -1);
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1);
    EXPECT_STREQ(TOLVGetSerialNumber(), "") << "records are zeroed at the disconnect";
    EXPECT_STREQ(TOLVGetFWVersion(), "0.0.00.00");
    MODEL_INFORMATION model;
    EXPECT_FALSE(TOLVGetDeviceInformation(&model));
}

// The listener's disconnect call blocks until the test releases it (or 10 s pass).
CManualResetEvent s_releaseListener;
std::atomic<bool> s_listenerBlocked{false};
void BlockingCallback(bool connected) {
    ++(connected ? s_trueCalls : s_falseCalls);
    if (connected) return;
    s_listenerBlocked = true;
    s_releaseListener.WaitTimeout(10000);
    s_listenerBlocked = false;
}

// The bounded wait of the Windows build, with a short bound: TOLVFree returns while the connect
// thread is still in its teardown, and a new session takes that thread up again (one thread).
TEST_F(ConnectTest, FreeStopsWaitingAtTheBoundAndTheLateThreadServesTheNextSession) {
    StartDevice();
    s_releaseListener.ResetEvent();
    SetConnectThreadEndBound(50);
    struct Restore {
        ~Restore() {
            s_releaseListener.SetEvent();
            SetConnectThreadEndBound(0);
        }
    } restore;
    ASSERT_TRUE(TOLVInit(BlockingCallback));
    ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); }));
    TOLVFree();
    EXPECT_TRUE(s_listenerBlocked) << "TOLVFree waited for the listener";
    EXPECT_EQ(s_falseCalls.load(), 1);
    ASSERT_TRUE(TOLVInit(BlockingCallback));
    s_releaseListener.SetEvent();
    EXPECT_TRUE(Eventually([] { return s_trueCalls.load() == 2 && TOLVIsConnected(); }));
    SetConnectThreadEndBound(kInfiniteWait);
    TOLVFree();
    EXPECT_EQ(s_falseCalls.load(), 2);
    EXPECT_FALSE(TOLVIsConnected());
}

TEST_F(ConnectTest, InitWithoutCallbackStillConnects) {
    StartDevice();
    ASSERT_TRUE(TOLVInit(nullptr));
    EXPECT_TRUE(Eventually([] { return TOLVIsConnected(); }));
}

TEST_F(ConnectTest, FreeWithoutSessionIsHarmless) {
    TOLVFree();
    TOLVFree();
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(TOLVGetDeviceHandle(), -1);
}

TEST_F(ConnectTest, CommandWhilePollingTakesTheLinkAndPollingResumes) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    device.ClearLog();
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
    EXPECT_EQ(device.CountRequests([](const Bytes& r) {
        return r == Bytes{0xCC, 0x00, 0x42};
    }),
              2u);
    // Unsolicited bytes while idle are read and dropped by the poll thread; the next command
    // still gets its own reply.
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
}

TEST_F(ConnectTest, ShortOrMissingRepliesFailTheCommand) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    vdev::FaultRule shortReply;
    shortReply.kind = vdev::FaultRule::Kind::kShortReply;
    shortReply.firstByte = 0xCC;
    shortReply.shortLength = 40;
    shortReply.count = 1;
    device.AddFault(shortReply);
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 0);
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
}

TEST_F(ConnectTest, UnplugDuringCommandsNeitherHangsNorRaces) {
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    std::atomic<bool> stop{false};
    std::thread caller([&] {
        while (!stop) TOLVGetUSBBusVoltage();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.Unplug();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    caller.join();
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 0);
    TOLVFree();
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(access(LockPath(0).c_str(), F_OK), -1);
}

}  // namespace

// After identifying the device the connect switches the relays on (one OutputConfig) and loads
// what the device holds; on a module with its own microcontroller it writes the default
// transmission rate before reading that module's factory settings; dynamic LED strength goes
// off last.
struct LoadOrderCase {
    vdev::Preset preset;
    bool mcuModule;
};

class ConnectLoadOrderTest : public ConnectTest,
                             public ::testing::WithParamInterface<LoadOrderCase> {};

Bytes SettingWriteFrame(std::uint8_t id, std::uint16_t value) {
    Bytes frame(64, 0);
    frame[0] = 0xCC;
    frame[1] = 0xFF;
    frame[2] = id;
    frame[4] = static_cast<std::uint8_t>(value);
    frame[5] = static_cast<std::uint8_t>(value >> 8);
    return frame;
}

TEST_P(ConnectLoadOrderTest, RelaysRateAndDynamicLedFollowTheLoadOrder) {
    auto& device = StartDevice(GetParam().preset, 0);
    ASSERT_TRUE(TOLVConnect(0, 5000));
    const auto requests = RequestBytes(device);
    const auto relays = std::find_if(requests.begin(), requests.end(), [](const Bytes& r) {
        return r.size() == 17 && r[0] == 0x00 && r[1] == 0xFF;
    });
    ASSERT_NE(relays, requests.end()) << "no OutputConfig at connect";
    std::vector<Bytes> commands;  // everything after it but the storage frames
    std::copy_if(relays + 1, requests.end(), std::back_inserter(commands),
                 [](const Bytes& r) { return r[0] != 0x12; });
    std::vector<Bytes> expected;
    if (GetParam().mcuModule) {
        expected = {SettingWriteFrame(1, 800), SettingWriteFrame(2, 800),
                    SettingWriteFrame(25, 1023), SettingWriteFrame(26, 1023)};
    }
    expected.push_back({0xB0, 0xFF, 0x03, 0x00, 0x00});
    EXPECT_EQ(commands, expected);
    if (GetParam().mcuModule) {
        const auto rate = std::find(relays, requests.end(), SettingWriteFrame(26, 1023));
        EXPECT_NE(std::find(rate, requests.end(), StorageReadFrame(19, 32, 5248)), requests.end())
            << "the factory settings are read after the transmission rate";
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, ConnectLoadOrderTest,
                         ::testing::Values(LoadOrderCase{vdev::Preset::kCurrent, false},
                                           LoadOrderCase{vdev::Preset::kPpg2112, true}),
                         [](const ::testing::TestParamInfo<LoadOrderCase>& info) {
                             return std::string(vdev::PresetName(info.param.preset));
                         });
