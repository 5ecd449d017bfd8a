// SPDX-License-Identifier: Apache-2.0
// The framing rules of the input stream, byte by byte, with the Java side replaced by the fake VM.
#include <sys/ipc.h>
#include <sys/msg.h>

#include "core/lifecycle.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "fake_jni.h"
#include "input/stream_decoder.h"
#include "jni/registration.h"
#include "sim_fixture.h"

namespace {

class StreamDecoder : public SimTest, protected FakeServiceObjects {
protected:
    FakeJni jni;
    DecoderState pending = FRESH_DECODER;

    void SetUp() override
    {
        SimTest::SetUp();
        vResetServiceState();
        ASSERT_EQ(0, createJNIParKL(jni.env(), jni.object(keylock)));
        ASSERT_EQ(0, createJNIParKB(jni.env(), jni.object(keyboard)));
        ASSERT_EQ(0, createJNIParMSR(jni.env(), jni.object(msr)));
        JavaVM *vm = nullptr;
        jni.env()->GetJavaVM(&vm);
        vStore(jvm, vm);
        vSilencePowerStatusForTest();
    }

    void TearDown() override
    {
        vStore(jvm, nullptr);
        hidfunc.iCloseDevice();
        SimTest::TearDown();
    }

    static void vSilencePowerStatusForTest()
    {
        vStore(bFirstRunConnected, 0);
        vStore(bFirstRunDisconnected, 0);
    }

    void feed(std::initializer_list<int> values)
    {
        for (int v : values) {
            vDecodeByte(static_cast<uint8_t>(v), pending, tLoad(uiOpening));
        }
    }

    static FakeCall key(int code, int type) { return FakeCall{"keyboardDataEvent", {code, type}, {}}; }
    static FakeCall status(int code) { return FakeCall{"keyboardStatusUpdateEvent", {code}, {}}; }
    static FakeCall keylockEvent(int position) { return FakeCall{"keylockStatusUpdateEvent", {position}, {}}; }
    static FakeCall swipe(std::vector<unsigned char> t1, std::vector<unsigned char> t2, std::vector<unsigned char> t3)
    {
        return FakeCall{"msrDataEvent", {}, {t1, t2, t3}};
    }
};

TEST_F(StreamDecoder, SwipeDeliversThreeTerminatedTracksOnlyWhileEnabled)
{
    const std::initializer_list<int> swipeBytes = {0x81, 0x41, 0x42, 0x91, 0x82, 0x31, 0x92, 0x83, 0x93};
    feed(swipeBytes);
    EXPECT_TRUE(jni.calls().empty());
    EXPECT_EQ(0, JposData.ucTrack1Len);
    EXPECT_EQ(0, JposData.ucTrack2Len);
    EXPECT_EQ(0, JposData.ucTrack3Len);

    JposData.bMsrEnabled = 1;
    feed(swipeBytes);
    const auto expected = swipe({0x41, 0x42, 0}, {0x31, 0}, {0});
    EXPECT_EQ(std::vector<FakeCall>{expected}, jni.calls());
    EXPECT_EQ(0, JposData.ucTrack1Len) << "the delivered tracks are emptied";
}

// Stand-ins in a byte table for the MSR being enabled or disabled between two bytes.
constexpr int ENABLE_MSR = -1;
constexpr int DISABLE_MSR = -2;

TEST_F(StreamDecoder, OnlyASwipeWhoseFramesAllCameWholeWhileEnabledIsDelivered)
{
    const auto card = swipe({'A', 0}, {'1', 0}, {0});
    const auto turn = keylockEvent(3);
    struct Case {
        const char *what;
        std::vector<int> bytes;  // the MSR starts disabled, the keylock enabled
        std::vector<FakeCall> expected;
    };
    const Case cases[] = {
        {"a whole swipe", {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, '1', 0x92, 0x83, 0x93}, {card}},
        {"begun while disabled, ended after enabling",
         {0x81, 'A', 0x91, 0x82, '1', 0x92, 0x83, ENABLE_MSR, 0x93}, {}},
        {"enabled after its first marker", {0x81, ENABLE_MSR, 'A', 0x91, 0x82, '1', 0x92, 0x83, 0x93}, {}},
        {"disabled for a track byte", {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, DISABLE_MSR, '1', ENABLE_MSR, 0x92, 0x83, 0x93}, {}},
        {"a lone end marker after a delivered swipe",
         {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, '1', 0x92, 0x83, 0x93, 0x93}, {card}},
        {"a lone end marker", {ENABLE_MSR, 0x93}, {}},
        {"track 1 missing", {ENABLE_MSR, 0x82, '1', 0x92, 0x83, 0x93}, {}},
        {"track 2 end lost", {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, '1', 0x83, 0x93}, {}},
        {"a keylock frame cutting into track 1", {ENABLE_MSR, 0x81, 'A', 0x84, '2', 0x94, 0x93}, {turn}},
        {"a keylock frame cutting into track 3",
         {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, '1', 0x92, 0x83, 0x84, '2', 0x94, 0x93}, {turn}},
        {"a keylock turn between two tracks",
         {ENABLE_MSR, 0x81, 'A', 0x91, 0x84, '2', 0x94, 0x82, '1', 0x92, 0x83, 0x93}, {turn, card}},
        {"a break in the stream", {ENABLE_MSR, 0x81, 'A', 0x91, 0x82, '1', 0x00, 0x92, 0x83, 0x93}, {}},
        {"a swipe after a cut-off one", {ENABLE_MSR, 0x81, 'B', 0x91, 0x81, 'A', 0x91, 0x82, '1', 0x92, 0x83, 0x93},
         {card}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        pending = FRESH_DECODER;
        feed({0x00});
        JposData.bMsrEnabled = 0;
        JposData.bKeylockEnabled = 1;
        jni.clearCalls();
        for (int b : c.bytes) {
            if (b < 0) {
                JposData.bMsrEnabled = b == ENABLE_MSR ? 1 : 0;
            } else {
                feed({b});
            }
        }
        EXPECT_EQ(c.expected, jni.calls());
        EXPECT_EQ(0, JposData.ucTrack1Len + JposData.ucTrack2Len + JposData.ucTrack3Len)
            << "the swipe's end marker empties the tracks";
    }
}

TEST_F(StreamDecoder, TrackWrapsAfter256BytesAndA255ByteTrackArrivesWhole)
{
    JposData.bMsrEnabled = 1;
    feed({0x81});
    for (int i = 0; i < 255; ++i) {
        feed({0x30 + i % 10});
    }
    feed({0x91, 0x82, 0x92, 0x83, 0x93});
    const auto calls = jni.calls();
    ASSERT_EQ(1u, calls.size());
    ASSERT_EQ(256u, calls[0].arrays[0].size());
    EXPECT_EQ(0x34, calls[0].arrays[0][254]);
    EXPECT_EQ(0, calls[0].arrays[0][255]);

    feed({0x81});
    for (int i = 0; i < 256; ++i) {
        feed({0x41});
    }
    feed({0x42});  // the 257th byte
    EXPECT_EQ(1, JposData.ucTrack1Len);
    EXPECT_EQ(0x42, JposData.ucTrack1[0]);
    EXPECT_EQ(0x41, JposData.ucTrack1[1]);
}

TEST_F(StreamDecoder, EveryMarkerActsInEveryState)
{
    const int starts[] = {0, 0x81, 0x82, 0x83, 0x84, 0x86};
    const int markers[] = {0x81, 0x82, 0x83, 0x84, 0x86, 0x91, 0x92, 0x93, 0x94, 0x96};
    for (int start : starts) {
        for (int marker : markers) {
            SCOPED_TRACE(testing::Message() << std::hex << "state after 0x" << start << ", marker 0x" << marker);
            feed({0x92});  // no frame
            if (start != 0) {
                feed({start});
            }
            feed({marker});
            const JposRecord &d = JposData;
            EXPECT_EQ(marker == 0x81, d.bTrack1Frame);
            EXPECT_EQ(marker == 0x82, d.bTrack2Frame);
            EXPECT_EQ(marker == 0x83, d.bTrack3Frame);
            EXPECT_EQ(marker == 0x84, d.bKeylockFrame);
            EXPECT_EQ(marker == 0x86, d.bTcoFrame);
        }
    }
    EXPECT_TRUE(jni.calls().empty()) << "nothing is enabled, so no marker raised an event";
}

TEST_F(StreamDecoder, KeylockPositionArrivesCountedFromOne)
{
    JposData.bKeylockEnabled = 1;
    feed({0x84, 0x30, 0x94});
    feed({0x84, 0x33, 0x94});
    EXPECT_EQ((std::vector<FakeCall>{keylockEvent(1), keylockEvent(4)}), jni.calls());

    jni.clearCalls();
    JposData.bKeylockEnabled = 0;
    feed({0x84, 0x35, 0x94});
    EXPECT_EQ(-1, JposData.iKeylockPosition);
    EXPECT_TRUE(jni.calls().empty());

    // Only a position sent in the frame while the keylock was enabled is reported: not an end marker
    // without its frame, not an empty frame, not a digit that came while the keylock was disabled.
    JposData.bKeylockEnabled = 1;
    feed({0x94, 0x84, 0x94});
    JposData.bKeylockEnabled = 0;
    feed({0x84, 0x35});
    JposData.bKeylockEnabled = 1;
    feed({0x94});
    EXPECT_TRUE(jni.calls().empty());
}

TEST_F(StreamDecoder, KeysWithReleaseAndExtendedPrefixes)
{
    JposData.bKeyboardEnabled = 1;
    feed({0xFE, 0x1C, 0x1C});
    feed({0xE0, 0x48});
    EXPECT_EQ(0x1000048, JposData.iKeyData);
    feed({0xE0, 0xFE, 0xC8});
    feed({0xC8});
    EXPECT_EQ((std::vector<FakeCall>{key(0x1C, 2), key(0x1C, 1), key(0x48, 1), key(200, 2), key(200, 1)}),
              jni.calls())
        << "key codes are the key byte alone, never negative";
}

TEST_F(StreamDecoder, OurKeyboardClassHearsTheExtendedMarkThroughItsOwnListener)
{
    // A class with keyboardDataEvent(int, int, boolean) beside the two-argument form gets that one.
    FakeClass ours = FakeJni::keyboardClass();
    ours.methods.insert("keyboardDataEvent (IIZ)I");
    FakeObject ourKeyboard{&ours};
    ASSERT_EQ(0, createJNIParKB(jni.env(), jni.object(ourKeyboard)));
    EXPECT_FALSE(jni.exceptionPending()) << "the lookup of the optional listener leaves nothing pending";
    JposData.bKeyboardEnabled = 1;
    feed({0xE0, 0x48, 0xE0, 0xFE, 0xC8, 0xC8});
    const auto extended = [](int code, int type, int mark) {
        return FakeCall{"keyboardDataEvent", {code, type, mark}, {}};
    };
    EXPECT_EQ((std::vector<FakeCall>{extended(0x48, 1, 1), extended(200, 2, 1), extended(200, 1, 0)}), jni.calls());

    // A class shaped like the Java service classes registered after it gets the two-argument form again.
    jni.clearCalls();
    ASSERT_EQ(0, createJNIParKB(jni.env(), jni.object(keyboard)));
    feed({0xE0, 0x48});
    EXPECT_EQ(std::vector<FakeCall>{key(0x48, 1)}, jni.calls());
}

TEST_F(StreamDecoder, ReleasePrefixSurvivesDisablingAndDisabledKeysAreDropped)
{
    JposData.bKeyboardEnabled = 1;
    feed({0xFE});
    JposData.bKeyboardEnabled = 0;
    feed({0x41, 0xE0});
    EXPECT_EQ(-1, JposData.iKeyData);
    EXPECT_EQ(0, JposData.bExtendedKey) << "prefixes are not interpreted while disabled";
    JposData.bKeyboardEnabled = 1;
    feed({0x30});
    EXPECT_EQ(std::vector<FakeCall>{key(0x30, 2)}, jni.calls());
}

TEST_F(StreamDecoder, KeyByteInsideAnUnterminatedFrameIsFrameData)
{
    JposData.bKeyboardEnabled = 1;
    JposData.bKeylockEnabled = 1;
    feed({0x84, 0x41});
    EXPECT_TRUE(jni.calls().empty());
    EXPECT_EQ(0x41 - '0', JposData.iKeylockPosition);
    feed({0x86, 0x41});
    EXPECT_TRUE(jni.calls().empty());
    feed({0x96, 0x41});
    EXPECT_EQ(std::vector<FakeCall>{key(0x41, 1)}, jni.calls());
}

TEST_F(StreamDecoder, ZeroByteBreaksTheStreamAndDropsWhatItCutOff)
{
    JposData.bKeyboardEnabled = 1;
    JposData.bKeylockEnabled = 1;
    JposData.bMsrEnabled = 1;
    for (const auto &partial : {std::vector<int>{0x81, 0x41}, {0x82, 0x31}, {0x84, 0x33}, {0x86, 0x31}, {0xFE, 0xE0}}) {
        SCOPED_TRACE(testing::Message() << std::hex << "cut off after 0x" << partial[0]);
        for (int v : partial) {
            feed({v});
        }
        feed({0x00, 0x20, 0x94});
        EXPECT_EQ((std::vector<FakeCall>{key(0x20, 1)}), jni.calls()) << "a cut-off swipe raises no MSR event";
        EXPECT_EQ(0x20, JposData.iKeyData);
        jni.clearCalls();
    }
}

TEST_F(StreamDecoder, TcoReplyIsCollectedAndPostedToNobodyWhileNoQueryWaits)
{
    const int queue = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    ASSERT_GE(queue, 0);
    vStore(msgID, queue);
    struct {
        long type;
        int32_t pid;
    } message;

    feed({0x86, '1', 'F', 0x96});
    EXPECT_EQ(2, JposData.ucTcoLen);
    EXPECT_EQ('1', JposData.ucTcoData[0]);
    EXPECT_EQ('F', JposData.ucTcoData[1]);
    EXPECT_EQ(-1, msgrcv(queue, &message, sizeof message.pid, 0, IPC_NOWAIT)) << "nobody asked";
    msgctl(queue, IPC_RMID, nullptr);
}

TEST_F(StreamDecoder, PendingPowerEdgeIsReportedBeforeTheKey)
{
    plugKeyboard(0);
    ASSERT_TRUE(hidfunc.bFindAndOpenDevice());
    JposData.bKeyboardEnabled = 1;
    vStore(bFirstRunConnected, 1);  // off/offline reported, device present again
    feed({0x41, 0x42});
    EXPECT_EQ((std::vector<FakeCall>{status(2001), key(0x41, 1), key(0x42, 1)}), jni.calls());
}

TEST_F(StreamDecoder, AThrowingListenerDoesNotStopLaterEvents)
{
    JposData.bKeyboardEnabled = 1;
    jni.listenerThrows = true;
    feed({0x41, 0x42});
    EXPECT_EQ(2u, jni.calls().size());
    EXPECT_FALSE(jni.exceptionPending()) << "the library clears what the listener threw";
    EXPECT_EQ(jni.attaches(), jni.detaches()) << "every attach has its detach";
}

TEST_F(StreamDecoder, NoCallWithoutVmOrArraysOrObject)
{
    JposData.bMsrEnabled = 1;
    JposData.bKeyboardEnabled = 1;
    jni.failNewByteArray = true;
    feed({0x93});
    EXPECT_TRUE(jni.calls().empty()) << "no MSR call without its arrays";
    EXPECT_FALSE(jni.exceptionPending());
    jni.failNewByteArray = false;

    vReleaseObject(jni.env(), KBObject);
    feed({0x41});
    EXPECT_TRUE(jni.calls().empty()) << "no call on a released object";

    vStore(jvm, nullptr);
    const int attaches = jni.attaches();
    feed({0x93});
    EXPECT_EQ(attaches, jni.attaches()) << "no attach without a VM";
}

}  // namespace
