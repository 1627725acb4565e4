// GoogleTest fixture for end-to-end tests against the virtual device (header only; include it in
// test executables that link GTest and tolvan_vdev).
//
//   class PlaybackTest : public vdev::VirtualDeviceTest {};
//
//   TEST_F(PlaybackTest, SineReachesTheDevice) {
//       vdev::VirtualDevice& device = StartDevice(vdev::Preset::kCurrent, 0);
//       // ... connect the library to port 0, play ...
//       ASSERT_TRUE(device.WaitForRequest(0x01, std::chrono::seconds(5)));
//       EXPECT_NEAR(device.DecodedSamples().back().acMillivolts, 1.0, 0.01);
//   }
//
// Each test gets a fresh temporary directory. SetUp points the environment variables
// TOLVAN_DEVICE_PATTERN (at that directory's "ttyACM%d") and TOLVAN_LOCK_DIR (at the directory
// itself) there, so that the library finds the devices started by the test and keeps its lock
// files out of /var/lock; it runs before the test starts threads of its own (setenv is not
// thread-safe). TearDown stops every device and restores both variables; the directory is removed
// with everything in it when the fixture is destroyed. A fixture that overrides SetUp or TearDown
// calls these.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vdev/TempDir.h"
#include "vdev/VirtualDevice.h"

namespace vdev {

class VirtualDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty()) << "no temporary directory";
        m_savedPattern = Get("TOLVAN_DEVICE_PATTERN");
        m_savedLockDir = Get("TOLVAN_LOCK_DIR");
        setenv("TOLVAN_DEVICE_PATTERN", Pattern().c_str(), 1);
        setenv("TOLVAN_LOCK_DIR", m_dir.path().c_str(), 1);
        m_environmentSet = true;
    }

    void TearDown() override {
        StopDevices();
        if (m_environmentSet) {
            Restore("TOLVAN_DEVICE_PATTERN", m_savedPattern);
            Restore("TOLVAN_LOCK_DIR", m_savedLockDir);
            m_environmentSet = false;
        }
    }

    // Starts a device of the preset on port n (options.port and options.pattern are replaced).
    // The returned device lives until TearDown or StopDevices. Fails the current test when it
    // cannot start (and throws, which ends the test).
    VirtualDevice& StartDevice(Preset preset = Preset::kCurrent, int port = 0,
                               Options options = Options{}) {
        options.config = MakePreset(preset);
        return StartDevice(std::move(options), port);
    }

    // Same, with options.config used as given.
    VirtualDevice& StartDevice(Options options, int port) {
        options.port = port;
        options.pattern = Pattern();
        std::string error;
        auto device = VirtualDevice::Start(options, &error);
        if (!device) {
            ADD_FAILURE() << "virtual device did not start: " << error;
            // Keep the reference valid: a stopped placeholder is never returned, so abort here.
            throw std::runtime_error("virtual device did not start: " + error);
        }
        m_devices.push_back(std::move(device));
        return *m_devices.back();
    }

    // Stops and forgets every device started so far; their ports can be started again.
    void StopDevices() {
        for (auto& device : m_devices) device->Stop();
        m_devices.clear();
    }

    // The first device started.
    VirtualDevice& device() { return *m_devices.front(); }

    // The node pattern in the temporary directory ("<dir>/ttyACM%d").
    std::string Pattern() const { return m_dir.Join("ttyACM%d"); }
    // The node of port n in the temporary directory.
    std::string NodePath(int port) const { return m_dir.Join("ttyACM" + std::to_string(port)); }
    const std::string& Directory() const { return m_dir.path(); }
    const TempDir& Dir() const { return m_dir; }

    // Polls the condition every 5 ms until it holds (true) or the timeout passes (false). The
    // default timeout only bounds a hang: conditions are expected to hold well before it.
    template <typename Condition>
    static bool Eventually(Condition condition,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }

  private:
    static std::optional<std::string> Get(const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }

    TempDir m_dir;
    std::vector<std::unique_ptr<VirtualDevice>> m_devices;
    bool m_environmentSet = false;
    std::optional<std::string> m_savedPattern;
    std::optional<std::string> m_savedLockDir;
};

}  // namespace vdev
