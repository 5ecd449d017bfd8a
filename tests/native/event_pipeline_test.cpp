// SPDX-License-Identifier: Apache-2.0
// The whole road from the simulated keyboard to the listener calls: reader, FIFO, decoder, callbacks,
// the power-state detector and poller, reconnection, the reconnect time-out and the shutdowns that the
// library's own threads raise.
#include <atomic>
#include <chrono>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/iofunctions.h"
#include "input/power_poller.h"
#include "input/power_status.h"
#include "jni/callbacks.h"
#include "jni/registration.h"
#include "jni/tco_query.h"
#include "pipeline_fixture.h"

namespace {

using namespace std::chrono_literals;

class EventPipeline : public PipelineTest {
protected:
    // Opens the device through the keylock service and registers the keyboard and MSR objects, with
    // the detector silenced, as after a first enable that reported the device online.
    void openAll()
    {
        plugKeyboard(0);
        ASSERT_EQ(0, openKeylock());
        ScopedLock lifecycle(LifecycleLock);
        ASSERT_EQ(0, createJNIParKB(jni.env(), jni.object(keyboard)));
        ASSERT_EQ(0, createJNIParMSR(jni.env(), jni.object(msr)));
        vStore(JposData.ucKeyboardOpen, 1);
        vStore(JposData.bKeyboardOpened, 1);
        vStore(JposData.ucMsrOpen, 1);
        silenceDetector();
    }

    // A shutdown, whichever thread ran it, also ends every service's open count and the session's VM.
    void expectAllClosed()
    {
        expectShutDown();
        EXPECT_EQ(0, JposData.ucKeylockOpen);
        EXPECT_EQ(0, JposData.ucKeyboardOpen);
        EXPECT_EQ(0, JposData.ucMsrOpen);
        EXPECT_EQ(0, JposData.ucToneOpen);
        EXPECT_EQ(0, JposData.bKeyboardOpened);
        EXPECT_EQ(nullptr, jvm);
    }
};

TEST_F(EventPipeline, KeylockTurnAndKeysTravelTheWholeRoad)
{
    openAll();
    struct stat fifo;
    ASSERT_EQ(0, fstat(IOFifo.iReadFd, &fifo));
    EXPECT_TRUE(S_ISFIFO(fifo.st_mode)) << "the reader made the pipe";
    vStore(JposData.bKeyboardEnabled, 1);
    trovsim_press_key(0, 0x41, 0);
    trovsim_release_key(0, 0xC8, 1);
    const unsigned char zeros[] = {0x00, 0x42, 0x00};
    trovsim_send_raw(0, zeros, 3);
    EXPECT_EQ((std::vector<FakeCall>{key(0x41, 1), key(200, 2), key(0x42, 1)}), jni.waitForCalls(3));

    jni.clearCalls();
    Java_com_trov_jpos_TrovKeylockService_enableKeylock(jni.env(), jni.object(keylock), JNI_TRUE);
    trovsim_turn_keylock(0, 0);
    EXPECT_EQ((std::vector<FakeCall>{FakeCall{"keylockStatusUpdateEvent", {1}, {}},
                                     FakeCall{"keylockStatusUpdateEvent", {1}, {}}}),
              jni.waitForCalls(2))
        << "the answer to the position request, then the turn";
}

TEST_F(EventPipeline, TcoReplyCutByAnotherFrameAnswersNoQuery)
{
    openAll();
    trovsim_set_silent(0, 1);  // the replies below are the only ones
    const int sent = trovsim_received(0, nullptr, 0);
    int value = -1;
    std::thread query([&value] { value = iReadTco(1); });
    EXPECT_EQ(sent + 6, trovsim_wait_received(0, sent + 6, 5000)) << "the query went out";
    // Digit '1' of a reply, cut by a keylock frame; then a lone end marker; then a whole reply.
    const unsigned char input[] = {0x86, '1', 0x84, '5', 0x94, 0x96, 0x96, 0x86, '2', 0x96};
    trovsim_send_raw(0, input, sizeof input);
    query.join();
    EXPECT_EQ(2, value) << "only the whole reply answers";
}

TEST_F(EventPipeline, ShortOutageIsReportedBothWaysEmptiesTheTracksAndAsksForTheKeylockAgain)
{
    openAll();
    vStore(JposData.bMsrEnabled, 1);
    vStore(JposData.bKeylockEnabled, 1);
    trovsim_swipe(0, reinterpret_cast<const unsigned char *>("AB"), 2, reinterpret_cast<const unsigned char *>("1"),
                  1, nullptr, 0);
    ASSERT_EQ(1u, jni.waitForCalls(1).size());
    jni.clearCalls();

    trovsim_unplug(0);
    ASSERT_TRUE(waitUntil([] { return hidfunc.iDescriptor() == -1; }, 2s)) << "the lost device is closed";
    EXPECT_EQ(std::vector<FakeCall>{status(2002)}, jni.waitForCalls(1)) << "the loss is heard at once";
    trovsim_set_keylock(0, 6);  // turned while the cable was out
    trovsim_replug(0, 300);
    const auto calls = jni.waitForCalls(3);
    EXPECT_EQ((std::vector<FakeCall>{status(2002), status(2001), FakeCall{"keylockStatusUpdateEvent", {7}, {}}}),
              calls)
        << "back, then the position asked for again; no MSR event for the emptied tracks";
    EXPECT_EQ(1, bDeviceOpened);
    EXPECT_EQ(1, trovsim_open_handles(0));
    EXPECT_NE(pthread_t{}, con_agent) << "a reopen starts the poller";
    EXPECT_EQ(1, ucDeviceNoResponse);
    EXPECT_EQ(0, JposData.ucTrack1Len);

    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(calls, jni.calls()) << "the poller reports nothing more";

    vStore(JposData.bKeyboardEnabled, 1);
    trovsim_press_key(0, 0x20, 0);
    EXPECT_EQ(key(0x20, 1), jni.waitForCalls(4).back()) << "keys flow again after the reopen";
}

TEST_F(EventPipeline, OutageBeyondTheLimitShutsEverythingDown)
{
    openAll();
    trovsim_unplug(0);
    const auto calls = jni.waitForCalls(2, 15s);
    EXPECT_EQ((std::vector<FakeCall>{status(2002), status(2004)}), calls) << "off at once, offline after 10 s";
    ASSERT_TRUE(waitUntil([] { return tLoad(bDeviceOpened) == 0; }, 2s));
    {
        ScopedLock lifecycle(LifecycleLock);  // the shutdown has finished once the lock is free
    }
    expectAllClosed();
    EXPECT_EQ(0, ucDeviceNoResponse);

    // The services can be opened again.
    trovsim_replug(0, 0);
    jni.clearCalls();
    ASSERT_EQ(0, openKeylock());
    EXPECT_EQ(1, bDeviceOpened);
    closeKeylock();
}

TEST_F(EventPipeline, AtMostOnePollerRunsAndCloseStopsIt)
{
    openAll();
    vStartPoller();
    const pthread_t first = con_agent;
    ASSERT_NE(pthread_t{}, first);
    vStartPoller();
    EXPECT_EQ(first, con_agent);
    closeKeylock();
    vStore(JposData.ucKeyboardOpen, 0);
    vStore(JposData.ucMsrOpen, 0);
    {
        ScopedLock lifecycle(LifecycleLock);
        close_all();
    }
    expectAllClosed();
}

TEST_F(EventPipeline, PollerReportsTheFirstStateOnce)
{
    openAll();
    vStore(bFirstRunConnected, 1);
    vStore(bFirstRunDisconnected, 1);
    vStartPoller();
    EXPECT_EQ(std::vector<FakeCall>{status(2001)}, jni.waitForCalls(1));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(1u, jni.calls().size());
}

// A power-off raised on a library thread: that thread is not joined by the shutdown it runs, and ends
// as soon as its callback returns. A thread of the test takes the place of the poller or the decoder.
struct StandIn {
    pthread_t *slot;
    unsigned opening;
    std::atomic<bool> started{false};
    std::atomic<bool> returned{false};
};

void *standInBody(void *argument)
{
    auto *standIn = static_cast<StandIn *>(argument);
    while (!standIn->started) {
        std::this_thread::yield();
    }
    CallbackJPOSStatusUpdate(2004, standIn->opening);
    standIn->returned = true;
    return nullptr;
}

TEST_F(EventPipeline, PowerOffOnALibraryThreadShutsDownWithoutJoiningItself)
{
    for (pthread_t *slot : {&con_agent, &fifo_agent}) {
        SCOPED_TRACE(slot == &con_agent ? "poller" : "decoder");
        jni.clearCalls();
        openAll();
        // Stop the real thread of that slot.
        if (slot == &con_agent) {
            vStopPoller();
        } else {
            vStore(bTerminateFifoThread, 1);
            const char wakeUp = 0;
            IOFifo.iWrite(&wakeUp, 1);
            vEndThread(fifo_agent);
            vStore(bTerminateFifoThread, 0);
        }
        StandIn standIn;
        standIn.slot = slot;
        standIn.opening = tLoad(uiOpening);
        pthread_t thread;
        ASSERT_EQ(0, pthread_create(&thread, nullptr, standInBody, &standIn));
        vStore(*slot, thread);
        standIn.started = true;  // the shutdown detaches the thread; the test never joins it
        ASSERT_TRUE(waitUntil([&] { return standIn.returned.load(); }, 5s)) << "the shutdown hung on its own thread";
        expectAllClosed();
        ASSERT_FALSE(jni.calls().empty());
        EXPECT_EQ(status(2004), jni.calls().back());
    }
}

TEST_F(EventPipeline, CloseAndPowerOffAtOnceNeverStopAThreadTwice)
{
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        openAll();
        vStartPoller();
        const unsigned opening = tLoad(uiOpening);
        std::thread powerOff([opening] { CallbackJPOSStatusUpdate(2004, opening); });
        vStore(JposData.ucKeyboardOpen, 0);
        vStore(JposData.ucMsrOpen, 0);
        closeKeylock();
        powerOff.join();
        expectAllClosed();
        jni.clearCalls();
        trovsim_reset();
    }
}

TEST_F(EventPipeline, OpenNeedsNothingOfTheWorkingDirectory)
{
    plugKeyboard(0);
    char here[4096];
    ASSERT_NE(nullptr, getcwd(here, sizeof here));
    // A working directory that has been removed: nothing can be made in it, whoever the user is.
    char scratch[] = "/tmp/trov-gone-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(scratch));
    ASSERT_EQ(0, chdir(scratch));
    ASSERT_EQ(0, rmdir(scratch));
    const jint result = openKeylock();
    ASSERT_EQ(0, chdir(here));
    EXPECT_EQ(0, result);
    vStore(JposData.bKeylockEnabled, 1);
    trovsim_turn_keylock(0, 2);
    EXPECT_EQ((std::vector<FakeCall>{FakeCall{"keylockStatusUpdateEvent", {3}, {}}}), jni.waitForCalls(1))
        << "input flows";
    closeKeylock();
    expectShutDown();
}

}  // namespace
