// The data pipeline: conversion of WFDB records to microvolts, table assembly, the generator's
// blob, and the built-in tables against an independent decode of the published records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "WfdbTestRecords.h"
#include "support/PortableEnv.h"
#include "synthesis/NoiseRecords.h"
#include "synthesis/ReferenceData.h"
#include "synthesis/ReferenceRecords.h"
#include "synthesis/StandardWaveforms.h"
#include "synthesis/TableBlob.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

using vdev::TempDir;

// The subdirectory name of dir, made with its parents.
std::string Sub(const TempDir& dir, const std::string& name) {
    EXPECT_TRUE(dir.MakeDirectories(name)) << name;
    return dir.Join(name);
}

const std::string kDataDir = TOLVAN_TEST_DATA_DIR;

bool HaveData() {
    return !kDataDir.empty() && access((kDataDir + "/aami-ec13/aami3a.hea").c_str(), R_OK) == 0;
}

// Known answers of round(1000 * d / gain), halves away from zero.
struct ConversionCase {
    long long d;
    double gain;
    std::int32_t uv;
};

TEST(Conversion, RoundsOnceFromTheIntegerDifference) {
    const ConversionCase cases[] = {
        {0, 200, 0},    {1, 200, 5},    {-1, 200, -5},      {24, 130, 185},       {-24, 130, -185},
        {1, 80, 13},    {-1, 80, -13},  {3, 80, 38},        {1, 40, 25},          {1, 160, 6},
        {-3, 160, -19}, {13, 130, 100}, {2047, 200, 10235}, {-2048, 200, -10240},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MicrovoltsFromAdu(c.d, c.gain), c.uv) << c.d << " / " << c.gain;
    }
}

TEST(Conversion, SyntheticFormat16RecordUsesItsOwnGainAndBaseline) {
    TempDir dir;
    // Gain 80 around ADC zero 2048: codes 2049, 2047, 2051, 2048, 1048.
    ASSERT_TRUE(wfdbtest::WriteRecord(dir.path(), "r16", 720, 16, {{"80", 2048}},
                                      {{2049, 2047, 2051, 2048, 1048}}));
    std::vector<std::int32_t> uv;
    int rate = 0;
    std::string why;
    ASSERT_TRUE(ConvertWfdbSignal(dir.path() + "/r16.hea", 0, uv, rate, &why)) << why;
    EXPECT_EQ(rate, 720);
    EXPECT_EQ(uv, (std::vector<std::int32_t>{13, -13, 38, 0, -12500}));
}

TEST(Conversion, GainFieldZeroMeans200AndABaselineInParenthesesWins) {
    TempDir dir;
    // Two signals in format 212: signal 0 gain "0" (200), ADC zero 0; signal 1 gain 100 with
    // baseline 5 in parentheses (ADC zero 9 ignored).
    ASSERT_TRUE(wfdbtest::WriteRecord(dir.path(), "r212", 360, 212, {{"0", 0}, {"100(5)/mV", 9}},
                                      {{-29, 1, -2048, 2047}, {25, 5, 6, -7}}));
    std::vector<std::int32_t> uv;
    int rate = 0;
    ASSERT_TRUE(ConvertWfdbSignal(dir.path() + "/r212.hea", 0, uv, rate, nullptr));
    EXPECT_EQ(rate, 360);
    EXPECT_EQ(uv, (std::vector<std::int32_t>{-145, 5, -10240, 10235}));
    ASSERT_TRUE(ConvertWfdbSignal(dir.path() + "/r212.hea", 1, uv, rate, nullptr));
    EXPECT_EQ(uv, (std::vector<std::int32_t>{200, 0, 10, -120}));
    std::string why;
    EXPECT_FALSE(ConvertWfdbSignal(dir.path() + "/r212.hea", 2, uv, rate, &why));
    EXPECT_FALSE(why.empty());
}

TEST(Conversion, MissingOrShortRecordsFail) {
    TempDir dir;
    std::vector<std::int32_t> uv;
    int rate = 0;
    EXPECT_FALSE(ConvertWfdbSignal(dir.path() + "/none.hea", 0, uv, rate, nullptr));
    ASSERT_TRUE(wfdbtest::WriteRecord(dir.path(), "short", 1000, 16, {{"200", 0}}, {{1, 2, 3, 4}}));
    // The header promises more samples than the file holds.
    std::ofstream(dir.path() + "/short.hea") << "short 1 1000 6\nshort.dat 16 200 12 0 1 0 0 x\n";
    EXPECT_FALSE(ConvertWfdbSignal(dir.path() + "/short.hea", 0, uv, rate, nullptr));
    EXPECT_TRUE(uv.empty());
}

// A CTS folder: 16 CAL records (gain 100, code 1000 * n + i mod 7 around ADC zero 0) and the
// ANE20000 record with 9 signals (signal c: code 10 * c + i mod 3, gain 20).
void WriteCtsFolder(const std::string& cts, int calSamples = 1200, int calRate = 1000) {
    const ReferenceTableLayout& cal = ReferenceTableLayoutOf(ReferenceTable::IEC251);
    for (int n = 0; n < cal.pieceCount; ++n) {
        std::vector<int> codes(static_cast<std::size_t>(calSamples));
        for (int i = 0; i < calSamples; ++i) codes[static_cast<std::size_t>(i)] = 100 * n + i % 7;
        ASSERT_TRUE(
            wfdbtest::WriteRecord(cts, cal.pieces[n].record, calRate, 16, {{"100", 0}}, {codes}));
    }
    std::vector<std::vector<int>> leads(9, std::vector<int>(1000));
    for (int c = 0; c < 9; ++c) {
        for (int i = 0; i < 1000; ++i)
            leads[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = 10 * c + i % 3;
    }
    ASSERT_TRUE(wfdbtest::WriteRecord(cts, "ANE20000", 1000, 16,
                                      std::vector<wfdbtest::SignalFields>(9, {"20", 0}), leads));
}

TEST(TableAssembly, CalRecordsFillOneSecondSlots) {
    TempDir dir;
    WriteCtsFolder(Sub(dir, "cts"));
    std::vector<std::int32_t> table;
    std::string why;
    ASSERT_TRUE(BuildReferenceTable(dir.path(), ReferenceTableLayoutOf(ReferenceTable::IEC251),
                                    table, &why))
        << why;
    ASSERT_EQ(table.size(), 16000u);
    // CAL n sample i: (100 n + i mod 7) / 100 mV = 10 * (100 n + i mod 7) uV.
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[6], 60);
    EXPECT_EQ(table[7], 0);
    EXPECT_EQ(table[1000 * 3 + 5], 10 * (300 + 5));
    EXPECT_EQ(table[1000 * 15 + 999], 10 * (1500 + 999 % 7));
    ASSERT_TRUE(BuildReferenceTable(dir.path(), ReferenceTableLayoutOf(ReferenceTable::ANE20000),
                                    table, &why))
        << why;
    ASSERT_EQ(table.size(), 9000u);
    // Lead c sample i: (10 c + i mod 3) / 20 mV = 50 * (10 c + i mod 3) uV.
    EXPECT_EQ(table[1000 * 8 + 4], 50 * (80 + 1));
}

TEST(TableAssembly, AWrongRateOrTooFewSamplesLeavesTheTableOut) {
    TempDir dir;
    WriteCtsFolder(Sub(dir, "cts"), 999);
    std::vector<std::int32_t> table;
    std::string why;
    EXPECT_FALSE(BuildReferenceTable(dir.path(), ReferenceTableLayoutOf(ReferenceTable::IEC251),
                                     table, &why));
    EXPECT_TRUE(table.empty());
    EXPECT_NE(why.find("999"), std::string::npos) << why;

    TempDir other;
    WriteCtsFolder(Sub(other, "cts"), 1000, 500);
    EXPECT_FALSE(BuildReferenceTable(other.path(), ReferenceTableLayoutOf(ReferenceTable::IEC251),
                                     table, &why));
    EXPECT_NE(why.find("500"), std::string::npos) << why;
}

TEST(TableAssembly, AamiSlotsNeedTheirExactLengths) {
    TempDir dir;
    const std::string aami = Sub(dir, "aami-ec13");
    const ReferenceTableLayout& layout = ReferenceTableLayoutOf(ReferenceTable::IEC227);
    for (int n = 0; n < layout.pieceCount; ++n) {
        // One sample too many in the last record.
        const int count = layout.pieces[n].exactCount + (n == layout.pieceCount - 1 ? 1 : 0);
        ASSERT_TRUE(
            wfdbtest::WriteRecord(aami, layout.pieces[n].record, 720, 16, {{"130", 2048}},
                                  {std::vector<int>(static_cast<std::size_t>(count), 2048 + n)}));
    }
    std::vector<std::int32_t> table;
    std::string why;
    EXPECT_FALSE(BuildReferenceTable(dir.path(), layout, table, &why));
    EXPECT_NE(why.find("aami4b_h"), std::string::npos) << why;
}

// The generator is a program of the build machine; a Windows test program cannot start it.
#if defined(_WIN32)
#define SKIP_WHERE_THE_GENERATOR_CANNOT_RUN() \
    GTEST_SKIP() << "the data generator runs on the build machine, not under Windows"
#else
#define SKIP_WHERE_THE_GENERATOR_CANNOT_RUN() (void)0
#endif

TEST(Generator, WritesEveryCompleteTableIntoTheBlob) {
    SKIP_WHERE_THE_GENERATOR_CANNOT_RUN();
    TempDir dir;
    WriteCtsFolder(Sub(dir, "cts"));
    const std::string blobPath = dir.path() + "/tables.bin";
    const std::string command = std::string("'") + TOLVAN_DATA_GENERATOR + "' '" + dir.path() +
                                "' '" + blobPath + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<unsigned char> blob = wfdbtest::ReadBytes(blobPath);
    // Copy into 16-byte aligned storage, as the library's embedded blob is.
    std::vector<std::int32_t> aligned((blob.size() + 3) / 4 + 4);
    std::memcpy(aligned.data(), blob.data(), blob.size());
    const auto entries =
        tableblob::Read(reinterpret_cast<const unsigned char*>(aligned.data()), blob.size());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "IEC251W");
    EXPECT_EQ(entries[0].count, 16000u);
    EXPECT_EQ(entries[0].rate, 1000u);
    EXPECT_EQ(entries[0].samples[1000 * 2 + 3], 10 * 203);
    EXPECT_EQ(entries[1].name, "ANE20000");
    EXPECT_EQ(entries[1].count, 9000u);
    EXPECT_EQ(entries[1].samples[1000 * 4 + 2], 50 * 42);
}

TEST(Generator, WithoutADataDirectoryTheBlobIsEmpty) {
    SKIP_WHERE_THE_GENERATOR_CANNOT_RUN();
    TempDir dir;
    const std::string blobPath = dir.path() + "/tables.bin";
    const std::string command = std::string("'") + TOLVAN_DATA_GENERATOR + "' '" + dir.path() +
                                "/nothing' '" + blobPath + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<unsigned char> blob = wfdbtest::ReadBytes(blobPath);
    ASSERT_EQ(blob.size(), 16u);
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 8), "TOLVTAB1");
    EXPECT_TRUE(tableblob::Read(blob.data(), blob.size()).empty());
}

TEST(Blob, EntriesOutsideTheBlobAreDropped) {
    std::vector<std::int32_t> samples = {1, 2, 3};
    std::vector<unsigned char> blob = tableblob::Write({{"BW", &samples, 360}});
    std::vector<std::int32_t> aligned(blob.size() / 4 + 4);
    std::memcpy(aligned.data(), blob.data(), blob.size());
    auto* bytes = reinterpret_cast<unsigned char*>(aligned.data());
    auto entries = tableblob::Read(bytes, blob.size());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].samples[2], 3);
    // One sample cut off the end: the entry no longer fits.
    EXPECT_TRUE(tableblob::Read(bytes, blob.size() - 1).empty());
    bytes[8] ^= 0xFF;  // byte-order marker
    EXPECT_TRUE(tableblob::Read(bytes, blob.size()).empty());
}

// --- Built-in tables against the published records ---------------------------------------------

TEST(BuiltInTables, AamiSlotsMatchAnIndependentDecode) {
    if (!HaveData()) GTEST_SKIP() << "reference records not available";
    ASSERT_TRUE(IsTableBuiltIn(ReferenceTable::IEC227));
    const ReferenceTableLayout& layout = ReferenceTableLayoutOf(ReferenceTable::IEC227);
    for (int n = 0; n < kIEC227Count; ++n) {
        const wfdbtest::Decoded d =
            wfdbtest::DecodeSignal0(kDataDir + "/aami-ec13", layout.pieces[n].record);
        ASSERT_TRUE(d.ok) << layout.pieces[n].record;
        unsigned count = 0;
        unsigned rate = 0;
        const std::int32_t* slot = GetSpecialWave227Array(n, &count, &rate);
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(rate, 720u);
        EXPECT_EQ(static_cast<int>(count), d.count) << n;
        EXPECT_EQ(static_cast<int>(count), IEC227SampleCount(n));
        for (int i = 0; i < d.count; ++i) {
            ASSERT_EQ(slot[i], d.uv[static_cast<std::size_t>(i)])
                << "slot " << n << " sample " << i;
        }
        for (int i = d.count; i < kIEC227Slot; ++i) ASSERT_EQ(slot[i], 0) << n << " " << i;
    }
}

TEST(BuiltInTables, FirstSamplesAreTheHeadersInitialValues) {
    if (!HaveData()) GTEST_SKIP() << "reference records not available";
    // aami3a: initial code 2072, ADC zero 2048, gain 130: 24/130 mV = 184.6 uV -> 185.
    // aami4a_d: initial 2042, gain 40: -6/40 mV = -150 uV.
    unsigned count = 0;
    unsigned rate = 0;
    EXPECT_EQ(GetSpecialWave227Array(0, &count, &rate)[0], 185);
    EXPECT_EQ(count, 43081u);
    EXPECT_EQ(GetSpecialWave227Array(5, &count, &rate)[0], -150);
    EXPECT_EQ(count, 65214u);
}

TEST(BuiltInTables, NoiseRecordsMatchAnIndependentDecode) {
    if (!HaveData()) GTEST_SKIP() << "reference records not available";
    struct Case {
        int which;
        const char* record;
        int first;  // header initial value / 200 mV in uV
    } cases[] = {{2, "bw", -145}, {3, "ma", -90}};
    for (const auto& c : cases) {
        const NOISE_RECORD_VIEW view = NoiseRecord(c.which);
        ASSERT_NE(view.samples, nullptr) << c.record;
        EXPECT_EQ(view.length, 650000);
        EXPECT_EQ(view.rate, 360);
        EXPECT_EQ(view.samples[0], c.first);
        const wfdbtest::Decoded d = wfdbtest::DecodeSignal0(kDataDir + "/nstdb", c.record);
        ASSERT_TRUE(d.ok);
        ASSERT_EQ(d.count, 650000);
        for (int i = 0; i < d.count; ++i) {
            ASSERT_EQ(view.samples[i], d.uv[static_cast<std::size_t>(i)]) << c.record << " " << i;
        }
    }
}

TEST(BuiltInTables, AbsentRecordsStayAbsent) {
    // The electrode-motion record and the CTS set are not published; nothing pretends to have
    // them (the environment names no directory in this test).
    unsetenv("TOLVAN_DATA_DIR");
    EXPECT_EQ(NoiseRecord(1).samples, nullptr);
    EXPECT_EQ(NoiseRecord(1).length, 0);
    EXPECT_EQ(NoiseRecord(0).samples, nullptr);
    EXPECT_EQ(NoiseRecord(4).samples, nullptr);
    EXPECT_FALSE(IsTableBuiltIn(ReferenceTable::IEC251));
    EXPECT_FALSE(static_cast<bool>(AcquireTable(ReferenceTable::ANE20000)));
}

}  // namespace
