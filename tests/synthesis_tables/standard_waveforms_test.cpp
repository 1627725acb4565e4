// The standard test waveforms: names and lengths, the 2-47 generator and reference beat, the
// table lookups, the selectors with their journal lines, the accessors and the dumps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/PortableEnv.h"
#include "synthesis/ReferenceData.h"
#include "synthesis/StandardWaveforms.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"
#include "vdev/TempDir.h"

namespace {

const std::string kDataDir = TOLVAN_TEST_DATA_DIR;

bool HaveAami() {
    return IsTableBuiltIn(ReferenceTable::IEC227);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class StandardWaveformsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TOLVAN_DATA_DIR");
        ASSERT_FALSE(m_dir.path().empty());
    }
    void TearDown() override {
        DisableSaveLog();
        ResetWaveformState();
    }
    vdev::TempDir m_dir;
};

// --- Names, lengths, parameters ----------------------------------------------------------------

TEST(StandardTables, SampleCountsOfThe227Waveforms) {
    const int expected[kIEC227Count] = {43081, 43142, 43144, 34511, 65211,
                                        65214, 65207, 65238, 65239, 65237};
    for (int n = 0; n < kIEC227Count; ++n) EXPECT_EQ(IEC227SampleCount(n), expected[n]) << n;
    EXPECT_EQ(IEC227SampleCount(-1), 0);
    EXPECT_EQ(IEC227SampleCount(10), 0);
    EXPECT_STREQ(s227NameArray[6], "AAMI 4A / IEC B1 /2");
    EXPECT_STREQ(s225NameArray[15], "CAL40000");
    EXPECT_STREQ(s247NameArray[4], "Test pattern 5");
}

TEST(StandardTables, PatternParameters) {
    struct {
        int n;
        double avg, dev, freq;
    } cases[] = {{0, 1.0, 0.0, 0.0},       {1, 0.8, 0.035, 0.25},    {2, 1.0, 0.07, 0.1},
                 {3, 3.0, 0.28, 0.033333}, {4, 1.5, 0.14, 0.000278}, {5, 0.0, 0.0, 0.0},
                 {-1, 0.0, 0.0, 0.0}};
    for (const auto& c : cases) {
        EXPECT_EQ(GetRRAvg(c.n), c.avg) << c.n;
        EXPECT_EQ(GetRRDev(c.n), c.dev) << c.n;
        EXPECT_EQ(GetHRVFreq(c.n), c.freq) << c.n;
    }
}

TEST(StandardTables, ToInt16) {
    EXPECT_EQ(ToInt16(0), 0);
    EXPECT_EQ(ToInt16(32767), 32767);
    EXPECT_EQ(ToInt16(32768), -32768);
    EXPECT_EQ(ToInt16(65535), -1);
}

// --- 2-47 generator ---------------------------------------------------------------------------

TEST(Iec247, ReferenceBeat) {
    const double* beat = getECG227Array();
    ASSERT_NE(beat, nullptr);
    EXPECT_EQ(beat, getECG227Array()) << "made once";
    struct {
        int n;
        double v;
    } points[] = {
        {0, 0.0},
        {9, 0.0},
        {10, 0.0},
        {31, 0.875 * 21 / 43.0},
        {52, 0.875 * 42 / 43.0},
        {53, 0.875},
        {78, 0.375},
        {102, -0.105},
        {103, -0.125},
        {106, 0.125 * 3 / 7.0 - 0.125},
        {109, 0.125 * 6 / 7.0 - 0.125},
        {110, 0.0},
        {179, 0.0},
        {180, 0.0},
        {270, 0.2},
        {359, 0.2 * std::sin(6.2831853 * 179 / 360.0)},
    };
    for (const auto& pt : points) EXPECT_NEAR(beat[pt.n], pt.v, 1e-9) << pt.n;
}

TEST(Iec247, Pattern1IsATrianglePerSecond) {
    EXPECT_NEAR(GetIEC47RawPoint(0, 0.025), 0.0, 0.0) << "not generated before first use";
    const double* p = getIEC47RawArray(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(getIEC47RawArray(0), p) << "generated once";
    struct {
        double p, v;
    } points[] = {{0.0, 0.0},
                  {0.025, 0.5},
                  {0.05, 1.0},
                  {0.075, 0.5},
                  {0.099, 0.02},
                  {0.1, 0.0},
                  {0.5, 0.0},
                  {0.999, 0.0},
                  {1.025, 0.5},
                  {59.075, 0.5},
                  {60.025, 0.5},  // wraps at the
                                  // pattern's 60000
                                  // samples
                  {60.5, 0.0}};
    for (const auto& pt : points) EXPECT_NEAR(GetIEC47RawPoint(0, pt.p), pt.v, 1e-12) << pt.p;
}

TEST(Iec247, Pattern2BeatsFollowTheRRSwing) {
    const double* p = getIEC47RawArray(1);
    ASSERT_NE(p, nullptr);
    // Beat starts: 0; trunc(0 + sin(0) 35 + 800) = 800;
    // trunc(800 + sin(800 * 0.25 * 2 pi / 1000) * 35 + 800) = trunc(1633.287) = 1633.
    for (int start : {0, 800, 1633}) {
        EXPECT_EQ(p[start + 9], 0.0) << start;
        EXPECT_NEAR(p[start + 53], 0.875, 1e-12) << start;
        EXPECT_NEAR(p[start + 103], -0.125, 1e-12) << start;
        EXPECT_NEAR(p[start + 270], 0.2, 1e-9) << start;
    }
    EXPECT_EQ(p[360], 0.0);
    EXPECT_EQ(p[799], 0.0);
    EXPECT_EQ(p[1632], 0.0);
    EXPECT_NEAR(p[1632 + 53], 0.875 * 42 / 43.0, 1e-12) << "one sample before the third R";
    EXPECT_NEAR(GetIEC47RawPoint(1, 0.853), 0.875, 1e-12);
}

TEST(Iec247, GeneratorCutsTheLastBeatAtTheLength) {
    std::vector<double> buffer(900, -1.0);
    EXPECT_EQ(makeIEC247Array(1, buffer.data(), 900), 900);
    EXPECT_NEAR(buffer[853], 0.875, 1e-12);
    EXPECT_EQ(buffer[899], 0.0 + buffer[899]);  // written
    EXPECT_NE(buffer[899], -1.0);
    EXPECT_EQ(makeIEC247Array(5, buffer.data(), 900), 0);
    EXPECT_EQ(makeIEC247Array(1, nullptr, 900), 0);
}

TEST(Iec247, AccessorAndOutOfRange) {
    unsigned count = 7;
    unsigned rate = 7;
    const double* p = GetSpecialWave247Array(2, &count, &rate);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(count, 9972u);
    EXPECT_EQ(rate, 1000u);
    EXPECT_EQ(p, getIEC47RawArray(2));
    EXPECT_EQ(GetSpecialWave247Array(5, &count, &rate), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rate, 0u);
    EXPECT_NE(GetSpecialWave247Array(3, nullptr, nullptr), nullptr);
    EXPECT_EQ(getIEC47RawArray(-1), nullptr);
    EXPECT_EQ(GetIEC47RawPoint(5, 0.05), 0.0);
    EXPECT_EQ(GetIEC47RawPoint(-1, 0.05), 0.0);
}

TEST(Iec247, LongestPatternLastsAnHour) {
    unsigned count = 0;
    unsigned rate = 0;
    const double* p = GetSpecialWave247Array(4, &count, &rate);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(count, 3599521u);
    // First beat at 0; the second 1.5 s later (sin(0) = 0).
    EXPECT_NEAR(p[53], 0.875, 1e-12);
    EXPECT_NEAR(p[1500 + 53], 0.875, 1e-12);
    EXPECT_EQ(p[1499], 0.0);
}

// --- Periods and lookups ------------------------------------------------------------------------

TEST_F(StandardWaveformsTest, Periods) {
    struct {
        int output, index;
        double period;
    } cases[] = {
        {OUTPUT_IEC227, 0, 59.834722222222226},
        {OUTPUT_IEC227, 3, 47.93194444444445},
        {OUTPUT_IEC227, 9, 90.60694444444445},
        {OUTPUT_IEC227, 10, 0.0},
        {OUTPUT_IEC247, 0, 60.0},
        {OUTPUT_IEC247, 1, 3.996},
        {OUTPUT_IEC247, 3, 29.874},
        {OUTPUT_IEC247, 5, 0.0},
        {OUTPUT_IEC251, 15, 1.0},
        {OUTPUT_ANE20000, 0, 1.0},
        {OUTPUT_SINE, 0, 0.0},
        {OUTPUT_ECG_FILE, 0, 0.0},
    };
    for (const auto& c : cases) {
        SpecialWaveFormNo = c.index;
        EXPECT_DOUBLE_EQ(StandardWaveformPeriod(c.output), c.period) << c.output << " " << c.index;
    }
}

TEST_F(StandardWaveformsTest, Output8ReadsTheSelectedSlot) {
    if (!HaveAami()) GTEST_SKIP() << "2-27 table not built in";
    const std::int32_t* slot3 = GetSpecialWave227Array(3, nullptr, nullptr);
    ASSERT_NE(slot3, nullptr);
    SpecialWaveFormNo = 3;
    // At p = 1 s the sample read is number 720 of slot 3; at 1.0013 s still 720 (0.936 -> 720).
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 1.0), slot3[720] / 1000.0);
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 1.0013), slot3[720] / 1000.0);
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 1.0014), slot3[721] / 1000.0);
    EXPECT_DOUBLE_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 0.0), slot3[0] / 1000.0);
    // Past the waveform (zero-filled rest of the slot) and past the slot: 0 mV.
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 50.0), 0.0);
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 100.0), 0.0);
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC227, -0.5), 0.0);
    // An index selected for another family never reads outside the table.
    SpecialWaveFormNo = 15;
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC227, 1.0), 0.0);
}

TEST_F(StandardWaveformsTest, Output16ReadsThePattern) {
    SpecialWaveFormNo = 1;
    StandardWaveformPeriod(OUTPUT_IEC247);  // a change generates the pattern
    EXPECT_NEAR(StandardWaveformVoltage(OUTPUT_IEC247, 0.053), 0.875, 1e-12);
    EXPECT_NEAR(StandardWaveformVoltage(OUTPUT_IEC247, 0.853), 0.875, 1e-12);
    SpecialWaveFormNo = 7;
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC247, 0.053), 0.0);
}

TEST_F(StandardWaveformsTest, AbsentCtsTablesPlayZero) {
    SpecialWaveFormNo = 0;
    ANE20000ChannelNo = 0;
    EXPECT_EQ(StandardWaveformPeriod(OUTPUT_IEC251), 1.0);
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_IEC251, 0.5), 0.0);
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_ANE20000, 0.5), 0.0);
    EXPECT_EQ(StandardWaveformVoltage(OUTPUT_SINE, 0.5), 0.0);
}

// --- Selectors ----------------------------------------------------------------------------------

TEST_F(StandardWaveformsTest, SelectorRangesAndJournal) {
    const std::string log = m_dir.Join("journal.txt");
    ASSERT_EQ(EnableSaveLog(log.c_str()), 0);
    EXPECT_EQ(TOLVSetSpecialWave227(-1), -2);
    EXPECT_EQ(TOLVSetSpecialWave227(10), -2);
    EXPECT_EQ(TOLVSetSpecialWave247(5), -2);
    EXPECT_EQ(TOLVSetSpecialWave251(16), -2);
    EXPECT_EQ(TOLVSetSpecialWave251(0), TOLV_TABLE_MISSING) << "no CTS records here";
    EXPECT_EQ(TOLVSetSpecialWave247(4), 0);
    EXPECT_EQ(TOLVGetSpecialWave247(), 4);
    EXPECT_EQ(TOLVGetSpecialWave227(), 4) << "one index for every family";
    EXPECT_EQ(TOLVGetSpecialWave251(), 4);
    std::string expected = "SetSpecialWave247(4);\n";
    if (HaveAami()) {
        EXPECT_EQ(TOLVSetSpecialWave227(9), 0);
        EXPECT_EQ(TOLVGetSpecialWave227(), 9);
        expected += "SetSpecialWave227(9);\n";
    } else {
        EXPECT_EQ(TOLVSetSpecialWave227(9), TOLV_TABLE_MISSING);
        EXPECT_EQ(TOLVGetSpecialWave227(), 4);
    }
    EXPECT_EQ(TOLVSetSpecialWave247(0), 0);
    expected += "SetSpecialWave247(0);\n";
    EXPECT_EQ(ReadText(log), expected);
}

TEST_F(StandardWaveformsTest, AneLeadRangeAndAbsentTable) {
    const std::string log = m_dir.Join("journal.txt");
    ASSERT_EQ(EnableSaveLog(log.c_str()), 0);
    ANE20000ChannelNo = 2;
    EXPECT_EQ(TOLVSetANE20000Lead(9), -1);
    EXPECT_EQ(TOLVSetANE20000Lead(-1), -1);
    EXPECT_EQ(TOLVSetANE20000Lead(0), TOLV_TABLE_MISSING);
    EXPECT_EQ(TOLVGetANE20000Lead(), 2) << "the previous lead stays";
    EXPECT_EQ(ReadText(log), "");
}

// --- Accessors
// ------------------------------------------------------------------------------------

TEST_F(StandardWaveformsTest, TableAccessorsRefuseBadIndicesAndAbsentTables) {
    unsigned count = 9;
    unsigned rate = 9;
    EXPECT_EQ(GetSpecialWave227Array(10, &count, &rate), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(GetSpecialWave227Array(-1, &count, &rate), nullptr);
    EXPECT_EQ(GetSpecialWave251Array(0, &count, &rate), nullptr) << "no CTS records here";
    EXPECT_EQ(count, 0u);
    if (HaveAami()) {
        const std::int32_t* slot9 = GetSpecialWave227Array(9, &count, &rate);
        ASSERT_NE(slot9, nullptr);
        EXPECT_EQ(count, 65237u);
        EXPECT_EQ(rate, 720u);
        EXPECT_EQ(slot9 - GetSpecialWave227Array(0, nullptr, nullptr), 9 * 66000);
    }
}

// --- Dumps
// ----------------------------------------------------------------------------------------

TEST_F(StandardWaveformsTest, DumpOfPattern1IsATextRecording) {
    const std::string path = m_dir.Join("p1.txt");
    ASSERT_EQ(DumpIEC247Waveform(0, path.c_str()), 0);
    const std::string text = ReadText(path);
    const std::string head =
        "1000\n60000\n1\nTest pattern 1\n"
        "0.000\n0.020\n0.040\n0.060\n0.080\n0.100\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 4u + 60000u);
    EXPECT_EQ(lines[4 + 25], "0.500");
    EXPECT_EQ(lines[4 + 50], "1.000");
    EXPECT_EQ(lines[4 + 51], "0.980");
    EXPECT_EQ(lines[4 + 99], "0.020");
    EXPECT_EQ(lines[4 + 100], "0.000");
    EXPECT_EQ(lines[4 + 1025], "0.500");
    // Dumping again replaces the file.
    ASSERT_EQ(DumpIEC247Waveform(0, path.c_str()), 0);
    EXPECT_EQ(ReadText(path), text);
}

TEST_F(StandardWaveformsTest, DumpedPatternLoadsBackAsARecording) {
    const std::string path = m_dir.Join("p2.txt");
    ASSERT_EQ(DumpIEC247Waveform(1, path.c_str()), 0);
    const auto lines = Lines(ReadText(path));
    ASSERT_EQ(lines.size(), 4u + 3996u);
    EXPECT_EQ(lines[3], "Test pattern 2");
    EXPECT_EQ(lines[4 + 853], "0.875");
    EXPECT_EQ(lines[4 + 903], "-0.125");
    EXPECT_EQ(TOLVLoadECGtxt(path.c_str(), 0), 3996);
}

TEST_F(StandardWaveformsTest, DumpOf227Index0) {
    const std::string path = m_dir.Join("a1.txt");
    if (!HaveAami()) {
        EXPECT_EQ(DumpIEC227Waveform(0, path.c_str()), TOLV_TABLE_MISSING);
        GTEST_SKIP() << "2-27 table not built in";
    }
    ASSERT_EQ(DumpIEC227Waveform(0, path.c_str()), 0);
    const auto lines = Lines(ReadText(path));
    ASSERT_EQ(lines.size(), 4u + 43081u);
    EXPECT_EQ(lines[0], "720");
    EXPECT_EQ(lines[1], "43081");
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(lines[3], "AAMI 3A / IEC A1");
    EXPECT_EQ(lines[4], "0.185");  // (2072 - 2048) / 130 mV
    const std::int32_t* slot = GetSpecialWave227Array(0, nullptr, nullptr);
    char expected[32];
    for (int i : {1, 100, 43080}) {
        std::snprintf(expected, sizeof expected, "%.3f", slot[i] / 1000.0);
        EXPECT_EQ(lines[4 + static_cast<std::size_t>(i)], expected) << i;
    }
}

TEST_F(StandardWaveformsTest, DumpFailures) {
    EXPECT_EQ(DumpIEC247Waveform(5, m_dir.Join("x").c_str()), -2);
    EXPECT_EQ(DumpIEC227Waveform(10, m_dir.Join("x").c_str()), -2);
    EXPECT_EQ(DumpIEC251Waveform(16, m_dir.Join("x").c_str()), -2);
    EXPECT_EQ(DumpIEC251Waveform(0, m_dir.Join("x").c_str()), TOLV_TABLE_MISSING);
    EXPECT_EQ(DumpIEC247Waveform(0, m_dir.Join("no/such/dir/x").c_str()), -3);
    EXPECT_EQ(DumpIEC247Waveform(0, nullptr), -3);
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(DumpIEC247Waveform(1, "/dev/full"), -6);
    }
}

}  // namespace
