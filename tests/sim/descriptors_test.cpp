// SPDX-License-Identifier: Apache-2.0
// Opening, reading and closing node paths as a program does, and that other files stay untouched.
#include <sys/socket.h>

#include "sim_fixture.h"

using Descriptors = SimTest;

TEST_F(Descriptors, AbsentNodeIsNotFoundAndCounted)
{
    errno = 0;
    EXPECT_EQ(-1, open_node(0));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_EQ(1, trovsim_count(0, TROVSIM_REQ_OPEN));
    EXPECT_EQ(0, trovsim_open_handles(0));
}

TEST_F(Descriptors, RefusedOpenFailsWithEaccesAndIsCounted)
{
    ASSERT_EQ(0, trovsim_set_kind(2, TROVSIM_KEYBOARD));
    ASSERT_EQ(0, trovsim_set_faults(2, TROVSIM_FAULT_OPEN_REFUSED));
    errno = 0;
    EXPECT_EQ(-1, open_node(2));
    EXPECT_EQ(EACCES, errno);
    EXPECT_EQ(1, trovsim_count(2, TROVSIM_REQ_OPEN));
    ASSERT_EQ(0, trovsim_set_faults(2, 0));
    EXPECT_GE(open_node(2), 0);
}

TEST_F(Descriptors, EveryOpenVariantReachesTheNode)
{
    ASSERT_EQ(0, trovsim_set_kind(15, TROVSIM_KEYBOARD));
    const std::string node = path(15);
    const int fds[] = {::open(node.c_str(), O_RDONLY), ::open64(node.c_str(), O_RDONLY),
                       ::openat(AT_FDCWD, node.c_str(), O_RDONLY), ::openat64(AT_FDCWD, node.c_str(), O_RDONLY)};
    for (const int fd : fds) {
        ASSERT_GE(fd, 0);
        opened_.push_back(fd);
        int version = 0;
        EXPECT_EQ(0, ::ioctl(fd, HIDIOCGVERSION, &version));
        EXPECT_EQ(0x010004, version);
    }
    EXPECT_EQ(4, trovsim_open_handles(15));
    EXPECT_EQ(4, trovsim_count(15, TROVSIM_REQ_OPEN));
}

TEST_F(Descriptors, PathsOutsideTheSixteenNodesAreNotSimulated)
{
    for (int node = 0; node < TROVSIM_NODES; ++node) {
        ASSERT_EQ(0, trovsim_set_kind(node, TROVSIM_KEYBOARD));
    }
    for (const char *other : {"/dev/usb/hid/hiddev16", "/dev/usb/hid/hiddev01", "/dev/usb/hid/hiddev1x",
                              "/dev/usb/hid/hiddev", "/dev/usb/hid/hiddev0/"}) {
        const int fd = ::open(other, O_RDONLY);
        EXPECT_LT(fd, 0) << other;
        if (fd >= 0) {
            ::close(fd);
        }
    }
    for (int node = 0; node < TROVSIM_NODES; ++node) {
        EXPECT_EQ(0, trovsim_count(node, TROVSIM_REQ_OPEN)) << node;
    }
}

TEST_F(Descriptors, CloseIsCountedAndFreesTheHandle)
{
    ASSERT_EQ(0, trovsim_set_kind(1, TROVSIM_KEYBOARD));
    const int first = open_node(1);
    const int second = open_node(1);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(2, trovsim_open_handles(1));
    EXPECT_EQ(0, close_fd(first));
    EXPECT_EQ(1, trovsim_open_handles(1));
    EXPECT_EQ(1, trovsim_count(1, TROVSIM_REQ_CLOSE));
    // The number is free again and no longer the simulator's: a read goes to the C library.
    hiddev_event event;
    errno = 0;
    EXPECT_EQ(-1, ::read(first, &event, sizeof event));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(0, trovsim_count(1, TROVSIM_REQ_READ));
}

TEST_F(Descriptors, ReadReturnsWholeRecordsOnly)
{
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    const int fd = open_node(0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(2, trovsim_send_raw(0, reinterpret_cast<const unsigned char *>("\x31\x32"), 2));
    char small[7];
    EXPECT_EQ(0, ::read(fd, small, sizeof small));  // smaller than one record: nothing, nothing consumed
    hiddev_event events[4];
    EXPECT_EQ(static_cast<ssize_t>(sizeof(hiddev_event)), ::read(fd, events, sizeof(hiddev_event) + 5));
    EXPECT_EQ(0x31, events[0].value);
    EXPECT_EQ(static_cast<ssize_t>(3 * sizeof(hiddev_event)), ::read(fd, events, sizeof events));
    EXPECT_EQ(0x32, events[0].value);
    EXPECT_EQ(3, trovsim_count(0, TROVSIM_REQ_READ));
}

TEST_F(Descriptors, NonBlockingOpenReadsEagainWhenEmpty)
{
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    const int fd = open_node(0, O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    hiddev_event event;
    errno = 0;
    EXPECT_EQ(-1, ::read(fd, &event, sizeof event));
    EXPECT_EQ(EAGAIN, errno);
}

TEST_F(Descriptors, PollAnswersLikeTheDriver)
{
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    const int fd = open_node(0);
    ASSERT_GE(fd, 0);
    pollfd request{fd, POLLIN | POLLOUT, 0};
    EXPECT_EQ(0, ::poll(&request, 1, 0));
    ASSERT_EQ(1, trovsim_press_key(0, 0x1C, 0));
    EXPECT_EQ(1, ::poll(&request, 1, 0));
    EXPECT_EQ(POLLIN | POLLOUT, request.revents) << "with records queued the driver says readable and writable";
}

TEST_F(Descriptors, OtherDescriptorsAreUntouched)
{
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    const int node = open_node(0);
    ASSERT_GE(node, 0);
    int pipe_ends[2];
    ASSERT_EQ(0, ::pipe(pipe_ends));
    // A pipe keeps its writability and its data, also when polled together with a node.
    pollfd requests[2] = {{node, POLLIN, 0}, {pipe_ends[1], POLLOUT, 0}};
    EXPECT_EQ(1, ::poll(requests, 2, 0));
    EXPECT_EQ(0, requests[0].revents);
    EXPECT_EQ(POLLOUT, requests[1].revents);
    ASSERT_EQ(3, ::write(pipe_ends[1], "abc", 3));
    char buf[8];
    EXPECT_EQ(3, ::read(pipe_ends[0], buf, sizeof buf));  // no record rounding
    int queued = -1;
    EXPECT_EQ(0, ::ioctl(pipe_ends[0], FIONREAD, &queued));
    EXPECT_EQ(0, queued);
    EXPECT_EQ(0, ::close(pipe_ends[0]));
    EXPECT_EQ(0, ::close(pipe_ends[1]));
    const int devnull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devnull, 0);
    EXPECT_EQ(0, ::read(devnull, buf, sizeof buf));
    EXPECT_EQ(0, ::close(devnull));
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_READ));
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_CLOSE));
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_OTHER_IOCTL));
}

TEST_F(Descriptors, ApiRefusesBadArguments)
{
    EXPECT_EQ(-1, trovsim_set_kind(-1, TROVSIM_KEYBOARD));
    EXPECT_EQ(-1, trovsim_set_kind(TROVSIM_NODES, TROVSIM_KEYBOARD));
    EXPECT_EQ(-1, trovsim_set_kind(0, 3));
    EXPECT_EQ(-1, trovsim_set_keylock(0, 10));
    EXPECT_EQ(-1, trovsim_set_tco(0, 256, "1"));
    EXPECT_EQ(-1, trovsim_count(0, TROVSIM_REQ_COUNT));
    EXPECT_EQ(-1, trovsim_send_raw(0, nullptr, 1));
    EXPECT_EQ(-1, trovsim_replug(0, -1));
    EXPECT_EQ(-1, trovsim_unplug(0));  // nothing there to unplug
    EXPECT_EQ(-1, trovsim_press_key(0, 0x1C, 0));  // no keyboard behind the node
}
