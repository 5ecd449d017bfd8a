// SPDX-License-Identifier: Apache-2.0
#include "device/hidfunctions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"

namespace {

// The application walk asks indexes 0 to 256: at most 257 requests.
constexpr int LAST_APPLICATION_INDEX = 256;

// The output usage set-up walks the report list by HID_REPORT_ID_NEXT. A kernel that keeps answering
// that request would have the walk go on for ever; no device has more reports of a type than there are
// report ids, so the walk stops after that many passes.
constexpr int MAX_REPORT_PASSES = 256;

// Pause after each command byte, so that the device keeps up.
constexpr useconds_t BYTE_PAUSE_US = 50;

const char UNKNOWN_NAME[] = "Unknown";

}  // namespace

HidFunctions::HidFunctions()
{
    iFd = -1;
    vResetDeviceInfo();
    pthread_mutex_init(&ChannelLock, nullptr);
}

void HidFunctions::vResetDeviceInfo()
{
    DevInfo.bustype = 0;
    DevInfo.busnum = 0;
    DevInfo.devnum = 0;
    DevInfo.ifnum = 0;
    DevInfo.vendor = -1;
    DevInfo.product = -1;
    DevInfo.version = -1;
    DevInfo.num_applications = 0;
}

void HidFunctions::vClearAll()
{
    {
        ScopedLock guard(ChannelLock);
        vStore(iFd, -1);
        vResetDeviceInfo();
    }
    vResetServiceState();
}

int HidFunctions::iDescriptor()
{
    return tLoad(iFd);
}

bool HidFunctions::bFindAndOpenDevice()
{
    ScopedLock guard(ChannelLock);
    for (int node = 0; node < TROV_DEVICE_NODES; ++node) {
        std::memset(cDevicePath, 0, sizeof cDevicePath);
        std::snprintf(cDevicePath, sizeof cDevicePath, "/dev/usb/hid/hiddev%d", node);
        if (!bOpenDevice(cDevicePath)) {
            continue;
        }
        if (!bFindTrovApplication(TROV_APPLICATION_USAGE)) {
            iCloseLocked();
            continue;
        }
        // The first node with the vendor application is the keyboard; no later node is tried.
        vClearUsageRef();
        if (!bInitReport() || !bPrepareSending()) {
            iCloseLocked();
            return false;
        }
        return true;
    }
    return false;
}

bool HidFunctions::bOpenDevice(const char *path)
{
    if (path != nullptr) {
        // Close-on-exec: a program the application starts must not keep the keyboard open after our close.
        vStore(iFd, ::open(path, O_RDWR | O_CLOEXEC));
    }
    return tLoad(iFd) >= 0;
}

int HidFunctions::bFindTrovApplication(unsigned usage)
{
    int answer = 0;
    for (int index = 0; index <= LAST_APPLICATION_INDEX; ++index) {
        answer = ::ioctl(iFd, HIDIOCAPPLICATION, index);
        // A refused index (-1) does not end the walk; the end of the list (0) or the usage does.
        if (answer == 0 || static_cast<unsigned>(answer) == usage) {
            break;
        }
    }
    return static_cast<unsigned>(answer) == usage ? 1 : 0;
}

void HidFunctions::vClearUsageRef()
{
    std::memset(&UsageRef, 0, sizeof UsageRef);
}

bool HidFunctions::bInitReport()
{
    return ::ioctl(iFd, HIDIOCINITREPORT, 0) == 0;
}

bool HidFunctions::bPrepareSending()
{
    ReportInfo.report_type = HID_REPORT_TYPE_OUTPUT;
    ReportInfo.report_id = TROV_COMMAND_REPORT_ID;
    int rc = ::ioctl(iFd, HIDIOCGREPORTINFO, &ReportInfo);
    for (int pass = 0; pass < MAX_REPORT_PASSES && rc >= 0; ++pass) {
        for (unsigned field = 0; field < ReportInfo.num_fields; ++field) {
            FieldInfo.report_type = ReportInfo.report_type;
            FieldInfo.report_id = ReportInfo.report_id;
            FieldInfo.field_index = field;
            if (::ioctl(iFd, HIDIOCGFIELDINFO, &FieldInfo) < 0) {
                continue;
            }
            UsageRef.report_type = FieldInfo.report_type;
            UsageRef.report_id = TROV_COMMAND_REPORT_ID;
            UsageRef.field_index = field;
            for (unsigned usage = 0; usage < FieldInfo.maxusage; ++usage) {
                UsageRef.usage_index = usage;
                // A refused request leaves the code of an earlier answer in the record: only a usage
                // the driver has just named counts, or a field without the usage would be taken.
                if (::ioctl(iFd, HIDIOCGUCODE, &UsageRef) < 0 || UsageRef.usage_code != TROV_OUTPUT_USAGE) {
                    continue;
                }
                // Have the kernel fetch the input report of the same id; the usage is ready when it can.
                // The report type is left at input for the rest of the walk.
                ReportInfo.report_type = HID_REPORT_TYPE_INPUT;
                if (::ioctl(iFd, HIDIOCGREPORT, &ReportInfo) == 0) {
                    return true;
                }
            }
        }
        ReportInfo.report_id = HID_REPORT_ID_NEXT;
        rc = ::ioctl(iFd, HIDIOCGREPORTINFO, &ReportInfo);
    }
    return false;
}

bool HidFunctions::bWrite(const signed char *bytes, int count)
{
    ScopedLock guard(ChannelLock);
    if (iFd == -1 || bytes == nullptr || bytes[0] == 0) {
        return false;
    }
    for (int k = 0; k < count; ++k) {
        UsageRef.report_type = HID_REPORT_TYPE_OUTPUT;
        UsageRef.report_id = TROV_COMMAND_REPORT_ID;
        UsageRef.value = bytes[k];  // signed: 0x81 travels as -127
        if (::ioctl(iFd, HIDIOCSUSAGE, &UsageRef) != 0) {
            return false;
        }
        ReportInfo.report_type = HID_REPORT_TYPE_OUTPUT;
        ReportInfo.report_id = HID_REPORT_ID_FIRST;
        if (::ioctl(iFd, HIDIOCSREPORT, &ReportInfo) != 0) {
            return false;
        }
        ::usleep(BYTE_PAUSE_US);
    }
    return true;
}

bool HidFunctions::bWaitForInput(int timeoutMs)
{
    const int fd = tLoad(iFd);
    if (fd < 0) {
        return true;  // Read fails at once, which is the answer the caller needs
    }
    struct pollfd request = {fd, POLLIN, 0};
    const int rc = ::poll(&request, 1, timeoutMs);
    return rc > 0 || (rc < 0 && errno != EINTR);
}

int HidFunctions::Read(unsigned char *out)
{
    struct hiddev_event events[TROV_READ_MAX_BYTES];
    const ssize_t got = ::read(tLoad(iFd), events, sizeof events);
    if (got < 0) {
        // A signal that interrupts the wait is no device failure: nothing was read, the caller reads again.
        return errno == EINTR ? 0 : static_cast<int>(got);
    }
    const size_t records = static_cast<size_t>(got) / sizeof events[0];
    int stored = 0;
    for (size_t i = 0; i < records; ++i) {
        const unsigned usage = events[i].hid;
        if (usage >= TROV_FIRST_INPUT_USAGE && usage <= TROV_LAST_INPUT_USAGE) {
            out[stored++] = static_cast<unsigned char>(events[i].value & 0xFF);
        }
    }
    return stored;
}

bool HidFunctions::bGetDeviceInfo()
{
    ScopedLock guard(ChannelLock);
    return bGetDeviceInfoLocked();
}

bool HidFunctions::bGetDeviceInfoLocked()
{
    if (iFd == -1) {
        return false;
    }
    return ::ioctl(iFd, HIDIOCGDEVINFO, &DevInfo) == 0;
}

int HidFunctions::iCloseDevice()
{
    ScopedLock guard(ChannelLock);
    return iCloseLocked();
}

int HidFunctions::iCloseLocked()
{
    const int rc = ::close(iFd);  // also with -1: the result then says that nothing was open
    vStore(iFd, -1);
    return rc;
}

int HidFunctions::bGetDriverVersion()
{
    int version = -1;
    ::ioctl(iFd, HIDIOCGVERSION, &version);
    return version;
}

int HidFunctions::iApplicationOfIndex(int index)
{
    return ::ioctl(iFd, HIDIOCAPPLICATION, index);
}

const char *HidFunctions::pcGetDeviceName()
{
    if (!bFindTrovApplication(TROV_APPLICATION_USAGE)) {
        return UNKNOWN_NAME;
    }
    struct hiddev_string_descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.index = 1;
    if (::ioctl(iFd, HIDIOCGSTRING, &descriptor) <= 0) {
        return UNKNOWN_NAME;
    }
    std::memcpy(cDeviceName, descriptor.value, sizeof cDeviceName);
    cDeviceName[sizeof cDeviceName - 1] = '\0';
    return cDeviceName;
}

unsigned HidFunctions::uiBusType() { return DevInfo.bustype; }
unsigned HidFunctions::uiBusNum() { return DevInfo.busnum; }
unsigned HidFunctions::uiDevNum() { return DevInfo.devnum; }
unsigned HidFunctions::uiIfNum() { return DevInfo.ifnum; }
unsigned HidFunctions::uiNumApplications() { return DevInfo.num_applications; }
short HidFunctions::sVendorId() { return DevInfo.vendor; }
short HidFunctions::sProductId() { return DevInfo.product; }
short HidFunctions::sDeviceVersion() { return DevInfo.version; }
