// Device figures against the virtual device, over the real serial path: the latency of a device
// command while nothing plays and while a sine plays (p50, p99, max), the time TOLVConnect takes
// for each preset, the time TOLVFree takes with and without a device, and the time a failed
// TOLVConnect takes beyond its own timeout.
//
//   device_bench [commands]     (commands per latency run, default 200)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tolvan.h"
#include "vdev/TempDir.h"
#include "vdev/VirtualDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsOf(const std::function<void()>& what) {
    const auto start = Clock::now();
    what();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Spread {
    double p50 = 0, p99 = 0, max = 0;
};

Spread SpreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    s.p50 = at(0.50);
    s.p99 = at(0.99);
    s.max = values.back();
    return s;
}

void PrintSpread(const char* what, const Spread& s) {
    std::printf("%-44s p50 %8.2f ms  p99 %8.2f ms  max %8.2f ms\n", what, s.p50, s.p99, s.max);
}

std::unique_ptr<vdev::VirtualDevice> Start(vdev::Preset preset, const std::string& pattern,
                                           unsigned quietGapMs = 3) {
    vdev::Options options;
    options.quietGapMs = quietGapMs;
    options.config = vdev::MakePreset(preset);
    options.port = 0;
    options.pattern = pattern;
    std::string error;
    auto device = vdev::VirtualDevice::Start(options, &error);
    if (!device) std::fprintf(stderr, "virtual device did not start: %s\n", error.c_str());
    return device;
}

// Commands spaced 20 .. 120 ms apart, as an application issues them, so that each finds the
// link as the poll thread left it (without spacing, a command that follows another at once finds
// the poll thread still paused).
std::vector<double> CommandLatencies(int commands, int* failures) {
    std::vector<double> times;
    for (int i = 0; i < commands; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + (i * 37) % 101));
        int volts = 0;
        times.push_back(MillisecondsOf([&] { volts = TOLVGetUSBBusVoltage(); }));
        if (volts != 50) ++*failures;
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    const int commands = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    vdev::TempDir dir;
    if (dir.path().empty()) return 1;
    const std::string pattern = dir.Join("ttyACM%d");
    setenv("TOLVAN_DEVICE_PATTERN", pattern.c_str(), 1);
    setenv("TOLVAN_LOCK_DIR", dir.path().c_str(), 1);
    // The calibration cache goes to the current directory: keep it in the scratch directory, so
    // that every run starts without one (preset "old" then migrates its DC table at its first
    // connect: 251 storage writes with their specified 46 ms of delays, about 12 s).
    if (chdir(dir.path().c_str()) != 0) return 1;

    // Connect time per preset, then TOLVFree with the device connected.
    std::vector<double> freeConnected;
    for (vdev::Preset preset : vdev::AllPresets()) {
        std::vector<double> connects;
        for (int run = 0; run < 3; ++run) {
            auto device = Start(preset, pattern);
            if (!device) return 1;
            bool ok = false;
            connects.push_back(MillisecondsOf([&] { ok = TOLVConnect(0, 30000); }));
            if (!ok) std::printf("connect failed (%s)\n", vdev::PresetName(preset));
            freeConnected.push_back(MillisecondsOf([] { TOLVFree(); }));
            device->Stop();
        }
        std::string what = std::string("TOLVConnect, preset ") + vdev::PresetName(preset);
        PrintSpread(what.c_str(), SpreadOf(connects));
    }
    PrintSpread("TOLVFree, device connected", SpreadOf(freeConnected));

    // Command latency, idle and while a sine plays.
    {
        auto device = Start(vdev::Preset::kCurrent, pattern);
        if (!device || !TOLVConnect(0, 10000)) return 1;
        int failures = 0;
        PrintSpread("command while idle (TOLVGetUSBBusVoltage)",
                    SpreadOf(CommandLatencies(commands, &failures)));
        TOLVSetAmplitude(1.0);
        TOLVSetFrequency(1.0);
        TOLVSetOutputFunction(OUTPUT_SINE);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PrintSpread("command while playing a sine",
                    SpreadOf(CommandLatencies(std::max(10, commands / 4), &failures)));
        TOLVSetOutputFunction(OUTPUT_OFF);
        if (failures > 0) std::printf("%d commands failed\n", failures);
        TOLVFree();
        device->Stop();
    }
    // The virtual device ends a request of variable length after a quiet gap on the line (3 ms
    // by default, which the figures above include); with a 1 ms gap the latency comes closer to
    // what a USB round trip of about a millisecond gives.
    {
        auto device = Start(vdev::Preset::kCurrent, pattern, 1);
        if (!device || !TOLVConnect(0, 10000)) return 1;
        int failures = 0;
        PrintSpread("command while idle, 1 ms framing gap",
                    SpreadOf(CommandLatencies(commands, &failures)));
        if (failures > 0) std::printf("%d commands failed\n", failures);
        TOLVFree();
        device->Stop();
    }

    // Without a device: TOLVFree of a searching session, and a TOLVConnect that fails.
    {
        std::vector<double> frees, overrun;
        for (int run = 0; run < 5; ++run) {
            TOLVInit([](bool) {});
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + 100 * run));
            frees.push_back(MillisecondsOf([] { TOLVFree(); }));
            overrun.push_back(MillisecondsOf([] { TOLVConnect(0, 300); }) - 300.0);
        }
        PrintSpread("TOLVFree, no device (searching)", SpreadOf(frees));
        PrintSpread("failed TOLVConnect beyond its 300 ms timeout", SpreadOf(overrun));
    }
    return 0;
}
