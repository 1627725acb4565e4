#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "link/Device.h"
#include "platform/Environment.h"
#include "vdev/TempDir.h"

namespace {

class LockFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.path().empty());
        setenv("TOLVAN_LOCK_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        UnlockDeviceFile();
        unsetenv("TOLVAN_LOCK_DIR");
    }

    std::string LockPath(int n) const {
        return m_dir + "/quillon.ACM" + std::to_string(n) + ".lock";
    }

    void WriteLock(int n, const std::vector<unsigned char>& bytes) {
        mkdir(m_dir.c_str(), 0755);
        std::ofstream(LockPath(n), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void WritePid(int n, std::int32_t pid) {
        std::vector<unsigned char> bytes(4);
        std::memcpy(bytes.data(), &pid, 4);
        WriteLock(n, bytes);
    }
    std::vector<unsigned char> ReadLock(int n) const {
        std::ifstream in(LockPath(n), std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    }
    static std::vector<unsigned char> PidBytes(std::int32_t pid) {
        std::vector<unsigned char> bytes(4);
        std::memcpy(bytes.data(), &pid, 4);
        return bytes;
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    vdev::TempDir m_root;
    std::string m_dir = m_root.Join("locks");  // does not exist yet: the library creates it
};

// The id of a process that has ended.
std::int32_t DeadPid() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<std::int32_t>(child);
}

TEST_F(LockFileTest, FreePortIsClaimedWithFourBytesOfOurPidInAFreshDirectory) {
    ASSERT_EQ(LockDeviceFile(3), 1);
    struct stat st;
    ASSERT_EQ(stat(m_dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat(LockPath(3).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadLock(3), PidBytes(getpid()));
    EXPECT_EQ(DeviceLockFilePath(), LockPath(3));
    UnlockDeviceFile();
    EXPECT_FALSE(Exists(LockPath(3)));
    EXPECT_EQ(DeviceLockFilePath(), "");
}

TEST_F(LockFileTest, StaleLockOfAnEndedProcessIsReplaced) {
    WritePid(0, DeadPid());
    ASSERT_EQ(LockDeviceFile(0), 1);
    EXPECT_EQ(ReadLock(0), PidBytes(getpid()));
}

TEST_F(LockFileTest, LockOfALiveProcessKeepsThePort) {
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    WritePid(1, child);
    EXPECT_EQ(LockDeviceFile(1), 0);
    EXPECT_EQ(ReadLock(1), PidBytes(child)) << "another process's lock file is left alone";
    UnlockDeviceFile();
    EXPECT_TRUE(Exists(LockPath(1))) << "unlocking never removes a lock this process lacks";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(LockFileTest, ShortLockFileKeepsThePortLocked) {
    WriteLock(2, {0x01, 0x02});
    EXPECT_EQ(LockDeviceFile(2), 0);
    EXPECT_EQ(ReadLock(2), (std::vector<unsigned char>{0x01, 0x02}));
}

TEST_F(LockFileTest, IdsThatNameNoSingleProcessAreStale) {
    for (std::int32_t pid : {0, -1}) {
        WritePid(4, pid);
        ASSERT_EQ(LockDeviceFile(4), 1) << pid;
        EXPECT_EQ(ReadLock(4), PidBytes(getpid()));
        UnlockDeviceFile();
    }
}

TEST_F(LockFileTest, UnwritableLockDirectoryRefusesThePort) {
    setenv("TOLVAN_LOCK_DIR", m_root.Join("missing/deeper").c_str(), 1);
    EXPECT_EQ(LockDeviceFile(5), 0);
    EXPECT_EQ(DeviceLockFilePath(), "");
}

}  // namespace
