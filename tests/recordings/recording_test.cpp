// The current recording as the play path sees it, the application-array functions, the text
// dump and the output recorder.
#include "recordings/Recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "recordings/RecordingTestSupport.h"
#include "synthesis/Setters.h"
#include "tolvan.h"

using rectest::CurrentSamples;
using rectest::ScratchDir;

namespace {

TEST(EcgRecording, IndexesByTruncatedRateTimesTimeAndNeverPastTheEnd) {
    EcgRecording r(std::vector<double>{1, 2, 3, 4, 5}, 500.0, true);
    EXPECT_DOUBLE_EQ(r.PeriodSeconds(), 0.01);
    EXPECT_EQ(r.MillivoltsAtTime(0.0), 1.0);
    EXPECT_EQ(r.MillivoltsAtTime(0.00399), 2.0);  // 1.995 -> index 1
    EXPECT_EQ(r.MillivoltsAtTime(0.00999), 5.0);
    EXPECT_EQ(r.MillivoltsAtTime(0.01), 0.0);  // past the period: no sample
    EXPECT_EQ(r.MillivoltsAtTime(-1.0), 0.0);
    EXPECT_EQ(r.MillivoltsAtTime(std::nan("")), 0.0);
    EXPECT_EQ(r.MillivoltsAt(5), 0.0);
    EXPECT_EQ(r.MillivoltsAt(-1), 0.0);
    EcgRecording microvolts(std::vector<double>{1500}, 500.0, false);
    EXPECT_EQ(microvolts.MillivoltsAt(0), 1.5);
    EcgRecording empty(123.0);
    EXPECT_EQ(empty.MillivoltsAtTime(0.0), 0.0);
    EXPECT_EQ(empty.PeriodSeconds(), 0.0);
}

TEST(EcgRecording, KeepsOnlyPlayableContent) {
    double inf = std::numeric_limits<double>::infinity();
    EcgRecording r(std::vector<double>{std::nan(""), inf, -2}, 100.0, true);
    EXPECT_EQ(r.MillivoltsAt(0), 0.0);
    EXPECT_EQ(r.MillivoltsAt(1), 0.0);
    EXPECT_EQ(r.MillivoltsAt(2), -2.0);
    EXPECT_EQ(EcgRecording(std::vector<double>{1, 2}, 0.0, true).Count(), 0);
    EXPECT_EQ(EcgRecording(std::vector<double>{1, 2}, std::nan(""), true).Count(), 0);
}

TEST(CurrentRecording, SnapshotOutlivesItsReplacement) {
    InstallEcgSamples(std::vector<double>(1000, 3.0), 500.0);
    EcgRecordingPtr playing = CurrentEcgRecording();
    InstallEcgSamples(std::vector<double>(2, -1.0), 250.0);
    EXPECT_EQ(playing->Count(), 1000);
    EXPECT_EQ(playing->MillivoltsAt(999), 3.0);
    EXPECT_EQ(CurrentEcgRecording()->Count(), 2);
}

TEST(RawArray, SetGetAndClear) {
    const double samples[] = {0.5, -0.25, 30.0};
    SetRawArray(3, samples, 360);
    int count = -1, rate = -1;
    const double* data = GetFileArray(&count, &rate);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(rate, 360);
    EXPECT_NE(data, samples);  // the library keeps its own copy
    EXPECT_EQ(data[2], 30.0);  // application arrays are not clamped
    EXPECT_TRUE(CurrentEcgRecording()->UnitMillivolts());
    EXPECT_EQ(GetFileArray(nullptr, nullptr), data);

    SetRawArray(-1, samples, 100);  // ignored
    SetRawArray(2, nullptr, 100);   // ignored
    SetRawArray(2, samples, 0);     // ignored
    EXPECT_EQ(CurrentSamples(), (std::vector<double>{0.5, -0.25, 30.0}));

    ClearRawArray();
    EXPECT_EQ(GetFileArray(&count, &rate), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(rate, 20000);
}

int s_respirationResets = 0;

TEST(RawArray, ClearAlsoResetsTheRespirationRecording) {
    s_respirationResets = 0;
    RegisterRespirationRecordingReset([] { ++s_respirationResets; });
    ClearRawArray();
    RegisterRespirationRecordingReset(nullptr);
    ClearRawArray();
    EXPECT_EQ(s_respirationResets, 1);
}

TEST(DumpRawData, WritesThreeDecimalsPerLine) {
    ScratchDir dir;
    std::string path = dir.Join("dump.txt");
    const double values[] = {1.0, -0.0004, 2.3456, 1e6};
    ASSERT_EQ(DumpRawData(values, 4, path.c_str()), 0);
    EXPECT_EQ(rectest::ReadAll(path), "1.000\n-0.000\n2.346\n1000000.000\n");
    ASSERT_EQ(DumpRawData(values, 1, path.c_str()), 0);  // replaces the file
    EXPECT_EQ(rectest::ReadAll(path), "1.000\n");
}

TEST(DumpRawData, ReportsEachFailure) {
    const double values[] = {1.0};
    EXPECT_EQ(DumpRawData(values, 1, "/nonexistent/dir/dump.txt"), -3);
    EXPECT_EQ(DumpRawData(values, 1, nullptr), -3);
    EXPECT_EQ(DumpRawData(values, 1, ""), -3);
    EXPECT_EQ(DumpRawData(nullptr, 1, "/tmp/x"), -2);
    EXPECT_EQ(DumpRawData(values, -1, "/tmp/x"), -2);
    std::vector<double> many(100000, 1.0);  // more than one buffer's worth
    EXPECT_EQ(DumpRawData(many.data(), static_cast<int>(many.size()), "/dev/full"), -6);
}

TEST(OutputRecorder, StoresUntilFullAndStaysArmed) {
    DisableRecordRaw();
    double ac[3] = {0, 0, 0}, dc[3] = {0, 0, 0};
    RecordOutputSample(9, 9);  // not armed: nothing happens
    ASSERT_TRUE(EnableRecordRaw(ac, dc, 3));
    EXPECT_FALSE(EnableRecordRaw(ac, dc, 3));  // already armed
    for (int i = 1; i <= 5; ++i) RecordOutputSample(i, -i);
    EXPECT_EQ(RecorderIndex(), 3);
    EXPECT_TRUE(RecorderArmed());
    EXPECT_EQ(ac[2], 3.0);
    EXPECT_EQ(dc[2], -3.0);
    DisableRecordRaw();
    EXPECT_FALSE(RecorderArmed());
    EXPECT_EQ(RecorderIndex(), 0);
    EXPECT_FALSE(EnableRecordRaw(ac, dc, -1));
    ASSERT_TRUE(EnableRecordRaw(ac, nullptr, 3));  // one buffer missing: nothing is stored
    RecordOutputSample(7, 7);
    EXPECT_EQ(RecorderIndex(), 0);
    DisableRecordRaw();
}

TEST(FileLoop, DefaultsToLoopingAndFollowsTheSwitch) {
    EXPECT_TRUE(EcgFileLoops());
    SetEcgFileLoop(false);
    EXPECT_FALSE(EcgFileLoops());
    SetEcgFileLoop(true);
    EXPECT_TRUE(EcgFileLoops());
}

}  // namespace
