// SPDX-License-Identifier: Apache-2.0
// The device channel: finds the POS keyboard among the Linux hiddev nodes by its vendor application,
// prepares the vendor output usage, sends commands one byte per output report, reads the device's input
// events keeping only the vendor byte usages, and tells whether the device is still present.
//
// There is one instance, hidfunc. It prints nothing and throws nothing; errno stays as the failing call
// left it. Sends, presence tests and the rewrites of the channel by an open or close are serialised by
// one lock, so that commands from different threads never interleave at the device; the input path (the
// reader's wait on iDescriptor(), then Read) takes no lock, so a sender is never held up by a reader
// waiting for input.
#ifndef TROV_DEVICE_HIDFUNCTIONS_H
#define TROV_DEVICE_HIDFUNCTIONS_H

#include <linux/hiddev.h>
#include <pthread.h>

// The keyboard's HID interface.
inline constexpr unsigned TROV_APPLICATION_USAGE = 0xFFFA00A5u;  // vendor application collection
inline constexpr unsigned TROV_OUTPUT_USAGE = 0xFFFA00ABu;       // one command byte per output report
inline constexpr unsigned TROV_FIRST_INPUT_USAGE = 0xFFFA00A6u;  // input bytes: 0xFFFA00A6..0xFFFA00A9
inline constexpr unsigned TROV_LAST_INPUT_USAGE = 0xFFFA00A9u;
inline constexpr int TROV_COMMAND_REPORT_ID = 4;
inline constexpr int TROV_DEVICE_NODES = 16;                     // "/dev/usb/hid/hiddev0" to 15
inline constexpr int TROV_READ_MAX_BYTES = 64;                   // bytes one Read can store

class HidFunctions {
public:
    HidFunctions();
    ~HidFunctions() = default;  // releases nothing: an open device stays open until iCloseDevice
    HidFunctions(const HidFunctions &) = delete;
    HidFunctions &operator=(const HidFunctions &) = delete;

    bool bFindAndOpenDevice();
    bool bWrite(const signed char *bytes, int count);
    bool bWaitForInput(int timeoutMs);
    int Read(unsigned char *out);
    bool bGetDeviceInfo();
    int iCloseDevice();
    void vClearAll();

    bool bOpenDevice(const char *path);
    int bFindTrovApplication(unsigned usage);
    void vClearUsageRef();
    bool bInitReport();
    bool bPrepareSending();

    int bGetDriverVersion();
    int iApplicationOfIndex(int index);
    const char *pcGetDeviceName();
    unsigned uiBusType();
    unsigned uiBusNum();
    unsigned uiDevNum();
    unsigned uiIfNum();
    unsigned uiNumApplications();
    short sVendorId();
    short sProductId();
    short sDeviceVersion();

    int iDescriptor();  // the open node's descriptor, -1 when none

    char cDevicePath[50];                 // path of the node being tried or in use
    struct hiddev_devinfo DevInfo;        // as last read by bGetDeviceInfo
    struct hiddev_usage_ref UsageRef;     // the vendor output usage after a successful set-up
    struct hiddev_report_info ReportInfo; // scratch record for report requests and every send
    struct hiddev_field_info FieldInfo;   // scratch record for field requests during set-up
    int iFd;                              // descriptor of the open node, -1 when none

private:
    void vResetDeviceInfo();
    int iCloseLocked();
    bool bGetDeviceInfoLocked();

    char cDeviceName[HID_STRING_SIZE];    // text returned by pcGetDeviceName
    pthread_mutex_t ChannelLock;
};

#endif
