// SPDX-License-Identifier: Apache-2.0
// What the real Linux hiddev driver answers for the keyboard, request by request: the facts the library
// relies on and the simulator (sim/) models. Runs only inside the real-driver tier's VM, against the
// kernel's node for trovkbd-firmware's gadget (HIL_FW_CONTROL / HIL_FW_LOG name the firmware's control
// FIFO and log). The simulator's own tests (tests/sim) assert the same facts of the simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hiddev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/hiddev_requests.h"
#include "tests/common/keyboard_node_facts.h"

namespace {

using namespace std::chrono_literals;

using keyboard_node::FIRST_INPUT_USAGE;
using keyboard_node::OUTPUT_USAGE;

constexpr char NODE[] = "/dev/usb/hid/hiddev0";

// The firmware at the other end of the cable.
class Firmware {
public:
    static Firmware &instance()
    {
        static Firmware firmware;
        return firmware;
    }

    // Runs one script line; true once the firmware logged it done.
    bool run(const std::string &line)
    {
        const int number = ++sent_;
        {
            std::ofstream control(std::getenv("HIL_FW_CONTROL"));
            control << line << '\n';
        }
        const std::string done = "ok " + std::to_string(number) + " ";
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < end) {
            for (const std::string &entry : lines()) {
                if (entry.rfind(done, 0) == 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Command bytes received so far, in order.
    std::vector<unsigned char> received() const
    {
        std::vector<unsigned char> bytes;
        for (const std::string &entry : lines()) {
            if (entry.rfind("rx ", 0) == 0) {
                bytes.push_back(static_cast<unsigned char>(std::stoul(entry.substr(3), nullptr, 16)));
            }
        }
        return bytes;
    }

    std::vector<unsigned char> received_since(std::size_t mark, std::size_t count) const
    {
        const auto end = std::chrono::steady_clock::now() + 5s;
        std::vector<unsigned char> all = received();
        while (all.size() < mark + count && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
            all = received();
        }
        return std::vector<unsigned char>(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
    }

private:
    Firmware()
    {
        // Script lines of earlier runs in this boot count too.
        for (const std::string &entry : lines()) {
            if (entry.rfind("ok ", 0) == 0 || entry.rfind("err ", 0) == 0) {
                const int number = std::atoi(entry.c_str() + (entry[0] == 'o' ? 3 : 4));
                sent_ = std::max(sent_, number);
            }
        }
    }

    std::vector<std::string> lines() const
    {
        std::vector<std::string> all;
        std::ifstream log(std::getenv("HIL_FW_LOG"));
        for (std::string line; std::getline(log, line);) {
            all.push_back(line);
        }
        return all;
    }

    int sent_ = 0;
};

std::vector<hiddev_event> read_events(int fd, std::size_t count, std::chrono::milliseconds limit = 3000ms)
{
    std::vector<hiddev_event> events;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (events.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd request{fd, POLLIN, 0};
        if (::poll(&request, 1, 50) <= 0) {
            continue;
        }
        hiddev_event chunk[64];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        events.insert(events.end(), chunk, chunk + got / static_cast<ssize_t>(sizeof chunk[0]));
    }
    return events;
}

bool nothing_queued(int fd, int wait_ms = 200)
{
    pollfd request{fd, POLLIN, 0};
    return ::poll(&request, 1, wait_ms) == 0;
}

class DriverFacts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fw().run("reset"));
        fd_ = ::open(NODE, O_RDWR);
        ASSERT_GE(fd_, 0) << NODE << ": " << std::strerror(errno);
        // Input reports that come within 50 ms of the first open are dropped by usbhid.
        std::this_thread::sleep_for(150ms);
    }

    void TearDown() override
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    static Firmware &fw() { return Firmware::instance(); }

    // Pulls the cable and plugs it in again once `while_unplugged` has run.
    template <typename Body>
    void unplugged(Body while_unplugged)
    {
        ASSERT_TRUE(fw().run("unplug"));
        while_unplugged();
        ASSERT_TRUE(fw().run("replug"));
    }

    int fd_ = -1;
};

}  // namespace

TEST_F(DriverFacts, ApplicationDeviceInfoAndStrings)
{
    keyboard_node::expect_vendor_application(fd_);

    int version = 0;
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCGVERSION, &version));
    EXPECT_EQ(HID_VERSION, version);
    hiddev_devinfo info{};
    ASSERT_EQ(0, ::ioctl(fd_, HIDIOCGDEVINFO, &info));
    EXPECT_EQ(3u, info.bustype);
    EXPECT_EQ(0u, info.ifnum);
    EXPECT_EQ(0x1d6b, static_cast<unsigned short>(info.vendor));
    EXPECT_EQ(0x0104, static_cast<unsigned short>(info.product));
    EXPECT_EQ(1u, info.num_applications);

    hiddev_string_descriptor name{};
    name.index = 1;
    EXPECT_EQ(4, ::ioctl(fd_, HIDIOCGSTRING, &name)) << "index 1 is the manufacturer";
    EXPECT_STREQ("Trov", name.value);
    // Every string descriptor of the device can be read by its index; an index without one is refused.
    name.index = 2;
    EXPECT_EQ(31, ::ioctl(fd_, HIDIOCGSTRING, &name)) << "index 2 is the product";
    EXPECT_STREQ("POS keyboard (trovkbd-firmware)", name.value);
    name.index = 9;
    errno = 0;
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGSTRING, &name));
    EXPECT_EQ(EINVAL, errno);
}

TEST_F(DriverFacts, ReportWalkFieldsAndUsageCodes)
{
    keyboard_node::expect_report_walk(fd_);
    keyboard_node::expect_field_info(fd_);
    keyboard_node::expect_usage_codes(fd_);
}

TEST_F(DriverFacts, ReportRequests)
{
    hiddev_report_info info{HID_REPORT_TYPE_INPUT, 4, 0};
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCGREPORT, &info));
    EXPECT_TRUE(nothing_queued(fd_, 500)) << "a fetched report makes no events";
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCINITREPORT, 0));
    EXPECT_TRUE(nothing_queued(fd_, 500)) << "nor does the initial fetch";
    keyboard_node::expect_report_direction_refusals(fd_);
}

TEST_F(DriverFacts, OutputValuesAsTheKeyboardReceivesThem)
{
    keyboard_node::expect_set_usage_refusals(fd_);

    std::size_t mark = fw().received().size();
    for (const int value : {0x12, -127, 0x7F, -1, 0}) {
        ASSERT_EQ(0, send_byte(fd_, value)) << value;
    }
    EXPECT_EQ((std::vector<unsigned char>{0x12, 0x81, 0x7F, 0xFF, 0x00}), fw().received_since(mark, 5));
    mark = fw().received().size();
    for (const int value : {0x81, 300, -300}) {
        ASSERT_EQ(0, send_byte(fd_, value)) << value;
    }
    EXPECT_EQ((std::vector<unsigned char>{0x7F, 0x7F, 0x80}), fw().received_since(mark, 3))
        << "a value outside the signed field is clamped, not wrapped";

    // The report is sent again with the value stored last; an unknown report id finds the usage by code.
    mark = fw().received().size();
    hiddev_report_info info{HID_REPORT_TYPE_OUTPUT, 4, 0};
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSREPORT, &info));
    hiddev_usage_ref ref{};
    ref.report_type = HID_REPORT_TYPE_OUTPUT;
    ref.report_id = HID_REPORT_ID_UNKNOWN;
    ref.usage_code = OUTPUT_USAGE;
    ref.value = 0x42;
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSUSAGE, &ref));
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSREPORT, &info));
    EXPECT_EQ((std::vector<unsigned char>{0x80, 0x42}), fw().received_since(mark, 2));
    EXPECT_TRUE(nothing_queued(fd_)) << "output reports make no input";
}

TEST_F(DriverFacts, InputReportsBecomeFourSignedEventsEach)
{
    ASSERT_TRUE(fw().run("keylock 2"));
    ASSERT_EQ(0, send_byte(fd_, 0xEF - 0x100));
    ASSERT_EQ(0, send_byte(fd_, 0x07));
    const std::vector<hiddev_event> events = read_events(fd_, 4);
    ASSERT_EQ(4u, events.size());
    const int values[] = {-124, '2', -108, 0};
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ(FIRST_INPUT_USAGE + i, events[i].hid);
        EXPECT_EQ(values[i], events[i].value) << i;
    }
    ASSERT_TRUE(fw().run("raw 31 32 31 32 31 32 31 32"));
    const std::vector<hiddev_event> twice = read_events(fd_, 8);
    ASSERT_EQ(8u, twice.size()) << "an identical report repeats its events";
    EXPECT_EQ(0x32, twice[5].value);
    EXPECT_TRUE(nothing_queued(fd_));
}

TEST_F(DriverFacts, ReadAndPollOfTheNode)
{
    pollfd request{fd_, POLLIN | POLLOUT, 0};
    EXPECT_EQ(0, ::poll(&request, 1, 0)) << "nothing queued: not readable, and never writable";
    ASSERT_TRUE(fw().run("raw 31 32"));
    request.revents = 0;
    EXPECT_EQ(1, ::poll(&request, 1, 2000));
    EXPECT_EQ(POLLIN | POLLOUT, request.revents) << "with records queued the node is also writable";
    request.events = POLLIN | POLLRDNORM;
    EXPECT_EQ(1, ::poll(&request, 1, 0));
    EXPECT_EQ(POLLIN | POLLRDNORM, request.revents);

    char small[7];
    EXPECT_EQ(0, ::read(fd_, small, sizeof small)) << "smaller than one record: nothing, nothing consumed";
    hiddev_event events[4];
    EXPECT_EQ(static_cast<ssize_t>(sizeof(hiddev_event)), ::read(fd_, events, sizeof(hiddev_event) + 5));
    EXPECT_EQ(0x31, events[0].value);
    EXPECT_EQ(static_cast<ssize_t>(3 * sizeof(hiddev_event)), ::read(fd_, events, sizeof events));
    EXPECT_EQ(0x32, events[0].value);

    const int nonblocking = ::open(NODE, O_RDONLY | O_NONBLOCK);
    ASSERT_GE(nonblocking, 0);
    errno = 0;
    EXPECT_EQ(-1, ::read(nonblocking, events, sizeof events));
    EXPECT_EQ(EAGAIN, errno);
    // Input goes to every descriptor open on the node.
    ASSERT_TRUE(fw().run("raw 41"));
    EXPECT_EQ(4u, read_events(fd_, 4).size());
    EXPECT_EQ(4u, read_events(nonblocking, 4).size());
    ::close(nonblocking);
}

TEST_F(DriverFacts, InputWhileNobodyHasTheNodeOpenIsLost)
{
    ::close(fd_);
    fd_ = -1;
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(fw().run("raw 51 52 53 54"));
    fd_ = ::open(NODE, O_RDWR);
    ASSERT_GE(fd_, 0);
    EXPECT_TRUE(nothing_queued(fd_, 1000));
    // And input after the open arrives, behind nothing stale.
    std::this_thread::sleep_for(150ms);
    ASSERT_TRUE(fw().run("raw 61"));
    const std::vector<hiddev_event> events = read_events(fd_, 4);
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ(0x61, events[0].value);
}

TEST_F(DriverFacts, UnplugWakesABlockedReadWithEio)
{
    auto reader = std::async(std::launch::async, [this] {
        hiddev_event event;
        errno = 0;
        const ssize_t got = ::read(fd_, &event, sizeof event);
        return std::make_pair(got, errno);
    });
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(300ms));
    unplugged([&] {
        ASSERT_EQ(std::future_status::ready, reader.wait_for(5s));
        const auto [got, error] = reader.get();
        EXPECT_EQ(-1, got);
        EXPECT_EQ(EIO, error);
    });
}

TEST_F(DriverFacts, UnplugWakesABlockedPoll)
{
    auto poller = std::async(std::launch::async, [this] {
        pollfd request{fd_, POLLIN, 0};
        const int rc = ::poll(&request, 1, 8000);
        return std::make_pair(rc, request.revents);
    });
    std::this_thread::sleep_for(300ms);
    unplugged([&] {
        const auto [rc, revents] = poller.get();
        EXPECT_EQ(1, rc);
        EXPECT_EQ(POLLERR | POLLHUP, revents);
    });
}

TEST_F(DriverFacts, QueuedEventsAreReadBeforeEio)
{
    ASSERT_TRUE(fw().run("raw 1c"));
    std::this_thread::sleep_for(300ms);
    unplugged([&] {
        pollfd request{fd_, POLLIN, 0};
        EXPECT_EQ(1, ::poll(&request, 1, 0));
        EXPECT_EQ(POLLIN, request.revents) << "records still queued hide the hang-up";
        request.events = POLLIN | POLLOUT;
        EXPECT_EQ(1, ::poll(&request, 1, 0));
        EXPECT_EQ(POLLIN | POLLOUT, request.revents);
        hiddev_event events[8];
        EXPECT_EQ(static_cast<ssize_t>(4 * sizeof(hiddev_event)), ::read(fd_, events, sizeof events));
        errno = 0;
        EXPECT_EQ(-1, ::read(fd_, events, sizeof events));
        EXPECT_EQ(EIO, errno);
    });
}

TEST_F(DriverFacts, AnUnpluggedNodeIsGoneAndItsDescriptorsDeadForGood)
{
    unplugged([&] {
        keyboard_node::expect_dead_descriptor(fd_);
        pollfd request{fd_, POLLIN, 0};
        EXPECT_EQ(1, ::poll(&request, 1, 0));
        EXPECT_EQ(POLLERR | POLLHUP, request.revents);
        request.events = POLLIN | POLLOUT;
        EXPECT_EQ(1, ::poll(&request, 1, 0));
        EXPECT_EQ(POLLERR | POLLHUP, request.revents) << "a dead node is not writable";
        request.events = 0;
        EXPECT_EQ(1, ::poll(&request, 1, 0));
        EXPECT_EQ(POLLERR | POLLHUP, request.revents) << "also to a caller that asked for nothing";
        errno = 0;
        EXPECT_EQ(-1, ::open(NODE, O_RDWR));
        EXPECT_EQ(ENOENT, errno);
    });
    int version = 0;
    errno = 0;
    EXPECT_EQ(-1, ::ioctl(fd_, HIDIOCGVERSION, &version)) << "the old descriptor stays dead after the replug";
    EXPECT_EQ(ENODEV, errno);
    const int fresh = ::open(NODE, O_RDWR);
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(-393051, ::ioctl(fresh, HIDIOCAPPLICATION, 0));
    ::close(fresh);
}

// The keyboard's USB identity as the Java side reads it for the physical device name: the descriptor's
// link in /proc/self/fd names the kernel's node (udev's and the firmware's /dev/usb/hid/hiddevN link
// resolves to it), /sys/class/usbmisc/<node>/device is the USB interface, and the interface's parent
// directory is the USB device with its id and string files.
TEST_F(DriverFacts, SysfsShowsTheUsbIdentityBehindTheOpenNode)
{
    char target[PATH_MAX] = {};
    const std::string fd_link = "/proc/self/fd/" + std::to_string(fd_);
    ASSERT_GT(::readlink(fd_link.c_str(), target, sizeof target - 1), 0);
    const std::string path = target;
    const std::string node = path.substr(path.rfind('/') + 1);
    EXPECT_EQ(0u, node.rfind("hiddev", 0)) << path;

    char interface[PATH_MAX] = {};
    ASSERT_NE(nullptr, ::realpath(("/sys/class/usbmisc/" + node + "/device").c_str(), interface)) << node;
    const std::string interface_dir = interface;
    const std::string device = interface_dir.substr(0, interface_dir.rfind('/'));
    const auto line_of = [&device](const char *file) {
        std::ifstream in(device + "/" + file);
        std::string line;
        std::getline(in, line);
        return line;
    };
    EXPECT_EQ("1d6b", line_of("idVendor"));
    EXPECT_EQ("0104", line_of("idProduct"));
    EXPECT_EQ("0100", line_of("bcdDevice"));
    EXPECT_EQ("Trov", line_of("manufacturer"));
    EXPECT_EQ("POS keyboard (trovkbd-firmware)", line_of("product"));
    EXPECT_EQ("HIL0001", line_of("serial"));
}
