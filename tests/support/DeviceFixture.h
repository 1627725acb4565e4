// A test fixture that redirects the library to virtual devices in a private directory: the
// node pattern and the lock directory point into it, and every device started through the
// fixture is stopped (and the session freed) at the end of the test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tolvan.h"
#include "vdev/VirtualDevice.h"

class DeviceFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/tolvan-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_pattern = m_dir + "/ttyACM%d";
        setenv("TOLVAN_DEVICE_PATTERN", m_pattern.c_str(), 1);
        setenv("TOLVAN_LOCK_DIR", (m_dir + "/locks").c_str(), 1);
        // The calibration cache of each test stays in its own directory.
        SetCalibrationDataPath((m_dir + "/").c_str());
    }

    void TearDown() override {
        TOLVFree();
        m_devices.clear();
        SetCalibrationDataPath(nullptr);
        unsetenv("TOLVAN_DEVICE_PATTERN");
        unsetenv("TOLVAN_LOCK_DIR");
        ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0);
    }

    // Starts a virtual device on port n. Stream packets are acknowledged at once unless the
    // options say otherwise.
    vdev::VirtualDevice* StartDevice(int port, vdev::Preset preset = vdev::Preset::kCurrent) {
        vdev::Options options;
        options.port = port;
        options.pattern = m_pattern;
        options.config = vdev::MakePreset(preset);
        options.fastAck = true;
        return StartDevice(options);
    }

    vdev::VirtualDevice* StartDevice(vdev::Options options) {
        options.pattern = m_pattern;
        std::string error;
        auto device = vdev::VirtualDevice::Start(options, &error);
        EXPECT_NE(device, nullptr) << error;
        if (!device) return nullptr;
        m_devices.push_back(std::move(device));
        return m_devices.back().get();
    }

    std::string LockPath(int port) const {
        return m_dir + "/locks/quillon.ACM" + std::to_string(port) + ".lock";
    }
    std::string NodePath(int port) const { return m_dir + "/ttyACM" + std::to_string(port); }

    // Polls a condition until it holds or the timeout passes.
    template <typename Condition>
    static bool Eventually(Condition condition,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }

    std::string m_dir;
    std::string m_pattern;
    std::vector<std::unique_ptr<vdev::VirtualDevice>> m_devices;
};
