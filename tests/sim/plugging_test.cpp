// SPDX-License-Identifier: Apache-2.0
// Unplugging, replugging and resetting: what old descriptors and the node path do afterwards.
#include <chrono>
#include <future>
#include <thread>

#include "sim_fixture.h"
#include "tests/common/keyboard_node_facts.h"

namespace {

using Clock = std::chrono::steady_clock;

class Plugging : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_EQ(0, trovsim_set_kind(5, TROVSIM_KEYBOARD));
        fd_ = open_node(5);
        ASSERT_GE(fd_, 0);
    }

    // Result and errno of one read of up to count records.
    static std::pair<ssize_t, int> read_once(int fd, std::size_t count)
    {
        std::vector<hiddev_event> events(count);
        errno = 0;
        const ssize_t got = ::read(fd, events.data(), count * sizeof(hiddev_event));
        return {got, errno};
    }

    int fd_ = -1;
};

}  // namespace

TEST_F(Plugging, BlockedReadFailsWithEioOnUnplug)
{
    auto reader = std::async(std::launch::async, [this] { return read_once(fd_, 4); });
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(std::chrono::milliseconds(30)));
    ASSERT_EQ(0, trovsim_unplug(5));
    ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(5)));
    const auto [got, error] = reader.get();
    EXPECT_EQ(-1, got);
    EXPECT_EQ(EIO, error);
}

TEST_F(Plugging, QueuedEventsAreReadBeforeEio)
{
    ASSERT_EQ(1, trovsim_press_key(5, 0x1C, 0));
    ASSERT_EQ(0, trovsim_unplug(5));
    pollfd request{fd_, POLLIN, 0};
    EXPECT_EQ(1, ::poll(&request, 1, 0));
    EXPECT_EQ(POLLIN, request.revents);
    const auto [got, error] = read_once(fd_, 8);
    EXPECT_EQ(static_cast<ssize_t>(4 * sizeof(hiddev_event)), got);
    const auto [again, again_error] = read_once(fd_, 8);
    EXPECT_EQ(-1, again);
    EXPECT_EQ(EIO, again_error);
}

TEST_F(Plugging, DeadDescriptorRefusesEveryRequestWithEnodev)
{
    ASSERT_EQ(0, trovsim_unplug(5));
    keyboard_node::expect_dead_descriptor(fd_);
    EXPECT_TRUE(received(5).empty());
    EXPECT_EQ(1, trovsim_count(5, TROVSIM_REQ_GDEVINFO));  // refused requests still count
    EXPECT_EQ(1, trovsim_count(5, TROVSIM_REQ_SUSAGE));
}

TEST_F(Plugging, PollReportsErrorAndHangUpOnDeadDescriptor)
{
    ASSERT_EQ(0, trovsim_unplug(5));
    pollfd request{fd_, POLLIN, 0};
    EXPECT_EQ(1, ::poll(&request, 1, 1000));
    EXPECT_EQ(POLLERR | POLLHUP, request.revents);
    // Reported also to a caller that asked for nothing.
    request.events = 0;
    EXPECT_EQ(1, ::poll(&request, 1, 0));
    EXPECT_EQ(POLLERR | POLLHUP, request.revents);
}

TEST_F(Plugging, PollBlockedOnNodeWakesOnUnplug)
{
    auto poller = std::async(std::launch::async, [this] {
        pollfd request{fd_, POLLIN, 0};
        const int rc = ::poll(&request, 1, 5000);
        return std::make_pair(rc, request.revents);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(0, trovsim_unplug(5));
    const auto [rc, revents] = poller.get();
    EXPECT_EQ(1, rc);
    EXPECT_EQ(POLLERR | POLLHUP, revents);
}

TEST_F(Plugging, NodeIsGoneUntilReplugDelayPassed)
{
    ASSERT_EQ(0, trovsim_unplug(5));
    EXPECT_EQ(-1, open_node(5));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_EQ(0, trovsim_press_key(5, 0x1C, 0));  // lost: no descriptor alive
    const auto start = Clock::now();
    ASSERT_EQ(0, trovsim_replug(5, 80));
    EXPECT_EQ(-1, open_node(5));
    EXPECT_EQ(ENOENT, errno);
    int fd = -1;
    while (fd < 0 && Clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = open_node(5);
    }
    ASSERT_GE(fd, 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(80));
    // The old descriptor stays dead; the new one works.
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGVERSION, &fd));
    EXPECT_EQ(ENODEV, errno);
    EXPECT_EQ(-393051, ::ioctl(fd, HIDIOCAPPLICATION, 0));
}

TEST_F(Plugging, ReplugOfPluggedDeviceKillsItsDescriptors)
{
    ASSERT_EQ(0, trovsim_replug(5, 0));
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(ENODEV, errno);
    const int fd = open_node(5);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(2, trovsim_open_handles(5));  // the dead one is open until closed
    EXPECT_EQ(0, close_fd(fd_));
    EXPECT_EQ(1, trovsim_open_handles(5));
}

TEST_F(Plugging, ResetKillsDescriptorsAndClearsState)
{
    send_bytes(fd_, {1});
    ASSERT_EQ(0, trovsim_set_faults(5, TROVSIM_FAULT_OPEN_REFUSED));
    trovsim_reset();
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(ENODEV, errno);
    const auto [got, error] = read_once(fd_, 1);
    EXPECT_EQ(-1, got);
    EXPECT_EQ(EIO, error);
    EXPECT_TRUE(received(5).empty());
    EXPECT_EQ(0, trovsim_open_handles(5));
    EXPECT_EQ(-1, open_node(5));  // absent again
    EXPECT_EQ(ENOENT, errno);
    ASSERT_EQ(0, trovsim_set_kind(5, TROVSIM_KEYBOARD));
    EXPECT_GE(open_node(5), 0);   // and its fault is gone
    // Requests and closes on descriptors from before the reset count nowhere.
    EXPECT_EQ(0, close_fd(fd_));
    EXPECT_EQ(0, trovsim_count(5, TROVSIM_REQ_CLOSE));
    EXPECT_EQ(0, trovsim_count(5, TROVSIM_REQ_APPLICATION));
    EXPECT_EQ(2, trovsim_count(5, TROVSIM_REQ_OPEN));  // the refused one and the good one
}

TEST_F(Plugging, NewDeviceKindKillsOldDescriptors)
{
    ASSERT_EQ(0, trovsim_set_kind(5, TROVSIM_OTHER));
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCAPPLICATION, 0));
    EXPECT_EQ(ENODEV, errno);
    const int fd = open_node(5);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0x00010006, ::ioctl(fd, HIDIOCAPPLICATION, 0));
}
