// SPDX-License-Identifier: Apache-2.0
// The input pipeline under faults: a shutdown while the FIFO is full, a reconnect in the middle of a
// frame, events of an opening that has ended, and open counts at their limit.
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

#include "com_trov_jpos_TrovToneIndicatorService.h"
#include "core/lifecycle.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/iofunctions.h"
#include "input/power_status.h"
#include "jni/callbacks.h"
#include "pipeline_fixture.h"

namespace {

using namespace std::chrono_literals;

class PipelineFaults : public PipelineTest {
protected:
    // Keylock, POS keyboard and MSR open through their entry points, the power-state detector quiet.
    void openAll()
    {
        plugKeyboard(0);
        ASSERT_EQ(0, openKeylock());
        ASSERT_EQ(0, openKeyboard());
        ASSERT_EQ(0, openMsr());
        silenceDetector();
    }

    void closeAll()
    {
        closeKeylock();
        closeMsr();
        closeKeyboard();
    }

    // Runs what on a thread of its own. A call that never returns aborts the test program, so that a
    // hang shows as a failure rather than as a run that never ends.
    static void mustReturn(const char *what, std::function<void()> call)
    {
        std::packaged_task<void()> task(std::move(call));
        auto done = task.get_future();
        std::thread runner(std::move(task));
        if (done.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << what << " did not return";
            std::fflush(stdout);
            std::abort();
        }
        runner.join();
    }

    // A slow listener keeps the decoder behind while keys stream in, until the FIFO is full and the
    // reader waits for room with input still in hand.
    void fillFifo()
    {
        jni.listenerDelayUs = 2000;
        vStore(JposData.bKeyboardEnabled, 1);
        const int fifo = IOFifo.iReadFd;
        // A pipe counts its room in pages, and the decoder leaves part of the first one read: the FIFO
        // is full within a page of its capacity.
        const int capacity = fcntl(fifo, F_GETPIPE_SZ) - static_cast<int>(sysconf(_SC_PAGESIZE));
        ASSERT_GT(capacity, 0);
        const unsigned char keys[] = {0x41, 0x42, 0x43, 0x44};
        int queued = 0;
        // Generous: under valgrind in the emulated VM the keys go in slowly.
        for (auto end = std::chrono::steady_clock::now() + 120s; queued < capacity;) {
            ASSERT_TRUE(std::chrono::steady_clock::now() < end) << "the FIFO never filled: " << queued << " of " << capacity;
            for (int report = 0; report < 64; ++report) {
                trovsim_send_raw(0, keys, sizeof keys);
            }
            std::this_thread::sleep_for(1ms);
            ioctl(fifo, FIONREAD, &queued);
        }
        for (int round = 0; round < 50; ++round) {  // more than the last page can take
            for (int report = 0; report < 64; ++report) {
                trovsim_send_raw(0, keys, sizeof keys);
            }
            std::this_thread::sleep_for(1ms);
        }
    }
};

TEST_F(PipelineFaults, ShutdownWithTheFifoFullReturnsAndDropsWhatIsQueued)
{
    for (const bool powerOff : {false, true}) {
        SCOPED_TRACE(powerOff ? "power-off" : "last close");
        openAll();
        fillFifo();
        const unsigned opening = tLoad(uiOpening);
        mustReturn("the shutdown", [&] {
            if (powerOff) {
                CallbackJPOSStatusUpdate(2004, opening);  // in place of the reconnect time-out
            } else {
                closeAll();
            }
        });
        const size_t delivered = jni.calls().size();
        expectShutDown();
        if (powerOff) {
            closeAll();  // what the application does next
            EXPECT_EQ(0, jni.liveGlobalRefs());
        }
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(delivered, jni.calls().size()) << "input queued at the shutdown is dropped";
        jni.listenerDelayUs = 0;
        jni.clearCalls();
    }
}

TEST_F(PipelineFaults, AReconnectInTheMiddleOfAFrameDropsItAndTheKeysAfterArrive)
{
    openAll();
    const JposRecord &d = JposData;
    vStore(JposData.bKeyboardEnabled, 1);
    vStore(JposData.bKeylockEnabled, 1);
    vStore(JposData.bMsrEnabled, 1);
    const struct {
        std::vector<unsigned char> partial;
        std::function<bool()> decoded;
    } cases[] = {
        {{0x84, 0x35}, [&] { return tLoad(d.bKeylockFrame) && tLoad(d.iKeylockPosition) == 5; }},
        {{0x81, 0x41}, [&] { return tLoad(d.bTrack1Frame) && tLoad(d.ucTrack1Len) == 1; }},
        {{0x86, 0x31}, [&] { return tLoad(d.bTcoFrame) && tLoad(d.ucTcoLen) == 1; }},
        {{0xFE, 0xE0}, [&] { return tLoad(d.bExtendedKey) == 1; }},  // the release prefix comes first
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "cut off after 0x" << int(c.partial[0]));
        trovsim_send_raw(0, c.partial.data(), static_cast<int>(c.partial.size()));
        ASSERT_TRUE(waitUntil(c.decoded));
        jni.clearCalls();
        trovsim_unplug(0);
        ASSERT_TRUE(waitUntil([] { return hidfunc.iDescriptor() == -1; }));
        trovsim_replug(0, 0);
        ASSERT_TRUE(waitUntil([] { return hidfunc.iDescriptor() != -1; }));
        const FakeCall keylockAskedAgain{"keylockStatusUpdateEvent", {1}, {}};
        ASSERT_EQ((std::vector<FakeCall>{status(2002), status(2001), keylockAskedAgain}), jni.waitForCalls(3));
        // The end marker of the lost keylock frame comes among the keys: it reports no position.
        const unsigned char after[] = {0x20, 0x21, 0x22, 0x94, 0x23};
        trovsim_send_raw(0, after, sizeof after);
        EXPECT_EQ((std::vector<FakeCall>{status(2002), status(2001), keylockAskedAgain, key(0x20, 1), key(0x21, 1),
                                         key(0x22, 1), key(0x23, 1)}),
                  jni.waitForCalls(7));
        EXPECT_EQ(0x23, d.iKeyData) << "no extended prefix survived the break";
    }
}

TEST_F(PipelineFaults, EventsOfAnEndedOpeningNeverReachALaterOne)
{
    openAll();
    const unsigned ended = tLoad(uiOpening);
    CallbackJPOSStatusUpdate(2004, ended);
    ASSERT_EQ(0, bDeviceOpened);
    openAll();
    jni.clearCalls();
    // What the decoder of the ended opening may still have had in hand when it was shut down.
    CallbackJPOSKeyData(KBDATA{1, 0x41, 0}, ended);
    CallbackKeylock(3, ended);
    CallbackMSR(ended);
    EXPECT_TRUE(jni.calls().empty());
    CallbackJPOSKeyData(KBDATA{1, 0x41, 0}, tLoad(uiOpening));
    EXPECT_EQ(std::vector<FakeCall>{key(0x41, 1)}, jni.calls()) << "the current opening's events arrive";
}

TEST_F(PipelineFaults, AnOnlineTestedBeforeAChangeOfTheLinkIsNotDeliveredAfterIt)
{
    openAll();
    jni.clearCalls();
    const unsigned opening = tLoad(uiOpening);
    // The poller found the keyboard there; before its report reached Java the reader lost it. The
    // decoder reports that loss (2002) in stream order; the 2001 must not follow it.
    const unsigned tested = uiLinkChangesNoted();
    vNoteLinkChange();
    CallbackJPOSStatusSinceLink(OPOS_SUE_POWER_ONLINE, tested, opening);
    EXPECT_TRUE(jni.calls().empty());
    CallbackJPOSStatusSinceLink(OPOS_SUE_POWER_ONLINE, uiLinkChangesNoted(), opening);
    EXPECT_EQ(std::vector<FakeCall>{status(OPOS_SUE_POWER_ONLINE)}, jni.calls()) << "a 2001 of the link as tested";
}

TEST_F(PipelineFaults, AnOpenThatWouldWrapTheCountFails)
{
    plugKeyboard(0);
    for (int open = 0; open < 255; ++open) {
        ASSERT_EQ(0, openKeylock());
    }
    EXPECT_EQ(104, openKeylock());
    EXPECT_EQ(255, JposData.ucKeylockOpen);
    ASSERT_EQ(0, Java_com_trov_jpos_TrovToneIndicatorService_OpenToneIndicator(jni.env(), nullptr));
    Java_com_trov_jpos_TrovToneIndicatorService_CloseToneIndicator(jni.env(), nullptr);
    EXPECT_EQ(1, bDeviceOpened) << "the keylock still holds the device";
    closeKeylock();
    EXPECT_EQ(0, openKeylock());
}

}  // namespace
