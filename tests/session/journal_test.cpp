#include "session/Journal.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "vdev/TempDir.h"

namespace {

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_dir.path().empty()); }
    void TearDown() override { DisableSaveLog(); }
    std::string Contents() const {
        std::ifstream in(m_path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    vdev::TempDir m_dir;
    std::string m_path = m_dir.Join("journal.txt");
};

TEST_F(JournalTest, EntriesAreAppendedOnePerLineOnlyWhileOn) {
    _outputLog("TOLVSetAmplitude(%.2f);", 1.5);  // off: nothing
    ASSERT_EQ(EnableSaveLog(m_path.c_str()), 0);
    EXPECT_STREQ(GetSaveLogPath(), m_path.c_str());
    _outputLog("TOLVSetAmplitude(%.2f);", 1.5);
    _outputLog("SetOutputLead(%d, %s);", 3, JournalBool(true));
    EXPECT_EQ(Contents(), "TOLVSetAmplitude(1.50);\nSetOutputLead(3, true);\n");
}

TEST_F(JournalTest, DisableEndsTheRunWithABlankLineOnceAndClearsThePath) {
    ASSERT_EQ(EnableSaveLog(m_path.c_str()), 0);
    _outputLog("TOLVReset();");
    DisableSaveLog();
    DisableSaveLog();
    _outputLog("TOLVReset();");
    EXPECT_EQ(Contents(), "TOLVReset();\n\n\n");
    EXPECT_STREQ(GetSaveLogPath(), "");
}

TEST_F(JournalTest, ExistingFileIsAppendedToNeverTruncated) {
    std::ofstream(m_path, std::ios::binary) << "earlier run\n";
    ASSERT_EQ(EnableSaveLog(m_path.c_str()), 0);
    _outputLog("TOLVSetOutputFunction(%d);", 1);
    EXPECT_EQ(Contents(), "earlier run\nTOLVSetOutputFunction(1);\n");
}

TEST_F(JournalTest, PathOf511BytesIsAcceptedAnd512IsRefusedAndSwitchesOff) {
    std::string longPath = "/tmp/" + std::string(506, 'a');
    ASSERT_EQ(longPath.size(), 511u);
    EXPECT_EQ(EnableSaveLog(longPath.c_str()), 0);
    EXPECT_EQ(EnableSaveLog((longPath + "b").c_str()), -2);
    EXPECT_EQ(EnableSaveLog(nullptr), -2);
    // Off now: nothing is written to an earlier valid path either.
    EXPECT_EQ(EnableSaveLog(m_path.c_str()), 0);
    EXPECT_EQ(EnableSaveLog((longPath + "b").c_str()), -2);
    _outputLog("TOLVReset();");
    EXPECT_EQ(Contents(), "");
}

TEST_F(JournalTest, UnwritablePathDropsEntriesSilentlyAndALaterGoodPathWorks) {
    ASSERT_EQ(EnableSaveLog(m_dir.Join("missing/dir/journal.txt").c_str()), 0);
    _outputLog("TOLVReset();");
    ASSERT_EQ(EnableSaveLog(m_path.c_str()), 0);
    _outputLog("TOLVResetAllLeadOff();");
    EXPECT_EQ(Contents(), "TOLVResetAllLeadOff();\n");
}

TEST_F(JournalTest, LongEntriesAreWrittenWholeAndHugeOnesCutBetweenCharacters) {
    ASSERT_EQ(EnableSaveLog(m_path.c_str()), 0);
    const std::string medium(700, 'x');
    _outputLog("%s", medium.c_str());
    EXPECT_EQ(Contents(), medium + "\n");

    // 2-byte characters whose cut point would fall inside one.
    std::string huge = "a";
    while (huge.size() < 70000) huge += "\xC3\xA9";
    _outputLog("%s", huge.c_str());
    const std::string written = Contents().substr(medium.size() + 1);
    ASSERT_FALSE(written.empty());
    ASSERT_EQ(written.back(), '\n');
    const std::string entry = written.substr(0, written.size() - 1);
    EXPECT_LE(entry.size(), 65536u);
    EXPECT_GT(entry.size(), 65000u);
    EXPECT_EQ(entry, huge.substr(0, entry.size()));
    EXPECT_EQ((entry.size() - 1) % 2, 0u) << "the cut fell inside a character";
}

}  // namespace
