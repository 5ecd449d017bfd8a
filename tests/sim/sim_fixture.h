// SPDX-License-Identifier: Apache-2.0
// Shared set-up of the simulator tests: a fresh simulator per test, and the client-side calls a program
// makes on a hiddev node (open, the usage ioctls, reading event records), through the real C library
// entry points that the simulator interposes.
#ifndef TROVSIM_TESTS_SIM_FIXTURE_H
#define TROVSIM_TESTS_SIM_FIXTURE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hiddev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "sim/trovsim.h"
#include "tests/common/hiddev_requests.h"

inline constexpr unsigned APPLICATION_USAGE = 0xFFFA00A5u;
inline constexpr unsigned OUTPUT_USAGE = 0xFFFA00ABu;
inline constexpr unsigned FIRST_INPUT_USAGE = 0xFFFA00A6u;

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { trovsim_reset(); }

    void TearDown() override
    {
        for (const int fd : opened_) {
            ::close(fd);
        }
        trovsim_reset();
    }

    static std::string path(int node) { return "/dev/usb/hid/hiddev" + std::to_string(node); }

    // Opens a node; the descriptor is closed at the end of the test unless close_fd closed it.
    int open_node(int node, int flags = O_RDWR)
    {
        const int fd = ::open(path(node).c_str(), flags);
        if (fd >= 0) {
            opened_.push_back(fd);
        }
        return fd;
    }

    int close_fd(int fd)
    {
        opened_.erase(std::remove(opened_.begin(), opened_.end(), fd), opened_.end());
        return ::close(fd);
    }

    static void send_bytes(int fd, std::initializer_list<int> values)
    {
        for (const int value : values) {
            ASSERT_EQ(0, send_byte(fd, value));
        }
    }

    // Reads until count records arrived or nothing comes within timeout_ms.
    static std::vector<hiddev_event> read_events(int fd, std::size_t count, int timeout_ms = 1000)
    {
        std::vector<hiddev_event> events;
        while (events.size() < count) {
            pollfd request{fd, POLLIN, 0};
            if (::poll(&request, 1, timeout_ms) <= 0) {
                break;
            }
            hiddev_event chunk[16];
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            events.insert(events.end(), chunk, chunk + static_cast<std::size_t>(got) / sizeof chunk[0]);
        }
        return events;
    }

    // The byte values of records, checking that they are the input usages in report order.
    static std::vector<int> values_of(const std::vector<hiddev_event> &events)
    {
        std::vector<int> values;
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(FIRST_INPUT_USAGE + i % 4, events[i].hid) << "record " << i;
            values.push_back(events[i].value);
        }
        return values;
    }

    // True when nothing is waiting to be read.
    static bool nothing_queued(int fd)
    {
        pollfd request{fd, POLLIN, 0};
        return ::poll(&request, 1, 0) == 0;
    }

    static std::vector<unsigned char> received(int node)
    {
        std::vector<unsigned char> bytes(256);
        const int total = trovsim_received(node, bytes.data(), static_cast<int>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(std::max(0, std::min(total, 256))));
        return bytes;
    }

    std::vector<int> opened_;
};

#endif
