// The standard tables through the whole library: tables loaded at run time from
// $TOLVAN_DATA_DIR, output 8 played on the virtual device and decoded back to millivolts, and
// the stop after one period of a table that does not loop.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "WfdbTestRecords.h"
#include "support/DeviceFixture.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/ReferenceData.h"
#include "synthesis/StandardWaveforms.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

namespace {

// A CTS folder of synthetic records: CAL n sample i is code 100 n + i mod 7 at gain 100
// (10 * code uV); ANE20000 signal c sample i is code 10 c + i mod 3 at gain 20 (50 * code uV).
void WriteCtsFolder(const std::string& cts) {
    const ReferenceTableLayout& cal = ReferenceTableLayoutOf(ReferenceTable::IEC251);
    for (int n = 0; n < cal.pieceCount; ++n) {
        std::vector<int> codes(1000);
        for (int i = 0; i < 1000; ++i) codes[static_cast<std::size_t>(i)] = 100 * n + i % 7;
        ASSERT_TRUE(
            wfdbtest::WriteRecord(cts, cal.pieces[n].record, 1000, 16, {{"100", 0}}, {codes}));
    }
    std::vector<std::vector<int>> leads(9, std::vector<int>(1000));
    for (std::size_t c = 0; c < 9; ++c) {
        for (std::size_t i = 0; i < 1000; ++i) leads[c][i] = static_cast<int>(10 * c + i % 3);
    }
    ASSERT_TRUE(wfdbtest::WriteRecord(cts, "ANE20000", 1000, 16,
                                      std::vector<wfdbtest::SignalFields>(9, {"20", 0}), leads));
}

std::atomic<int> s_stops{0};
void CountStop() {
    ++s_stops;
}
void NoConnection(bool) {}

class TablePlaybackTest : public DeviceFixture {
  protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        s_stops = 0;
    }
    void TearDown() override {
        TOLVSetOutputFunction(0);
        RegisterStandardWaveformCB(nullptr);
        TOLVSetSpecialWaveformLoop(true);
        unsetenv("TOLVAN_DATA_DIR");
        DeviceFixture::TearDown();
    }
    // The synthesizer reaches the tables through its hooks; until they delegate here, playing a
    // table proves nothing about the tables.
    static bool HooksReachTheTables() {
        SpecialWaveFormNo = 1;
        return GetStandardWaveformPeriod(OUTPUT_IEC247) == StandardWaveformPeriod(OUTPUT_IEC247) &&
               GetStandardWaveformVoltage(OUTPUT_IEC247, 0.053) == 0.875;
    }
};

TEST_F(TablePlaybackTest, CtsTablesLoadAtRunTimeFromTheDataDirectory) {
    const std::string empty = Dir().Join("empty");
    ASSERT_TRUE(Dir().MakeDirectories("empty"));
    setenv("TOLVAN_DATA_DIR", empty.c_str(), 1);
    EXPECT_EQ(TOLVSetSpecialWave251(3), TOLV_TABLE_MISSING);
    EXPECT_EQ(TOLVSetANE20000Lead(4), TOLV_TABLE_MISSING);

    const std::string data = Dir().Join("data");
    ASSERT_TRUE(Dir().MakeDirectories("data/cts"));
    WriteCtsFolder(data + "/cts");
    setenv("TOLVAN_DATA_DIR", data.c_str(), 1);
    ASSERT_EQ(TOLVSetSpecialWave251(3), 0);
    EXPECT_EQ(TOLVGetSpecialWave251(), 3);
    EXPECT_FALSE(IsTableBuiltIn(ReferenceTable::IEC251));
    // CAL 3 sample 5: code 305 at gain 100 = 3.05 mV.
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC251, 0.005), 3.05);
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC251, 0.9999), (300 + 999 % 7) / 100.0);
    unsigned count = 0;
    unsigned rate = 0;
    const std::int32_t* cal15 = GetSpecialWave251Array(15, &count, &rate);
    ASSERT_NE(cal15, nullptr);
    EXPECT_EQ(count, 1000u);
    EXPECT_EQ(rate, 1000u);
    EXPECT_EQ(cal15[6], 15060);

    ASSERT_EQ(TOLVSetANE20000Lead(4), 0);
    EXPECT_EQ(TOLVGetANE20000Lead(), 4);
    // Lead 4 sample 2: code 42 at gain 20 = 2.1 mV.
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_ANE20000, 0.002), 2.1);

    const std::string dump = Dir().Join("cal.txt");
    ASSERT_EQ(DumpIEC251Waveform(1, dump.c_str()), 0);
    const std::vector<unsigned char> bytes = wfdbtest::ReadBytes(dump);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, 48), "1000\n1000\n1\nCAL10000\n1.000\n1.010\n1.020\n1.030\n1.0");
}

TEST_F(TablePlaybackTest, Output8OnTheDeviceCarriesTheTable) {
    if (!IsTableBuiltIn(ReferenceTable::IEC227)) GTEST_SKIP() << "2-27 table not built in";
    if (!HooksReachTheTables()) GTEST_SKIP() << "the synthesizer's table hooks do not delegate yet";
    unsigned count = 0;
    unsigned rate = 0;
    const std::int32_t* table = GetSpecialWave227Array(2, &count, &rate);
    ASSERT_NE(table, nullptr);

    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetSpecialWave227(2), 0);
    device.ClearDecoded();
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_IEC227), 0);
    ASSERT_TRUE(device.WaitForPackets(45, std::chrono::milliseconds(20000)));
    ASSERT_EQ(TOLVSetOutputFunction(0), 0);

    // 20000 samples/s: sample i plays table entry trunc(720 i / 20000) (an accumulated play
    // time may land one entry early at an exact boundary). AC code = trunc(1600 mV).
    const auto samples = device.DecodedSamples();
    ASSERT_GE(samples.size(), 30000u);
    auto code = [&](long long k) {
        return static_cast<std::int16_t>(std::trunc(1600.0 * (table[k] / 1000.0)));
    };
    int exact = 0;
    int distinct = 0;
    for (std::size_t i = 0; i < 30000; ++i) {
        const long long k = (720 * static_cast<long long>(i)) / 20000;
        const std::int16_t got = samples[i].acCode;
        long long played = k;
        if (got == code(k)) {
            ++exact;
        } else {
            ASSERT_TRUE(k > 0 && got == code(k - 1)) << "sample " << i << " entry " << k;
            played = k - 1;
        }
        if (k > 0 && table[k] != table[k - 1]) ++distinct;
        // Decoded back to millivolts: within one AC code of the table value.
        ASSERT_NEAR(samples[i].acMillivolts, table[played] / 1000.0, 1.0 / 1600.0)
            << "sample " << i;
    }
    EXPECT_GT(exact, 29500);
    EXPECT_GT(distinct, 100) << "the stretch compared is not flat";
}

TEST_F(TablePlaybackTest, Output9WithoutLoopStopsAfterOneSecond) {
    const std::string data = Dir().Join("data");
    ASSERT_TRUE(Dir().MakeDirectories("data/cts"));
    WriteCtsFolder(data + "/cts");
    setenv("TOLVAN_DATA_DIR", data.c_str(), 1);
    ASSERT_TRUE(TOLVInit(NoConnection));  // a session without a device: the timer plays
    RegisterStandardWaveformCB(CountStop);
    TOLVSetSpecialWaveformLoop(false);
    ASSERT_EQ(TOLVSetSpecialWave251(0), 0);
    ASSERT_EQ(TOLVSetOutputFunction(OUTPUT_IEC251), 0);
    EXPECT_TRUE(
        Eventually([] { return TOLVGetOutputFunction() == 0; }, std::chrono::milliseconds(10000)));
    EXPECT_TRUE(Eventually([] { return !TOLVIsPlaying(); }, std::chrono::milliseconds(5000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(s_stops.load(), 1);
}

// The beats of outputs 7, 10, 11 and 14 at 60/min and 1 mV on the device: AC code
// trunc(1600 mV) of the beat at p = i / 20000 s.
TEST_F(TablePlaybackTest, EcgBeatsOnTheDevice) {
    _CheckECGTime();
    if (std::fabs(GetECGBeatVoltage(0.05375, 1.0) - 0.875) > 1e-9) {
        GTEST_SKIP() << "the synthesizer's beat hooks do not delegate yet";
    }
    auto& device = StartDevice();
    ASSERT_TRUE(TOLVConnect(0, 5000));
    ASSERT_EQ(TOLVSetAmplitude(1.0), 0);
    ASSERT_EQ(TOLVSetFrequency(1.0), 0);
    for (int output :
         {OUTPUT_ECG, OUTPUT_JJG1041_DOUBLE_R, OUTPUT_JJG1041_SINGLE_R, OUTPUT_CUSTOM_ECG}) {
        device.ClearDecoded();
        ASSERT_EQ(TOLVSetOutputFunction(output), 0);
        ASSERT_TRUE(device.WaitForPackets(22, std::chrono::milliseconds(20000)));
        ASSERT_EQ(TOLVSetOutputFunction(0), 0);
        const auto samples = device.DecodedSamples();
        ASSERT_GE(samples.size(), 15000u);
        const JJG1041_PARAMETERS jjg = MakeJJG1041Parameters(1.0, 1.0);
        int exact = 0;
        for (std::size_t i = 0; i < 15000; ++i) {
            const double p = static_cast<double>(i) / 20000.0;
            double v = 0.0;
            switch (output) {
                case OUTPUT_ECG:
                    v = EcgBeatVoltage(p, 1.0);
                    break;
                case OUTPUT_CUSTOM_ECG:
                    v = CustomEcgBeatVoltage(p, 1.0);
                    break;
                default:
                    v = JJG1041VoltageOf(jjg, p, output == OUTPUT_JJG1041_DOUBLE_R);
                    break;
            }
            const int expected = static_cast<int>(std::trunc(1600.0 * v));
            const int got = samples[i].acCode;
            // The play time is a running sum: where 1600 mV lands on a whole code (the straight
            // QRS lines do so every few samples) it may come out one code lower or higher.
            ASSERT_LE(std::abs(got - expected), 1) << "output " << output << " sample " << i;
            if (got == expected) ++exact;
        }
        EXPECT_GT(exact, 14550) << "output " << output;
    }
}

}  // namespace
