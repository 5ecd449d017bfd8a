// SPDX-License-Identifier: Apache-2.0
// Fuzzes the device search against sixteen nodes of random kinds: absent, refused, or a HID device with
// a random description (applications, reports, fields, usages) whose driver may fail any request from
// a chosen one on, as a device that is pulled out during the search. The library's open, ioctl and
// close are redirected here at link time (--wrap); the answers come from the simulator's model of the
// hiddev driver. The search must end, take the first node that has the vendor application and nothing
// before it, leave no descriptor behind, and leave a found keyboard ready to send to.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/hiddev.h>

#include "core/shared_access.h"
#include "device/hidfunctions.h"
#include "sim/hiddev_ioctl.h"

extern "C" int __real_open(const char *path, int flags, ...);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __real_close(int fd);

// A broken fact names itself before the fuzzer records the input.
#define CHECK(fact) \
    ((fact) ? void(0) : (std::fprintf(stderr, "broken: %s (line %d)\n", #fact, __LINE__), std::abort()))

namespace {

constexpr int FIRST_FAKE_FD = 1000;  // descriptors of the fake nodes, far above any real one

struct FakeNode {
    int iOpenErrno = ENOENT;  // 0: the node opens
    trovsim::HiddevDevice Device;
    long lFailFrom = -1;      // requests from this one on fail with ENODEV (-1: none)
    long lRequests = 0;
    bool bOpen = false;
    bool bHasApplication = false;  // the vendor application among the answers the walk can see
};

FakeNode Nodes[TROV_DEVICE_NODES];
long OpenDescriptors = 0;

FakeNode *pNodeOf(int fd)
{
    const int index = fd - FIRST_FAKE_FD;
    return index >= 0 && index < TROV_DEVICE_NODES ? &Nodes[index] : nullptr;
}

unsigned uiPick(FuzzedDataProvider &in, std::initializer_list<unsigned> interesting)
{
    const size_t pick = in.ConsumeIntegralInRange<size_t>(0, interesting.size());
    return pick < interesting.size() ? interesting.begin()[pick] : in.ConsumeIntegral<unsigned>();
}

trovsim::HidField Field(FuzzedDataProvider &in)
{
    trovsim::HidField field;
    const size_t usages = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < usages; ++i) {
        field.usages.push_back(uiPick(in, {TROV_OUTPUT_USAGE, TROV_OUTPUT_USAGE + 1, TROV_FIRST_INPUT_USAGE, 0}));
    }
    field.logical_minimum = in.ConsumeIntegralInRange<int>(-128, 0);
    field.logical_maximum = in.ConsumeIntegralInRange<int>(0, 255);
    field.bits = in.ConsumeIntegralInRange<unsigned>(1, 32);
    field.values.assign(usages, 0);
    return field;
}

trovsim::HidDescription Description(FuzzedDataProvider &in)
{
    trovsim::HidDescription d;
    const size_t applications = in.ConsumeIntegralInRange<size_t>(0, 5);
    for (size_t i = 0; i < applications; ++i) {
        d.applications.push_back(uiPick(in, {TROV_APPLICATION_USAGE, 0, 0x00010006u, 0xFFFFFFFFu}));
    }
    for (auto &reports : d.reports) {
        const size_t count = in.ConsumeIntegralInRange<size_t>(0, 3);
        for (size_t r = 0; r < count; ++r) {
            trovsim::HidReport report;
            report.id = uiPick(in, {TROV_COMMAND_REPORT_ID, 0, 1, 255});
            const size_t fields = in.ConsumeIntegralInRange<size_t>(0, 3);
            for (size_t f = 0; f < fields; ++f) {
                report.fields.push_back(Field(in));
            }
            reports.push_back(report);
        }
    }
    return d;
}

// What the application walk can see: answers up to the first 0, at most 257 of them.
bool bApplicationVisible(const trovsim::HidDescription &d)
{
    for (size_t i = 0; i < d.applications.size() && i <= 256; ++i) {
        if (d.applications[i] == TROV_APPLICATION_USAGE) {
            return true;
        }
        if (d.applications[i] == 0) {
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" int __wrap_open(const char *path, int flags, ...)
{
    int node = -1;
    if (std::sscanf(path, "/dev/usb/hid/hiddev%d", &node) != 1) {
        va_list args;
        va_start(args, flags);
        const int mode = va_arg(args, int);
        va_end(args);
        return __real_open(path, flags, mode);
    }
    CHECK(node >= 0 && node < TROV_DEVICE_NODES && !Nodes[node].bOpen);
    if (Nodes[node].iOpenErrno != 0) {
        errno = Nodes[node].iOpenErrno;
        return -1;
    }
    Nodes[node].bOpen = true;
    ++OpenDescriptors;
    return FIRST_FAKE_FD + node;
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    FakeNode *node = pNodeOf(fd);
    if (node == nullptr) {
        return __real_ioctl(fd, request, arg);
    }
    CHECK(node->bOpen);
    const long request_number = node->lRequests++;
    CHECK(request_number < 100000);  // the search ends
    long rc = -ENODEV;
    if (node->lFailFrom < 0 || request_number < node->lFailFrom) {
        const trovsim::HidReport *sent = nullptr;
        rc = trovsim::hiddev_ioctl(node->Device, request, arg, &sent);
    }
    if (rc < 0 && rc >= -4095) {
        errno = static_cast<int>(-rc);
        return -1;
    }
    return static_cast<int>(rc);
}

extern "C" int __wrap_close(int fd)
{
    FakeNode *node = pNodeOf(fd);
    if (node == nullptr) {
        return __real_close(fd);
    }
    CHECK(node->bOpen);
    node->bOpen = false;
    --OpenDescriptors;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    for (auto &node : Nodes) {
        node = FakeNode{};
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: break;  // absent
        case 1: node.iOpenErrno = EACCES; break;
        case 2:  // the keyboard, with the simulator's faults
            node.iOpenErrno = 0;
            node.Device.description = trovsim::keyboard_description(in.ConsumeIntegral<uint8_t>());
            break;
        default:
            node.iOpenErrno = 0;
            node.Device.description = Description(in);
            break;
        }
        if (in.ConsumeBool()) {
            node.lFailFrom = in.ConsumeIntegralInRange<long>(0, 300);
        }
        node.bHasApplication = node.iOpenErrno == 0 && bApplicationVisible(node.Device.description) &&
                               node.lFailFrom < 0;
    }

    HidFunctions channel;
    const bool found = channel.bFindAndOpenDevice();
    const int fd = tLoad(channel.iFd);
    if (!found) {
        CHECK(fd == -1 && OpenDescriptors == 0);
        return 0;
    }
    // The channel holds the first node that answered with the vendor application; every node before it
    // either did not open or cannot have shown it.
    FakeNode *chosen = pNodeOf(fd);
    CHECK(chosen != nullptr && OpenDescriptors == 1 && chosen->bOpen);
    for (FakeNode *node = Nodes; node != chosen; ++node) {
        CHECK(!node->bHasApplication);
    }
    CHECK(channel.UsageRef.usage_code == TROV_OUTPUT_USAGE);
    // A command goes out through the usage found, unless the device was pulled out meanwhile.
    const signed char command[] = {static_cast<signed char>(0xEF), 0x07};
    const bool sent = channel.bWrite(command, 2);
    CHECK(sent || chosen->lFailFrom >= 0);
    channel.iCloseDevice();
    CHECK(OpenDescriptors == 0);
    return 0;
}
