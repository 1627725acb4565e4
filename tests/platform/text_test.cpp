#include "platform/Text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "vdev/TempDir.h"

namespace {

struct TrimCase {
    const char* input;
    const char* right;
    const char* left;
    const char* both;
};

class Trim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(Trim, CutsWhiteSpaceOnTheRequestedSide) {
    const TrimCase& c = GetParam();
    std::string r(c.input), l(c.input), b(c.input);
    StringTrimRight(&r[0]);
    StringTrimLeft(&l[0]);
    StringTrim(&b[0]);
    EXPECT_STREQ(r.c_str(), c.right);
    EXPECT_STREQ(l.c_str(), c.left);
    EXPECT_STREQ(b.c_str(), c.both);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Trim,
    ::testing::Values(TrimCase{"", "", "", ""}, TrimCase{" \t\r\n ", "", "", ""},
                      TrimCase{"abc", "abc", "abc", "abc"},
                      TrimCase{"  a b\t\r\n", "  a b", "a b\t\r\n", "a b"},
                      TrimCase{"\ta\vb ", "\ta\vb", "a\vb ", "a\vb"}),  // \v is not white space
    [](const ::testing::TestParamInfo<TrimCase>& info) {
        return "case" + std::to_string(info.index);
    });

TEST(ParseBySpace, SplitsOnRunsOfBlanksTabsAndLineEnds) {
    char text[] = "  \t first \t\t second  \r\n";
    char* fields[8];
    ASSERT_EQ(ParseBySpace(text, fields, 8), 2);
    EXPECT_STREQ(fields[0], "first");
    EXPECT_STREQ(fields[1], "second");
}

TEST(ParseBySpace, StoresNoMoreThanMaxFields) {
    char text[] = "a b c d e";
    char* fields[3] = {nullptr, nullptr, nullptr};
    ASSERT_EQ(ParseBySpace(text, fields, 3), 3);
    EXPECT_STREQ(fields[0], "a");
    EXPECT_STREQ(fields[2], "c");
}

TEST(ParseBySpace, EmptyOrNullInputsGiveNoField) {
    char* fields[4];
    char empty[] = "";
    char blanks[] = " \t \n";
    EXPECT_EQ(ParseBySpace(nullptr, fields, 4), 0);
    EXPECT_EQ(ParseBySpace(empty, fields, 4), 0);
    EXPECT_EQ(ParseBySpace(blanks, fields, 4), 0);
    char text[] = "x";
    EXPECT_EQ(ParseBySpace(text, fields, 0), 0);
}

std::vector<std::string> AllLines(const std::string& text, std::size_t size) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = cursor + text.size();
    std::vector<std::string> lines;
    std::vector<char> line(size > 0 ? size : 1);
    while (ReadTextLine(cursor, end, line.data(), size)) lines.emplace_back(line.data());
    return lines;
}

TEST(ReadTextLine, SkipsBlankLinesTrimsRightAndEndsAfterTheLast) {
    const std::string text = "\r\n  one \r\n\t\n\r two\rthree\t\n   \n";
    EXPECT_EQ(AllLines(text, 64), (std::vector<std::string>{"  one", " two", "three"}));
}

TEST(ReadTextLine, TruncatesToOneLessThanTheBufferSize) {
    EXPECT_EQ(AllLines("abcdefgh\nxy\n", 5), (std::vector<std::string>{"abcd", "xy"}));
    EXPECT_TRUE(AllLines("abc", 0).empty());
    EXPECT_TRUE(AllLines(" \r\n\t", 16).empty());
}

TEST(Utf8, DecodesOneTwoAndThreeByteSequences) {
    std::uint16_t out[16];
    ASSERT_EQ(UTF8ToUnicodeBuf("a\xC3\xA9\xE2\x82\xAC", out, 16), 3);  // a é €
    EXPECT_EQ(out[0], 0x61);
    EXPECT_EQ(out[1], 0xE9);
    EXPECT_EQ(out[2], 0x20AC);
    EXPECT_EQ(out[3], 0);
}

TEST(Utf8, StopsAtTheFirstInvalidSequence) {
    struct Case {
        const char* text;
        int units;
    } cases[] = {
        {"ab\x80z", 2},             // stray continuation byte
        {"a\xC3", 1},               // truncated two-byte sequence
        {"a\xE2\x82", 1},           // truncated three-byte sequence
        {"a\xC0\x80z", 1},          // overlong NUL
        {"a\xED\xA0\x80z", 1},      // surrogate half
        {"a\xF0\x9F\x98\x80z", 1},  // four-byte sequence is not supported
    };
    for (const auto& c : cases) {
        std::uint16_t out[16];
        EXPECT_EQ(UTF8ToUnicodeBuf(c.text, out, 16), c.units) << c.text;
        EXPECT_EQ(out[c.units], 0);
    }
}

TEST(Utf8, NeverWritesPastTheBuffer) {
    std::uint16_t out[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(UTF8ToUnicodeBuf("abcdef", out, 3), 2);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0xFFFF);
    EXPECT_EQ(UTF8ToUnicodeBuf("abc", nullptr, 3), 0);
    EXPECT_EQ(UTF8ToUnicodeBuf("abc", out, 0), 0);
}

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_dir.path().empty()); }
    std::string Path(const char* name) const { return m_dir.Join(name); }
    vdev::TempDir m_dir;
};

TEST_F(FileTest, WriteThenReadRoundTripsEveryByte) {
    std::vector<unsigned char> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    // UTF-8 names: Latin letters, and letters outside every single-byte code page (Windows
    // converts the path to UTF-16 rather than through the local code page).
    for (const char* name :
         {"d\xC3\xA9j\xC3\xA0.bin", "\xE5\xBF\x83\xE7\x94\xB5\xE5\x9B\xBE.bin"}) {
        const std::string path = Path(name);
        ASSERT_TRUE(WriteFileBinaryData(path.c_str(), bytes.data(), bytes.size())) << name;
        EXPECT_EQ(GetFileSizeUtf8(path.c_str()), 70000);
        unsigned char* data = nullptr;
        unsigned int size = 0;
        ASSERT_TRUE(ReadFileBinaryData(path.c_str(), &data, &size));
        ASSERT_EQ(size, bytes.size());
        EXPECT_EQ(std::memcmp(data, bytes.data(), size), 0);
        delete[] data;
    }
}

TEST_F(FileTest, EmptyFileReadsAsZeroBytes) {
    const std::string path = Path("empty");
    ASSERT_TRUE(WriteFileBinaryData(path.c_str(), nullptr, 0));
    unsigned char* data = nullptr;
    unsigned int size = 99;
    ASSERT_TRUE(ReadFileBinaryData(path.c_str(), &data, &size));
    EXPECT_EQ(size, 0u);
    delete[] data;
}

TEST_F(FileTest, EmptyMissingOrUnopenablePathsFail) {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    unsigned int size = 5;
    EXPECT_EQ(OpenFileUtf8("", "rb"), nullptr);
    EXPECT_EQ(OpenFileUtf8(nullptr, "rb"), nullptr);
    EXPECT_EQ(GetFileSizeUtf8(""), -1);
    EXPECT_EQ(GetFileSizeUtf8(Path("missing").c_str()), -1);
    EXPECT_EQ(GetFileSizeUtf8(m_dir.path().c_str()), -1) << "a directory has no file size";
    EXPECT_FALSE(ReadFileBinaryData(Path("missing").c_str(), &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(ReadFileBinaryData("", &data, &size));
    const unsigned char byte = 1;
    EXPECT_FALSE(WriteFileBinaryData("", &byte, 1));
    EXPECT_FALSE(WriteFileBinaryData(Path("no/such/dir").c_str(), &byte, 1));
}

}  // namespace
