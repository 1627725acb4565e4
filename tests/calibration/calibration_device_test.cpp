// The calibration data against virtual devices: every branch of the load order at connect, the
// module tables, the calibration tool functions and the manufacturing text, asserted on the
// storage frames that crossed the line, on the device's flash and on the cache file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/Calibration.h"
#include "protocol/DeviceInformation.h"
#include "protocol/ModuleTables.h"
#include "protocol/Storage.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "support/DeviceFixture.h"
#include "tolvan.h"

namespace {

using vdev::Bytes;
using Table = std::vector<std::uint16_t>;

constexpr std::uint8_t kRead = 0x00;
constexpr std::uint8_t kWrite = 0xFF;

// A storage request as the library must write it: 64 bytes, 12 55 AA, direction, 00, channel,
// erase flag, count, big-endian address, data from byte 16.
Bytes Frame(std::uint8_t direction, std::uint8_t channel, std::uint8_t count, std::uint32_t address,
            const Bytes& data = {}, bool erase = false) {
    Bytes frame(64, 0);
    frame[0] = 0x12;
    frame[1] = 0x55;
    frame[2] = 0xAA;
    frame[3] = direction;
    frame[5] = channel;
    frame[6] = erase ? 1 : 0;
    frame[7] = count;
    frame[8] = static_cast<std::uint8_t>(address >> 24);
    frame[9] = static_cast<std::uint8_t>(address >> 16);
    frame[10] = static_cast<std::uint8_t>(address >> 8);
    frame[11] = static_cast<std::uint8_t>(address);
    std::copy(data.begin(), data.end(), frame.begin() + 16);
    return frame;
}

Bytes Erase(std::uint8_t channel, std::uint32_t address) {
    return Frame(kWrite, channel, 0, address, {}, true);
}

// Read frames of a byte record of n bytes at address (32 per chunk).
void AppendRecordReads(std::vector<Bytes>* out, std::uint8_t channel, std::uint32_t address,
                       std::size_t n) {
    for (std::size_t at = 0; at < n; at += 32) {
        out->push_back(Frame(kRead, channel,
                             static_cast<std::uint8_t>(std::min<std::size_t>(32, n - at)),
                             address + static_cast<std::uint32_t>(at)));
    }
}

// Read frames of a word table of n words at address (16 per chunk, byte 7 = 2 x words).
void AppendTableReads(std::vector<Bytes>* out, std::uint8_t channel, std::uint32_t address,
                      std::size_t n) {
    for (std::size_t first = 0; first < n; first += 16) {
        const std::size_t words = std::min<std::size_t>(16, n - first);
        out->push_back(Frame(kRead, channel, static_cast<std::uint8_t>(2 * words),
                             address + static_cast<std::uint32_t>(2 * first)));
    }
}

// Write frames of a word table (big-endian words).
void AppendTableWrites(std::vector<Bytes>* out, std::uint8_t channel, std::uint32_t address,
                       const Table& table) {
    for (std::size_t first = 0; first < table.size(); first += 16) {
        const std::size_t words = std::min<std::size_t>(16, table.size() - first);
        Bytes data;
        for (std::size_t i = first; i < first + words; ++i) {
            data.push_back(static_cast<std::uint8_t>(table[i] >> 8));
            data.push_back(static_cast<std::uint8_t>(table[i] & 0xFF));
        }
        out->push_back(Frame(kWrite, channel, static_cast<std::uint8_t>(2 * words),
                             address + static_cast<std::uint32_t>(2 * first), data));
    }
}

// The storage requests in the log, without the identification's model image reads.
std::vector<Bytes> StorageRequests(const vdev::VirtualDevice& device) {
    std::vector<Bytes> out;
    for (const auto& entry : device.Requests()) {
        const Bytes& r = entry.bytes;
        if (r.size() != 64 || r[0] != 0x12) continue;
        const bool modelImage = r[3] == kRead && (r[5] == 1 || r[5] == 19) && r[7] == 12 &&
                                r[8] == 0 && r[9] == 0 && r[10] == 0 && r[11] == 0;
        if (!modelImage) out.push_back(r);
    }
    return out;
}

Table DefaultTable() {
    Table table(4001, 0);
    for (int i = 1000; i <= 3000; ++i) table[i] = static_cast<std::uint16_t>(32.7675 * (i - 1000));
    for (int i = 3001; i <= 4000; ++i) table[i] = 65535;
    return table;
}

Table Shifted(const Table& table, int by) {
    Table out(table);
    for (auto& v : out) v = static_cast<std::uint16_t>(v + by);
    return out;
}

Table LiveTable() {
    Table table(kDcCalibrationWords);
    CopyLiveDCCalibrationTable(table.data());
    return table;
}

Bytes LittleEndianFile(const Table& table) {
    Bytes bytes;
    for (auto v : table) {
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return bytes;
}

Bytes BigEndianWords(const Table& table) {
    Bytes bytes;
    for (auto v : table) {
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Serial-number texts of the preset simulators: 'Q', letters "PS", model 01 30, serial group 26,
// then the serial sequence of the identify reply.
constexpr const char kCurrentSerial[] = "QPS0130-260815";
constexpr const char kOldSerial[] = "QPS0130-260112";

constexpr std::uint32_t kOldTable = 102400;
constexpr std::uint32_t kMfg = 115712;
constexpr std::size_t kOldRegionBytes = 14 * 1024;

class CalibrationTest : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        ASSERT_EQ(SetCalibrationDataPath((Directory() + "/").c_str()), 0);
    }
    void TearDown() override {
        DeviceFixture::TearDown();
        SetCalibrationDataPath(nullptr);
    }

    std::string CachePath() const { return Dir().Join("calibration.dat"); }
    std::string IdPath() const { return Dir().Join("calibration.id"); }

    // A cache file with its companion naming serial (none when serial is null).
    void WriteCache(const Bytes& file, const char* serial) {
        WriteFile(CachePath(), file);
        if (serial != nullptr) WriteFile(IdPath(), Text(serial));
    }

    vdev::VirtualDevice& StartWith(vdev::Preset preset, bool table18 = true) {
        vdev::Options options;
        options.config = vdev::MakePreset(preset);
        options.config.dcTableInChannel18 = options.config.dcTableInChannel18 && table18;
        options.fastAck = true;
        return StartDevice(options, 0);
    }
};

// ---- Load order at connect -------------------------------------------------------------------

TEST_F(CalibrationTest, Channel18TableIsLoadedInChunksAndCached) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(vdev::PresetDcTable()));

    std::vector<Bytes> expected;
    AppendTableReads(&expected, 3, 104400, 16);  // is the old table there? (erased: no)
    AppendTableReads(&expected, 18, 0, 4001);    // 250 chunks of 16 words, then 1 word at 8000
    ASSERT_EQ(expected.size(), 252u);
    EXPECT_EQ(expected.back()[7], 2);
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(GetECGDCCalibrationEntry(2000), vdev::PresetDcTable()[2000]);
}

TEST_F(CalibrationTest, ValidCacheFileIsUsedWithoutTouchingTheFlash) {
    const Table cached = Shifted(vdev::PresetDcTable(), 9);
    WriteCache(LittleEndianFile(cached), kCurrentSerial);
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    ASSERT_STREQ(TOLVGetSerialNumber(), kCurrentSerial);
    EXPECT_EQ(LiveTable(), cached);
    EXPECT_TRUE(StorageRequests(device).empty());
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(cached));
    EXPECT_EQ(ReadFile(IdPath()), Text(kCurrentSerial));
}

TEST_F(CalibrationTest, CacheFileOf8000BytesIsIgnoredAndReplaced) {
    Bytes shortFile = LittleEndianFile(Shifted(vdev::PresetDcTable(), 9));
    shortFile.resize(8000);
    WriteCache(shortFile, kCurrentSerial);
    StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(vdev::PresetDcTable()));
}

TEST_F(CalibrationTest, CachedEntryOf255GivesTheDefaultWhenTheFlashHoldsNothing) {
    Table cached = vdev::PresetDcTable();
    cached[1500] = 255;
    WriteCache(LittleEndianFile(cached), kCurrentSerial);
    auto& device = StartWith(vdev::Preset::kCurrent, /*table18=*/false);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(LiveTable(), DefaultTable());
    EXPECT_FALSE(StorageRequests(device).empty()) << "the flash was asked after the rejection";
}

TEST_F(CalibrationTest, CachedEntryOf255FallsBackToTheDeviceTable) {
    Table cached = vdev::PresetDcTable();
    cached[1000] = 255;
    WriteCache(LittleEndianFile(cached), kCurrentSerial);
    StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(vdev::PresetDcTable()));
}

TEST_F(CalibrationTest, NothingValidGivesTheExactDefaultTableAndNoCacheFile) {
    auto& device = StartWith(vdev::Preset::kCurrent, /*table18=*/false);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const Table live = LiveTable();
    EXPECT_EQ(live, DefaultTable());
    EXPECT_EQ(live[0], 0);
    EXPECT_EQ(live[999], 0);
    EXPECT_EQ(live[1000], 0);
    EXPECT_EQ(live[1001], 32);
    EXPECT_EQ(live[2000], 32767);
    EXPECT_EQ(live[3000], 65535);
    EXPECT_EQ(live[3001], 65535);
    EXPECT_EQ(live[4000], 65535);
    EXPECT_FALSE(Exists(CachePath()));
    for (const Bytes& r : StorageRequests(device)) EXPECT_EQ(r[3], kRead) << vdev::Hex(r);
}

TEST_F(CalibrationTest, OldTableIsMigratedVerifiedAndItsRegionErasedKeepingTheMfgText) {
    auto& device = StartWith(vdev::Preset::kOld);
    const Bytes mfg = device.ReadFlash(3, kMfg, 64);
    ASSERT_EQ(mfg[0], 'T') << "the preset carries a manufacturing text";
    ASSERT_TRUE(TOLVConnect(0, 90000));

    const Table table = vdev::PresetDcTable();
    EXPECT_EQ(LiveTable(), table);
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(table));
    EXPECT_EQ(ReadFile(IdPath()), Text(std::string(kOldSerial) + "\n"));
    EXPECT_EQ(device.DcTableInFlash(), table);

    // Channel 3 from 102400: 14 sectors erased; only the manufacturing text was written back.
    Bytes region = device.ReadFlash(3, kOldTable, kOldRegionBytes);
    ASSERT_EQ(region.size(), kOldRegionBytes);
    const std::size_t mfgOffset = kMfg - kOldTable;
    EXPECT_EQ(Bytes(region.begin() + mfgOffset, region.begin() + mfgOffset + 64), mfg);
    std::fill(region.begin() + mfgOffset, region.begin() + mfgOffset + 64, 0xFF);
    EXPECT_EQ(region, Bytes(kOldRegionBytes, 0xFF));

    std::vector<Bytes> expected;
    AppendTableReads(&expected, 3, 104400, 16);       // presence
    AppendTableReads(&expected, 3, kOldTable, 4001);  // the old table
    AppendTableWrites(&expected, 18, 0, table);       // to the current location
    AppendTableReads(&expected, 18, 0, 4001);         // read back before anything is erased
    AppendRecordReads(&expected, 3, kMfg, 64);        // the text that shares the last sector
    for (std::uint32_t k = 0; k < 14; ++k) expected.push_back(Erase(3, kOldTable + 1024 * k));
    expected.push_back(Frame(kWrite, 3, 32, kMfg, Bytes(mfg.begin(), mfg.begin() + 32)));
    expected.push_back(Frame(kWrite, 3, 32, kMfg + 32, Bytes(mfg.begin() + 32, mfg.end())));
    EXPECT_EQ(StorageRequests(device), expected);
}

TEST_F(CalibrationTest, OldTableStaysWhenTheNewLocationDoesNotReadBackEqual) {
    auto& device = StartWith(vdev::Preset::kOld);
    // The read-back of the first chunk of channel 18 is corrupted: word 0 reads as 0x5Axx.
    vdev::FaultRule rule;
    rule.kind = vdev::FaultRule::Kind::kCorruptByte;
    rule.firstByte = 0x12;
    rule.match = [](const Bytes& r) { return r[3] == kRead && r[5] == 18; };
    rule.count = 1;
    rule.index = 16;
    rule.value = 0x5A;
    device.AddFault(rule);
    ASSERT_TRUE(TOLVConnect(0, 90000));
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    EXPECT_EQ(device.CountRequests([](const Bytes& r) { return r[0] == 0x12 && r[6] == 1; }), 0u)
        << "nothing erased";
    Bytes old = device.ReadFlash(3, kOldTable, 2 * 4001);
    EXPECT_EQ(old, BigEndianWords(vdev::PresetDcTable()));
}

TEST_F(CalibrationTest, CacheHandedOutSurvivesTheLoadAtConnect) {
    const Table cached = Shifted(vdev::PresetDcTable(), 4);
    WriteFile(CachePath(), LittleEndianFile(cached));
    int count = 0;
    const uint16_t* cache = GetCalibrationCache(&count);
    ASSERT_NE(cache, nullptr);
    ASSERT_EQ(count, 4001);
    StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    EXPECT_EQ(Table(cache, cache + 4001), cached);
}

// A cache is applied only to the simulator its companion "calibration.id" names.
struct CompanionCase {
    const char* name;
    const char* companion;  // content of calibration.id; null: no companion
    bool applied;
};

class CacheCompanionTest : public CalibrationTest,
                           public ::testing::WithParamInterface<CompanionCase> {};

TEST_P(CacheCompanionTest, DecidesWhetherTheCacheIsApplied) {
    const Table cached = Shifted(vdev::PresetDcTable(), 300);
    WriteCache(LittleEndianFile(cached), GetParam().companion);
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    if (GetParam().applied) {
        EXPECT_EQ(LiveTable(), cached);
        EXPECT_TRUE(StorageRequests(device).empty());
        EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(cached));
        return;
    }
    // No cache: the device's own table, read from its flash and cached with its companion.
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    std::vector<Bytes> expected;
    AppendTableReads(&expected, 3, 104400, 16);
    AppendTableReads(&expected, 18, 0, 4001);
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(vdev::PresetDcTable()));
    EXPECT_EQ(ReadFile(IdPath()), Text(std::string(kCurrentSerial) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Companions, CacheCompanionTest,
    ::testing::Values(CompanionCase{"ThisDeviceWithCrLf", "QPS0130-260815\r\n", true},
                      CompanionCase{"None", nullptr, false}, CompanionCase{"Empty", "", false},
                      CompanionCase{"OtherSerialSequence", "QPS0130-260816\n", false},
                      CompanionCase{"OtherSerialGroup", "QPS0130-250815\n", false}),
    [](const ::testing::TestParamInfo<CompanionCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(CalibrationTest, SecondSimulatorGetsItsOwnTableNotTheFirstOnesCache) {
    // Simulator A (serial sequence 816) carries a table 300 codes off simulator B's.
    vdev::Options a;
    a.config = vdev::MakePreset(vdev::Preset::kCurrent);
    a.config.model.serialSequence = 816;
    a.config.identifySerialSequence = 816;
    a.config.dcTable = Shifted(vdev::PresetDcTable(), 300);
    a.fastAck = true;
    StartDevice(a, 0);
    vdev::Options b = a;
    b.config = vdev::MakePreset(vdev::Preset::kCurrent);
    auto& deviceB = StartDevice(b, 1);

    ASSERT_TRUE(TOLVConnect(0, 20000));
    ASSERT_EQ(LiveTable(), a.config.dcTable);
    const Bytes cacheOfA = ReadFile(CachePath());
    const Bytes idOfA = ReadFile(IdPath());
    EXPECT_EQ(cacheOfA, LittleEndianFile(a.config.dcTable));
    EXPECT_EQ(idOfA, Text("QPS0130-260816\n"));
    TOLVFree();

    ASSERT_TRUE(TOLVConnect(1, 20000));
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
    EXPECT_EQ(GetECGDCCalibrationEntry(2100), vdev::PresetDcTable()[2100]) << "+100 mV";
    EXPECT_EQ(deviceB.CountRequests([](const Bytes& r) { return r[0] == 0x12 && r[5] == 18; }),
              251u)
        << "B's table was read from B's flash";
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(vdev::PresetDcTable()));
    EXPECT_EQ(ReadFile(IdPath()), Text(std::string(kCurrentSerial) + "\n"));

    // Asked for explicitly, A's cache is refused on B as well.
    WriteFile(CachePath(), cacheOfA);
    WriteFile(IdPath(), idOfA);
    EXPECT_EQ(LoadCalibrationData(), -3);
    EXPECT_EQ(LiveTable(), vdev::PresetDcTable());
}

// ---- Chunking and failures -------------------------------------------------------------------

TEST_F(CalibrationTest, RecordOf33BytesIsSentAs32And1) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    device.ClearLog();
    std::uint8_t buffer[33];
    ASSERT_EQ(TOLVReadMfgInfo(buffer, 33), 33);
    const std::vector<Bytes> expected = {Frame(kRead, 3, 32, kMfg), Frame(kRead, 3, 1, kMfg + 32)};
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(Bytes(buffer, buffer + 33), device.ReadFlash(3, kMfg, 33));
}

TEST_F(CalibrationTest, TableOf17WordsIsSentAs16And1) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    Table words(17);
    for (int i = 0; i < 17; ++i) words[i] = static_cast<std::uint16_t>(0x0102 * (i + 1));
    ASSERT_TRUE(device.WriteFlash(3, kOldTable, BigEndianWords(words)));
    device.ClearLog();
    Table read(17, 0);
    {
        CDeviceCommand command;
        ASSERT_TRUE(command.Ready());
        ASSERT_TRUE(DoReadFlash(kOldTable, StorageChannel::kFirmware, read.data(), 17));
    }
    const std::vector<Bytes> expected = {Frame(kRead, 3, 32, kOldTable),
                                         Frame(kRead, 3, 2, kOldTable + 32)};
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(read, words);
}

TEST_F(CalibrationTest, UnacknowledgedReadChunkEndsTheTransferAndKeepsTheTable) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const Table before = LiveTable();
    ASSERT_TRUE(device.WriteFlash(18, 0, BigEndianWords(Shifted(before, 1))));
    vdev::FaultRule rule;
    rule.kind = vdev::FaultRule::Kind::kUnacknowledged;
    rule.firstByte = 0x12;
    rule.match = [](const Bytes& r) { return r[3] == kRead && r[5] == 18; };
    rule.skip = 2;
    rule.count = 1;
    device.AddFault(rule);
    device.ClearLog();
    EXPECT_FALSE(ReadDCCalibrationData());
    std::vector<Bytes> expected;
    AppendTableReads(&expected, 18, 0, 48);  // chunks 0, 1 and the failing 2; nothing after
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(LiveTable(), before);
}

struct EchoCase {
    const char* name;
    std::size_t index;  // reply byte that no longer repeats the request
};

class ReplyEchoTest : public CalibrationTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(ReplyEchoTest, ReadReplyNamingAnotherChunkIsRefused) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const Table before = LiveTable();
    ASSERT_TRUE(device.WriteFlash(18, 0, BigEndianWords(Shifted(before, 1))));
    vdev::FaultRule rule;
    rule.kind = vdev::FaultRule::Kind::kCorruptByte;
    rule.firstByte = 0x12;
    rule.match = [](const Bytes& r) { return r[3] == kRead; };
    rule.skip = 1;
    rule.count = 1;
    rule.index = GetParam().index;
    rule.value = 0x77;
    device.AddFault(rule);
    device.ClearLog();
    EXPECT_FALSE(ReadDCCalibrationData());
    EXPECT_EQ(StorageRequests(device).size(), 2u);
    EXPECT_EQ(LiveTable(), before);

    device.ClearFaults();
    device.AddFault(rule);
    std::uint8_t text[64];
    EXPECT_EQ(TOLVReadMfgInfo(text, 64), 0) << "byte records are judged the same way";
}

INSTANTIATE_TEST_SUITE_P(Fields, ReplyEchoTest,
                         ::testing::Values(EchoCase{"Channel", 5}, EchoCase{"Count", 7},
                                           EchoCase{"AddressHigh", 8}, EchoCase{"AddressLow", 11}),
                         [](const ::testing::TestParamInfo<EchoCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CalibrationTest, UnansweredWriteChunkEndsTheWriteAndChangesNothingOnTheHost) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const Table before = LiveTable();
    const Bytes cacheBefore = ReadFile(CachePath());
    vdev::FaultRule rule;
    rule.kind = vdev::FaultRule::Kind::kShortReply;
    rule.firstByte = 0x12;
    rule.match = [](const Bytes& r) { return r[3] == kWrite && r[5] == 18; };
    rule.skip = 1;
    rule.count = 1;
    rule.shortLength = 20;
    device.AddFault(rule);
    device.ClearLog();
    std::vector<unsigned> values(4001);
    for (int i = 0; i < 4001; ++i) values[i] = 16 * static_cast<unsigned>(i);
    EXPECT_FALSE(WriteDCCalibrationData(values.data(), 4001));
    const auto requests = StorageRequests(device);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1][8] << 24 | requests[1][9] << 16 | requests[1][10] << 8 | requests[1][11],
              32);
    EXPECT_EQ(LiveTable(), before);
    EXPECT_EQ(ReadFile(CachePath()), cacheBefore);
}

// ---- Calibration tool functions --------------------------------------------------------------

TEST_F(CalibrationTest, WrittenTableRoundTripsThroughFlashLiveTableAndCacheFile) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    device.ClearLog();

    // Refused arguments put nothing on the wire.
    std::vector<unsigned> values(4001);
    for (int i = 0; i < 4001; ++i) values[i] = 40000u - 7u * static_cast<unsigned>(i);
    EXPECT_FALSE(WriteDCCalibrationData(values.data(), 4000));
    EXPECT_FALSE(WriteDCCalibrationData(nullptr, 4001));
    values[17] = 65536;
    EXPECT_FALSE(WriteDCCalibrationData(values.data(), 4001));
    values[17] = 40000u - 7u * 17u;
    EXPECT_TRUE(StorageRequests(device).empty());

    ASSERT_TRUE(WriteDCCalibrationData(values.data(), 4001));
    const Table written(values.begin(), values.end());
    std::vector<Bytes> expected;
    AppendTableWrites(&expected, 18, 0, written);
    EXPECT_EQ(StorageRequests(device), expected);
    EXPECT_EQ(device.DcTableInFlash(), written);
    EXPECT_EQ(LiveTable(), written);
    EXPECT_EQ(ReadFile(CachePath()), LittleEndianFile(written));
    EXPECT_TRUE(ValidateDCCalibrationData());

    // Reading the flash puts its table in force.
    const Table other = Shifted(written, 100);
    ASSERT_TRUE(device.WriteFlash(18, 0, BigEndianWords(other)));
    ASSERT_TRUE(ReadDCCalibrationData());
    EXPECT_EQ(LiveTable(), other);

    // Saving elsewhere leaves the cache of the set directory alone.
    const std::string sub = Dir().Join("tool/");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    EXPECT_EQ(SaveCalibrationData(sub.c_str()), 0);
    EXPECT_EQ(ReadFile(sub + "calibration.dat"), LittleEndianFile(other));
    EXPECT_EQ(ReadFile(sub + "calibration.id"), Text(std::string(kCurrentSerial) + "\n"));
    EXPECT_EQ(SaveCalibrationData(Dir().Join("missing/").c_str()), -1);
    EXPECT_EQ(SaveCalibrationData(nullptr), -2);

    int count = -1;
    const uint16_t* cache = GetCalibrationCache(&count);
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(count, 4001);
    EXPECT_EQ(Table(cache, cache + 4001), written);
    Table buffer(4001, 0);
    EXPECT_EQ(GetCalibrationCacheEx(buffer.data(), 4001), 4001);
    EXPECT_EQ(buffer, written);
    EXPECT_EQ(GetCalibrationCacheEx(buffer.data(), 4000), 0);
    EXPECT_EQ(GetCalibrationCacheEx(nullptr, 4001), 0);

    // Loading the file brings the written table back in force.
    EXPECT_EQ(LoadCalibrationData(), 0);
    EXPECT_EQ(LiveTable(), written);

    ASSERT_TRUE(Exists(IdPath()));
    EXPECT_EQ(ClearCalibrationCache(), 0);
    EXPECT_FALSE(Exists(CachePath()));
    EXPECT_FALSE(Exists(IdPath()));
    EXPECT_EQ(ClearCalibrationCache(), -1);
    EXPECT_EQ(GetCalibrationCache(&count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(GetCalibrationCacheEx(buffer.data(), 4001), 0);
    EXPECT_EQ(LoadCalibrationData(), -1);
    EXPECT_EQ(LiveTable(), written) << "a missing file changes nothing";
}

TEST_F(CalibrationTest, ClearErasesBothLocationsAndTheCacheButKeepsTheMfgText) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    ASSERT_TRUE(Exists(CachePath()));
    ASSERT_TRUE(Exists(IdPath()));
    const Bytes mfg = device.ReadFlash(3, kMfg, 64);
    device.ClearLog();
    ASSERT_TRUE(ClearDCCalibrationData());

    std::vector<Bytes> expected;
    for (std::uint32_t k = 0; k < 14; ++k) expected.push_back(Erase(18, 1024 * k));
    AppendRecordReads(&expected, 3, kMfg, 64);
    for (std::uint32_t k = 0; k < 14; ++k) expected.push_back(Erase(3, kOldTable + 1024 * k));
    expected.push_back(Frame(kWrite, 3, 32, kMfg, Bytes(mfg.begin(), mfg.begin() + 32)));
    expected.push_back(Frame(kWrite, 3, 32, kMfg + 32, Bytes(mfg.begin() + 32, mfg.end())));
    EXPECT_EQ(StorageRequests(device), expected);

    EXPECT_EQ(device.ReadFlash(18, 0, 14336), Bytes(14336, 0xFF));
    EXPECT_EQ(device.ReadFlash(3, kMfg, 64), mfg);
    EXPECT_EQ(device.ReadFlash(3, kOldTable, kMfg - kOldTable), Bytes(kMfg - kOldTable, 0xFF));
    EXPECT_FALSE(Exists(CachePath()));
    EXPECT_FALSE(Exists(IdPath()));

    ASSERT_TRUE(ReadDCCalibrationData());
    EXPECT_FALSE(ValidateDCCalibrationData()) << "the erased table reads as 0xFFFF";
    EXPECT_TRUE(ClearDCCalibrationData()) << "no cache file left counts as cleared";
}

TEST_F(CalibrationTest, TextDumpHasOneDecimalLinePerEntry) {
    StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const std::string path = Dir().Join("table.txt");
    ASSERT_TRUE(_outputECGDCVariableCalibrationData(path.c_str()));
    std::ifstream in(path);
    std::string line;
    std::vector<std::uint16_t> values;
    while (std::getline(in, line)) values.push_back(static_cast<std::uint16_t>(std::stoul(line)));
    EXPECT_EQ(values, vdev::PresetDcTable());
    EXPECT_FALSE(_outputECGDCVariableCalibrationData(Dir().Join("no/dir.txt").c_str()));
}

TEST_F(CalibrationTest, WithoutADeviceTheDeviceFunctionsFailAndTheFileFunctionsWork) {
    EXPECT_FALSE(ReadDCCalibrationData());
    std::vector<unsigned> values(4001, 1000);
    EXPECT_FALSE(WriteDCCalibrationData(values.data(), 4001));
    EXPECT_FALSE(ClearDCCalibrationData());
    std::uint8_t buffer[64];
    EXPECT_EQ(TOLVReadMfgInfo(buffer, 64), 0);
    EXPECT_EQ(TOLVWriteMfgInfo(buffer, 64), 0);
    EXPECT_EQ(TOLVReadMfgInfo(nullptr, 64), -2);
    EXPECT_EQ(TOLVWriteMfgInfo(buffer, 0), -2);
    EXPECT_EQ(SaveCalibrationData((Directory() + "/").c_str()), 0);
    EXPECT_EQ(ReadFile(CachePath()).size(), 8002u);
    EXPECT_EQ(SetCalibrationDataPath(std::string(512, 'x').c_str()), -2);
    EXPECT_EQ(SetCalibrationDataPath(std::string(511, 'x').c_str()), 0);
    EXPECT_EQ(SetCalibrationDataPath((Directory() + "/").c_str()), 0);
    Table buffer2(4001);
    EXPECT_EQ(GetCalibrationCacheEx(buffer2.data(), 4001), 4001) << "the path was restored";
}

TEST_F(CalibrationTest, CalibrationFunctionsWriteNothingToTheJournal) {
    StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    const std::string journal = Dir().Join("journal.txt");
    ASSERT_EQ(EnableSaveLog(journal.c_str()), 0);
    SetCalibrationDataPath((Directory() + "/").c_str());
    ReadDCCalibrationData();
    ValidateDCCalibrationData();
    SaveCalibrationData((Directory() + "/").c_str());
    LoadCalibrationData();
    int count = 0;
    GetCalibrationCache(&count);
    Table buffer(4001);
    GetCalibrationCacheEx(buffer.data(), 4001);
    GetPPGDCTable(0, buffer.data(), 4001);
    std::uint8_t text[8] = {'j', 'o', 'u', 'r', 'n', 'a', 'l', 0};
    TOLVWriteMfgInfo(text, 8);
    TOLVReadMfgInfo(text, 8);
    ClearCalibrationCache();
    EXPECT_FALSE(Exists(journal));
    DisableSaveLog();
}

// ---- Manufacturing text ----------------------------------------------------------------------

TEST_F(CalibrationTest, MfgTextIsErasedThenWrittenAndReadsBack) {
    auto& device = StartWith(vdev::Preset::kCurrent);
    ASSERT_TRUE(TOLVConnect(0, 20000));
    device.ClearLog();
    const std::uint8_t text[] = {'L', 'O', 'T', '-', '2', '6'};
    ASSERT_EQ(TOLVWriteMfgInfo(text, 6), 6);
    const std::vector<Bytes> expected = {Erase(3, kMfg),
                                         Frame(kWrite, 3, 6, kMfg, Bytes(text, text + 6))};
    EXPECT_EQ(StorageRequests(device), expected);

    std::uint8_t buffer[100];
    std::memset(buffer, 0xAB, sizeof buffer);
    ASSERT_EQ(TOLVReadMfgInfo(buffer, 100), 64);
    Bytes want(text, text + 6);
    want.resize(64, 0xFF);
    EXPECT_EQ(Bytes(buffer, buffer + 64), want);
    EXPECT_EQ(buffer[64], 0xAB) << "nothing past 64 bytes is touched";

    // Longer records are cut to 64 bytes.
    std::uint8_t longText[80];
    for (int i = 0; i < 80; ++i) longText[i] = static_cast<std::uint8_t>('a' + i % 26);
    EXPECT_EQ(TOLVWriteMfgInfo(longText, 80), 64);
    EXPECT_EQ(device.ReadFlash(3, kMfg, 64), Bytes(longText, longText + 64));
    EXPECT_EQ(device.ReadFlash(3, kMfg + 64, 1), Bytes{0xFF});
}

// ---- Module tables ---------------------------------------------------------------------------

TEST_F(CalibrationTest, Module2112TablesLoadInOrderAfterTheDCTable) {
    auto& device = StartWith(vdev::Preset::kPpg2112);
    ASSERT_TRUE(TOLVConnect(0, 30000));

    std::vector<Bytes> expected;
    AppendTableReads(&expected, 3, 104400, 16);
    AppendTableReads(&expected, 18, 0, 4001);
    AppendRecordReads(&expected, 19, 5632, 8192);   // PPG DC table 0
    AppendRecordReads(&expected, 19, 13824, 8192);  // PPG DC table 1
    AppendTableReads(&expected, 19, 1024, 1024);    // PD sampling, LED type 1
    AppendTableReads(&expected, 19, 3072, 1024);    // second PD path
    AppendRecordReads(&expected, 19, 5248, 32);     // PD ratio blocks
    AppendRecordReads(&expected, 19, 5280, 32);
    AppendRecordReads(&expected, 19, 5312, 32);
    AppendRecordReads(&expected, 19, 5248, 256);  // MCU factory settings
    EXPECT_EQ(StorageRequests(device), expected);

    Table buffer(5000, 0xBEEF);
    ASSERT_EQ(GetPPGDCTable(1, buffer.data(), 5000), 3001);
    for (int i = 0; i < 3001; ++i) ASSERT_EQ(buffer[i], static_cast<std::uint16_t>(i / 2)) << i;
    EXPECT_EQ(buffer[3001], 0xBEEF);
    ASSERT_EQ(GetPPGDCTable(0, buffer.data(), 10), 10);
    EXPECT_EQ(buffer[9], 6);
    ASSERT_EQ(GetPPGDCTable(2, buffer.data(), 3001), 3001);
    EXPECT_EQ(buffer[3000], 3000) << "table 2 is not stored: the identity";
    EXPECT_EQ(GetPPGDCTable(3, buffer.data(), 5000), 0);
    EXPECT_EQ(GetPPGDCTable(-1, buffer.data(), 5000), 0);
    EXPECT_EQ(GetPPGDCTable(0, nullptr, 5000), 0);
    EXPECT_EQ(GetPPGDCTable(0, buffer.data(), 0), 0);
    EXPECT_EQ(GetPPGDCTableEntry(0, 100), 75);

    EXPECT_EQ(g_pPPGPDSamplingCalibrationData[0][5], 20);
    EXPECT_EQ(g_pPPGPDSamplingCalibrationData[1][1023], 4092);
    EXPECT_EQ(GetFactorySettingMCUWord(18), 800);
    EXPECT_EQ(GetFactorySettingMCUWord(23), 300);
    EXPECT_EQ(GetFactorySettingMCUWord(36), 1023);
    EXPECT_EQ(GetFactorySettingMCUWord(128), 0);
}

TEST_F(CalibrationTest, ErasedModuleTablesBecomeIdentities) {
    vdev::Options options;
    options.config = vdev::MakePreset(vdev::Preset::kPpg2112);
    options.fastAck = true;
    auto& device = StartDevice(options, 0);
    // PPG DC table 1: last word erased. PD sampling table of LED type 1: last word 0.
    ASSERT_TRUE(device.WriteFlash(19, 13824 + 6000, Bytes{0xFF, 0xFF}));
    ASSERT_TRUE(device.WriteFlash(19, 1024 + 2046, Bytes{0x00, 0x00}));
    ASSERT_TRUE(TOLVConnect(0, 30000));
    Table buffer(3001);
    ASSERT_EQ(GetPPGDCTable(1, buffer.data(), 3001), 3001);
    EXPECT_EQ(buffer[7], 7);
    EXPECT_EQ(buffer[3000], 3000);
    ASSERT_EQ(GetPPGDCTable(0, buffer.data(), 3001), 3001);
    EXPECT_EQ(buffer[7], 5) << "table 0 is still the module's";
    EXPECT_EQ(g_pPPGPDSamplingCalibrationData[0][5], 5);
    EXPECT_EQ(g_pPPGPDSamplingCalibrationData[1][5], 20);
}

TEST_F(CalibrationTest, PhotodiodeRatioOfZeroOrErasedIsUsedAsOne) {
    vdev::Options options;
    options.config = vdev::MakePreset(vdev::Preset::kPpg2012);
    options.fastAck = true;
    auto& device = StartDevice(options, 0);
    ASSERT_TRUE(device.WriteFlash(19, 5248, Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_TRUE(TOLVConnect(0, 30000));
    EXPECT_EQ(g_FPGA_PDRatio[0][0], 1.0f);
    EXPECT_EQ(g_FPGA_PDRatio[0][1], 1.0f);
    EXPECT_EQ(g_FPGA_PDRatio[0][2], 1.0f - 0.01f * 2.0f);
    EXPECT_EQ(g_FPGA_PDRatio[1][0], 1.0f - 0.01f * 8.0f);

    double report[18];
    ASSERT_TRUE(TOLVGetFPGAReport(report));
    EXPECT_EQ(report[12], report[6]) << "value 6 times a ratio used as 1.0";
    EXPECT_DOUBLE_EQ(report[14], report[8] * static_cast<double>(1.0f - 0.01f * 2.0f));

    Table buffer(3001);
    ASSERT_EQ(GetPPGDCTable(0, buffer.data(), 3001), 3001);
    EXPECT_EQ(buffer[2999], 2999) << "not a 0x2112 module: identity tables";
    EXPECT_EQ(device.CountRequests([](const Bytes& r) {
        return r[0] == 0x12 && r[5] == 19 && r[8] == 0 && r[9] == 0 && (r[10] << 8 | r[11]) >= 5632;
    }),
              0u);
}

TEST_F(CalibrationTest, RespirationModuleRecordsAreLoadedInOrder) {
    auto& device = StartWith(vdev::Preset::kRespiration);
    ASSERT_TRUE(TOLVConnect(0, 30000));
    std::vector<Bytes> expected;
    AppendTableReads(&expected, 3, 104400, 16);
    AppendTableReads(&expected, 18, 0, 4001);
    AppendRecordReads(&expected, 19, 5248, 64);
    AppendRecordReads(&expected, 19, 5312, 24);
    AppendRecordReads(&expected, 19, 5376, 768);
    EXPECT_EQ(StorageRequests(device), expected);

    CAutoCriticalSection api(g_APICriticalSection);
    const RESPIRATION_DAC_CALIBRATION calibration = RespirationDACCalibration();
    EXPECT_EQ(calibration.Coefficients[0], 110.5);
    EXPECT_EQ(calibration.Coefficients[1], 111.0);
    EXPECT_EQ(calibration.Coefficients[2], 109.5);
    EXPECT_EQ(calibration.Coefficients[3], 0.0);
    EXPECT_EQ(calibration.BaselineDAC[0], 1000);
    EXPECT_EQ(calibration.BaselineDAC[11], 6500);
    EXPECT_EQ(calibration.RDAC3[0], 66.0);
    EXPECT_EQ(calibration.RDAC3[95], 66.0 + 0.4 * 95);
}

TEST_F(CalibrationTest, RespirationRecordWithoutItsMarkStopsTheLoadAndKeepsDefaults) {
    vdev::Options options;
    options.config = vdev::MakePreset(vdev::Preset::kRespiration);
    options.fastAck = true;
    auto& device = StartDevice(options, 0);
    ASSERT_TRUE(device.WriteFlash(19, 5248, Bytes(8, 0)));
    ASSERT_TRUE(TOLVConnect(0, 30000));
    EXPECT_EQ(device.CountRequests([](const Bytes& r) {
        return r[0] == 0x12 && r[5] == 19 && (r[10] << 8 | r[11]) >= 5312;
    }),
              0u);
    CAutoCriticalSection api(g_APICriticalSection);
    const RESPIRATION_DAC_CALIBRATION calibration = RespirationDACCalibration();
    for (double c : calibration.Coefficients) EXPECT_EQ(c, 110.0);
    EXPECT_EQ(calibration.BaselineDAC[3], 0);
    EXPECT_EQ(calibration.RDAC3[3], 0.0);
}

TEST_F(CalibrationTest, RespirationRecordsWrittenAreStoredLittleEndianAndPutInForce) {
    auto& device = StartWith(vdev::Preset::kRespiration);
    ASSERT_TRUE(TOLVConnect(0, 30000));
    CDeviceCommand command;
    ASSERT_TRUE(command.Ready());
    const double coefficients[4] = {120.25, 99.5, 101.0, 7.0};
    ASSERT_TRUE(WriteRespirationRWA(coefficients));
    std::uint16_t baseline[12];
    for (int k = 0; k < 12; ++k) baseline[k] = static_cast<std::uint16_t>(0x0102 + k);
    ASSERT_TRUE(WriteRespirationBaselineDACTable(baseline));
    EXPECT_EQ(device.ReadFlash(19, 5312, 2), (Bytes{0x02, 0x01}));
    const Bytes record = device.ReadFlash(19, 5248, 64);
    double stored = 0;
    std::memcpy(&stored, record.data() + 8, 8);
    EXPECT_EQ(stored, 120.25);
    EXPECT_EQ(RespirationDACCalibration().Coefficients[0], 120.25);
    EXPECT_EQ(RespirationDACCalibration().BaselineDAC[11], 0x010D);
    ASSERT_TRUE(LoadRespirationRWA());
    EXPECT_EQ(RespirationDACCalibration().Coefficients[3], 7.0);
}

}  // namespace
