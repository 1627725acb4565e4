// Before any session was started (no device open, no connection callback), every setter and
// device operation refuses. This binary never starts a session: a registered callback outlives
// TOLVFree by design, so these cases cannot share a process with connected tests.
#include <gtest/gtest.h>

#include "tolvan.h"

namespace {

TEST(NoSession, SettersReturnMinusOneAndStoreNothing) {
    EXPECT_EQ(TOLVSetOutputFunction(1), -1);
    EXPECT_EQ(TOLVGetOutputFunction(), 0);
    EXPECT_EQ(TOLVSetOutputLead(1, true), -1);
    EXPECT_FALSE(TOLVGetOutputLead(1));
    EXPECT_EQ(TOLVSetPacingAmplitude(5.0), -1);
    EXPECT_EQ(TOLVGetPacingAmplitude(), 0.0);
    EXPECT_EQ(TOLVSetPacingPulseMode(1), -1);
    EXPECT_EQ(SetAllOutputLead(0x3), -1);
    EXPECT_EQ(GetAllOutputLead(), 0x1u);
    EXPECT_FALSE(TOLVIsPlaying());
}

TEST(NoSession, DeviceOperationsFailWithoutADevice) {
    EXPECT_FALSE(TOLVIsConnected());
    EXPECT_EQ(TOLVGetDeviceHandle(), -1);
    EXPECT_EQ(TOLVGetUSBBusVoltage(), 0);
    EXPECT_FALSE(TOLVSetLeadOff(1));
    EXPECT_FALSE(TOLVMeasureRLD(true));
    double a = 7.0, b = 7.0;
    EXPECT_FALSE(TOLVReadRLD(&a, &b));
    EXPECT_EQ(a, 7.0);
    EXPECT_FALSE(TOLVEnableDynamicLEDStrength(true));
    MODEL_INFORMATION model;
    EXPECT_FALSE(TOLVGetDeviceInformation(&model));
    EXPECT_STREQ(TOLVGetSerialNumber(), "");
    EXPECT_STREQ(TOLVGetFWVersion(), "0.0.00.00");
    EXPECT_STREQ(TOLVGetHWVersion(), "0.0");
}

TEST(NoSession, NullPointersAreRefused) {
    EXPECT_FALSE(TOLVGetDeviceInformation(nullptr));
    EXPECT_FALSE(TOLVGetHWInformation(nullptr));
    EXPECT_FALSE(TOLVGetPPGHWInformation(nullptr));
    EXPECT_FALSE(TOLVGetFPGAReport(nullptr));
    TOLVGetDeviceFeature(nullptr);
    EXPECT_FALSE(TOLVReadRLD(nullptr, nullptr));
}

}  // namespace
