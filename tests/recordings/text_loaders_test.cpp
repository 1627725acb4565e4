// Column text, big-endian binary and AHA loaders: header checks with their exact codes, sample
// conversion, short files and the fate of the previous recording.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recordings/RecordingCodecs.h"
#include "recordings/RecordingTestSupport.h"
#include "tolvan.h"

using rectest::CurrentSamples;
using rectest::InstallMarker;
using rectest::MarkerStillLoaded;
using rectest::ScratchDir;

namespace {

std::string TextFile(const std::string& rate, const std::string& count, const std::string& columns,
                     const std::vector<std::string>& rows) {
    std::string s = rate + "\n" + count + "\n" + columns + "\nI,II,III\n";
    for (const std::string& r : rows) s += r + "\n";
    return s;
}

// --- Column text ------------------------------------------------------------------------------

struct TextHeaderCase {
    const char* name;
    std::string content;
    int channel;
    int expected;
    bool previousKept;
};

class TextHeader : public ::testing::TestWithParam<TextHeaderCase> {};

TEST_P(TextHeader, GivesTheExactCode) {
    const TextHeaderCase& c = GetParam();
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", c.content);
    InstallMarker();
    EXPECT_EQ(TOLVLoadECGtxt(path.c_str(), c.channel), c.expected);
    EXPECT_EQ(MarkerStillLoaded(), c.previousKept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextHeader,
    ::testing::Values(
        TextHeaderCase{"rate99_5", TextFile("99.5", "2", "1", {"1", "2"}), 0, -2, true},
        TextHeaderCase{"rate100", TextFile("100", "2", "1", {"1", "2"}), 0, 2, false},
        TextHeaderCase{"rate40000", TextFile("40000", "2", "1", {"1", "2"}), 0, 2, false},
        TextHeaderCase{"rate40001", TextFile("40001", "2", "1", {"1", "2"}), 0, -2, true},
        TextHeaderCase{"rate0", TextFile("0", "2", "1", {"1"}), 0, -2, true},
        TextHeaderCase{"rateText", TextFile("abc", "2", "1", {"1"}), 0, -2, true},
        TextHeaderCase{"rateNan", TextFile("nan", "2", "1", {"1"}), 0, -2, true},
        TextHeaderCase{"empty", "", 0, -2, true}, TextHeaderCase{"noCount", "500\n", 0, -3, true},
        TextHeaderCase{"count0", TextFile("500", "0", "1", {"1"}), 0, -3, true},
        TextHeaderCase{"countNegative", TextFile("500", "-4", "1", {"1"}), 0, -3, true},
        TextHeaderCase{"noColumns", "500\n2\n", 0, -4, true},
        TextHeaderCase{"columns0", TextFile("500", "2", "0", {"1"}), 0, -4, true},
        TextHeaderCase{"noNames", "500\n2\n1\n", 0, -5, true},
        TextHeaderCase{"channelNegative", TextFile("500", "2", "2", {"1,2"}), -1, -7, true},
        TextHeaderCase{"channelEqualsColumns", TextFile("500", "2", "2", {"1,2"}), 2, -7, true},
        TextHeaderCase{"shortDataLine", TextFile("500", "3", "2", {"1,2", "3"}), 1, -7, false},
        TextHeaderCase{"noDataLine", TextFile("500", "1000", "1", {}), 0, 0, false}),
    [](const ::testing::TestParamInfo<TextHeaderCase>& info) { return info.param.name; });

TEST(TextLoader, MissingFileIsMinusOneAndNullPathToo) {
    EXPECT_EQ(TOLVLoadECGtxt("/nonexistent/rec.txt", 0), -1);
    EXPECT_EQ(TOLVLoadECGtxt(nullptr, 0), -1);
    EXPECT_EQ(TOLVLoadECGtxt("", 0), -1);
    EXPECT_EQ(TOLVLoadECGtxt("/tmp", 0), -1);  // a directory is no recording
}

TEST(TextLoader, DeclaredCountAboveTheLinesPresentLoadsWhatIsThere) {
    ScratchDir dir;
    std::vector<std::string> rows;
    for (int i = 0; i < 10; ++i) rows.push_back(std::to_string(i) + ".5");
    std::string path = dir.Write("rec.txt", TextFile("250", "1000", "1", rows));
    ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), 0), 10);
    std::vector<double> s = CurrentSamples();
    ASSERT_EQ(s.size(), 10u);
    EXPECT_DOUBLE_EQ(s[0], 0.5);
    EXPECT_DOUBLE_EQ(s[9], 9.5);
    EXPECT_DOUBLE_EQ(CurrentEcgRecording()->SampleRate(), 250.0);
}

TEST(TextLoader, StopsAtTheDeclaredCount) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", TextFile("250", "2", "1", {"1", "2", "3", "4"}));
    EXPECT_EQ(TOLVLoadECGtxt(path.c_str(), 0), 2);
}

TEST(TextLoader, ClampsToTwentyMillivoltsAndSplitsAtCommaRuns) {
    ScratchDir dir;
    // Consecutive commas are one separator; fields past the column count are not considered.
    std::string path = dir.Write(
        "rec.txt",
        TextFile("360.5", "4", "3", {"0,35,1", "0,,-35,1", ",1,2.25,9,9", "0, 7.5 mV ,1"}));
    ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), 1), 4);
    std::vector<double> s = CurrentSamples();
    EXPECT_DOUBLE_EQ(s[0], 20.0);
    EXPECT_DOUBLE_EQ(s[1], -20.0);
    EXPECT_DOUBLE_EQ(s[2], 2.25);
    EXPECT_DOUBLE_EQ(s[3], 7.5);  // leading numeric part, rest ignored
    EXPECT_DOUBLE_EQ(CurrentEcgRecording()->SampleRate(), 360.5);
}

TEST(TextLoader, LongLinesStayOneLineAndBlankLinesAreSkipped) {
    ScratchDir dir;
    std::string wide = "1";
    for (int i = 0; i < 60; ++i) wide += ",1.000";  // about 360 characters
    std::string content = TextFile("500", "3", "61", {wide, "", "2" + wide.substr(1), "\r", "3"});
    std::string path = dir.Write("rec.txt", content);
    ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), 0), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1, 2, 3}));
}

TEST(TextLoader, WindowsLineEndsLoad) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", "500\r\n2\r\n1\r\nI\r\n1.5\r\n-2\r\n");
    ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), 0), 2);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1.5, -2}));
}

// Data lines as the reader splits them: across its blocks, around the longest line kept, and
// with NUL bytes (the text of a line ends there; the line still ends at its LF).
TEST(TextLoader, DataLinesAcrossBlocksLongLinesAndNulBytes) {
    const std::size_t cap = 1 << 20;  // characters kept of one line
    std::string many;
    for (int i = 0; i < 120000; ++i)
        many += std::to_string(i % 10) + ",-" + std::to_string(i) + "\n";
    const struct {
        const char* name;
        std::string rows;
        int channel;
        int code;
        std::vector<double> first;
    } cases[] = {
        {"nul", std::string("1\0junk\n2\n\0 3\n4", 14), 0, 3, {1, 2, 4}},
        {"longBlankTail", "3" + std::string(cap + 300000, ' ') + "\n4\n", 0, 2, {3, 4}},
        {"fieldBeyondCap", "1" + std::string(cap - 1, ',') + "5\n", 1, -7, {}},
        {"fieldAtCapEnd", "1" + std::string(cap - 2, ',') + "5\n6,7\n", 1, 2, {5, 7}},
        {"unterminatedLongLast", "8,9\n" + std::string(cap + 5, '7'), 0, 2, {8, 20}},
        {"manyBlocks", many, 1, 120000, {-0.0, -1, -2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path =
            dir.Write("rec.txt", "500\n1000000\n2\nI,II\n" + std::string(c.rows));
        ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), c.channel), c.code);
        std::vector<double> s = CurrentSamples();
        s.resize(std::min(s.size(), c.first.size()));
        EXPECT_EQ(s, c.first);
    }
    EXPECT_EQ(CurrentSamples().back(), -20.0) << "the last of many lines, clamped";
}

// A NUL byte in a header line ends that line's text; the next line stays a line of its own.
TEST(TextLoader, NulByteInAHeaderLineKeepsTheNextLine) {
    ScratchDir dir;
    const std::string path =
        dir.Write("rec.txt", std::string("500\0junk\n3\n2\nI,II\n1,2\n3,4\n5,6\n", 30));
    ASSERT_EQ(TOLVLoadECGtxt(path.c_str(), 1), 3);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{2, 4, 6}));
}

TEST(CheckECGTxtChannel, ReturnsTheCountAndTheNames) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", "40001\n5\n3\nLead I,,Lead II\r\n1,2,3\n");
    InstallMarker();
    EXPECT_EQ(CheckECGTxtChannel(path.c_str(), nullptr), 3);
    char* names[3] = {nullptr, nullptr, nullptr};
    ASSERT_EQ(CheckECGTxtChannel(path.c_str(), names), 3);
    ASSERT_NE(names[0], nullptr);
    ASSERT_NE(names[1], nullptr);
    EXPECT_STREQ(names[0], "Lead I");
    EXPECT_STREQ(names[1], "Lead II");  // no end-of-line characters
    EXPECT_EQ(names[2], nullptr);       // the line holds only two names
    for (char* n : names) delete[] n;
    EXPECT_TRUE(MarkerStillLoaded());  // a probe changes nothing
}

TEST(CheckECGTxtChannel, CutsNamesTo127Characters) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", "500\n5\n1\n" + std::string(300, 'N') + "\n");
    char* names[1] = {nullptr};
    ASSERT_EQ(CheckECGTxtChannel(path.c_str(), names), 1);
    EXPECT_EQ(std::strlen(names[0]), 127u);
    delete[] names[0];
}

// Under the leak checker a buffer left behind fails the test.
TEST(CheckECGTxtChannel, ReleaseFreesTheNamesAndNothingElse) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt", "500\n5\n3\nI,II\n");
    char sentinel = 0;
    char* names[4] = {nullptr, nullptr, nullptr, &sentinel};
    ASSERT_EQ(CheckECGTxtChannel(path.c_str(), names), 3);
    ASSERT_NE(names[0], nullptr);
    ASSERT_NE(names[1], nullptr);
    ASSERT_EQ(names[2], nullptr);  // only two names: a NULL slot to skip
    ReleaseECGTxtChannelNames(names, 3);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_EQ(names[1], nullptr);
    EXPECT_EQ(names[3], &sentinel);       // beyond the count: untouched
    ReleaseECGTxtChannelNames(names, 3);  // a second release finds only NULL slots
    ReleaseECGTxtChannelNames(nullptr, 3);
    ReleaseECGTxtChannelNames(names, -1);
}

TEST(CheckECGTxtChannel, HeaderCodes) {
    ScratchDir dir;
    EXPECT_EQ(CheckECGTxtChannel("/nonexistent", nullptr), -1);
    EXPECT_EQ(CheckECGTxtChannel(dir.Write("a", "0\n1\n1\nI\n").c_str(), nullptr), -2);
    EXPECT_EQ(CheckECGTxtChannel(dir.Write("b", "7\n0\n1\nI\n").c_str(), nullptr), -3);
    EXPECT_EQ(CheckECGTxtChannel(dir.Write("c", "7\n1\n0\nI\n").c_str(), nullptr), -4);
    EXPECT_EQ(CheckECGTxtChannel(dir.Write("d", "7\n1\n1\n").c_str(), nullptr), -5);
    EXPECT_EQ(CheckECGTxtChannel(dir.Write("e", "7\n1\n2\nI\n").c_str(), nullptr), 2);
}

// --- Big-endian binary ------------------------------------------------------------------------

std::vector<unsigned char> BinFile(unsigned rate, std::int64_t count, const std::vector<int>& s) {
    std::vector<unsigned char> b = {static_cast<unsigned char>(rate >> 8),
                                    static_cast<unsigned char>(rate)};
    auto c = static_cast<std::uint32_t>(count);
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<unsigned char>(c >> shift));
    for (int v : s) {
        b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
        b.push_back(static_cast<unsigned char>(v & 0xFF));
    }
    return b;
}

struct BinCase {
    const char* name;
    std::vector<unsigned char> bytes;
    int expected;
    bool previousKept;
};

class BinHeader : public ::testing::TestWithParam<BinCase> {};

TEST_P(BinHeader, GivesTheExactCode) {
    const BinCase& c = GetParam();
    ScratchDir dir;
    std::string path = dir.Write("rec.bin", c.bytes);
    InstallMarker();
    EXPECT_EQ(LoadECGBin(path.c_str()), c.expected);
    EXPECT_EQ(MarkerStillLoaded(), c.previousKept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BinHeader,
    ::testing::Values(BinCase{"empty", {}, -2, true}, BinCase{"oneByte", {0x0F}, -2, true},
                      BinCase{"rate29", BinFile(29, 1, {1}), -2, true},
                      BinCase{"rate30", BinFile(30, 1, {1}), 1, false},
                      BinCase{"rate5000", BinFile(5000, 1, {1}), 1, false},
                      BinCase{"rate5001", BinFile(5001, 1, {1}), -2, true},
                      BinCase{"countMissing", {0x0F, 0xA0, 0, 0}, -3, true},
                      BinCase{"count0", BinFile(4000, 0, {1}), -3, true},
                      BinCase{"countNegative", BinFile(4000, -1, {1}), -3, true},
                      BinCase{"count20000001", BinFile(4000, 20000001, {1}), -3, true},
                      BinCase{"count20000000Short", BinFile(4000, 20000000, {1, 2, 3}), 3, false},
                      BinCase{"noSample", BinFile(4000, 5, {}), 0, false}),
    [](const ::testing::TestParamInfo<BinCase>& info) { return info.param.name; });

TEST(BinLoader, ConvertsMicrovoltsAndClamps) {
    ScratchDir dir;
    std::vector<unsigned char> bytes = BinFile(0x0FA0, 5, {25000, -25000, -1000, 1234, 0});
    bytes.push_back(0x7F);  // a trailing odd byte is no sample
    ASSERT_EQ(LoadECGBin(dir.Write("rec.bin", bytes).c_str()), 5);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{20.0, -20.0, -1.0, 1.234, 0.0}));
    EXPECT_DOUBLE_EQ(CurrentEcgRecording()->SampleRate(), 4000.0);
    EXPECT_EQ(LoadECGBin("/nonexistent.bin"), -1);
}

// --- AHA ----------------------------------------------------------------------------------------

TEST(AhaLoader, EndingIsCaseSensitiveAndChecked) {
    ScratchDir dir;
    std::string upper = dir.Write("rec.TXT", "1,2\n");
    EXPECT_EQ(LoadECGAHA(upper.c_str(), 0), -1);
    EXPECT_EQ(LoadECGAHA(dir.Write("rec.ECG", std::string(10, '\0')).c_str(), 0), -1);
    EXPECT_EQ(LoadECGAHA(dir.Write("rec.dat", "1,2\n").c_str(), 0), -1);
    EXPECT_EQ(LoadECGAHA(nullptr, 0), -1);
    EXPECT_EQ(LoadECGAHA("", 0), -1);
    EXPECT_EQ(LoadECGAHA(".tx", 0), -1);
    EXPECT_EQ(LoadECGAHA("/nonexistent/a.txt", 0), -2);
    EXPECT_EQ(LoadECGAHA("/nonexistent/a.ecg", 0), -2);
}

TEST(AhaLoader, TwelveByteBinaryFileYieldsTwoSamples) {
    ScratchDir dir;
    // Records: (400, -800, x), (20000, 2, x), then two bytes of a partial record.
    std::vector<unsigned char> b = {0x90, 0x01, 0xE0, 0xFC, 0xAA, 0x20,
                                    0x4E, 0x02, 0x00, 0x55, 0x01, 0x02};
    std::string path = dir.Write("rec.ecg", b);
    ASSERT_EQ(LoadECGAHA(path.c_str(), 0), 2);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1.0, 50.0}));  // not clamped
    EXPECT_DOUBLE_EQ(CurrentEcgRecording()->SampleRate(), 250.0);
    ASSERT_EQ(LoadECGAHA(path.c_str(), 1), 2);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{-2.0, 0.005}));
    EXPECT_EQ(LoadECGAHA(path.c_str(), 2), -3);
    EXPECT_EQ(LoadECGAHA(path.c_str(), -1), -3);
    EXPECT_EQ(LoadECGAHA(dir.Write("short.ecg", std::string(4, '\1')).c_str(), 0), -4);
}

TEST(AhaLoader, TextLinesAreParsedOrSkipped) {
    ScratchDir dir;
    std::string path = dir.Write("rec.txt",
                                 "400, 800\n"
                                 "\n   \t\n"  // blank lines do not count
                                 "12000 -400\n"
                                 "7\n"     // fewer than two fields: skipped
                                 "1x,2\n"  // channel 0 field not a clean number
                                 "8,2y\n"  // channel 1 field not a clean number
                                 "-40\t,\t4e2\n"
                                 "nan,inf\n");  // not finite: skipped
    ASSERT_EQ(LoadECGAHA(path.c_str(), 0), 4);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{1.0, 30.0, 0.02, -0.1}));
    ASSERT_EQ(LoadECGAHA(path.c_str(), 1), 4);
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{2.0, -1.0, 0.005, 1.0}));
    EXPECT_EQ(LoadECGAHA(dir.Write("none.txt", "a b\n\n").c_str(), 0), -4);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 0);  // released before reading
}

// --- Pure codecs --------------------------------------------------------------------------------

TEST(RecordingCodecs, KnownAnswers) {
    const unsigned char be[] = {0x0F, 0xA0, 0x01, 0x31, 0x2D, 0x01, 0x9C, 0x40};
    EXPECT_EQ(decodeBigEndianU16(be), 4000u);
    EXPECT_EQ(decodeBigEndianI32(be + 2), 20000001);
    EXPECT_EQ(decodeBigEndianI16(be + 6), -25536);
    const unsigned char le[] = {0x18, 0xFC};
    EXPECT_EQ(decodeLittleEndianI16(le), -1000);
    EXPECT_EQ(ClampMillivolts(20.5), 20.0);
    EXPECT_EQ(ClampMillivolts(-1e300), -20.0);
    EXPECT_EQ(ClampMillivolts(std::nan("")), 0.0);
    double v = 0;
    EXPECT_FALSE(parseTextRecordingField("1,2,3", 2, 2, &v));  // beyond the column count
    EXPECT_TRUE(parseTextRecordingField(",,5,,6", 1, 2, &v));
    EXPECT_EQ(v, 6.0);
}

}  // namespace
