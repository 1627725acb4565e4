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
// StartDevice publishes the node in a fresh temporary directory and points the environment
// variables TOLVAN_DEVICE_PATTERN (at that directory's "ttyACM%d") and TOLVAN_LOCK_DIR (at the
// same directory) there, so that the library finds the device and keeps its lock files out of
// /var/lock. Call it before the library starts threads of its own: setenv is not thread-safe.
// TearDown stops every device, removes the directory and restores both variables.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vdev/VirtualDevice.h"

namespace vdev {

// A directory made with mkdtemp and removed, with the files and links in it, on destruction.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tolvan-vdev-XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) m_path = buffer.data();
    }
    ~TempDir() {
        if (m_path.empty()) return;
        if (DIR* dir = opendir(m_path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") unlink((m_path + "/" + name).c_str());
            }
            closedir(dir);
        }
        rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the directory could not be made.
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

class VirtualDeviceTest : public ::testing::Test {
  protected:
    // Starts a device of the preset on port n (options.port and options.pattern are replaced).
    // The returned device lives until TearDown. Fails the current test when it cannot start;
    // check HasFatalFailure() or use ASSERT_NO_FATAL_FAILURE around it.
    VirtualDevice& StartDevice(Preset preset = Preset::kCurrent, int port = 0,
                               Options options = Options{}) {
        options.config = MakePreset(preset);
        return StartDevice(std::move(options), port);
    }

    // Same, with options.config used as given.
    VirtualDevice& StartDevice(Options options, int port) {
        if (!m_environmentSaved) SaveEnvironment();
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

    // The first device started.
    VirtualDevice& device() { return *m_devices.front(); }

    // The node pattern in the temporary directory ("<dir>/ttyACM%d").
    std::string Pattern() const { return m_dir.path() + "/ttyACM%d"; }
    const std::string& Directory() const { return m_dir.path(); }

    void TearDown() override {
        for (auto& device : m_devices) device->Stop();
        m_devices.clear();
        if (m_environmentSaved) {
            Restore("TOLVAN_DEVICE_PATTERN", m_savedPattern);
            Restore("TOLVAN_LOCK_DIR", m_savedLockDir);
            m_environmentSaved = false;
        }
    }

  private:
    void SaveEnvironment() {
        m_savedPattern = Get("TOLVAN_DEVICE_PATTERN");
        m_savedLockDir = Get("TOLVAN_LOCK_DIR");
        setenv("TOLVAN_DEVICE_PATTERN", Pattern().c_str(), 1);
        setenv("TOLVAN_LOCK_DIR", m_dir.path().c_str(), 1);
        m_environmentSaved = true;
    }
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
    bool m_environmentSaved = false;
    std::optional<std::string> m_savedPattern;
    std::optional<std::string> m_savedLockDir;
};

}  // namespace vdev
