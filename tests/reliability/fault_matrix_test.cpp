// The fault matrix: every command family the library sends (rows) against every way a device
// fails (columns). Each case checks that the call returns within its budget with one of its
// documented failures, and that the session recovers afterwards: the same call succeeds again,
// over the same connection or a new one after an unplug.
//
// Budgets are the link's (a write within 200 ms, a read within 100 ms) plus the command's own
// waits, with room for a loaded machine and the sanitizers; a hang shows up as many seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Firmware.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using vdev::Bytes;
using Kind = vdev::FaultRule::Kind;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned kLateMs = 400;    // a reply this late is past every single read's budget
constexpr int kSlackMs = 700;        // scheduling and sanitizer room on top of a budget
constexpr int kReconnectMs = 15000;  // the monitor's probe rounds plus a new connect
// A burn's search for the restarted device: ten passes over every port, a second apart.
constexpr int kRestartSearchMs = 10 * 1000 + 1000;
// A burn that goes on past its exchange: every erase, write and read-back, the restart and the
// reconnect (about 2 s here); only a hang takes longer.
constexpr int kWholeBurnMs = 30000;

enum class Fault {
    kNoReply,
    kShortReply,
    kUnacknowledged,
    kGarbage,
    kLate,
    kUnplugBefore,
    kUnplugDuring,
    kUnplugAfter,
};

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::kNoReply:
            return "NoReply";
        case Fault::kShortReply:
            return "ShortReply";
        case Fault::kUnacknowledged:
            return "Unacknowledged";
        case Fault::kGarbage:
            return "Garbage";
        case Fault::kLate:
            return "Late";
        case Fault::kUnplugBefore:
            return "UnplugBefore";
        case Fault::kUnplugDuring:
            return "UnplugDuring";
        case Fault::kUnplugAfter:
            return "UnplugAfter";
    }
    return "?";
}

void PrintTo(Fault fault, std::ostream* os) {
    *os << FaultName(fault);
}

// The image a row's call burns (loaded before the call; it stays loaded across failed burns).
enum class Image { kNone, kFirmware, kMcu };

// One row: an API call and the requests it sends.
struct Operation {
    const char* name;
    vdev::Preset preset;
    int firstByte;                            // requests of the family under fault
    std::function<bool(const Bytes&)> match;  // narrows them (empty: all of the family)
    std::function<int()> call;
    int success;                // the result with a device that answers
    std::vector<int> failures;  // the documented failures
    int budgetMs;               // the documented time the call may take at most, faults or not
    // Faults after which the call still succeeds (families that do not judge a reply byte).
    std::vector<Fault> tolerated = {};
    // Burns: the thousands of exchanges before the one under fault take as long as the machine
    // needs, so the budget runs from the first request under fault (from the call when none was
    // sent); a call that succeeds has the whole-burn bound.
    Image image = Image::kNone;
    // The exchange that opens its burn. An unplug before the call stops every burn at its first
    // exchange, and one after a burn that stopped early repeats the opening row's case: those two
    // run on the opening row (and the restart row, whose unplug after meets a new connection)
    // only. The race build tries each burn's unplug during the opening exchange only.
    bool opensBurn = false;
};

bool Applies(const Operation& op, Fault fault) {
    if (op.image == Image::kNone || op.opensBurn) return true;
    const bool restarts = op.success == 0;
#ifdef TOLVAN_FAULT_RACES_ONLY
    (void)fault;
    (void)restarts;
    return false;
#else
    return fault != Fault::kUnplugBefore && (restarts || fault != Fault::kUnplugAfter);
#endif
}

std::uint8_t s_mfg[64];
void NoSample(int, int, int) {}

int ReadSetting() {
    unsigned char value = 0;
    return ReadCalibrationSetting(40, &value) ? 1 : 0;
}

int Reconnect(std::uint32_t timeout) {
    TOLVFree();
    return TOLVConnect(0, timeout) ? 1 : 0;
}

bool StorageDirection(const Bytes& r, std::uint8_t direction, std::uint8_t erase) {
    return r.size() == 64 && r[3] == direction && r[6] == erase;
}

int Connect() {
    return Reconnect(2500);
}
int WriteSetting() {
    return WriteCalibrationSetting(40, 7) ? 1 : 0;
}
int LeadOff() {
    return TOLVSetLeadOff(1) ? 1 : 0;
}
int ReadMfg() {
    return TOLVReadMfgInfo(s_mfg, 64);
}
int WriteMfg() {  // erases the record's sector, then writes it
    return TOLVWriteMfgInfo(s_mfg, 16);
}
int DynamicLed() {
    return TOLVEnableDynamicLEDStrength(true) ? 1 : 0;
}
int Sampling() {  // converter selection; the stop is sent whatever the outcome
    const int started = TOLVStartPPGSampling();
    TOLVStopPPGSampling();
    return started;
}
bool StorageRead(const Bytes& r) {
    return StorageDirection(r, 0x00, 0);
}
bool StorageWrite(const Bytes& r) {
    return StorageDirection(r, 0xFF, 0);
}
bool StorageErase(const Bytes& r) {
    return StorageDirection(r, 0xFF, 1);
}

// ---- Burns ----
// A burn through the erase (1), write (2) or read-back (3) stage: the progress callback cancels
// it at the stage's closing report, so that the row's exchanges all run but not the restart
// (-1, and the MCU loader is left). Stage 0: the whole burn, restart and reconnect included.
template <int kLastStage>
int BurnThrough(int stage, int value) {
    return kLastStage != 0 && stage == kLastStage && value == 100 ? 1 : 0;
}
template <int kLastStage>
int Firmware() {
    return BurnFirmware(BurnThrough<kLastStage>);
}
template <int kLastStage>
int Mcu() {
    return BurnMcu(BurnThrough<kLastStage>);
}
// The loader's pauses: the erase waits are skipped (the virtual device answers at once), and so
// is the pause after the port is closed; the MCU's 5 s wait after its restart command is cut to
// a time that a late reply still lands in.
void LoaderPause(unsigned ms) {
    if (ms == kMcuRestartWaitMs) std::this_thread::sleep_for(milliseconds(kLateMs + 100));
}
bool FirmwareChannel(const Bytes& r) {
    return r.size() == 64 && r[5] == 3;
}
bool FirmwareErase(const Bytes& r) {
    return FirmwareChannel(r) && StorageErase(r);
}
bool FirmwareWrite(const Bytes& r) {
    return FirmwareChannel(r) && StorageWrite(r);
}
bool FirmwareRead(const Bytes& r) {
    return FirmwareChannel(r) && StorageRead(r);
}
bool LoaderMode(const Bytes& r, std::uint8_t mode) {
    return r.size() == 5 && r[1] == 0xFF && r[2] == 0x00 && r[4] == mode;
}
bool LoaderEnter(const Bytes& r) {
    return LoaderMode(r, 1);
}
bool LoaderRestart(const Bytes& r) {
    return LoaderMode(r, 255);
}
bool McuFrame(const Bytes& r, std::uint8_t direction, std::uint8_t sub) {
    return r.size() == 64 && r[1] == direction && r[2] == sub;
}
bool McuErase(const Bytes& r) {
    return McuFrame(r, 0xFF, 0x02);
}
bool McuWrite(const Bytes& r) {
    return McuFrame(r, 0xFF, 0x03);
}
bool McuRead(const Bytes& r) {
    return McuFrame(r, 0x00, 0x03);
}

std::vector<Operation> Operations() {
    const auto ppg = vdev::Preset::kPpg2012;
    const int exchange = 200 + 100;  // one write and one read
    const std::vector<Fault> wholeReply = {Fault::kUnacknowledged, Fault::kGarbage};
    return {
        // Identification (query family) and the information load; identification looks at
        // the "QTVP" mark only, not at an acknowledge byte.
        {"Connect", ppg, 0x55, {}, Connect, 1, {0}, 2500 + 1500, {Fault::kUnacknowledged}},
        {"SettingRead", ppg, 0xCC, {}, ReadSetting, 1, {0}, exchange},
        {"SettingWrite", ppg, 0xCC, {}, WriteSetting, 1, {0}, exchange},
        // The short OutputConfig of the lead-off relays: any whole reply is success.
        {"OutputConfig", ppg, 0x00, {}, LeadOff, 1, {0}, exchange, wholeReply},
        {"StorageRead", ppg, 0x12, StorageRead, ReadMfg, 64, {0}, 2 * exchange},
        {"StorageWrite", ppg, 0x12, StorageWrite, WriteMfg, 16, {0}, 2 * (exchange + 46) + 40},
        // An erase is judged by the length of its reply only.
        {"StorageErase",
         ppg,
         0x12,
         StorageErase,
         WriteMfg,
         16,
         {0},
         2 * (exchange + 46) + 40,
         wholeReply},
        // -1 (no module attached): the unplug can be seen before the read begins (the device
        // may go on the connect's own last module request).
        {"ModuleRead", ppg, 0xB0, {}, TOLVGetLEDAmbientLightMode, 0, {-2, -3, -1}, 80 + exchange},
        {"ModuleWrite", ppg, 0xB0, {}, DynamicLed, 1, {0}, 80 + exchange},
        // A short selection reply is completed by the module's first report: it did select.
        // -1 (not connected): an unplug during the selection can be seen before the start's
        // next step.
        {"Sampling",
         ppg,
         0xAD,
         {},
         Sampling,
         0,
         {-4, -1},
         2 * (80 + exchange),
         {Fault::kShortReply}},
        // The firmware loader: storage channel 3, whose erase and write replies are judged by
        // their length only, and whose read-back is judged by the data it carries. A failed burn
        // leaves the device connected with the image loaded; the same burn then passes.
        // -3: the session saw an unplug before the call; -5, -6: the exchange failed.
        {"FirmwareErase",
         ppg,
         0x12,
         FirmwareErase,
         Firmware<1>,
         -1,
         {-3, -5, -6},
         exchange,
         wholeReply,
         Image::kFirmware,
         true},
        {"FirmwareWrite",
         ppg,
         0x12,
         FirmwareWrite,
         Firmware<2>,
         -1,
         {-3, -5, -6},
         exchange,
         wholeReply,
         Image::kFirmware},
        // Garbage in a read-back reply is a mismatch (-9); an acknowledge byte is not looked at.
        {"FirmwareReadBack",
         ppg,
         0x12,
         FirmwareRead,
         Firmware<3>,
         -1,
         {-3, -5, -6, -9},
         exchange,
         {Fault::kUnacknowledged},
         Image::kFirmware},
        // The restart's reply is read but not judged. A device that goes during it does not come
        // back within the search (-11); the session then searches on as after an unplug.
        {"FirmwareRestart",
         ppg,
         0xDD,
         {},
         Firmware<0>,
         0,
         {-3, -5, -6, -11},
         exchange + kRestartSearchMs,
         {Fault::kNoReply, Fault::kShortReply, Fault::kUnacknowledged, Fault::kGarbage,
          Fault::kLate},
         Image::kFirmware},
        // The PPG module's MCU loader. The library's burn does not ask which module is attached
        // and the virtual module's loader answers on either, so these rows use the 0x2012
        // preset: the 0x2112 module's connect-time load (two DC tables, about 4 s) would
        // dominate every case. A burn that fails leaves the loader before it returns.
        // Entering the loader is judged by its acknowledge byte: -4 when it fails.
        {"McuLoaderEnter",
         ppg,
         0xB9,
         LoaderEnter,
         Mcu<1>,
         -1,
         {-3, -4},
         2 * exchange,
         {},
         Image::kMcu,
         true},
        {"McuErase",
         ppg,
         0xB9,
         McuErase,
         Mcu<1>,
         -1,
         {-3, -4, -5, -6},
         2 * exchange,
         wholeReply,
         Image::kMcu},
        {"McuWrite",
         ppg,
         0xB9,
         McuWrite,
         Mcu<2>,
         -1,
         {-3, -4, -5, -6},
         2 * exchange,
         wholeReply,
         Image::kMcu},
        {"McuReadBack",
         ppg,
         0xB9,
         McuRead,
         Mcu<3>,
         -1,
         {-3, -4, -5, -6, -9},
         2 * exchange,
         {Fault::kUnacknowledged},
         Image::kMcu},
        // The restart's reply is not judged; the 5 s and 1 s waits are cut short here.
        {"McuRestart",
         ppg,
         0xB9,
         LoaderRestart,
         Mcu<0>,
         0,
         {-3, -4, -11},
         exchange + kLateMs + 100 + kRestartSearchMs,
         {Fault::kNoReply, Fault::kShortReply, Fault::kUnacknowledged, Fault::kGarbage,
          Fault::kLate},
         Image::kMcu},
    };
}

struct MatrixCase {
    Operation op;
    Fault fault;
};

std::vector<MatrixCase> Cases() {
    std::vector<MatrixCase> out;
#ifdef TOLVAN_FAULT_RACES_ONLY
    const std::vector<Fault> faults = {Fault::kUnplugDuring};
#else
    const std::vector<Fault> faults = {
        Fault::kNoReply, Fault::kShortReply,   Fault::kUnacknowledged, Fault::kGarbage,
        Fault::kLate,    Fault::kUnplugBefore, Fault::kUnplugDuring,   Fault::kUnplugAfter};
#endif
    for (const auto& op : Operations()) {
        for (Fault fault : faults) {
            if (Applies(op, fault)) out.push_back({op, fault});
        }
    }
    return out;
}

vdev::FaultRule Rule(const Operation& op, Kind kind) {
    vdev::FaultRule rule;
    rule.kind = kind;
    rule.firstByte = op.firstByte;
    rule.match = op.match;
    rule.shortLength = 7;  // shorter than every reply
    rule.delayMs = kLateMs;
    return rule;
}

class FaultMatrix : public DeviceFixture, public ::testing::WithParamInterface<MatrixCase> {
  protected:
    // Runs the call; returns its result and sets elapsedMs: from the call, or for a burn from
    // the first request under fault when one reached the device.
    int Timed(const Operation& op, vdev::VirtualDevice& device, int* elapsedMs) {
        if (op.image != Image::kNone) device.ClearLog();
        auto start = Clock::now();
        const int result = op.call();
        const auto end = Clock::now();
        if (op.image != Image::kNone) {
            for (const auto& entry : device.Requests()) {
                if (entry.time < start || entry.bytes.empty() || entry.bytes[0] != op.firstByte ||
                    (op.match && !op.match(entry.bytes))) {
                    continue;
                }
                start = entry.time;
                break;
            }
        }
        *elapsedMs =
            static_cast<int>(std::chrono::duration_cast<milliseconds>(end - start).count());
        return result;
    }

    // The most a call may take: its budget, or the whole-burn bound for a burn that succeeds.
    static int Budget(const Operation& op, int result) {
        if (op.image != Image::kNone && result == op.success) return kWholeBurnMs;
        return op.budgetMs + kSlackMs;
    }

    // A burn's image, loaded as a service tool would; the loader's pauses shortened.
    void LoadImage(Image image) {
        if (image == Image::kNone) return;
        const Bytes bytes = image == Image::kFirmware ? vdev::MakeFirmwareImage({{1, 4, 0, 9}})
                                                      : vdev::MakeMcuImage({{3, 0, 1, 2}});
        const std::string path = Dir().Join("image.bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        const int loaded = image == Image::kFirmware
                               ? LoadFirmwareFile(path.c_str(), nullptr, nullptr, nullptr, nullptr)
                               : LoadMcuFile(path.c_str(), nullptr, nullptr, nullptr, nullptr);
        ASSERT_EQ(loaded, static_cast<int>(image == Image::kFirmware ? 122880 : bytes.size()));
        SetLoaderSleep(LoaderPause);
    }

    void TearDown() override {
        DeviceFixture::TearDown();
        SetLoaderSleep(nullptr);
    }

    static bool IsConnectRow() { return std::string(GetParam().op.name) == "Connect"; }

    static bool Failed(const Operation& op, int result) {
        for (int f : op.failures) {
            if (result == f) return true;
        }
        return false;
    }

    // After an unplug: the device comes back and the library connects to it again.
    // A failed TOLVConnect frees its session: the connect row reconnects by itself below.
    void ReplugAndReconnect(vdev::VirtualDevice& device) {
        ASSERT_TRUE(device.Replug());
        if (IsConnectRow()) return;
        // Until the library has noticed the loss it may still count as connected: wait for a
        // command that works (a new connection), not for the flag.
        ASSERT_TRUE(Eventually([] { return TOLVIsConnected() && TOLVGetUSBBusVoltage() == 50; },
                               milliseconds(kReconnectMs)))
            << "no working connection after the replug";
    }
};

TEST_P(FaultMatrix, ReturnsWithinBudgetWithItsFailureAndRecovers) {
    const Operation& op = GetParam().op;
    const Fault fault = GetParam().fault;
    std::memset(s_mfg, 'm', sizeof s_mfg);
    // A restarted simulator is back at once: the burn's search finds it on its first pass.
    vdev::Options options;
    options.config = vdev::MakePreset(op.preset);
    options.fastAck = true;
    options.restartDowntimeMs = 0;
    auto& device = op.image == Image::kNone ? StartDevice(op.preset, 0) : StartDevice(options, 0);
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVEnablePPGSampling(0, NoSample), 0);
    LoadImage(op.image);
    if (HasFatalFailure()) return;
    int elapsed = 0;
    int result = 0;

    switch (fault) {
        case Fault::kNoReply:
        case Fault::kShortReply:
        case Fault::kUnacknowledged:
        case Fault::kGarbage:
        case Fault::kLate: {
            const Kind kind = fault == Fault::kNoReply          ? Kind::kNoReply
                              : fault == Fault::kShortReply     ? Kind::kShortReply
                              : fault == Fault::kUnacknowledged ? Kind::kUnacknowledged
                              : fault == Fault::kGarbage        ? Kind::kGarbage
                                                                : Kind::kDelay;
            device.AddFault(Rule(op, kind));
            result = Timed(op, device, &elapsed);
            device.ClearFaults();
            bool tolerated = false;
            for (Fault t : op.tolerated) tolerated = tolerated || t == fault;
            if (tolerated) {
                EXPECT_EQ(result, op.success);
            } else {
                EXPECT_TRUE(Failed(op, result)) << "result " << result;
            }
            EXPECT_LE(elapsed, Budget(op, result));
            // A late reply lands after the call gave up; it must not pass for the next reply.
            if (fault == Fault::kLate) std::this_thread::sleep_for(milliseconds(kLateMs + 100));
            break;
        }
        case Fault::kUnplugBefore:
            device.Unplug();
            result = Timed(op, device, &elapsed);
            EXPECT_TRUE(Failed(op, result)) << "result " << result;
            EXPECT_LE(elapsed, Budget(op, result));
            ReplugAndReconnect(device);
            break;
        case Fault::kUnplugDuring: {
            // The reply is held back and the device goes while the call waits for it.
            device.AddFault(Rule(op, Kind::kDelay));
            std::atomic<bool> asked{false};
            std::thread unplug([&] {
                asked = device
                            .WaitForRequest(
                                [&](const Bytes& r) {
                                    return r[0] == op.firstByte && (!op.match || op.match(r));
                                },
                                milliseconds(op.image == Image::kNone ? 5000 : kWholeBurnMs))
                            .has_value();
                device.Unplug();
            });
            device.ClearLog();
            result = Timed(op, device, &elapsed);
            unplug.join();
            device.ClearFaults();
            EXPECT_TRUE(asked);
            EXPECT_TRUE(Failed(op, result)) << "result " << result;
            EXPECT_LE(elapsed, Budget(op, result));
            ReplugAndReconnect(device);
            break;
        }
        case Fault::kUnplugAfter:
            result = Timed(op, device, &elapsed);
            EXPECT_EQ(result, op.success);
            EXPECT_LE(elapsed, Budget(op, result));
            device.Unplug();
            ASSERT_TRUE(Eventually([] { return !TOLVIsConnected(); }, milliseconds(kReconnectMs)))
                << "the unplug went unnoticed";
            ReplugAndReconnect(device);
            break;
    }
    if (HasFatalFailure()) return;
    // A burn that ended, however, has left the MCU loader (an unplug leaves it as well).
    if (op.image == Image::kMcu) {
        EXPECT_TRUE(Eventually([&] { return !device.LoaderActive(); })) << "still in the loader";
    }

    // Recovery: the same call works again (the connect row reconnects with a longer timeout).
    const int again = IsConnectRow() ? Reconnect(5000) : op.call();
    EXPECT_EQ(again, op.success) << "the session did not recover";
    EXPECT_TRUE(TOLVIsConnected());
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50) << "a later command reads a stale reply";
}

void PrintTo(const MatrixCase& c, std::ostream* os) {
    *os << c.op.name << " x " << FaultName(c.fault);
}

std::string CaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
    return std::string(info.param.op.name) + "_" + FaultName(info.param.fault);
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(Cases()), CaseName);

// ---- Streaming ------------------------------------------------------------------------------
// The acknowledgements of the stream packets fail while a sine plays. The stream stalls (the
// device paces it); stopping it returns at once, and playback starts again cleanly afterwards.

class StreamFaults : public DeviceFixture, public ::testing::WithParamInterface<Fault> {};

TEST_P(StreamFaults, StopReturnsAndPlaybackResumes) {
    const Fault fault = GetParam();
    auto& device = StartDevice(vdev::Preset::kCurrent, 0);
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    ASSERT_TRUE(device.WaitForPackets(3, milliseconds(5000)));

    vdev::FaultRule rule;
    rule.firstByte = 0x01;
    rule.shortLength = 7;
    rule.delayMs = kLateMs;
    switch (fault) {
        case Fault::kNoReply:
            rule.kind = Kind::kNoReply;
            break;
        case Fault::kShortReply:
            rule.kind = Kind::kShortReply;
            break;
        case Fault::kUnacknowledged:
            rule.kind = Kind::kUnacknowledged;
            break;
        case Fault::kGarbage:
            rule.kind = Kind::kGarbage;
            break;
        default:
            rule.kind = Kind::kDelay;
            break;
    }
    const bool unplug = fault == Fault::kUnplugBefore || fault == Fault::kUnplugDuring ||
                        fault == Fault::kUnplugAfter;
    if (!unplug) device.AddFault(rule);
    if (unplug) device.Unplug();
    std::this_thread::sleep_for(milliseconds(300));
    // Commands still get through, or fail once the stream has been stuck for 3 s.
    auto start = Clock::now();
    TOLVSetLeadOff(0);
    EXPECT_LE(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count(),
              3000 + 300 + kSlackMs);

    start = Clock::now();
    EXPECT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_LE(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count(),
              1000 + kSlackMs)
        << "the stop waited for the stuck stream";
    EXPECT_FALSE(TOLVIsPlaying());
    device.ClearFaults();
    if (unplug) {
        ASSERT_TRUE(device.Replug());
        ASSERT_TRUE(Eventually([] { return TOLVIsConnected(); }, milliseconds(kReconnectMs)));
    }

    if (fault == Fault::kLate) std::this_thread::sleep_for(milliseconds(kLateMs + 100));
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_SINE), 0);
    EXPECT_TRUE(device.WaitForPackets(10, milliseconds(5000))) << "playback did not resume";
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);
    EXPECT_TRUE(device.Stats().errors.empty()) << device.Stats().errors.front();
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 50);
}

#ifdef TOLVAN_FAULT_RACES_ONLY
INSTANTIATE_TEST_SUITE_P(Stream, StreamFaults, ::testing::Values(Fault::kUnplugDuring),
                         [](const auto& info) { return std::string(FaultName(info.param)); });
#else
INSTANTIATE_TEST_SUITE_P(Stream, StreamFaults,
                         ::testing::Values(Fault::kNoReply, Fault::kShortReply,
                                           Fault::kUnacknowledged, Fault::kGarbage, Fault::kLate,
                                           Fault::kUnplugDuring),
                         [](const auto& info) { return std::string(FaultName(info.param)); });
#endif

}  // namespace
