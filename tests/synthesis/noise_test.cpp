// Noise-stress-test records on the AC path: interpolation, repetition, gain and the selector.
#include "synthesis/Noise.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "synthesis/NoiseRecords.h"
#include "synthesis/Synthesizer.h"
#include "tolvan.h"

namespace {

TEST(NstNoise, InterpolatesBetweenSamplesAndConvertsMicrovoltsWithTheGain) {
    const std::vector<std::int32_t> x = {1000, 3000, -2000, 500};
    const int n = static_cast<int>(x.size());
    EXPECT_DOUBLE_EQ(NstNoiseAt(x.data(), n, 360, 1.0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(NstNoiseAt(x.data(), n, 360, 1.0, 0.5 / 360), 2.0) << "halfway";
    EXPECT_DOUBLE_EQ(NstNoiseAt(x.data(), n, 360, 2.0, 1.25 / 360), 2.0 * (0.75 * 3 - 0.25 * 2));
    EXPECT_DOUBLE_EQ(NstNoiseAt(x.data(), n, 360, 1.0, 3.5 / 360), 0.5) << "last sample held";
    EXPECT_DOUBLE_EQ(NstNoiseAt(x.data(), n, 360, 1.0, 4.0 / 360), 1.0) << "the record repeats";
    EXPECT_EQ(NstNoiseAt(nullptr, 0, 360, 1.0, 1.0), 0.0);
}

TEST(NstNoise, SelectorChecksTheGainAndOffAddsNothing) {
    EXPECT_EQ(TOLVSetNSTNoise(1, 0.05), -2);
    EXPECT_EQ(TOLVSetNSTNoise(1, 10.01), -2);
    EXPECT_EQ(TOLVSetNSTNoise(0, 1.0), 0);
    s_t = 0.7;
    EXPECT_EQ(GetNstNoise(), 0.0);
    s_t = 0.0;
}

TEST(NstNoise, AbsentRecordIsRefusedAndChangesNothing) {
    ASSERT_EQ(TOLVSetNSTNoise(0, 1.0), 0);
    EXPECT_FALSE(TOLVIsStandardDataAvailable(TOLV_DATA_EM)) << "the EM record is not public";
    EXPECT_EQ(TOLVSetNSTNoise(1, 2.0), TOLV_TABLE_MISSING);
    EXPECT_EQ(s_NST_Noise, 0);
    EXPECT_EQ(s_NST_gain, 1.0);
    EXPECT_FALSE(TOLVIsStandardDataAvailable(-1));
    EXPECT_FALSE(TOLVIsStandardDataAvailable(6));
}

TEST(NstNoise, MuscleArtefactRecordIsReadWhenAvailable) {
    const NOISE_RECORD_VIEW ma = NoiseRecord(3);
    EXPECT_EQ(TOLVIsStandardDataAvailable(TOLV_DATA_MA), ma.samples != nullptr);
    if (ma.samples == nullptr) GTEST_SKIP() << "the reference data is not available here";
    ASSERT_EQ(ma.length, 650000);
    ASSERT_EQ(TOLVSetNSTNoise(3, 2.0), 0);
    s_t = 10.0 / 360;
    EXPECT_DOUBLE_EQ(GetNstNoise(), ma.samples[10] * 2.0 / 1000.0);
    ASSERT_EQ(TOLVSetNSTNoise(0, 1.0), 0);
    s_t = 0.0;
}

}  // namespace
