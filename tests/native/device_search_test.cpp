// SPDX-License-Identifier: Apache-2.0
// The device search: which hiddev node is taken, which are never touched, and how set-up failures end it.
#include <cstring>

#include "device/hidfunctions.h"
#include "sim_fixture.h"

namespace {

class DeviceSearch : public SimTest {
protected:
    HidFunctions channel;

    void TearDown() override
    {
        channel.iCloseDevice();
        SimTest::TearDown();
    }
};

TEST_F(DeviceSearch, NoNodeMeansSixteenAttemptsAndNoDevice)
{
    EXPECT_FALSE(channel.bFindAndOpenDevice());
    EXPECT_EQ(-1, channel.iFd);
    for (int node = 0; node < TROVSIM_NODES; ++node) {
        EXPECT_EQ(1, trovsim_count(node, TROVSIM_REQ_OPEN)) << "node " << node;
    }
}

TEST_F(DeviceSearch, SkipsRefusedAndForeignNodesAndClosesWhatItOpened)
{
    plugKeyboard(0);
    trovsim_set_faults(0, TROVSIM_FAULT_OPEN_REFUSED);
    trovsim_set_kind(1, TROVSIM_OTHER);
    plugKeyboard(2);
    plugKeyboard(3);

    ASSERT_TRUE(channel.bFindAndOpenDevice());
    EXPECT_STREQ("/dev/usb/hid/hiddev2", channel.cDevicePath);
    EXPECT_GE(channel.iFd, 0);
    EXPECT_EQ(0, trovsim_open_handles(0));
    EXPECT_EQ(0, trovsim_open_handles(1)) << "a node without the vendor application must be closed again";
    EXPECT_EQ(1, trovsim_open_handles(2));
    EXPECT_EQ(0, trovsim_count(3, TROVSIM_REQ_OPEN)) << "no node after the keyboard is tried";
    EXPECT_EQ(TROV_OUTPUT_USAGE, channel.UsageRef.usage_code);
}

TEST_F(DeviceSearch, FirstKeyboardIsTakenAndLaterOnesNeverOpened)
{
    plugKeyboard(3);
    plugKeyboard(5);
    ASSERT_TRUE(channel.bFindAndOpenDevice());
    EXPECT_STREQ("/dev/usb/hid/hiddev3", channel.cDevicePath);
    EXPECT_EQ(0, trovsim_count(5, TROVSIM_REQ_OPEN));
}

TEST_F(DeviceSearch, SetUpFailureOnTheFirstKeyboardEndsTheSearch)
{
    for (unsigned fault : {TROVSIM_FAULT_INITREPORT, TROVSIM_FAULT_NO_OUTPUT_USAGE, TROVSIM_FAULT_GREPORT}) {
        SCOPED_TRACE(fault);
        trovsim_reset();
        plugKeyboard(3);
        trovsim_set_faults(3, fault);
        plugKeyboard(5);

        EXPECT_FALSE(channel.bFindAndOpenDevice());
        EXPECT_EQ(-1, channel.iFd);
        EXPECT_EQ(0, trovsim_open_handles(3)) << "the failed keyboard must be closed";
        EXPECT_EQ(0, trovsim_count(5, TROVSIM_REQ_OPEN)) << "a later keyboard is not tried";
    }
}

TEST_F(DeviceSearch, OutputUsageInALaterFieldIsFound)
{
    plugKeyboard(0);
    trovsim_set_faults(0, TROVSIM_FAULT_USAGE_LATER_FIELD);
    ASSERT_TRUE(channel.bFindAndOpenDevice());
    EXPECT_EQ(1u, channel.UsageRef.field_index);
    EXPECT_EQ(TROV_OUTPUT_USAGE, channel.UsageRef.usage_code);
}

TEST_F(DeviceSearch, MissingOutputUsageEndsAfterOneFurtherReportRequest)
{
    plugKeyboard(0);
    trovsim_set_faults(0, TROVSIM_FAULT_NO_OUTPUT_USAGE);
    EXPECT_FALSE(channel.bFindAndOpenDevice());
    // The output report, then the request for the report after report 0, which a device with numbered
    // reports refuses.
    EXPECT_EQ(2, trovsim_count(0, TROVSIM_REQ_GREPORTINFO));
}

TEST_F(DeviceSearch, ApplicationWalkAsksUpToIndex256AndStopsAtZeroOrTheUsage)
{
    // A list that ends at index 1: the refused indexes 1..256 are asked all the same.
    const unsigned shortList[] = {0x00010006u};
    trovsim_set_kind(0, TROVSIM_OTHER);
    trovsim_set_applications(0, shortList, 1);
    // An application of usage 0 at index 0 ends the walk at once.
    const unsigned zeroFirst[] = {0u, TROV_APPLICATION_USAGE};
    trovsim_set_kind(1, TROVSIM_OTHER);
    trovsim_set_applications(1, zeroFirst, 2);
    // The vendor application at index 2 is found by the third request.
    const unsigned third[] = {0x00010006u, 0x00010002u, TROV_APPLICATION_USAGE};
    plugKeyboard(2);
    trovsim_set_applications(2, third, 3);

    ASSERT_TRUE(channel.bFindAndOpenDevice());
    EXPECT_EQ(257, trovsim_count(0, TROVSIM_REQ_APPLICATION));
    EXPECT_EQ(1, trovsim_count(1, TROVSIM_REQ_APPLICATION));
    EXPECT_EQ(3, trovsim_count(2, TROVSIM_REQ_APPLICATION));
}

TEST_F(DeviceSearch, ApplicationTestWithoutDeviceAnswersNo)
{
    EXPECT_EQ(0, channel.bFindTrovApplication(TROV_APPLICATION_USAGE));
    EXPECT_FALSE(channel.bOpenDevice(nullptr));
    EXPECT_EQ(-1, channel.iCloseDevice());
    EXPECT_EQ(-1, channel.iFd);
}

}  // namespace
