// SPDX-License-Identifier: Apache-2.0
// The POS keyboard, MSR and tone indicator entry points: their gates, the bytes they put on the wire,
// the TCO query with its message-queue hand-off, and the poller they start.
#include <climits>
#include <cstring>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <thread>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovMSRService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "com_trov_jpos_TrovToneIndicatorService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "fake_jni.h"
#include "jni/registration.h"
#include "jni/tco_query.h"
#include "sim_fixture.h"

namespace {

TEST(TcoValue, DigitsReadAsOneHexadecimalNumber)
{
    const struct {
        const char *digits;
        int value;
    } cases[] = {
        {"1F", 31},       {"FF", 255}, {"ff", 255},     {"80000000", INT_MIN}, {"00000000", 0}, {"", 0},
        {"7fffffff", INT_MAX}, {"123456789", 0x23456789} /* a ninth digit wraps */, {"1G", 16} /* not a digit: 0 */,
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.value, iTcoValue(reinterpret_cast<const unsigned char *>(c.digits),
                                     static_cast<int>(std::strlen(c.digits))))
            << '"' << c.digits << '"';
    }
}

class ServiceEntryPoints : public SimTest, protected FakeServiceObjects {
protected:
    FakeJni jni;

    JNIEnv *env() { return jni.env(); }
    jobject kb() { return jni.object(keyboard); }
    jobject ms() { return jni.object(msr); }

    static bool tcoQueueExists() { return msgget(TCO_QUEUE_KEY, 0) >= 0; }
};

TEST_F(ServiceEntryPoints, TcoQueryTravelsToTheKeyboardAndBack)
{
    plugKeyboard(0);
    trovsim_set_tco(0, 0x34, "1F");
    trovsim_set_tco(0, 0x01, "80000000");
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 1)) << "service not open";
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));

    EXPECT_EQ(31, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 0x1234));
    EXPECT_EQ(bytes({0xEF, 0x50, 0xEF, 0x49, 0x31, 0x34}), received(0)) << "only the low byte of the index";
    EXPECT_FALSE(tcoQueueExists()) << "a completed query removes its queue";
    EXPECT_EQ(INT_MIN, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 1));
    EXPECT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 2)) << "an empty reply";
}

TEST_F(ServiceEntryPoints, TcoQueriesAtOnceGetTheirOwnReplies)
{
    plugKeyboard(0);
    trovsim_set_tco(0, 1, "11");
    trovsim_set_tco(0, 2, "22");
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));
    int first = 0;
    int second = 0;
    std::thread a([&] {
        for (int i = 0; i < 5; ++i) {
            first += Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 1);
        }
    });
    std::thread b([&] {
        for (int i = 0; i < 5; ++i) {
            second += Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 2);
        }
    });
    a.join();
    b.join();
    EXPECT_EQ(5 * 0x11, first);
    EXPECT_EQ(5 * 0x22, second);
}

TEST_F(ServiceEntryPoints, SilentKeyboardEndsTheQueryWithZero)
{
    plugKeyboard(0);
    trovsim_set_tco(0, 1, "FF");
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));
    trovsim_set_silent(0, 1);
    EXPECT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 1));
    EXPECT_FALSE(tcoQueueExists());
    trovsim_set_silent(0, 0);
    EXPECT_EQ(255, Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), 1)) << "the next query works";
}

TEST_F(ServiceEntryPoints, KeyboardWritesAndTheirGates)
{
    plugKeyboard(0);
    jbyteArray command = FakeJni::array({0x1B, 0x00, 0x42});
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), command, 3))
        << "service not open";
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));

    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), command, 4));
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), command, -1));
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), nullptr, 1));
    std::vector<unsigned char> long_(81, 0x41);
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), FakeJni::array(long_), 81))
        << "above the 80-byte command buffer";
    EXPECT_FALSE(jni.exceptionPending());
    EXPECT_TRUE(received(0).empty());

    EXPECT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), command, 0));
    EXPECT_EQ(3, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), command, 3));
    EXPECT_EQ(80, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), FakeJni::array(long_), 80));
    auto expected = bytes({0x1B, 0x00, 0x42});
    expected.insert(expected.end(), 80, 0x41);
    EXPECT_EQ(expected, received(0));
}

TEST_F(ServiceEntryPoints, ToneWritesAndTheirGates)
{
    plugKeyboard(0);
    ASSERT_EQ(0, Java_com_trov_jpos_TrovToneIndicatorService_OpenToneIndicator(env(), nullptr));
    jbyteArray tone = FakeJni::array({0x07, 0x10});
    EXPECT_EQ(0, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(env(), nullptr, tone, 5))
        << "not enabled: 0 whatever the count";
    Java_com_trov_jpos_TrovToneIndicatorService_enableToneIndicator(env(), nullptr, JNI_TRUE);
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(env(), nullptr, tone, 3));
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(env(), nullptr, nullptr, 1));
    EXPECT_EQ(0, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(env(), nullptr, tone, -1));
    std::vector<unsigned char> seventeen(17, 0x07);
    EXPECT_EQ(-1,
              Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(env(), nullptr, FakeJni::array(seventeen), 17));
    EXPECT_EQ(0, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(
                     env(), nullptr, FakeJni::array({0x00, 0x07}), 2))
        << "a command starting with 0 is not sent";
    EXPECT_TRUE(received(0).empty());

    EXPECT_EQ(16, Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(
                      env(), nullptr, FakeJni::array(std::vector<unsigned char>(16, 0x07)), 16));
    EXPECT_EQ(std::vector<unsigned char>(16, 0x07), received(0));
    Java_com_trov_jpos_TrovToneIndicatorService_CloseToneIndicator(env(), nullptr);
    EXPECT_EQ(0, bDeviceOpened);
}

TEST_F(ServiceEntryPoints, KeyboardEnableNeedsTheClaimAndStartsOnePoller)
{
    plugKeyboard(0);
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));
    Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(env(), kb(), JNI_TRUE);
    EXPECT_EQ(0, JposData.bKeyboardEnabled);
    EXPECT_EQ(pthread_t{}, con_agent) << "no poller before the claim";

    Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(env(), kb(), JNI_TRUE);
    EXPECT_TRUE(Java_com_trov_jpos_TrovPOSKeyboardService_isPOSKeyboardClaimed(env(), kb()));
    vStore(bFirstRunConnected, 1);  // the detector as at load: nothing reported yet
    vStore(bFirstRunDisconnected, 1);
    Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(env(), kb(), JNI_TRUE);
    EXPECT_EQ(1, JposData.bKeyboardEnabled);
    const pthread_t poller = con_agent;
    EXPECT_NE(pthread_t{}, poller);
    EXPECT_EQ(std::vector<FakeCall>{(FakeCall{"keyboardStatusUpdateEvent", {2001}, {}})}, jni.waitForCalls(1))
        << "the first enable reports the device online";
    Java_com_trov_jpos_TrovMSRService_OpenMSR(env(), ms());
    Java_com_trov_jpos_TrovMSRService_enableMSR(env(), ms(), JNI_TRUE);
    EXPECT_EQ(poller, con_agent) << "a start while a poller runs starts none";
    Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(env(), kb(), JNI_FALSE);
    EXPECT_EQ(0, JposData.bKeyboardEnabled);
    EXPECT_EQ(poller, con_agent) << "disabling leaves the poller running";
}

TEST_F(ServiceEntryPoints, KeyboardCloseEndsAllItsOpensAndReleasesTheDevice)
{
    plugKeyboard(0);
    ASSERT_EQ(0, Java_com_trov_jpos_TrovKeylockService_OpenKeylock(env(), jni.object(keylock)));
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), kb()));
    Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(env(), kb(), JNI_TRUE);
    Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(env(), kb());
    EXPECT_EQ(0, JposData.ucKeyboardOpen);
    EXPECT_EQ(0, JposData.bKeyboardOpened);
    EXPECT_EQ(nullptr, KBObject);
    EXPECT_EQ(-1, Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(env(), kb(), FakeJni::array({1}), 1));

    // With the keyboard closed and the device open, a claim can only be released.
    Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(env(), kb(), JNI_TRUE);
    EXPECT_FALSE(Java_com_trov_jpos_TrovPOSKeyboardService_isPOSKeyboardClaimed(env(), kb()));
    Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(env(), kb());  // does nothing now

    Java_com_trov_jpos_TrovKeylockService_CloseKeylock(env(), jni.object(keylock));
    EXPECT_EQ(0, bDeviceOpened) << "the keyboard's second open does not keep the device open";
    EXPECT_EQ(0, trovsim_open_handles(0));
}

TEST_F(ServiceEntryPoints, MsrEnableStartsAPollerOnlyOnAnOpenDevice)
{
    plugKeyboard(0);
    Java_com_trov_jpos_TrovMSRService_enableMSR(env(), ms(), JNI_TRUE);
    EXPECT_EQ(1, JposData.bMsrEnabled);
    EXPECT_EQ(pthread_t{}, con_agent);
    ASSERT_EQ(0, Java_com_trov_jpos_TrovMSRService_OpenMSR(env(), ms()));
    EXPECT_EQ(0, JposData.bMsrEnabled) << "the first open resets the flag";
    Java_com_trov_jpos_TrovMSRService_claimMSR(env(), ms(), JNI_TRUE);
    EXPECT_TRUE(Java_com_trov_jpos_TrovMSRService_isMSRClaimed(env(), ms()));
    Java_com_trov_jpos_TrovMSRService_enableMSR(env(), ms(), JNI_TRUE);
    EXPECT_NE(pthread_t{}, con_agent);
    Java_com_trov_jpos_TrovMSRService_CloseMSR(env(), ms());
    EXPECT_EQ(pthread_t{}, con_agent) << "the shutdown stops the poller";
    EXPECT_FALSE(Java_com_trov_jpos_TrovMSRService_isMSRClaimed(env(), ms()));
}

}  // namespace
