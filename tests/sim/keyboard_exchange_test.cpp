// SPDX-License-Identifier: Apache-2.0
// Command bytes sent through output reports, the keyboard's answers and its input, as event records.
#include <thread>

#include "sim_fixture.h"

namespace {

class KeyboardExchange : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
        fd_ = open_node(0);
        ASSERT_GE(fd_, 0);
    }

    int fd_ = -1;
};

}  // namespace

TEST_F(KeyboardExchange, BytesAreRecordedInOrderAsTheKernelEncodesThem)
{
    send_bytes(fd_, {0x12, -127, 0x7F, -1, 0});
    EXPECT_EQ((std::vector<unsigned char>{0x12, 0x81, 0x7F, 0xFF, 0x00}), received(0));
    EXPECT_EQ(5, trovsim_count(0, TROVSIM_REQ_SUSAGE));
    EXPECT_EQ(5, trovsim_count(0, TROVSIM_REQ_SREPORT));
    // The field is signed: a byte given as an unsigned value past 127 is clamped, not wrapped.
    ASSERT_EQ(0, trovsim_clear_received(0));
    send_bytes(fd_, {0x81, 300, -300});
    EXPECT_EQ((std::vector<unsigned char>{0x7F, 0x7F, 0x80}), received(0));
    // Output reports make no input.
    EXPECT_TRUE(nothing_queued(fd_));
}

TEST_F(KeyboardExchange, ReportIsResentWithTheStoredValue)
{
    hiddev_report_info info{HID_REPORT_TYPE_OUTPUT, 4, 0};
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSREPORT, &info));  // nothing stored yet: zero
    ASSERT_EQ(0, send_byte(fd_, 0x55));
    EXPECT_EQ(0, ::ioctl(fd_, HIDIOCSREPORT, &info));
    EXPECT_EQ((std::vector<unsigned char>{0x00, 0x55, 0x55}), received(0));
}

TEST_F(KeyboardExchange, ReceivedReportsTotalBeyondTheBuffer)
{
    send_bytes(fd_, {1, 2, 3});
    unsigned char first[2] = {0, 0};
    EXPECT_EQ(3, trovsim_received(0, first, 2));
    EXPECT_EQ(1, first[0]);
    EXPECT_EQ(2, first[1]);
    EXPECT_EQ(3, trovsim_received(0, nullptr, 0));
}

TEST_F(KeyboardExchange, KeylockRequestIsAnsweredAsInputRecords)
{
    ASSERT_EQ(0, trovsim_set_keylock(0, 2));
    send_bytes(fd_, {0xEF - 0x100, 0x07});
    const auto events = read_events(fd_, 4);
    EXPECT_EQ((std::vector<int>{0x84 - 0x100, '2', 0x94 - 0x100, 0}), values_of(events));
    EXPECT_TRUE(nothing_queued(fd_));
}

TEST_F(KeyboardExchange, TcoQueryIsAnsweredWithTableDigits)
{
    ASSERT_EQ(0, trovsim_set_tco(0, 5, "98765"));
    send_bytes(fd_, {0xEF - 0x100, 0x50, 0xEF - 0x100, 0x49, 0x31, 5});
    std::vector<int> values = values_of(read_events(fd_, 8));
    for (int &value : values) {
        value &= 0xFF;
    }
    EXPECT_EQ((std::vector<int>{0x86, '9', '8', '7', '6', '5', 0x96, 0}), values);
    send_bytes(fd_, {0xEF - 0x100, 0x50, 0xEF - 0x100, 0x49, 0x31, 6});
    values = values_of(read_events(fd_, 4));
    EXPECT_EQ((std::vector<int>{0x86 - 0x100, 0x96 - 0x100, 0, 0}), values);
}

TEST_F(KeyboardExchange, SilentKeyboardRecordsButAnswersNothing)
{
    ASSERT_EQ(0, trovsim_set_silent(0, 1));
    send_bytes(fd_, {0xEF - 0x100, 0x07});
    EXPECT_EQ((std::vector<unsigned char>{0xEF, 0x07}), received(0));
    EXPECT_TRUE(nothing_queued(fd_));
}

TEST_F(KeyboardExchange, AnswersGoToEveryOpenDescriptor)
{
    const int second = open_node(0);
    ASSERT_GE(second, 0);
    send_bytes(fd_, {0xEF - 0x100, 0x07});
    EXPECT_EQ(4u, read_events(fd_, 4).size());
    EXPECT_EQ(4u, read_events(second, 4).size());
}

TEST_F(KeyboardExchange, WaitReceivedWakesWhenBytesArrive)
{
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        send_bytes(fd_, {1, 2});
    });
    EXPECT_EQ(2, trovsim_wait_received(0, 2, 5000));
    sender.join();
    EXPECT_EQ(2, trovsim_wait_received(0, 3, 10));  // times out with what there is
}

TEST_F(KeyboardExchange, KeyInputIsZeroPaddedReports)
{
    EXPECT_EQ(1, trovsim_press_key(0, 0x1C, 0));
    EXPECT_EQ(3, trovsim_release_key(0, 0x75, 1));
    EXPECT_EQ(2, trovsim_press_key(0, 0x75, 1));
    const auto events = read_events(fd_, 12);
    EXPECT_EQ((std::vector<int>{0x1C, 0, 0, 0, -2, -32, 0x75, 0, -32, 0x75, 0, 0}), values_of(events));
}

TEST_F(KeyboardExchange, IdenticalReportsRepeatTheirEvents)
{
    const unsigned char bytes[4] = {0x31, 0x32, 0x33, 0x34};
    ASSERT_EQ(4, trovsim_send_raw(0, bytes, 4));
    ASSERT_EQ(4, trovsim_send_raw(0, bytes, 4));
    EXPECT_EQ((std::vector<int>{0x31, 0x32, 0x33, 0x34, 0x31, 0x32, 0x33, 0x34}),
              values_of(read_events(fd_, 8)));
}

TEST_F(KeyboardExchange, SwipeAndKeylockFraming)
{
    const unsigned char track1[] = {'B', '1'};
    const unsigned char track2[] = {'2'};
    EXPECT_EQ(9, trovsim_swipe(0, track1, 2, track2, 1, nullptr, 0));
    EXPECT_EQ(3, trovsim_turn_keylock(0, 6));
    std::vector<int> values = values_of(read_events(fd_, 16));
    for (int &value : values) {
        value &= 0xFF;
    }
    EXPECT_EQ((std::vector<int>{0x81, 'B', '1', 0x91, 0x82, '2', 0x92, 0x83, 0x93, 0, 0, 0, 0x84, '6', 0x94, 0}),
              values);
    // Turning the keylock also sets the position the keyboard answers with.
    send_bytes(fd_, {0xEF - 0x100, 0x07});
    EXPECT_EQ('6', values_of(read_events(fd_, 4)).at(1));
}

TEST_F(KeyboardExchange, InputWhileNobodyHasTheNodeOpenIsLost)
{
    ASSERT_EQ(0, close_fd(fd_));
    EXPECT_EQ(0, trovsim_press_key(0, 0x1C, 0));
    const int fd = open_node(0);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(nothing_queued(fd));
    EXPECT_EQ(1, trovsim_press_key(0, 0x1D, 0));
    EXPECT_EQ(0x1D, values_of(read_events(fd, 4)).at(0));
}

TEST_F(KeyboardExchange, OtherDeviceTakesNoKeyboardInput)
{
    ASSERT_EQ(0, trovsim_set_kind(1, TROVSIM_OTHER));
    EXPECT_EQ(-1, trovsim_press_key(1, 0x1C, 0));
    EXPECT_EQ(-1, trovsim_turn_keylock(1, 1));
}
