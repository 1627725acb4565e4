// The library's end-to-end fixture: vdev::VirtualDeviceTest (private directory, node pattern and
// lock directory, devices stopped at the end) with what the library's own tests add on top:
// the calibration cache lives in the test's directory, the session is freed before the devices
// stop, and StartDevice(preset, port) gives a device that acknowledges stream packets at once
// (these tests assert bytes, not the playing pace; StartDevice(options, port) takes the options
// as given).
#pragma once

#include <string>
#include <utility>

#include "tolvan.h"
#include "vdev/VirtualDeviceFixture.h"

class DeviceFixture : public vdev::VirtualDeviceTest {
  protected:
    void SetUp() override {
        VirtualDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        SetCalibrationDataPath((Directory() + "/").c_str());
    }

    void TearDown() override {
        TOLVFree();
        SetCalibrationDataPath(nullptr);
        VirtualDeviceTest::TearDown();
    }

    vdev::VirtualDevice& StartDevice(vdev::Preset preset = vdev::Preset::kCurrent, int port = 0) {
        vdev::Options options;
        options.fastAck = true;
        return VirtualDeviceTest::StartDevice(preset, port, options);
    }
    vdev::VirtualDevice& StartDevice(vdev::Options options, int port) {
        return VirtualDeviceTest::StartDevice(std::move(options), port);
    }

    // The library's lock file of port n.
    std::string LockPath(int port) const {
        return Dir().Join("quillon.ACM" + std::to_string(port) + ".lock");
    }
};
