// The readable reasons behind a failed connection attempt (TOLVGetLastErrorText).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "link/Device.h"
#include "tolvan.h"
#include "vdev/VirtualDeviceFixture.h"

namespace {

class ErrorTextTest : public vdev::VirtualDeviceTest {
  protected:
    void TearDown() override {
        TOLVFree();
        UnlockDeviceFile();
        VirtualDeviceTest::TearDown();
    }
    std::string Expand(std::string text) const {
        for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) {
            text.replace(at, 5, Directory());
        }
        for (std::size_t at; (at = text.find("{pid}")) != std::string::npos;) {
            text.replace(at, 5, std::to_string(getpid()));
        }
        return text;
    }
    void WriteLockFile(int port, const std::string& bytes) {
        std::ofstream(Directory() + "/quillon.ACM" + std::to_string(port) + ".lock",
                      std::ios::binary)
            << bytes;
    }
};

class SearchReasonTest;

struct Case {
    const char* name;
    int port;
    std::function<void(SearchReasonTest&)> arrange;  // what the port search meets
    const char* reason;
};

class SearchReasonTest : public ErrorTextTest, public ::testing::WithParamInterface<Case> {
  public:
    using ErrorTextTest::Directory;
    using ErrorTextTest::StartDevice;
    using ErrorTextTest::WriteLockFile;
};

TEST_P(SearchReasonTest, NamesWhyNoPortWasTaken) {
    GetParam().arrange(*this);
    BeginSearchPass();
    EXPECT_EQ(FindDevice(GetParam().port), 0);
    EXPECT_EQ(SearchPassReason(), Expand(GetParam().reason));
}

const std::array<char, 4> kOtherMark{'Q', 'T', 'V', 'X'};

INSTANTIATE_TEST_SUITE_P(
    Reasons, SearchReasonTest,
    ::testing::Values(
        Case{"NoNode", 5, [](SearchReasonTest&) {}, "no such node: {dir}/ttyACM5"},
        Case{"ScanWithoutNodes", -1, [](SearchReasonTest&) {},
             "no such node: {dir}/ttyACM0 .. {dir}/ttyACM127"},
        Case{"NotTheSimulator", 1,
             [](SearchReasonTest& t) {
                 t.StartDevice(vdev::Preset::kCurrent, 1).SetIdentifyMark(kOtherMark);
             },
             "not a TOLVAN simulator: {dir}/ttyACM1"},
        // A scan reports the port that answered wrongly, not the many absent ones around it.
        Case{"ScanReportsTheMostTellingPort", -1,
             [](SearchReasonTest& t) {
                 t.StartDevice(vdev::Preset::kCurrent, 3).SetIdentifyMark(kOtherMark);
             },
             "not a TOLVAN simulator: {dir}/ttyACM3"},
        Case{"LockedByALiveProcess", 2,
             [](SearchReasonTest& s) {
                 s.StartDevice(vdev::Preset::kCurrent, 2);
                 const std::int32_t pid = getpid();
                 s.WriteLockFile(2, std::string(reinterpret_cast<const char*>(&pid), 4));
             },
             "port locked by process {pid}: {dir}/ttyACM2 (lock file {dir}/quillon.ACM2.lock)"},
        Case{"LockFileWithoutAProcessId", 2,
             [](SearchReasonTest& s) {
                 s.StartDevice(vdev::Preset::kCurrent, 2);
                 s.WriteLockFile(2, "ab");
             },
             "port locked by a lock file without a process id: {dir}/quillon.ACM2.lock"},
        Case{"LockDirectoryNotWritable", 0,
             [](SearchReasonTest& s) {
                 s.StartDevice(vdev::Preset::kCurrent, 0);
                 std::ofstream(s.Directory() + "/file") << "x";
                 setenv("TOLVAN_LOCK_DIR", (s.Directory() + "/file/locks").c_str(), 1);
             },
             "lock directory not writable: {dir}/file/locks (Not a directory; TOLVAN_LOCK_DIR "
             "names another)"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A user without access to the node is told which group to join. Needs root to become one.
TEST_F(ErrorTextTest, PermissionDeniedNamesTheNodesGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to open the node as another user";
    StartDevice(vdev::Preset::kCurrent, 0);
    ASSERT_EQ(chmod(Directory().c_str(), 0755), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        BeginSearchPass();
        const int found = DoFindDevice(0);
        const std::string reason = SearchPassReason();
        if (write(out[1], reason.data(), reason.size()) < 0) _exit(3);
        _exit(found);
    }
    close(out[1]);
    std::string reason;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) reason.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat st;
    ASSERT_EQ(stat(NodePath(0).c_str(), &st), 0);
    const std::string group = st.st_gid == 0 ? "dialout" : "tty";
    EXPECT_EQ(reason, "permission denied (add yourself to " + group + "): " + NodePath(0));
}

// End to end: TOLVConnect's timeout carries the reason, another thread reads the same text, and
// a connect that succeeds clears it.
TEST_F(ErrorTextTest, ConnectTimeoutCarriesTheReasonAndSuccessClearsIt) {
    EXPECT_FALSE(TOLVConnect(-7, 100));
    EXPECT_STREQ(TOLVGetLastErrorText(),
                 "port -7 is not a port number (0 and up; -1 scans every port)");
    EXPECT_FALSE(TOLVConnect(4, 300));
    const std::string expected = "timed out after 300 ms (no such node: " + NodePath(4) + ")";
    EXPECT_EQ(TOLVGetLastErrorText(), expected);
    std::string seen;
    std::thread([&] { seen = TOLVGetLastErrorText(); }).join();
    EXPECT_EQ(seen, expected);

    StartDevice(vdev::Preset::kCurrent, 4);
    ASSERT_TRUE(TOLVConnect(4, 10000));
    EXPECT_STREQ(TOLVGetLastErrorText(), "");
}

}  // namespace
