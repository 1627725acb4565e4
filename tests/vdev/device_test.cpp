// End-to-end tests of the virtual device through its node, with a raw serial client.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Packets.h"
#include "SerialClient.h"
#include "vdev/VirtualDevice.h"
#include "vdev/VirtualDeviceFixture.h"

namespace {

using namespace std::chrono_literals;
using vdev::Bytes;
using vdev::FaultRule;
using vdev::Preset;
using vdevtest::Request;
using vdevtest::SerialClient;
using vdevtest::StorageFrame;

Bytes Padded(std::initializer_list<std::uint8_t> head, std::size_t size = 64) {
    return Request(head, size);
}

bool NodeExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

class DeviceTest : public vdev::VirtualDeviceTest {
  protected:
    std::unique_ptr<SerialClient> Open(vdev::VirtualDevice& device) {
        auto client = std::make_unique<SerialClient>(device.NodePath());
        EXPECT_TRUE(client->ok()) << device.NodePath();
        return client;
    }
};

// ---------------------------------------------------------------------------------------------
// Identity and queries

struct QueryCase {
    const char* name;
    Preset preset;
    Bytes request;
    Bytes reply;  // exact, whole
};

class DeviceQueries : public DeviceTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(DeviceQueries, AnswerWithExactBytes) {
    const QueryCase& c = GetParam();
    auto& device = StartDevice(c.preset);
    auto client = Open(device);
    EXPECT_EQ(client->Exchange(c.request, c.reply.size()), c.reply);
    // Nothing more follows the reply.
    EXPECT_TRUE(client->Read(1, 30ms).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Presets, DeviceQueries,
    ::testing::Values(
        QueryCase{"IdentifyCurrent",
                  Preset::kCurrent,
                  {0x55, 0x00, 0x00},
                  {0x55, 0x00, 0x00, 0xFF, 'Q', 'T', 'V', 'P', 0x02, 0x01, 0x03, 0x2F}},
        QueryCase{"DacWidth16Bit",
                  Preset::kPpg2112,
                  {0x55, 0x00, 0x81},
                  {0x55, 0x00, 0x81, 0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0}},
        QueryCase{"HardwareVersion", Preset::kCurrent, {0xAA, 0x02}, {0xAA, 0x02, 0x01, 0, 0}},
        QueryCase{
            "FirmwareVersion", Preset::kCurrent, {0xAA, 0x03}, {0xAA, 0x01, 0x03, 0x05, 0x0C}},
        QueryCase{"BusVoltage",
                  Preset::kCurrent,
                  {0xCC, 0x00, 0x42},
                  Padded({0xCC, 0x00, 0x42, 0xFF, 50})},
        QueryCase{"ModuleVersion2112",
                  Preset::kPpg2112,
                  {0xB9, 0x00, 0x01},
                  Padded({0xB9, 0x00, 0x01, 0xFF, 2, 1, 0, 4})},
        QueryCase{"ModuleVersionWithoutModule",
                  Preset::kCurrent,
                  {0xB8, 0x00, 0x01},
                  Padded({0xB8, 0x00, 0x01, 0x00})},
        QueryCase{"ModuleImagePpg2112", Preset::kPpg2112, StorageFrame(false, 19, false, 12, 0),
                  [] {
                      Bytes r = StorageFrame(false, 19, false, 12, 0);
                      r[4] = 0xFF;
                      const Bytes image{'Q', 'A', 'P', 0x21, 0x12, 25, 0x08, 0x40, 1, 2, 0, 0};
                      std::copy(image.begin(), image.end(), r.begin() + 16);
                      return r;
                  }()},
        QueryCase{"RespirationModuleImage", Preset::kRespiration,
                  StorageFrame(false, 19, false, 3, 0),
                  [] {
                      Bytes r = StorageFrame(false, 19, false, 3, 0);
                      r[4] = 0xFF;
                      r[16] = 'Q';
                      r[17] = 'E';
                      r[18] = 'R';
                      return r;
                  }()}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

TEST_F(DeviceTest, IdentifyMarkCanBeMadeWrong) {
    auto& device = StartDevice(Preset::kCurrent);
    device.SetIdentifyMark({'Q', 'T', 'V', 'X'});
    auto client = Open(device);
    const Bytes reply = client->Exchange({0x55, 0x00, 0x00}, 12);
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(Bytes(reply.begin() + 4, reply.begin() + 8), (Bytes{'Q', 'T', 'V', 'X'}));
}

// ---------------------------------------------------------------------------------------------
// Storage

TEST_F(DeviceTest, StorageReadEchoesTheHeaderAndCarriesTheModelImage) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    const Bytes request = StorageFrame(false, 1, false, 12, 0);
    Bytes expected = request;
    expected[4] = 0xFF;
    const Bytes image{'Q', 'P', 'S', 0x01, 0x30, 26, 0x03, 0x2F, 2, 1, 1, 3};
    std::copy(image.begin(), image.end(), expected.begin() + 16);
    EXPECT_EQ(client->Exchange(request, 64), expected);
}

TEST_F(DeviceTest, StorageWriteReadBackAndSectorErase) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    const std::uint32_t sector = 14 * 1024;  // beyond the calibration table in channel 18
    Bytes data(32);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);

    const Bytes write = StorageFrame(true, 18, false, 32, sector + 40, data);
    Bytes writeReply = client->Exchange(write, 64);
    ASSERT_EQ(writeReply.size(), 64u);
    EXPECT_EQ(Bytes(writeReply.begin(), writeReply.begin() + 16),
              (Bytes{0x12, 0x55, 0xAA, 0xFF, 0xFF, 18, 0, 32, 0, 0, 0x38, 0x28, 0, 0, 0, 0}));
    // The last byte of the sector before is written too and must survive the erase.
    ASSERT_EQ(client->Exchange(StorageFrame(true, 18, false, 1, sector - 1, {0x5A}), 64)[4], 0xFF);

    const Bytes read = client->Exchange(StorageFrame(false, 18, false, 32, sector + 40), 64);
    ASSERT_EQ(read.size(), 64u);
    EXPECT_EQ(read[4], 0xFF);
    EXPECT_EQ(Bytes(read.begin() + 16, read.begin() + 48), data);
    EXPECT_EQ(device.ReadFlash(18, sector + 40, 32), data);

    const Bytes erase = StorageFrame(true, 18, true, 0, sector + 1000);
    Bytes expectedErase = erase;
    expectedErase[4] = 0xFF;
    EXPECT_EQ(client->Exchange(erase, 64), expectedErase);
    EXPECT_EQ(device.ReadFlash(18, sector, 1024), Bytes(1024, 0xFF));
    const Bytes after = client->Exchange(StorageFrame(false, 18, false, 48, sector + 32), 64);
    ASSERT_EQ(after.size(), 64u);
    EXPECT_EQ(Bytes(after.begin() + 16, after.end()), Bytes(48, 0xFF));
    EXPECT_EQ(device.ReadFlash(18, sector - 1, 1), Bytes{0x5A});
    // The calibration table at the start of the channel is untouched.
    const auto table = vdev::PresetDcTable();
    EXPECT_EQ(device.DcTableInFlash(), table);
}

struct RefusedStorage {
    const char* name;
    Preset preset;
    Bytes frame;
};

class DeviceStorageRefusals : public DeviceTest,
                              public ::testing::WithParamInterface<RefusedStorage> {};

TEST_P(DeviceStorageRefusals, AreAnsweredWithoutAcknowledge) {
    auto& device = StartDevice(GetParam().preset);
    auto client = Open(device);
    const Bytes& frame = GetParam().frame;
    Bytes expected(64, 0);
    std::copy(frame.begin(), frame.begin() + 16, expected.begin());
    expected[4] = 0x00;
    EXPECT_EQ(client->Exchange(frame, 64), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DeviceStorageRefusals,
    ::testing::Values(
        RefusedStorage{"ModuleChannelWithoutModule", Preset::kCurrent,
                       StorageFrame(false, 19, false, 12, 0)},
        RefusedStorage{"UnknownChannel", Preset::kCurrent, StorageFrame(false, 7, false, 4, 0)},
        RefusedStorage{"ReadPastTheEnd", Preset::kCurrent, StorageFrame(false, 1, false, 12, 1020)},
        RefusedStorage{"CountAbove48", Preset::kCurrent, StorageFrame(false, 3, false, 49, 0)},
        RefusedStorage{"EraseWithReadDirection", Preset::kCurrent,
                       StorageFrame(false, 18, true, 0, 0)},
        RefusedStorage{"WritePastTheEnd", Preset::kCurrent,
                       StorageFrame(true, 1, false, 8, 1020, Bytes(8, 1))}),
    [](const ::testing::TestParamInfo<RefusedStorage>& info) { return info.param.name; });

TEST_F(DeviceTest, OldPresetKeepsTheTableAtTheOldLocationOnly) {
    auto& device = StartDevice(Preset::kOld);
    const auto table = vdev::PresetDcTable();
    const Bytes presence = device.ReadFlash(3, 104400, 4);
    EXPECT_EQ(presence, (Bytes{static_cast<std::uint8_t>(table[1000] >> 8),
                               static_cast<std::uint8_t>(table[1000] & 0xFF),
                               static_cast<std::uint8_t>(table[1001] >> 8),
                               static_cast<std::uint8_t>(table[1001] & 0xFF)}));
    EXPECT_EQ(device.ReadFlash(18, 0, 8), Bytes(8, 0xFF));
    EXPECT_EQ(device.ReadFlash(1, 10, 2), (Bytes{1, 2}));  // flash firmware 1.2
}

// ---------------------------------------------------------------------------------------------
// Framing: requests that share a first byte differ by length only

TEST_F(DeviceTest, QuietGapSeparatesFullAndShortForms) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    const Bytes full = Request({0x00, 0xFF, 0x03, 0x4E, 0x20, 0x07, 0x00, 0x01}, 17);
    const Bytes shortForm{0x00, 0xFF, 0x03, 0x4E, 0x20, 0x07, 0x28, 0x01};
    EXPECT_EQ(client->Exchange(full, 64).size(), 64u);
    EXPECT_EQ(client->Exchange(shortForm, 64).size(), 64u);
    EXPECT_EQ(device.LastOutputConfig(), full);
    EXPECT_EQ(device.LastShortOutputConfig(), shortForm);
    EXPECT_EQ(device.SampleRate(), 20000);

    // SettingWrite (64 bytes, 16-bit little-endian) and SettingWriteShort (5 bytes).
    EXPECT_EQ(client->Exchange(Request({0xCC, 0xFF, 0x19, 0x00, 0x34, 0x12}, 64), 64)[3], 0xFF);
    EXPECT_EQ(client->Exchange({0xCC, 0xFF, 0x03, 0x00, 0x07}, 64)[3], 0xFF);
    EXPECT_EQ(client->Exchange(Request({0xCC, 0x00, 0x19}, 64), 64),
              Padded({0xCC, 0x00, 0x19, 0xFF, 0x34, 0x12}));
    EXPECT_EQ(client->Exchange({0xCC, 0x00, 0x03, 0x00, 0x00}, 64),
              Padded({0xCC, 0x00, 0x03, 0xFF, 0x07}));

    std::vector<std::string> names;
    for (const auto& e : device.Requests()) names.push_back(e.note);
    EXPECT_EQ(names,
              (std::vector<std::string>{"OutputConfig", "OutputConfig (short)", "SettingWrite",
                                        "SettingWriteShort", "SettingRead", "SettingReadShort"}));
}

TEST_F(DeviceTest, CommandWithoutAwaitedReplyFollowedByAPacket) {
    // During playback the host sends AmbientLightWrite without reading its reply and may write
    // the next packet right behind it: both must be recognised and answered in order.
    auto& device = StartDevice(Preset::kPpg2012);
    device.SetFastAck(true);
    auto client = Open(device);
    Bytes both{0xB0, 0xFF, 0x10, 0x00, 0x04, 0x00};
    const Bytes packet = vdevtest::EcgPacket(0, 32767, 0);
    both.insert(both.end(), packet.begin(), packet.end());
    ASSERT_TRUE(client->Write(both));
    EXPECT_EQ(client->Read(64, 2000ms), Padded({0xB0, 0xFF, 0x10, 0xFF, 0x04}));
    EXPECT_EQ(client->Read(64, 2000ms), Padded({0x01, 0x03, 0x00, 0xFF, 0x00, 14, 0x00, 49}));
    EXPECT_EQ(device.AmbientLightMode(), 4);
    EXPECT_EQ(device.Stats().packets, 1u);
}

TEST_F(DeviceTest, UnplugAndReplugAfterStopReturnAtOnce) {
    auto& device = StartDevice(Preset::kCurrent);
    device.Stop();
    device.Unplug();
    EXPECT_FALSE(device.Replug());
    EXPECT_FALSE(device.IsPlugged());
    EXPECT_FALSE(NodeExists(device.NodePath()));
    EXPECT_EQ(device.ReadFlash(1, 0, 1), Bytes{'Q'});
}

TEST_F(DeviceTest, UnknownRequestIsLoggedAndNotAnswered) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    EXPECT_TRUE(client->Exchange({0x77, 0x01, 0x02}, 64, 150ms).empty());
    const auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].note, "unknown request");
    // The device still answers the next request.
    EXPECT_EQ(client->Exchange({0xAA, 0x03}, 5).size(), 5u);
}

// ---------------------------------------------------------------------------------------------
// Stream packets

TEST_F(DeviceTest, EveryStreamPacketGetsOneAcknowledgementAtPlayingPace) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    ASSERT_EQ(client->Exchange(Request({0x00, 0xFF, 0x03, 0x4E, 0x20, 0, 0, 1}, 17), 64).size(),
              64u);
    const auto table = vdev::PresetDcTable();
    const auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < 4; ++p) {
        ASSERT_TRUE(client->Write(
            vdevtest::EcgPacket(static_cast<std::uint16_t>(50 * p), table[2000 + 250], 1.0)));
    }
    for (int p = 0; p < 4; ++p) {
        const std::uint16_t last = static_cast<std::uint16_t>(50 * p + 49);
        EXPECT_EQ(client->Read(64, 3000ms),
                  Padded({0x01, 0x03, 0x00, 0xFF, 0x00, 14, static_cast<std::uint8_t>(last >> 8),
                          static_cast<std::uint8_t>(last & 0xFF)}))
            << "acknowledgement " << p;
    }
    // The device plays one packet (700 samples at 20000/s = 35 ms) before it releases the
    // next: the fourth acknowledgement cannot come before three playing times have passed.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_TRUE(client->Read(1, 60ms).empty());

    const auto stats = device.Stats();
    EXPECT_EQ(stats.packets, 4u);
    EXPECT_EQ(stats.samples, 2800u);
    EXPECT_TRUE(stats.errors.empty()) << stats.errors.front();
    const auto samples = device.DecodedSamples();
    ASSERT_EQ(samples.size(), 2800u);
    EXPECT_DOUBLE_EQ(samples.front().dcMillivolts, 250.0);
    EXPECT_DOUBLE_EQ(samples.back().acMillivolts, 1.0);
    EXPECT_EQ(device.CountRequests([](const Bytes& b) { return b.size() == 3200; }), 4u);
}

TEST_F(DeviceTest, FastAcknowledgementAndSequenceErrors) {
    auto& device = StartDevice(Preset::kCurrent);
    device.SetFastAck(true);
    auto client = Open(device);
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(0, 32767, 0)));
    EXPECT_EQ(client->Read(64, 2000ms).size(), 64u);
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(60, 32767, 0)));  // ten sub-packets lost
    EXPECT_EQ(client->Read(64, 2000ms).size(), 64u);
    const auto stats = device.Stats();
    EXPECT_EQ(stats.packets, 2u);
    ASSERT_EQ(stats.errors.size(), 1u);
    EXPECT_NE(stats.errors[0].find("sequence number (got 60, expected 50)"), std::string::npos)
        << stats.errors[0];
    device.ClearDecoded();
    EXPECT_EQ(device.Stats().packets, 0u);
    EXPECT_TRUE(device.DecodedSamples().empty());
}

TEST_F(DeviceTest, DecodingFollowsTheCalibrationTableInFlash) {
    auto& device = StartDevice(Preset::kCurrent);
    device.SetFastAck(true);
    auto client = Open(device);
    const auto table = vdev::PresetDcTable();
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(0, table[2000 + 100], 0)));
    ASSERT_EQ(client->Read(64, 2000ms).size(), 64u);
    EXPECT_DOUBLE_EQ(device.DecodedSamples().back().dcMillivolts, 100.0);

    // Without a table in flash the device plays the default table: code 32767 is 0 mV.
    ASSERT_TRUE(device.EraseFlash(18));
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(50, 32767, 0)));
    ASSERT_EQ(client->Read(64, 2000ms).size(), 64u);
    EXPECT_DOUBLE_EQ(device.DecodedSamples().back().dcMillivolts, 0.0);
}

TEST_F(DeviceTest, TruncatedStreamPacketIsDroppedWithoutAcknowledgement) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    Bytes partial = vdevtest::EcgPacket(0, 32767, 0);
    partial.resize(1000);
    ASSERT_TRUE(client->Write(partial));
    EXPECT_TRUE(client->Read(64, 500ms).empty());
    EXPECT_TRUE(Eventually([&] { return device.Stats().truncatedPackets == 1; }));
    EXPECT_EQ(device.Stats().packets, 0u);
    EXPECT_EQ(client->Exchange({0x55, 0x00, 0x00}, 12).size(), 12u);
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(DeviceTest, ShortNoAndUnacknowledgedReplies) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    const Bytes read = StorageFrame(false, 1, false, 12, 0);
    const Bytes good = client->Exchange(read, 64);
    ASSERT_EQ(good.size(), 64u);

    FaultRule shortReply;
    shortReply.kind = FaultRule::Kind::kShortReply;
    shortReply.firstByte = 0x12;
    shortReply.count = 1;
    device.AddFault(shortReply);
    EXPECT_EQ(client->Exchange(read, 64, 300ms), Bytes(good.begin(), good.begin() + 40));
    EXPECT_EQ(client->Exchange(read, 64), good);  // count 1: the next reply is whole again

    FaultRule unacknowledged;
    unacknowledged.kind = FaultRule::Kind::kUnacknowledged;
    unacknowledged.firstByte = 0x12;
    device.AddFault(unacknowledged);
    Bytes refused = good;
    refused[4] = 0x00;
    EXPECT_EQ(client->Exchange(read, 64), refused);
    device.ClearFaults();

    FaultRule silent;
    silent.kind = FaultRule::Kind::kNoReply;
    silent.firstByte = 0x55;
    silent.skip = 1;
    silent.count = 1;
    device.AddFault(silent);
    EXPECT_EQ(client->Exchange({0x55, 0x00, 0x00}, 12).size(), 12u);       // skipped
    EXPECT_TRUE(client->Exchange({0x55, 0x00, 0x00}, 12, 300ms).empty());  // silent
    EXPECT_EQ(client->Exchange({0x55, 0x00, 0x00}, 12).size(), 12u);       // spent
    int faultNotes = 0;
    for (const auto& e : device.Log()) {
        if (e.note.find("[fault: no reply]") != std::string::npos) ++faultNotes;
    }
    EXPECT_EQ(faultNotes, 1);
}

TEST_F(DeviceTest, DelayedAndCorruptedReplies) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    FaultRule delay;
    delay.kind = FaultRule::Kind::kDelay;
    delay.firstByte = 0xAA;
    delay.delayMs = 150;
    device.AddFault(delay);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->Exchange({0xAA, 0x03}, 5, 3000ms), (Bytes{0xAA, 0x01, 0x03, 0x05, 0x0C}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);

    FaultRule corrupt;
    corrupt.kind = FaultRule::Kind::kCorruptByte;
    corrupt.match = [](const Bytes& request) { return request == Bytes{0x55, 0x00, 0x00}; };
    corrupt.index = 7;
    corrupt.value = 'p';
    device.AddFault(corrupt);
    EXPECT_EQ(client->Exchange({0x55, 0x00, 0x00}, 12)[7], 'p');
    EXPECT_EQ(client->Exchange({0x55, 0x00, 0x81}, 12)[7], 0x00);  // not matched
}

TEST_F(DeviceTest, StreamAcknowledgementFaults) {
    auto& device = StartDevice(Preset::kCurrent);
    device.SetFastAck(true);
    auto client = Open(device);
    FaultRule lose;
    lose.kind = FaultRule::Kind::kNoReply;
    lose.firstByte = 0x01;
    lose.skip = 1;
    lose.count = 1;
    device.AddFault(lose);
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(0, 32767, 0)));
    EXPECT_EQ(client->Read(64, 2000ms).size(), 64u);
    ASSERT_TRUE(client->Write(vdevtest::EcgPacket(50, 32767, 0)));
    EXPECT_TRUE(client->Read(64, 300ms).empty());
    EXPECT_EQ(device.Stats().packets, 2u);  // received and played, just not acknowledged
}

// ---------------------------------------------------------------------------------------------
// Clients come and go; the device is unplugged and plugged in again

TEST_F(DeviceTest, ClientMayCloseAndReopenTheNode) {
    auto& device = StartDevice(Preset::kCurrent);
    for (int round = 0; round < 3; ++round) {
        SerialClient client(device.NodePath());
        ASSERT_TRUE(client.ok());
        EXPECT_EQ(client.Exchange({0x55, 0x00, 0x00}, 12).size(), 12u) << "round " << round;
    }
}

TEST_F(DeviceTest, UnplugRemovesTheNodeAndReplugRestoresIt) {
    auto& device = StartDevice(Preset::kCurrent, 2);
    EXPECT_EQ(device.NodePath(), Directory() + "/ttyACM2");
    auto client = Open(device);
    ASSERT_EQ(client->Exchange(StorageFrame(true, 18, false, 2, 9000, {0x12, 0x34}), 64)[4], 0xFF);

    device.Unplug();
    EXPECT_FALSE(device.IsPlugged());
    EXPECT_FALSE(NodeExists(device.NodePath()));
    EXPECT_TRUE(device.SlavePath().empty());
    // The open client sees the line go: its read ends with end of file or an error.
    client->Write({0x55, 0x00, 0x00});
    EXPECT_TRUE(client->Read(12, 500ms).empty());
    EXPECT_TRUE(client->lastReadFailed());
    client.reset();

    ASSERT_TRUE(device.Replug());
    EXPECT_TRUE(device.IsPlugged());
    EXPECT_TRUE(NodeExists(device.NodePath()));
    auto again = Open(device);
    EXPECT_EQ(again->Exchange({0x55, 0x00, 0x00}, 12).size(), 12u);
    const Bytes kept = again->Exchange(StorageFrame(false, 18, false, 2, 9000), 64);
    ASSERT_EQ(kept.size(), 64u);
    EXPECT_EQ(kept[16], 0x12);
    EXPECT_EQ(kept[17], 0x34);
}

TEST_F(DeviceTest, RestartBootsTheBurnedImageAndComesBack) {
    vdev::Options options;
    options.restartDowntimeMs = 1000;  // long enough to see the node gone even on a busy machine
    auto& device = StartDevice(Preset::kCurrent, 0, options);
    // The burned image carries version 1.4.00.01 at its version offset.
    ASSERT_TRUE(device.WriteFlash(3, 118776, {1, 4, 0, 1}));
    auto client = Open(device);
    EXPECT_EQ(client->Exchange({0xDD}, 64), Padded({0xDD, 0xFF}));
    EXPECT_TRUE(Eventually([&] { return !NodeExists(device.NodePath()); }));
    client.reset();
    EXPECT_TRUE(Eventually([&] { return device.IsPlugged(); }));
    EXPECT_EQ(device.RestartCount(), 1);
    auto again = Open(device);
    EXPECT_EQ(again->Exchange({0xAA, 0x03}, 5), (Bytes{0xAA, 0x01, 0x04, 0x00, 0x01}));
}

// ---------------------------------------------------------------------------------------------
// PPG module, module blocks, MCU loader

TEST_F(DeviceTest, PhotodiodeSamplingReportsWhileSelected) {
    auto& device = StartDevice(Preset::kPpg2012);
    auto client = Open(device);
    EXPECT_EQ(client->Exchange({0xAD, 0xFF, 0x00, 0x00, 0x05}, 64),
              Padded({0xAD, 0xFF, 0x00, 0xFF, 0x05}));
    EXPECT_TRUE(device.IsSampling());
    int status = -1;  // the frames' running number, consecutive across reports
    for (int r = 0; r < 2; ++r) {
        const Bytes report = client->Read(64, 2000ms);
        ASSERT_EQ(report.size(), 64u);
        EXPECT_EQ(report[0], 0xAD);
        EXPECT_EQ(report[1], 0xFF);
        EXPECT_EQ(report[4], 0x05);
        // Two inputs: frames of 5 bytes (two 12-bit samples, status); 11 fill bytes 8..62.
        for (int f = 0; f < 11; ++f) {
            const std::size_t at = 8 + 5 * f;
            EXPECT_LT((report[at] << 8) | report[at + 1], 4096);
            EXPECT_LT((report[at + 2] << 8) | report[at + 3], 4096);
            if (status >= 0) {
                EXPECT_EQ(report[at + 4], (status + 1) & 0xFF);
            }
            status = report[at + 4];
        }
        EXPECT_EQ(report[63], 0x00);
    }
    // Stop: the reply is the one message with byte 3 set among any reports already queued.
    ASSERT_TRUE(client->Write({0xAD, 0xFF, 0x00, 0x00, 0x00}));
    Bytes reply;
    for (int i = 0; i < 10 && (reply.size() != 64 || reply[3] != 0xFF); ++i) {
        reply = client->Read(64, 1000ms);
    }
    EXPECT_EQ(reply, Padded({0xAD, 0xFF, 0x00, 0xFF, 0x00}));
    EXPECT_FALSE(device.IsSampling());
    EXPECT_TRUE(client->Read(64, 200ms).empty());
}

TEST_F(DeviceTest, SamplingIsRefusedWithoutPpgModule) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    EXPECT_EQ(client->Exchange({0xAD, 0xFF, 0x00, 0x00, 0x05}, 64),
              Padded({0xAD, 0xFF, 0x00, 0x00, 0x05}));
    EXPECT_TRUE(client->Read(64, 200ms).empty());
    EXPECT_FALSE(device.IsSampling());
}

TEST_F(DeviceTest, PpgModuleReadouts) {
    auto& device = StartDevice(Preset::kPpg2012);
    auto client = Open(device);
    // Six 12-bit photodiode values 1000, 2000, 1500, 2500, 1200, 2200 packed two per 3 bytes.
    Bytes pd = Padded({0xB0, 0x00, 0x02, 0xFF});
    const Bytes packed{0x3E, 0x87, 0xD0, 0x5D, 0xC9, 0xC4, 0x4B, 0x08, 0x98};
    std::copy(packed.begin(), packed.end(), pd.begin() + 9);
    EXPECT_EQ(client->Exchange({0xB0, 0x00, 0x02}, 64), pd);
    EXPECT_EQ(client->Exchange({0xB0, 0xFF, 0x03, 0x00, 0x00}, 64)[4], 0xFF);
    EXPECT_FALSE(device.DynamicLedEnabled());
    EXPECT_EQ(client->Exchange({0xB0, 0xFF, 0x10, 0x00, 0x09, 0x00}, 64)[3], 0xFF);
    EXPECT_EQ(client->Exchange({0xB0, 0x00, 0x10, 0x00, 0x00, 0x00}, 64),
              Padded({0xB0, 0x00, 0x10, 0xFF, 0x09}));
    EXPECT_EQ(device.AmbientLightMode(), 9);
    EXPECT_EQ(client->Exchange({0xAD, 0x00, 0x01, 0x00, 0x10}, 64),
              Padded({0xAD, 0x00, 0x01, 0xFF, 0x10, 0x00, 0x02, 0x00, 0x01, 0x36}));
}

TEST_F(DeviceTest, RespirationModuleSettings) {
    auto& device = StartDevice(Preset::kRespiration);
    auto client = Open(device);
    // Four 16-bit big-endian module words: potentiometers 1..3 and the baseline DAC code.
    EXPECT_EQ(client->Exchange({0xCC, 0x00, 0x0D, 0x00}, 64),
              Padded({0xCC, 0x00, 0x0D, 0xFF, 0x02, 0x00, 0x02, 0x00, 0x00, 0x28, 0x03, 0xE8}));
    EXPECT_EQ(client->Exchange(Request({0xCC, 0xFF, 0x0D, 0x00, 0x12, 0x34, 0, 1, 0, 2, 0, 3}, 64),
                               64)[3],
              0xFF);
    EXPECT_EQ(client->Exchange({0xCC, 0xFF, 0x0E, 0x00, 0x04, 0x02}, 64)[3], 0xFF);
    EXPECT_EQ(client->Exchange({0xCC, 0x00, 0x0E, 0x00}, 64),
              Padded({0xCC, 0x00, 0x0E, 0xFF, 0x04, 0x02}));
    const Bytes words = device.Setting(0x0D);
    EXPECT_EQ(Bytes(words.begin(), words.begin() + 8), (Bytes{0x12, 0x34, 0, 1, 0, 2, 0, 3}));
    std::vector<std::string> names;
    for (const auto& e : device.Requests()) names.push_back(e.note);
    EXPECT_EQ(names, (std::vector<std::string>{"RespModuleRead", "RespModuleWrite",
                                               "RespBaselineWrite", "RespBaselineRead"}));
    // The coefficient record in channel 19 starts with its validity mark 0.60991.
    const Bytes record = device.ReadFlash(19, 5248, 8);
    double mark = 0;
    std::memcpy(&mark, record.data(), sizeof mark);
    EXPECT_DOUBLE_EQ(mark, 0.60991);
}

TEST_F(DeviceTest, ConverterSelectionForRightLegDrive) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    EXPECT_EQ(client->Exchange({0xAD, 0xFF, 0x00, 0x00, 0x10}, 64),
              Padded({0xAD, 0xFF, 0x00, 0xFF, 0x10}));
    EXPECT_EQ(device.ConverterSelection(), 0x10);
    EXPECT_FALSE(device.IsSampling());
    EXPECT_EQ(client->Exchange({0xAD, 0x00, 0x00, 0x00, 0x10}, 64),
              Padded({0xAD, 0x00, 0x00, 0xFF, 0x10}));
    EXPECT_EQ(client->Exchange({0xAD, 0xFF, 0x00, 0x00, 0x00}, 64)[3], 0xFF);
    EXPECT_EQ(device.ConverterSelection(), 0);
}

TEST_F(DeviceTest, ModuleParameterBlocks) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    Bytes block = client->Exchange({0xEA, 0x00, 0x01}, 64);
    ASSERT_EQ(block, Padded({0xEA, 0x00, 0x01, 0xFF}));
    block[1] = 0xFF;
    block[8] = 20;
    block[12] = 1;
    block[24] = 0x12;
    block[25] = 0x34;
    EXPECT_EQ(client->Exchange(block, 64)[3], 0xFF);
    Bytes respiration = Request({0xEA, 0xFF, 0x01}, 19);
    respiration[8] = 15;
    respiration[9] = 5;
    respiration[11] = 2;
    EXPECT_EQ(client->Exchange(respiration, 64)[3], 0xFF);
    const Bytes stored = device.ModuleBlock(1);
    EXPECT_EQ(Bytes(stored.begin() + 8, stored.begin() + 13), (Bytes{15, 5, 0, 2, 1}));
    EXPECT_EQ(stored[24], 0x12);
    EXPECT_EQ(stored[25], 0x34);

    Bytes pulses = Request({0xEA, 0xFF, 0x00}, 64);
    pulses[36] = 0x01;
    pulses[37] = 0xF4;
    const Bytes slots{1, 2, 4, 0, 1, 0, 0, 2};
    std::copy(slots.begin(), slots.end(), pulses.begin() + 40);
    EXPECT_EQ(client->Exchange(pulses, 64)[3], 0xFF);
    const Bytes readBack = client->Exchange(Request({0xEA, 0xFF, 0x00}, 64), 64);
    ASSERT_EQ(readBack.size(), 64u);
    EXPECT_EQ(readBack[3], 0xFF);
    EXPECT_EQ(Bytes(readBack.begin() + 35, readBack.begin() + 48),
              (Bytes{0, 0x01, 0xF4, 0, 0, 1, 2, 4, 0, 1, 0, 0, 2}));
}

TEST_F(DeviceTest, McuLoaderWritesReadsAndRestartsTheModule) {
    auto& device = StartDevice(Preset::kPpg2112);
    auto client = Open(device);
    auto mcuWrite = [](std::uint32_t address, const Bytes& data) {
        Bytes frame =
            Request({0xB9, 0xFF, 0x03, 0x00, static_cast<std::uint8_t>(data.size()),
                     static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
                    64);
        std::copy(data.begin(), data.end(), frame.begin() + 8);
        return frame;
    };
    const Bytes data(32, 0x3C);
    EXPECT_EQ(client->Exchange(mcuWrite(0x400, data), 64)[3], 0x00);  // loader not entered
    EXPECT_EQ(client->Exchange({0xB9, 0xFF, 0x00, 0x00, 0x01}, 64),
              Padded({0xB9, 0xFF, 0x00, 0xFF, 0x01}));
    EXPECT_TRUE(device.LoaderActive());
    EXPECT_EQ(
        client->Exchange(Request({0xB9, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00}, 64), 64)[3],
        0xFF);
    EXPECT_EQ(client->Exchange(mcuWrite(0x410, data), 64)[3], 0xFF);
    const Bytes read =
        client->Exchange(Request({0xB9, 0x00, 0x03, 0x00, 52, 0x00, 0x04, 0x00}, 64), 64);
    ASSERT_EQ(read.size(), 64u);
    Bytes expected = Padded({0xB9, 0x00, 0x03, 0xFF, 52, 0x00, 0x04, 0x00});
    std::fill(expected.begin() + 8, expected.begin() + 60, 0xFF);
    std::fill(expected.begin() + 24, expected.begin() + 56, 0x3C);
    EXPECT_EQ(read, expected);

    // An image with the module mark and version 3.0.01.02 is booted by the restart.
    const std::uint32_t mark = 118772;
    EXPECT_EQ(client->Exchange(mcuWrite(mark, {0x32, 0x54, 0x46, 0x32, 3, 0, 1, 2}), 64)[3], 0xFF);
    EXPECT_EQ(client->Exchange({0xB9, 0xFF, 0x00, 0x00, 0xFF}, 64)[3], 0xFF);
    EXPECT_FALSE(device.LoaderActive());
    EXPECT_EQ(device.RestartCount(), 1);
    EXPECT_EQ(client->Exchange({0xB9, 0x00, 0x01}, 64),
              Padded({0xB9, 0x00, 0x01, 0xFF, 3, 0, 1, 2}));
}

// ---------------------------------------------------------------------------------------------
// Traffic log, start-up errors

TEST_F(DeviceTest, TrafficLogRecordsBothDirectionsInOrder) {
    auto& device = StartDevice(Preset::kCurrent);
    auto client = Open(device);
    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        client->Exchange({0x55, 0x00, 0x00}, 12);
    });
    const auto found = device.WaitForRequest(0x55, 3000ms);
    writer.join();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->bytes, (Bytes{0x55, 0x00, 0x00}));
    EXPECT_EQ(found->note, "Identify");
    ASSERT_TRUE(Eventually([&] { return device.Log().size() == 2; }));
    const auto log = device.Log();
    EXPECT_EQ(log[0].direction, vdev::Direction::kHostToDevice);
    EXPECT_EQ(log[1].direction, vdev::Direction::kDeviceToHost);
    EXPECT_EQ(log[1].bytes.size(), 12u);
    EXPECT_LE(log[0].time, log[1].time);
    EXPECT_FALSE(device.WaitForRequest(0xAA, 50ms).has_value());
    device.ClearLog();
    EXPECT_TRUE(device.Log().empty());
}

TEST_F(DeviceTest, StartFailsClearlyWhenTheNodeCannotBeMade) {
    std::string error;
    vdev::Options options;
    options.pattern = Directory() + "/ttyACM%s%d";
    EXPECT_EQ(vdev::VirtualDevice::Start(options, &error), nullptr);
    EXPECT_NE(error.find("invalid node pattern"), std::string::npos) << error;

    options.pattern = Directory() + "/missing/ttyACM%d";
    EXPECT_EQ(vdev::VirtualDevice::Start(options, &error), nullptr);
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;

    const std::string file = Directory() + "/ttyACM5";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    options.pattern = Directory() + "/ttyACM%d";
    options.port = 5;
    EXPECT_EQ(vdev::VirtualDevice::Start(options, &error), nullptr);
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;

    // A stale link left by a crashed run is replaced.
    ASSERT_EQ(symlink("/dev/null", (Directory() + "/ttyACM6").c_str()), 0);
    options.port = 6;
    auto device = vdev::VirtualDevice::Start(options, &error);
    ASSERT_NE(device, nullptr) << error;
    SerialClient client(device->NodePath());
    EXPECT_EQ(client.Exchange({0x55, 0x00, 0x00}, 12).size(), 12u);
    device->Stop();
    EXPECT_FALSE(NodeExists(Directory() + "/ttyACM6"));
}

}  // namespace
