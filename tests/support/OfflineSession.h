// A session without a simulator for a whole test suite: a listener is registered and the port
// pattern points nowhere, so the connect thread never finds a device and playback runs on the
// simulation timer.
#pragma once

#include <gtest/gtest.h>

#include "support/PortableEnv.h"
#include "tolvan.h"

template <typename Base = ::testing::Test>
class OfflineSessionTest : public Base {
  protected:
    static void SetUpTestSuite() {
        setenv("TOLVAN_DEVICE_PATTERN", "/nonexistent/tolvan/ttyACM%d", 1);
        TOLVInit(NoListener);
    }
    static void TearDownTestSuite() {
        TOLVFree();
        unsetenv("TOLVAN_DEVICE_PATTERN");
    }
    static void NoListener(bool) {}
};
