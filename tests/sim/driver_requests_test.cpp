// SPDX-License-Identifier: Apache-2.0
// The hiddev ioctl requests a device search makes, answered as the kernel answers them.
#include <cstring>

#include "sim_fixture.h"
#include "tests/common/keyboard_node_facts.h"

namespace {

class DriverRequests : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_EQ(0, trovsim_set_kind(3, TROVSIM_KEYBOARD));
        fd_ = open_node(3);
        ASSERT_GE(fd_, 0);
    }

    int fd_ = -1;
};

}  // namespace

TEST_F(DriverRequests, ApplicationWalkAnswersVendorUsageAsNegativeReturn)
{
    keyboard_node::expect_vendor_application(fd_);
    EXPECT_EQ(2, trovsim_count(3, TROVSIM_REQ_APPLICATION));
}

TEST_F(DriverRequests, ApplicationListCanBeReplaced)
{
    const unsigned list[] = {0x000C0001u, APPLICATION_USAGE, 0xFFFFF001u};
    ASSERT_EQ(0, trovsim_set_applications(3, list, 3));
    EXPECT_EQ(0x000C0001, ::ioctl(fd_, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(-393051, ::ioctl(fd_, HIDIOCAPPLICATION, 1));
    // A usage in the error range comes back as an error, as from the system call.
    errno = 0;
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCAPPLICATION, 2));
    EXPECT_EQ(4095, errno);
    hiddev_devinfo info{};
    ASSERT_EQ(0, ::ioctl(fd_, HIDIOCGDEVINFO, &info));
    EXPECT_EQ(3u, info.num_applications);
    // Faults rebuild the reports, not the list set here.
    ASSERT_EQ(0, trovsim_set_faults(3, TROVSIM_FAULT_USAGE_LATER_FIELD));
    EXPECT_EQ(0x000C0001, ::ioctl(fd_, HIDIOCAPPLICATION, 0));
}

TEST_F(DriverRequests, OtherDeviceHasGenericApplicationAndNoVendorUsage)
{
    ASSERT_EQ(0, trovsim_set_kind(4, TROVSIM_OTHER));
    const int other = open_node(4);
    ASSERT_GE(other, 0);
    EXPECT_EQ(0x00010006, ::ioctl(other, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(-1, ::ioctl(other, HIDIOCAPPLICATION, 1));
    hiddev_report_info info{};
    info.report_type = HID_REPORT_TYPE_OUTPUT;
    info.report_id = 4;
    EXPECT_EQ(-1, ::ioctl(other, HIDIOCGREPORTINFO, &info));
    EXPECT_EQ(EINVAL, errno);
    hiddev_usage_ref ref{};
    ref.report_type = HID_REPORT_TYPE_OUTPUT;
    ref.report_id = HID_REPORT_ID_UNKNOWN;
    ref.usage_code = OUTPUT_USAGE;
    EXPECT_EQ(-1, ::ioctl(other, HIDIOCSUSAGE, &ref));
}

TEST_F(DriverRequests, VersionDeviceInfoAndName)
{
    ASSERT_EQ(0, trovsim_set_identity(3, 0x8123, 0x0042, 0x0210, "Sim Keyboard"));
    int version = 0;
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCGVERSION, &version));
    EXPECT_EQ(HID_VERSION, version);
    hiddev_devinfo info;
    std::memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(0, ::ioctl(fd_, HIDIOCGDEVINFO, &info));
    EXPECT_EQ(3u, info.bustype);  // BUS_USB
    EXPECT_EQ(0u, info.ifnum);
    EXPECT_EQ(static_cast<__s16>(0x8123), info.vendor);
    EXPECT_EQ(0x0042, info.product);
    EXPECT_EQ(0x0210, info.version);
    EXPECT_EQ(1u, info.num_applications);
    hiddev_string_descriptor name{};
    name.index = 1;
    std::memset(name.value, 'x', sizeof name.value);
    EXPECT_EQ(12, ::ioctl(fd_, HIDIOCGSTRING, &name));
    EXPECT_STREQ("Sim Keyboard", name.value);
    name.index = 2;
    EXPECT_EQ(17, ::ioctl(fd_, HIDIOCGSTRING, &name));
    EXPECT_STREQ("Trov POS Keyboard", name.value);
    name.index = 3;
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGSTRING, &name));
    EXPECT_EQ(EINVAL, errno);
    // A long name is cut to what the string descriptor holds, terminated.
    ASSERT_EQ(0, trovsim_set_identity(3, 1, 2, 3, std::string(400, 'n').c_str()));
    name.index = 1;
    EXPECT_EQ(HID_STRING_SIZE - 1, ::ioctl(fd_, HIDIOCGSTRING, &name));
    EXPECT_EQ('\0', name.value[HID_STRING_SIZE - 1]);
}

TEST_F(DriverRequests, ReportWalkWithFirstAndNextFlags)
{
    keyboard_node::expect_report_walk(fd_);
    EXPECT_EQ(8, trovsim_count(3, TROVSIM_REQ_GREPORTINFO));
}

TEST_F(DriverRequests, FieldInfoDescribesTheFields)
{
    keyboard_node::expect_field_info(fd_);
}

TEST_F(DriverRequests, UsageCodesOfEveryField)
{
    keyboard_node::expect_usage_codes(fd_);
    EXPECT_EQ(8, trovsim_count(3, TROVSIM_REQ_GUCODE));
}

TEST_F(DriverRequests, SetUsageRefusesInputAndOutOfRange)
{
    keyboard_node::expect_set_usage_refusals(fd_);
    EXPECT_EQ(3, trovsim_count(3, TROVSIM_REQ_SUSAGE));
    // An unknown report id makes the driver look the usage up by its code.
    hiddev_usage_ref ref{};
    ref.report_type = HID_REPORT_TYPE_OUTPUT;
    ref.report_id = HID_REPORT_ID_UNKNOWN;
    ref.usage_code = OUTPUT_USAGE;
    ref.value = 0x42;
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSUSAGE, &ref));
    hiddev_report_info info{HID_REPORT_TYPE_OUTPUT, 4, 0};
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSREPORT, &info));
    EXPECT_EQ(std::vector<unsigned char>{0x42}, received(3));
}

TEST_F(DriverRequests, ReportRequestsAndTheirFaults)
{
    hiddev_report_info info{HID_REPORT_TYPE_INPUT, 4, 0};
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCGREPORT, &info));
    EXPECT_TRUE(nothing_queued(fd_));  // a fetched report makes no events
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCINITREPORT, 0));
    keyboard_node::expect_report_direction_refusals(fd_);
    ASSERT_EQ(0, trovsim_set_faults(3, TROVSIM_FAULT_INITREPORT | TROVSIM_FAULT_GREPORT));
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCINITREPORT, 0));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGREPORT, &info));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(2, trovsim_count(3, TROVSIM_REQ_INITREPORT));
    EXPECT_EQ(3, trovsim_count(3, TROVSIM_REQ_GREPORT));
    EXPECT_EQ(1, trovsim_count(3, TROVSIM_REQ_SREPORT));
}

TEST_F(DriverRequests, OutputUsageFaultsChangeTheOutputReport)
{
    unsigned code = 0;
    ASSERT_EQ(0, trovsim_set_faults(3, TROVSIM_FAULT_NO_OUTPUT_USAGE));
    ASSERT_EQ(0, usage_code(fd_, HID_REPORT_TYPE_OUTPUT, 4, 0, 0, &code));
    EXPECT_NE(OUTPUT_USAGE, code);
    EXPECT_EQ(0, send_byte(fd_, 0x11));
    EXPECT_TRUE(received(3).empty());  // the report carries no command byte

    ASSERT_EQ(0, trovsim_set_faults(3, TROVSIM_FAULT_USAGE_LATER_FIELD));
    hiddev_report_info info;
    ASSERT_EQ(0, report_info(fd_, HID_REPORT_TYPE_OUTPUT, 4, &info));
    EXPECT_EQ(2u, info.num_fields);
    ASSERT_EQ(0, usage_code(fd_, HID_REPORT_TYPE_OUTPUT, 4, 0, 0, &code));
    EXPECT_NE(OUTPUT_USAGE, code);
    ASSERT_EQ(0, usage_code(fd_, HID_REPORT_TYPE_OUTPUT, 4, 1, 0, &code));
    EXPECT_EQ(OUTPUT_USAGE, code);
    EXPECT_EQ(0, send_byte(fd_, 0x22, 0));
    EXPECT_EQ(0, send_byte(fd_, 0x33, 1));
    // The first report carried field 1's initial zero; only field 1 ever reaches the keyboard.
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0x33}), received(3));
}

TEST_F(DriverRequests, UnknownRequestsAreRefusedAndCounted)
{
    char name[64];
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGNAME(sizeof name), name));
    EXPECT_EQ(EINVAL, errno);
    int flags = 0;
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGFLAG, &flags));
    EXPECT_EQ(-1, ::ioctl(fd_, FIONREAD, &flags));
    EXPECT_EQ(3, trovsim_count(3, TROVSIM_REQ_OTHER_IOCTL));
}
