// SPDX-License-Identifier: Apache-2.0
// Sending, reading and presence on an open keyboard, and what the channel reports without one.
#include <chrono>
#include <thread>

#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "sim_fixture.h"

namespace {

class DeviceIo : public SimTest {
protected:
    HidFunctions channel;

    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
        ASSERT_TRUE(channel.bFindAndOpenDevice());
    }
    void TearDown() override
    {
        channel.iCloseDevice();
        SimTest::TearDown();
    }

    std::vector<unsigned char> readAll()
    {
        unsigned char out[2 * TROV_READ_MAX_BYTES];
        const int n = channel.Read(out);
        return std::vector<unsigned char>(out, out + (n > 0 ? n : 0));
    }
};

TEST_F(DeviceIo, WriteSendsEveryByteInItsOwnReport)
{
    const signed char command[] = {static_cast<signed char>(0xEF), 0x00, static_cast<signed char>(0x81)};
    ASSERT_TRUE(channel.bWrite(command, 3));
    EXPECT_EQ(bytes({0xEF, 0x00, 0x81}), received(0)) << "a zero byte after the first is sent too";
    EXPECT_EQ(3, trovsim_count(0, TROVSIM_REQ_SUSAGE));
    EXPECT_EQ(3, trovsim_count(0, TROVSIM_REQ_SREPORT));
    EXPECT_EQ(-127, channel.UsageRef.value) << "bytes travel as signed values";
}

TEST_F(DeviceIo, WriteRefusesAZeroFirstByteAndSendsNothingForCountZero)
{
    const signed char zeroFirst[] = {0x00, 0x41};
    EXPECT_FALSE(channel.bWrite(zeroFirst, 2));
    const signed char any[] = {0x41};
    EXPECT_TRUE(channel.bWrite(any, 0));
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_SUSAGE));
    EXPECT_TRUE(received(0).empty());
}

TEST_F(DeviceIo, WriteWithoutDeviceFailsWithoutRequests)
{
    channel.iCloseDevice();
    EXPECT_FALSE(channel.bWrite(ReadKelockPosition, 2));
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_SUSAGE));
}

TEST_F(DeviceIo, CommandsFromTwoThreadsNeverInterleave)
{
    signed char first[40];
    signed char second[40];
    std::fill(std::begin(first), std::end(first), 'A');
    std::fill(std::begin(second), std::end(second), 'B');
    std::thread a([&] { channel.bWrite(first, 40); });
    std::thread b([&] { channel.bWrite(second, 40); });
    a.join();
    b.join();

    const auto got = received(0);
    ASSERT_EQ(80u, got.size());
    int changes = 0;
    for (size_t i = 1; i < got.size(); ++i) {
        changes += got[i] != got[i - 1];
    }
    EXPECT_EQ(1, changes) << "the two commands reached the device interleaved";
}

TEST_F(DeviceIo, ReadKeepsTheVendorBytesOfEachReportZerosIncluded)
{
    const unsigned char input[] = {0x41, 0x00, 0x42, 0x43, 0x44};
    ASSERT_EQ(5, trovsim_send_raw(0, input, 5));
    // Two reports of four usages each; the second is zero padded.
    EXPECT_EQ(bytes({0x41, 0x00, 0x42, 0x43, 0x44, 0x00, 0x00, 0x00}), readAll());
}

TEST_F(DeviceIo, KeylockRequestIsAnsweredWithAKeylockFrame)
{
    trovsim_set_keylock(0, 3);
    ASSERT_TRUE(channel.bWrite(ReadKelockPosition, 2));
    ASSERT_TRUE(channel.bWaitForInput(2000));
    EXPECT_EQ(bytes({0x84, 0x33, 0x94, 0x00}), readAll());
}

TEST_F(DeviceIo, WaitForInputIsBoundedOnASilentDevice)
{
    EXPECT_FALSE(channel.bWaitForInput(20));
    const unsigned char key = 0x1C;
    trovsim_send_raw(0, &key, 1);
    EXPECT_TRUE(channel.bWaitForInput(2000));
}

TEST_F(DeviceIo, UnplugMakesReadPresenceAndWriteFail)
{
    ASSERT_TRUE(channel.bGetDeviceInfo());

    // A reader blocked in Read returns with an error when the keyboard goes away.
    int result = 1;
    std::thread reader([&] {
        unsigned char out[2 * TROV_READ_MAX_BYTES];
        result = channel.Read(out);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    trovsim_unplug(0);
    reader.join();
    EXPECT_LT(result, 0);
    EXPECT_FALSE(channel.bGetDeviceInfo());
    EXPECT_FALSE(channel.bWrite(ReadKelockPosition, 2));
    EXPECT_EQ(0, channel.iCloseDevice()) << "the lost descriptor is still closed successfully";
    EXPECT_FALSE(channel.bFindAndOpenDevice()) << "the node is gone";
}

TEST_F(DeviceIo, ReplugAllowsAFreshOpen)
{
    trovsim_unplug(0);
    channel.iCloseDevice();
    trovsim_replug(0, 0);
    EXPECT_TRUE(channel.bFindAndOpenDevice());
}

TEST_F(DeviceIo, DeviceInformationAndName)
{
    trovsim_set_identity(0, 0x1234, 0xABCD, 0x0102, "POS Keyboard 42");
    HidFunctions fresh;
    // Before a successful presence test the accessors show the initial values.
    EXPECT_EQ(0u, fresh.uiBusType());
    EXPECT_EQ(0u, fresh.uiNumApplications());
    EXPECT_EQ(-1, fresh.sVendorId());
    EXPECT_EQ(-1, fresh.sProductId());
    EXPECT_EQ(-1, fresh.sDeviceVersion());
    EXPECT_STREQ("Unknown", fresh.pcGetDeviceName());

    ASSERT_TRUE(channel.bGetDeviceInfo());
    EXPECT_EQ(0x1234, static_cast<unsigned short>(channel.sVendorId()));
    EXPECT_EQ(static_cast<short>(0xABCD), channel.sProductId()) << "the product id is a signed 16-bit value";
    EXPECT_EQ(1u, channel.uiNumApplications());
    const char *name = channel.pcGetDeviceName();
    EXPECT_STREQ("POS Keyboard 42", name);
    trovsim_set_identity(0, 1, 2, 3, "Other");
    EXPECT_STREQ("POS Keyboard 42", name) << "the text returned stays valid until the next call";
    EXPECT_GT(channel.bGetDriverVersion(), 0);
    EXPECT_EQ(static_cast<int>(TROV_APPLICATION_USAGE), channel.iApplicationOfIndex(0));
    EXPECT_EQ(-1, channel.iApplicationOfIndex(1));
}

}  // namespace
