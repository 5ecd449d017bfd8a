// SPDX-License-Identifier: Apache-2.0
// The hiddev requests the tests make on a keyboard's node, the same against the simulated driver and
// against the real one: report and usage look-ups, and sending one command byte.
#ifndef TROV_TESTS_HIDDEV_REQUESTS_H
#define TROV_TESTS_HIDDEV_REQUESTS_H

#include <linux/hiddev.h>
#include <sys/ioctl.h>

// HIDIOCGREPORTINFO for a report type and id (with the FIRST/NEXT flags if wanted).
inline int report_info(int fd, unsigned type, unsigned id, hiddev_report_info *info)
{
    *info = hiddev_report_info{};
    info->report_type = type;
    info->report_id = id;
    return ::ioctl(fd, HIDIOCGREPORTINFO, info);
}

// HIDIOCGUCODE: the usage code at a report's field and usage index.
inline int usage_code(int fd, unsigned type, unsigned id, unsigned field, unsigned usage, unsigned *code)
{
    hiddev_usage_ref ref{};
    ref.report_type = type;
    ref.report_id = id;
    ref.field_index = field;
    ref.usage_index = usage;
    const int rc = ::ioctl(fd, HIDIOCGUCODE, &ref);
    *code = ref.usage_code;
    return rc;
}

// Sends one command byte the way a program drives the keyboard: the value into the output usage
// 0xFFFA00AB (report 4, field 0, usage 0 unless told otherwise), then the first output report.
inline int send_byte(int fd, int value, unsigned field_index = 0)
{
    hiddev_usage_ref ref{};
    ref.report_type = HID_REPORT_TYPE_OUTPUT;
    ref.report_id = 4;
    ref.field_index = field_index;
    ref.usage_index = 0;
    ref.usage_code = 0xFFFA00ABu;
    ref.value = value;
    if (::ioctl(fd, HIDIOCSUSAGE, &ref) != 0) {
        return -1;
    }
    hiddev_report_info info{};
    info.report_type = HID_REPORT_TYPE_OUTPUT;
    info.report_id = HID_REPORT_ID_FIRST;
    return ::ioctl(fd, HIDIOCSREPORT, &info);
}

#endif
