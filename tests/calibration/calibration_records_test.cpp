// Known answers of the pure parts of the calibration records: the built-in DC table, the
// validity tests, the cache-file codec and the module record codecs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "protocol/Calibration.h"
#include "protocol/ModuleTables.h"

namespace {

std::vector<std::uint16_t> DefaultTable() {
    std::vector<std::uint16_t> table(kDcCalibrationWords);
    FillDefaultDCCalibrationTable(table.data());
    return table;
}

struct EntryCase {
    int index;
    std::uint16_t code;
};

class DefaultTableEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(DefaultTableEntry, HasTheTruncatedLinearCode) {
    EXPECT_EQ(DefaultTable()[GetParam().index], GetParam().code);
}

// 32.7675 * (i - 1000), truncated: worked out by hand at the ends and around mid-scale.
INSTANTIATE_TEST_SUITE_P(Entries, DefaultTableEntry,
                         ::testing::Values(EntryCase{0, 0}, EntryCase{999, 0}, EntryCase{1000, 0},
                                           EntryCase{1001, 32}, EntryCase{1002, 65},
                                           EntryCase{1999, 32734}, EntryCase{2000, 32767},
                                           EntryCase{2001, 32800}, EntryCase{2999, 65502},
                                           EntryCase{3000, 65535}, EntryCase{3001, 65535},
                                           EntryCase{4000, 65535}));

TEST(DefaultTable, RisesMonotonicallyAcrossTheDrivenRange) {
    const auto table = DefaultTable();
    for (int i = 1001; i <= 3000; ++i) ASSERT_GT(table[i], table[i - 1]) << i;
}

struct ValidityCase {
    const char* name;
    int index;
    std::uint16_t value;
    bool valid;
};

class TableValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(TableValidity, OnlyAnErasedWordInTheMiddleRangeInvalidates) {
    auto table = DefaultTable();
    table[GetParam().index] = GetParam().value;
    EXPECT_EQ(IsValidDCCalibrationTable(table.data()), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Cases, TableValidity,
                         ::testing::Values(ValidityCase{"ErasedAt1500", 1500, 0xFFFF, false},
                                           ValidityCase{"ErasedAt2500", 2500, 0xFFFF, false},
                                           ValidityCase{"ErasedAt1499", 1499, 0xFFFF, true},
                                           ValidityCase{"ErasedAt2501", 2501, 0xFFFF, true},
                                           ValidityCase{"AlmostErasedAt2000", 2000, 0xFFFE, true}),
                         [](const ::testing::TestParamInfo<ValidityCase>& info) {
                             return info.param.name;
                         });

struct CacheCase {
    const char* name;
    int index;
    bool acceptable;
};

class CachedTable : public ::testing::TestWithParam<CacheCase> {};

TEST_P(CachedTable, IsRejectedFor255Between1000And2999) {
    std::vector<std::uint16_t> table(kDcCalibrationWords, 1234);
    table[GetParam().index] = 255;
    EXPECT_EQ(IsAcceptableCachedTable(table.data()), GetParam().acceptable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CachedTable,
    ::testing::Values(CacheCase{"At999", 999, true}, CacheCase{"At1000", 1000, false},
                      CacheCase{"At1500", 1500, false}, CacheCase{"At2999", 2999, false},
                      CacheCase{"At3000", 3000, true}),
    [](const ::testing::TestParamInfo<CacheCase>& info) { return info.param.name; });

TEST(CalibrationFile, IsLittleEndianWordsWithoutHeader) {
    std::vector<std::uint16_t> table(kDcCalibrationWords, 0);
    table[0] = 0x1234;
    table[4000] = 0xABCD;
    std::vector<std::uint8_t> bytes(kCalibrationFileBytes);
    EncodeCalibrationFile(table.data(), bytes.data());
    EXPECT_EQ(bytes.size(), 8002u);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(bytes[1], 0x12);
    EXPECT_EQ(bytes[8000], 0xCD);
    EXPECT_EQ(bytes[8001], 0xAB);

    std::vector<std::uint16_t> decoded(kDcCalibrationWords, 7);
    ASSERT_TRUE(DecodeCalibrationFile(bytes.data(), bytes.size(), decoded.data()));
    EXPECT_EQ(decoded, table);
}

TEST(CalibrationFile, AnyOtherSizeIsNotACacheFile) {
    std::vector<std::uint8_t> bytes(kCalibrationFileBytes + 2, 0);
    std::vector<std::uint16_t> table(kDcCalibrationWords, 7);
    EXPECT_FALSE(DecodeCalibrationFile(bytes.data(), 8000, table.data()));
    EXPECT_FALSE(DecodeCalibrationFile(bytes.data(), 8001, table.data()));
    EXPECT_FALSE(DecodeCalibrationFile(bytes.data(), 8004, table.data()));
    EXPECT_EQ(table[0], 7) << "nothing decoded";
}

TEST(CalibrationFile, DirectoryIsPutUnchangedInFront) {
    EXPECT_EQ(CalibrationFilePath("/var/lib/x/"), "/var/lib/x/calibration.dat");
    EXPECT_EQ(CalibrationFilePath("/var/lib/x"), "/var/lib/xcalibration.dat");
    EXPECT_EQ(CalibrationFilePath(""), "calibration.dat");
    EXPECT_EQ(CalibrationFilePath(nullptr), "calibration.dat");
}

TEST(CalibrationId, NamesTheDeviceOnTheFirstLineOfAShortText) {
    EXPECT_EQ(CalibrationIdPath("/var/lib/x/"), "/var/lib/x/calibration.id");
    EXPECT_EQ(EncodeCalibrationId("QPS0130-260815"), "QPS0130-260815\n");
    const struct {
        std::string bytes;
        std::string serial;
    } cases[] = {
        {"QPS0130-260815\n", "QPS0130-260815"},
        {" QPS0130-260815\t\r\nQPS0130-260816\n", "QPS0130-260815"},
        {"\nQPS0130-260815\n", ""},
        {"QPS0130-260815" + std::string(51, ' '), ""},  // 65 bytes: not a companion
    };
    for (const auto& c : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
        EXPECT_EQ(DecodeCalibrationId(bytes, c.bytes.size()), c.serial) << c.bytes;
    }
    EXPECT_EQ(DecodeCalibrationId(nullptr, 0), "");
}

TEST(RespirationRecord, CarriesTheMarkThenFourLittleEndianDoubles) {
    const double coefficients[4] = {110.5, -2.0, 0.25, 1e6};
    std::uint8_t record[64];
    std::memset(record, 0xEE, sizeof record);
    EncodeRespirationRWA(coefficients, record);
    // The mark, bit for bit, at bytes 0..7.
    std::uint64_t bits;
    const double mark = 0.60991;
    std::memcpy(&bits, &mark, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(record[i], static_cast<std::uint8_t>(bits >> (8 * i)));
    // 110.5 = 0x405BA000_00000000, little-endian at bytes 8..15.
    const std::uint8_t expected110_5[8] = {0, 0, 0, 0, 0, 0xA0, 0x5B, 0x40};
    EXPECT_EQ(std::memcmp(record + 8, expected110_5, 8), 0);
    // -2.0 = 0xC0000000_00000000.
    EXPECT_EQ(record[23], 0xC0);
    for (int i = 40; i < 64; ++i) EXPECT_EQ(record[i], 0) << i;

    double decoded[4] = {};
    ASSERT_TRUE(DecodeRespirationRWA(record, decoded));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(decoded[i], coefficients[i]);
}

TEST(RespirationRecord, WithoutTheMarkOrWithANonNumberIsRefused) {
    const double coefficients[4] = {1, 2, 3, 4};
    std::uint8_t record[64];
    EncodeRespirationRWA(coefficients, record);
    record[0] ^= 1;
    double decoded[4] = {9, 9, 9, 9};
    EXPECT_FALSE(DecodeRespirationRWA(record, decoded));
    EncodeRespirationRWA(coefficients, record);
    std::memset(record + 16, 0xFF, 8);  // erased flash: a NaN
    EXPECT_FALSE(DecodeRespirationRWA(record, decoded));
    EXPECT_EQ(decoded[0], 9) << "nothing copied on refusal";
}

TEST(PhotodiodeRatio, ZeroAndNonNumbersAreUsedAsOne) {
    EXPECT_EQ(UsablePDRatio(0.0f), 1.0f);
    EXPECT_EQ(UsablePDRatio(-0.0f), 1.0f);
    EXPECT_EQ(UsablePDRatio(std::numeric_limits<float>::quiet_NaN()), 1.0f);
    EXPECT_EQ(UsablePDRatio(std::numeric_limits<float>::infinity()), 1.0f);
    EXPECT_EQ(UsablePDRatio(0.97f), 0.97f);
    const std::uint8_t bytes[4] = {0x00, 0x00, 0x40, 0x3F};  // 0.75f
    EXPECT_EQ(GetLittleEndianFloat(bytes), 0.75f);
}

TEST(ModuleTables, ErasedOrEmptyTablesAreNotUsed) {
    std::vector<std::uint16_t> sampling(kPdSamplingWords, 5);
    EXPECT_TRUE(IsUsablePDSamplingTable(sampling.data()));
    sampling[0] = 0xFFFF;
    EXPECT_FALSE(IsUsablePDSamplingTable(sampling.data()));
    sampling[0] = 5;
    sampling[1023] = 0;
    EXPECT_FALSE(IsUsablePDSamplingTable(sampling.data()));

    std::vector<std::uint16_t> dc(kPpgDcTableWordsUsed, 0xFFFF);
    dc[3000] = 3000;
    EXPECT_TRUE(IsUsablePPGDCTable(dc.data())) << "only the last word decides";
    dc[3000] = 0xFFFF;
    EXPECT_FALSE(IsUsablePPGDCTable(dc.data()));
}

TEST(LiveTable, AccessorClampsTheIndex) {
    std::vector<std::uint16_t> table(kDcCalibrationWords);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i + 7);
    std::vector<std::uint16_t> saved(kDcCalibrationWords);
    CopyLiveDCCalibrationTable(saved.data());
    SetLiveDCCalibrationTable(table.data());
    EXPECT_EQ(GetECGDCCalibrationEntry(0), 7);
    EXPECT_EQ(GetECGDCCalibrationEntry(2000), 2007);
    EXPECT_EQ(GetECGDCCalibrationEntry(-5), 7);
    EXPECT_EQ(GetECGDCCalibrationEntry(4000), 4007);
    EXPECT_EQ(GetECGDCCalibrationEntry(4001), 4007);
    SetLiveDCCalibrationTable(saved.data());
}

}  // namespace
