// SPDX-License-Identifier: Apache-2.0
// The hiddev driver's answers to ioctl requests on an open node of a present device, as the Linux
// kernel gives them in default (non-UREF) mode. Requests on descriptors of an unplugged device never
// get here: the caller refuses them with ENODEV first.
#ifndef TROVSIM_HIDDEV_IOCTL_H
#define TROVSIM_HIDDEV_IOCTL_H

#include <string>

#include "sim/hid_description.h"

namespace trovsim {

// A plugged device as the driver sees it.
struct HiddevDevice {
    HidDescription description;
    unsigned short vendor = 0;
    unsigned short product = 0;
    unsigned short version = 0;
    std::string name;        // USB string 1, the manufacturer on a real keyboard
    std::string productName; // USB string 2
    unsigned busnum = 1;
    unsigned devnum = 2;
    unsigned faults = 0;     // trovsim_fault bits
};

// Which trovsim_request counter a request code belongs to.
int classify_request(unsigned long request);

// Carries out one request. Returns what the system call returns: a value >= 0, a usage that happens to
// be negative (HIDIOCAPPLICATION), or -errno (-4095..-1). When the request sent an output report to the
// device, *sent points at it.
long hiddev_ioctl(HiddevDevice &device, unsigned long request, void *arg, const HidReport **sent);

}  // namespace trovsim

#endif
