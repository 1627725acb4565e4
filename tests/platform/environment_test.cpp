#include "platform/Environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

class EnvironmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TOLVAN_DEVICE_PATTERN");
        unsetenv("TOLVAN_LOCK_DIR");
    }
    void TearDown() override { SetUp(); }
};

TEST_F(EnvironmentTest, DefaultsAreTheLinuxNodesAndLockDirectory) {
    EXPECT_EQ(DevicePathForPort(0), "/dev/ttyACM0");
    EXPECT_EQ(DevicePathForPort(12), "/dev/ttyACM12");
    EXPECT_EQ(LockFilePathForPort(3), "/var/lock/quillon.ACM3.lock");
}

TEST_F(EnvironmentTest, VariablesAreReadAtEveryUse) {
    setenv("TOLVAN_DEVICE_PATTERN", "/tmp/vdev/ttyV%d", 1);
    setenv("TOLVAN_LOCK_DIR", "/tmp/locks", 1);
    EXPECT_EQ(DevicePathForPort(4), "/tmp/vdev/ttyV4");
    EXPECT_EQ(LockFilePathForPort(4), "/tmp/locks/quillon.ACM4.lock");
    setenv("TOLVAN_DEVICE_PATTERN", "/tmp/other%d-100%%", 1);
    EXPECT_EQ(DevicePathForPort(7), "/tmp/other7-100%");
}

TEST_F(EnvironmentTest, PatternsThatCouldMisuseFormattingFallBackToTheDefault) {
    for (const char* bad : {"/tmp/x", "/tmp/%d%d", "/tmp/%s", "/tmp/%n%d", "/tmp/%d%", "%x", ""}) {
        EXPECT_FALSE(IsValidDevicePattern(bad)) << bad;
        setenv("TOLVAN_DEVICE_PATTERN", bad, 1);
        EXPECT_EQ(DevicePathForPort(1), "/dev/ttyACM1") << bad;
    }
    EXPECT_TRUE(IsValidDevicePattern("/dev/ttyACM%d"));
}

TEST_F(EnvironmentTest, EmptyLockDirectoryMeansTheDefault) {
    setenv("TOLVAN_LOCK_DIR", "", 1);
    EXPECT_EQ(LockDir(), "/var/lock");
}

}  // namespace
