// Firmware and MCU burns against the virtual device: the erase, write and read-back traffic byte
// for byte, the progress reports in order, cancels, verify mismatches, the restart with the
// reconnect that keeps the session, an unplug in the middle, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/Firmware.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using vdev::Bytes;
using Report = std::pair<int, int>;
using Reports = std::vector<Report>;

// ---- What the library hands the test ------------------------------------------------------------
// The progress callback and the loader's pauses run on the test's own thread (inside the burn);
// the connection callback runs on the connect thread.
Reports g_reports;
Report g_cancelAt{0, 0};  // stage and value that cancel; value -1: the stage's first report
void (*g_onReport)(int stage, int value) = nullptr;
std::vector<unsigned> g_sleeps;
std::mutex g_eventsMutex;
std::vector<bool> g_events;

int Progress(int stage, int value) {
    const bool firstOfStage = g_reports.empty() || g_reports.back().first != stage;
    g_reports.emplace_back(stage, value);
    if (g_onReport != nullptr) g_onReport(stage, value);
    if (stage == g_cancelAt.first &&
        (value == g_cancelAt.second || (g_cancelAt.second == -1 && firstOfStage))) {
        return 1;
    }
    return 0;
}

void RecordSleep(unsigned ms) {
    g_sleeps.push_back(ms);
}

void OnConnected(bool connected) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_events.push_back(connected);
}

std::vector<bool> Events() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    return g_events;
}

// ---- Frames as the loaders must write them ------------------------------------------------------

// Storage frame of channel 3: 12 55 AA, direction, 00, 03, erase flag, count, address, data.
Bytes Storage(std::uint8_t direction, std::uint8_t count, std::uint32_t address,
              const std::uint8_t* data = nullptr, bool erase = false) {
    Bytes frame(64, 0);
    frame[0] = 0x12;
    frame[1] = 0x55;
    frame[2] = 0xAA;
    frame[3] = direction;
    frame[5] = 3;
    frame[6] = erase ? 1 : 0;
    frame[7] = count;
    for (int i = 0; i < 4; ++i) frame[8 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
    if (data != nullptr) std::copy(data, data + count, frame.begin() + 16);
    return frame;
}

// MCU loader frame: B9, direction, sub-code, 00, count, 24-bit address, data from byte 8.
Bytes Mcu(std::uint8_t direction, std::uint8_t sub, std::uint8_t count, std::uint32_t address,
          const std::uint8_t* data = nullptr) {
    Bytes frame(64, 0);
    frame[0] = 0xB9;
    frame[1] = direction;
    frame[2] = sub;
    frame[4] = count;
    for (int i = 0; i < 3; ++i) frame[5 + i] = static_cast<std::uint8_t>(address >> (16 - 8 * i));
    if (data != nullptr) std::copy(data, data + count, frame.begin() + 8);
    return frame;
}

Bytes LoaderMode(std::uint8_t mode) {
    return {0xB9, 0xFF, 0x00, 0x00, mode};
}

// The two areas of the simulator's image in channel 3.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 2> kAreas{
    {{0, 102400}, {116736, 122880}}};
constexpr std::uint32_t kImage = 122880;

// Every frame of a firmware burn from the first erase to the restart, and its progress reports.
void ExpectedFirmwareBurn(const Bytes& image, std::vector<Bytes>* frames, Reports* reports) {
    for (const auto& [begin, end] : kAreas) {
        for (std::uint32_t a = begin; a < end; a += 1024) {
            frames->push_back(Storage(0xFF, 0, a, nullptr, true));
            reports->emplace_back(1, static_cast<int>(a * 100ull / kImage));
        }
    }
    reports->emplace_back(1, 100);
    for (const std::uint8_t direction : {0xFF, 0x00}) {
        for (const auto& [begin, end] : kAreas) {
            for (std::uint32_t a = begin; a < end; a += 48) {
                const auto n = static_cast<std::uint8_t>(std::min<std::uint32_t>(48, end - a));
                frames->push_back(Storage(direction, n, a, direction ? &image[a] : nullptr));
                reports->emplace_back(direction ? 2 : 3, static_cast<int>(a * 100ull / kImage));
            }
        }
        reports->emplace_back(direction ? 2 : 3, 100);
    }
    frames->push_back({0xDD});
    reports->insert(reports->end(), {{4, 99}, {5, 100}, {6, 100}});
}

void ExpectedMcuBurn(const Bytes& image, std::vector<Bytes>* frames, Reports* reports) {
    const auto size = static_cast<std::uint32_t>(image.size());
    auto percent = [&](std::uint32_t a) { return static_cast<int>(a * 100ull / size); };
    frames->push_back(LoaderMode(1));
    for (std::uint32_t a = 0; a < size; a += 1024) {
        frames->push_back(Mcu(0xFF, 0x02, 0, a));
        reports->emplace_back(1, percent(a));
    }
    reports->emplace_back(1, 100);
    for (std::uint32_t a = 0; a < size; a += 32) {
        const auto n = static_cast<std::uint8_t>(std::min<std::uint32_t>(32, size - a));
        frames->push_back(Mcu(0xFF, 0x03, n, a, &image[a]));
        reports->emplace_back(2, percent(a));
    }
    reports->emplace_back(2, 100);
    for (std::uint32_t a = 0; a < size; a += 52) {
        frames->push_back(
            Mcu(0x00, 0x03, static_cast<std::uint8_t>(std::min<std::uint32_t>(52, size - a)), a));
        reports->emplace_back(3, percent(a));
    }
    reports->emplace_back(3, 100);
    frames->push_back(LoaderMode(255));
    reports->insert(reports->end(), {{4, 99}, {5, 100}, {6, 100}, {6, 100}});
}

// The requests from the first one equal to `first` to the first one equal to `last` after it.
std::vector<Bytes> Between(const vdev::VirtualDevice& device, const Bytes& first,
                           const Bytes& last) {
    std::vector<Bytes> out;
    for (const auto& entry : device.Requests()) {
        if (out.empty() && entry.bytes != first) continue;
        out.push_back(entry.bytes);
        if (out.size() > 1 && entry.bytes == last) break;
    }
    return out;
}

template <typename T>
void ExpectSameSequence(const std::vector<T>& actual, const std::vector<T>& expected,
                        const char* what) {
    const std::size_t n = std::min(actual.size(), expected.size());
    const auto mismatch = std::mismatch(actual.begin(), actual.begin() + n, expected.begin());
    EXPECT_EQ(static_cast<std::size_t>(mismatch.first - actual.begin()), n)
        << what << ": first difference at index " << (mismatch.first - actual.begin());
    EXPECT_EQ(actual.size(), expected.size()) << what;
}

std::size_t CountRequests(const vdev::VirtualDevice& device, std::uint8_t firstByte) {
    return device.CountRequests([&](const Bytes& r) { return !r.empty() && r[0] == firstByte; });
}

class FirmwareTest : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        g_reports.clear();
        g_cancelAt = {0, 0};
        g_onReport = nullptr;
        g_sleeps.clear();
        std::lock_guard<std::mutex> lock(g_eventsMutex);
        g_events.clear();
        SetLoaderSleep(RecordSleep);
    }
    void TearDown() override {
        DeviceFixture::TearDown();
        SetLoaderSleep(nullptr);
    }

    // A device of the preset, found by the session's search; the log keeps a whole burn.
    vdev::VirtualDevice& Connect(vdev::Preset preset, unsigned restartDowntimeMs = 300) {
        vdev::Options options;
        options.config = vdev::MakePreset(preset);
        options.fastAck = true;
        options.logCapacity = 100000;
        options.restartDowntimeMs = restartDowntimeMs;
        vdev::VirtualDevice& device = StartDevice(options, 0);
        EXPECT_TRUE(TOLVInit(OnConnected));
        EXPECT_TRUE(Eventually([] { return TOLVIsConnected(); }));
        return device;
    }

    std::string WriteImage(const Bytes& image) {
        const std::string path = Dir().Join("image.bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        return path;
    }
};

const std::array<std::uint8_t, 4> kNewVersion{{1, 4, 0, 9}};

TEST_F(FirmwareTest, BurnWritesReadsBackRestartsAndKeepsTheSession) {
    // The node stays away for longer than the monitor needs to declare a device gone.
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent, 2000);
    const Bytes image = vdev::MakeFirmwareImage(kNewVersion, 130000);
    ASSERT_EQ(LoadFirmwareFile(WriteImage(image).c_str(), nullptr, nullptr, nullptr, nullptr),
              122880);
    const Bytes calibrationArea = device.ReadFlash(3, 102400, 116736 - 102400);

    EXPECT_EQ(BurnFirmware(Progress), 0);

    std::vector<Bytes> frames;
    Reports reports;
    ExpectedFirmwareBurn(image, &frames, &reports);
    ExpectSameSequence(Between(device, frames.front(), frames.back()), frames, "requests");
    ExpectSameSequence(g_reports, reports, "progress");
    EXPECT_EQ(g_sleeps, std::vector<unsigned>(106, 40));  // between each erase and its reply

    // The device runs the new image, its flash holds it, the calibration area is untouched.
    EXPECT_EQ(device.RestartCount(), 1);
    EXPECT_EQ(device.ReadFlash(3, 0, 102400), Bytes(image.begin(), image.begin() + 102400));
    EXPECT_EQ(device.ReadFlash(3, 116736, 6144),
              Bytes(image.begin() + 116736, image.begin() + 122880));
    EXPECT_EQ(device.ReadFlash(3, 102400, 116736 - 102400), calibrationArea);
    HW_INFORMATION info{};
    ASSERT_TRUE(TOLVGetHWInformation(&info));
    EXPECT_EQ((std::array<int, 4>{{info.FirmwareVersion[0], info.FirmwareVersion[1],
                                   info.FirmwareVersion[2], info.FirmwareVersion[3]}}),
              (std::array<int, 4>{{1, 4, 0, 9}}));
    // The connect-time steps ran again for the restarted device: relays on.
    const auto requests = device.Requests();
    const auto restart = std::find_if(requests.begin(), requests.end(),
                                      [](const auto& e) { return e.bytes == Bytes{0xDD}; });
    EXPECT_TRUE(std::any_of(restart, requests.end(), [](const auto& e) {
        return e.bytes.size() == 17 && e.bytes[0] == 0x00 && e.bytes[1] == 0xFF;
    }));
    // The expected disconnect was never reported, not even once the monitor had looked again.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_TRUE(TOLVIsConnected());
    EXPECT_EQ(Events(), std::vector<bool>{true});
}

TEST_F(FirmwareTest, VerifyMismatchPrintsItsLineAndTheBurnCanBeRunAgain) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent);
    const Bytes image = vdev::MakeFirmwareImage(kNewVersion);
    ASSERT_EQ(LoadFirmwareFile(WriteImage(image).c_str(), nullptr, nullptr, nullptr, nullptr),
              122880);
    device.AddWriteDefect(3, 116736 + 100);  // in the second area's third chunk

    testing::internal::CaptureStdout();
    EXPECT_EQ(BurnFirmware(Progress), -9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ERROR] read/verify - compare data failed (address: 0x60)\n");
    ASSERT_GE(g_reports.size(), 3u);
    EXPECT_EQ(Reports(g_reports.end() - 3, g_reports.end()),
              (Reports{{3, 116736 * 100 / 122880}, {6, -9}, {6, -9}}));
    EXPECT_EQ(device.RestartCount(), 0);
    EXPECT_EQ(CountRequests(device, 0xDD), 0u);

    // The image stays loaded and the session connected: once the cell is sound the burn passes.
    device.ClearWriteDefects();
    g_reports.clear();
    EXPECT_EQ(BurnFirmware(Progress), 0);
    EXPECT_EQ(g_reports.back(), Report(6, 100));
    EXPECT_EQ(device.RestartCount(), 1);
    EXPECT_EQ(Events(), std::vector<bool>{true});
}

struct CancelCase {
    const char* name;
    Report cancelAt;     // value -1: the stage's first report
    Reports tail;        // the last reports
    std::size_t erases;  // frames of each kind that went out
    std::size_t writes;
    std::size_t reads;
};

class FirmwareCancelTest : public FirmwareTest, public testing::WithParamInterface<CancelCase> {};

TEST_P(FirmwareCancelTest, CancelStopsTheBurnWhereTheCallbackAsks) {
    const CancelCase& c = GetParam();
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent);
    ASSERT_EQ(LoadFirmwareFile(WriteImage(vdev::MakeFirmwareImage(kNewVersion)).c_str(), nullptr,
                               nullptr, nullptr, nullptr),
              122880);
    device.ClearLog();
    g_cancelAt = c.cancelAt;
    EXPECT_EQ(BurnFirmware(Progress), -1);
    ASSERT_GE(g_reports.size(), c.tail.size());
    EXPECT_EQ(
        Reports(g_reports.end() - static_cast<std::ptrdiff_t>(c.tail.size()), g_reports.end()),
        c.tail);
    auto count = [&](std::uint8_t direction, bool erase) {
        return device.CountRequests([&](const Bytes& r) {
            return r.size() == 64 && r[0] == 0x12 && r[3] == direction && (r[6] == 1) == erase;
        });
    };
    EXPECT_EQ(count(0xFF, true), c.erases);
    EXPECT_EQ(count(0xFF, false), c.writes);
    EXPECT_EQ(count(0x00, false), c.reads);
    EXPECT_EQ(CountRequests(device, 0xDD), 0u);
    EXPECT_TRUE(TOLVIsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Cancels, FirmwareCancelTest,
    testing::Values(
        CancelCase{"AtTheFirstEraseBeforeAnyCommand", {1, 0}, {{1, 0}, {6, -1}}, 0, 0, 0},
        CancelCase{"WhenTheEraseIsComplete", {1, 100}, {{1, 99}, {1, 100}}, 106, 0, 0},
        CancelCase{"AtTheFirstReadBack", {3, -1}, {{3, 0}, {6, -1}}, 106, 2262, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareTest, UnplugDuringTheBurnEndsItAndTheSessionCanTryAgain) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent);
    ASSERT_EQ(LoadFirmwareFile(WriteImage(vdev::MakeFirmwareImage(kNewVersion)).c_str(), nullptr,
                               nullptr, nullptr, nullptr),
              122880);
    static vdev::VirtualDevice* unplug;
    unplug = &device;
    g_onReport = [](int stage, int value) {
        if (stage == 2 && value == 0) unplug->Unplug();
    };
    EXPECT_EQ(BurnFirmware(Progress), -5);
    EXPECT_EQ(g_reports.back(), Report(6, -5));

    // The loss is reported as an unplug; the device comes back and is burned.
    EXPECT_TRUE(Eventually([] { return Events() == std::vector<bool>{true, false}; }));
    ASSERT_TRUE(device.Replug());
    EXPECT_TRUE(Eventually([] { return Events() == std::vector<bool>{true, false, true}; }));
    g_onReport = nullptr;
    EXPECT_EQ(BurnFirmware(Progress), 0);
    EXPECT_EQ(device.RestartCount(), 1);
}

TEST_F(FirmwareTest, DeviceThatDoesNotComeBackEndsTheBurnAndTheSessionSearchesOn) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent, 60000);
    ASSERT_EQ(LoadFirmwareFile(WriteImage(vdev::MakeFirmwareImage(kNewVersion)).c_str(), nullptr,
                               nullptr, nullptr, nullptr),
              122880);
    EXPECT_EQ(BurnFirmware(Progress), -11);  // after ten passes over every port
    EXPECT_EQ(Reports(g_reports.end() - 3, g_reports.end()),
              (Reports{{4, 99}, {5, 100}, {6, -11}}));

    // Now the loss is the session's: it is reported, and the device is found when it returns.
    EXPECT_TRUE(Eventually([] { return Events() == std::vector<bool>{true, false}; }));
    ASSERT_TRUE(device.Replug());
    EXPECT_TRUE(Eventually([] { return Events() == std::vector<bool>{true, false, true}; }));
    HW_INFORMATION info{};
    ASSERT_TRUE(TOLVGetHWInformation(&info));
    EXPECT_EQ(info.FirmwareVersion[1], 4);
}

TEST_F(FirmwareTest, RefusedDuringPlaybackAndWithoutAValidImage) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kCurrent);
    // A failed load leaves no image of its kind: nothing is burned.
    EXPECT_EQ(
        LoadFirmwareFile(Dir().Join("missing.bin").c_str(), nullptr, nullptr, nullptr, nullptr),
        -2);
    EXPECT_EQ(LoadMcuFile(Dir().Join("missing.bin").c_str(), nullptr, nullptr, nullptr, nullptr),
              -2);
    device.ClearLog();
    EXPECT_EQ(BurnFirmware(Progress), -6);
    EXPECT_EQ(BurnMcu(Progress), -6);
    EXPECT_EQ(g_reports, (Reports{{6, -6}}));
    EXPECT_TRUE(device.Requests().empty());

    // While the stream runs nothing is sent either.
    ASSERT_EQ(LoadFirmwareFile(WriteImage(vdev::MakeFirmwareImage(kNewVersion)).c_str(), nullptr,
                               nullptr, nullptr, nullptr),
              122880);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(2, std::chrono::seconds(10)));
    EXPECT_EQ(BurnFirmware(Progress), -12);
    EXPECT_EQ(TOLVSetOutputFunction(OUTPUT_OFF), 0);
    EXPECT_EQ(device.CountRequests([](const Bytes& r) { return !r.empty() && r[0] == 0x12; }), 0u);
}

TEST_F(FirmwareTest, McuMismatchLeavesTheLoaderThenTheBurnPassesAndRestartsTheModule) {
    vdev::VirtualDevice& device = Connect(vdev::Preset::kPpg2112);
    const Bytes image = vdev::MakeMcuImage({{3, 0, 1, 2}}, 118780);
    int version[4] = {0, 0, 0, 0};
    ASSERT_EQ(
        LoadMcuFile(WriteImage(image).c_str(), &version[0], &version[1], &version[2], &version[3]),
        118780);
    EXPECT_EQ((std::array<int, 4>{{version[0], version[1], version[2], version[3]}}),
              (std::array<int, 4>{{3, 0, 1, 2}}));

    // A cell that does not keep its byte: the read-back chunk at 1976 differs.
    device.AddWriteDefect(vdev::kMcuMemory, 2000);
    EXPECT_EQ(BurnMcu(Progress), -9);
    ASSERT_GE(g_reports.size(), 3u);
    EXPECT_EQ(Reports(g_reports.end() - 3, g_reports.end()),
              (Reports{{3, 1976 * 100 / 118780}, {6, -9}, {6, -9}}));
    EXPECT_EQ(device.Requests().back().bytes, LoaderMode(0));  // the loader is left
    EXPECT_FALSE(device.LoaderActive());
    EXPECT_EQ(device.RestartCount(), 0);

    device.ClearWriteDefects();
    device.ClearLog();
    g_reports.clear();
    g_sleeps.clear();
    EXPECT_EQ(BurnMcu(Progress), 0);

    std::vector<Bytes> frames;
    Reports reports;
    ExpectedMcuBurn(image, &frames, &reports);
    ExpectSameSequence(Between(device, frames.front(), frames.back()), frames, "requests");
    ExpectSameSequence(g_reports, reports, "progress");
    std::vector<unsigned> sleeps(116, 100);     // after each erase
    sleeps.insert(sleeps.end(), {5000, 1000});  // after the restart; after closing the port
    EXPECT_EQ(g_sleeps, sleeps);
    EXPECT_EQ(device.McuMemory(0, image.size()), image);
    EXPECT_EQ(device.RestartCount(), 1);
    EXPECT_FALSE(device.LoaderActive());
    HW_INFORMATION info{};
    ASSERT_TRUE(TOLVGetPPGHWInformation(&info));
    EXPECT_EQ((std::array<int, 4>{{info.FirmwareVersion[0], info.FirmwareVersion[1],
                                   info.FirmwareVersion[2], info.FirmwareVersion[3]}}),
              (std::array<int, 4>{{3, 0, 1, 2}}));
    EXPECT_TRUE(TOLVIsConnected());
    EXPECT_EQ(Events(), std::vector<bool>{true});
}

}  // namespace
