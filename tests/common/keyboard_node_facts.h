// SPDX-License-Identifier: Apache-2.0
// What the kernel's hiddev driver answers on the keyboard's node, request by request, stated once for
// both places that check it: tests/hil/driver_facts_test.cpp against the real driver (the real-driver
// tier), and the simulator's tests (tests/sim), as the simulator must answer the same.
#ifndef TROV_TESTS_KEYBOARD_NODE_FACTS_H
#define TROV_TESTS_KEYBOARD_NODE_FACTS_H

#include <gtest/gtest.h>
#include <linux/hiddev.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "tests/common/hiddev_requests.h"

namespace keyboard_node {

inline constexpr unsigned APPLICATION = 0xFFFA00A5u;
inline constexpr unsigned OUTPUT_USAGE = 0xFFFA00ABu;
inline constexpr unsigned FIRST_INPUT_USAGE = 0xFFFA00A6u;

// The one application, the vendor's, comes back as a negative return value without errno.
inline void expect_vendor_application(int fd)
{
    errno = 0;
    const int usage = ::ioctl(fd, HIDIOCAPPLICATION, 0);
    EXPECT_EQ(-393051, usage) << "the vendor usage comes back as a negative return value";
    EXPECT_EQ(APPLICATION, static_cast<unsigned>(usage));
    EXPECT_EQ(0, errno);
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCAPPLICATION, 1));
    EXPECT_EQ(EINVAL, errno);
}

// One output and one input report, both id 4, found with the FIRST and NEXT flags as the search walks
// them; nothing follows them, and other types, flags and ids are refused.
inline void expect_report_walk(int fd)
{
    hiddev_report_info info;
    ASSERT_EQ(0, report_info(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID_FIRST, &info));
    EXPECT_EQ(4u, info.report_id);
    EXPECT_EQ(1u, info.num_fields);
    EXPECT_EQ(-1, report_info(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID_NEXT | 4, &info));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(-1, report_info(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID_NEXT, &info)) << "nor from report 0";
    EXPECT_EQ(EINVAL, errno);
    ASSERT_EQ(0, report_info(fd, HID_REPORT_TYPE_INPUT, 4, &info));
    EXPECT_EQ(1u, info.num_fields);
    EXPECT_EQ(-1, report_info(fd, HID_REPORT_TYPE_FEATURE, HID_REPORT_ID_FIRST, &info));
    EXPECT_EQ(-1, report_info(fd, 0, 4, &info));
    EXPECT_EQ(-1, report_info(fd, HID_REPORT_TYPE_OUTPUT, HID_REPORT_ID_FIRST | HID_REPORT_ID_NEXT, &info));
    EXPECT_EQ(-1, report_info(fd, HID_REPORT_TYPE_OUTPUT, 5, &info));
}

// The output field: one signed byte usage of the vendor application; the input field: four usages.
inline void expect_field_info(int fd)
{
    hiddev_field_info field{};
    field.report_type = HID_REPORT_TYPE_OUTPUT;
    field.report_id = HID_REPORT_ID_FIRST;
    ASSERT_EQ(0, ::ioctl(fd, HIDIOCGFIELDINFO, &field));
    EXPECT_EQ(4u, field.report_id);
    EXPECT_EQ(1u, field.maxusage);
    EXPECT_EQ(-128, field.logical_minimum);
    EXPECT_EQ(127, field.logical_maximum);
    EXPECT_EQ(APPLICATION, field.application);
    field = hiddev_field_info{};
    field.report_type = HID_REPORT_TYPE_INPUT;
    field.report_id = 4;
    ASSERT_EQ(0, ::ioctl(fd, HIDIOCGFIELDINFO, &field));
    EXPECT_EQ(4u, field.maxusage);
    EXPECT_EQ(3u, field.field_index) << "the report count less one, not the index asked for";
    field.report_type = HID_REPORT_TYPE_INPUT;
    field.report_id = 4;
    field.field_index = 1;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCGFIELDINFO, &field));
    EXPECT_EQ(EINVAL, errno);
}

// The usage codes of both fields, and refusals beyond them.
inline void expect_usage_codes(int fd)
{
    unsigned code = 0;
    ASSERT_EQ(0, usage_code(fd, HID_REPORT_TYPE_OUTPUT, 4, 0, 0, &code));
    EXPECT_EQ(OUTPUT_USAGE, code);
    for (unsigned u = 0; u < 4; ++u) {
        ASSERT_EQ(0, usage_code(fd, HID_REPORT_TYPE_INPUT, HID_REPORT_ID_FIRST, 0, u, &code));
        EXPECT_EQ(FIRST_INPUT_USAGE + u, code);
    }
    EXPECT_EQ(-1, usage_code(fd, HID_REPORT_TYPE_INPUT, 4, 0, 4, &code));
    EXPECT_EQ(-1, usage_code(fd, HID_REPORT_TYPE_OUTPUT, 4, 1, 0, &code));
    EXPECT_EQ(-1, usage_code(fd, HID_REPORT_TYPE_OUTPUT, 3, 0, 0, &code));
    EXPECT_EQ(EINVAL, errno);
}

// A value can be set only in the output report's one usage.
inline void expect_set_usage_refusals(int fd)
{
    hiddev_usage_ref ref{};
    ref.report_type = HID_REPORT_TYPE_INPUT;
    ref.report_id = 4;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCSUSAGE, &ref));
    EXPECT_EQ(EINVAL, errno);
    ref.report_type = HID_REPORT_TYPE_OUTPUT;
    ref.field_index = 1;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCSUSAGE, &ref));
    ref.field_index = 0;
    ref.usage_index = 1;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCSUSAGE, &ref));
}

// The output report cannot be fetched, nor the input report sent.
inline void expect_report_direction_refusals(int fd)
{
    hiddev_report_info info{HID_REPORT_TYPE_OUTPUT, 4, 0};
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCGREPORT, &info));
    EXPECT_EQ(EINVAL, errno);
    info.report_type = HID_REPORT_TYPE_INPUT;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCSREPORT, &info));
    EXPECT_EQ(EINVAL, errno);
}

// A descriptor of a node that was unplugged refuses every request with ENODEV.
inline void expect_dead_descriptor(int fd)
{
    hiddev_devinfo info{};
    errno = 0;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCGDEVINFO, &info));
    EXPECT_EQ(ENODEV, errno);
    errno = 0;
    EXPECT_EQ(-1, ::ioctl(fd, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(ENODEV, errno);
    errno = 0;
    EXPECT_EQ(-1, send_byte(fd, 0x12));
    EXPECT_EQ(ENODEV, errno);
}

}  // namespace keyboard_node

#endif
