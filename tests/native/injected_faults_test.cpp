// SPDX-License-Identifier: Apache-2.0
// The faults the library must survive, injected by the simulator: interrupted and short calls on the
// input road, a keyboard that refuses its replug or stops answering its presence test, System V objects
// and threads that cannot be had, and TCO replies that come late or are left over. Each gives its
// documented result and leaves no thread, descriptor, segment, queue or FIFO behind.
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <string>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/iofunctions.h"
#include "input/power_status.h"
#include "jni/tco_query.h"
#include "pipeline_fixture.h"

namespace {

using namespace std::chrono_literals;

// A keyboard answer that comes after its query gave up.
constexpr int LATE_ANSWER_MS = TCO_REPLY_LIMIT_MS + 500;

int entries(const char *directory)
{
    int count = 0;
    DIR *listing = opendir(directory);
    while (dirent *entry = readdir(listing)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(listing);
    return count;
}

int descriptors()
{
    return entries("/proc/self/fd") - 1;  // less the listing's own
}

int threads()
{
    return entries("/proc/self/task");
}

class InjectedFaults : public PipelineTest {
protected:
    int DescriptorsBefore = 0;
    int ThreadsBefore = 0;

    void SetUp() override
    {
        SimTest::SetUp();
        // A sanitizer's runtime starts a thread of its own at the program's first thread creation: have
        // that happen here, not in place of a creation a test makes fail.
        pid_t warmUp = 0;
        std::thread([&warmUp] { warmUp = static_cast<pid_t>(syscall(SYS_gettid)); }).join();
        // The kernel can still list a joined thread for a moment after the join returned (seen in the VM).
        const std::string task = "/proc/self/task/" + std::to_string(warmUp);
        EXPECT_TRUE(waitUntil([&] { return access(task.c_str(), F_OK) != 0; }));
        DescriptorsBefore = descriptors();
        ThreadsBefore = threads();
        plugKeyboard(0);
    }

    jobject kb() { return jni.object(keyboard); }
    void claimAndEnable()
    {
        Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(env(), kb(), JNI_TRUE);
        Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(env(), kb(), JNI_TRUE);
    }
    jint readTco(int index) { return Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(env(), kb(), index); }
    static bool tcoQueueExists() { return msgget(TCO_QUEUE_KEY, 0) >= 0; }

    void expectNothingLeft()
    {
        expectShutDown();
        EXPECT_FALSE(tcoQueueExists());
        EXPECT_EQ(DescriptorsBefore, descriptors());
        // A thread that ended itself (a shutdown run on it) is gone a moment after it returned.
        EXPECT_TRUE(waitUntil([&] { return threads() == ThreadsBefore; }))
            << threads() << " threads, " << ThreadsBefore << " before";
    }
};

TEST_F(InjectedFaults, InterruptedAndShortCallsOnTheInputRoadLoseNothing)
{
    ASSERT_EQ(0, openKeyboard());
    vStore(JposData.bKeyboardEnabled, 1);  // keys wanted, without a poller, as after the online report
    silenceDetector();
    for (int call : {TROVSIM_CALL_NODE_POLL, TROVSIM_CALL_NODE_READ, TROVSIM_CALL_FIFO_READ, TROVSIM_CALL_FIFO_WRITE}) {
        trovsim_inject(call, 0, 2, EINTR);
    }
    trovsim_press_key(0, 0x41, 0);
    trovsim_press_key(0, 0x42, 0);
    EXPECT_EQ((std::vector<FakeCall>{key(0x41), key(0x42)}), jni.waitForCalls(2));
    for (int call : {TROVSIM_CALL_NODE_POLL, TROVSIM_CALL_NODE_READ, TROVSIM_CALL_FIFO_READ, TROVSIM_CALL_FIFO_WRITE}) {
        EXPECT_EQ(2, trovsim_injected(call)) << "call kind " << call;
    }
    EXPECT_EQ(1, trovsim_count(0, TROVSIM_REQ_OPEN)) << "an interrupted read is no lost device";
    EXPECT_EQ(1, tLoad(bFirstRunDisconnected)) << "and does not silence the power-state report";

    // A write into the FIFO that the kernel cuts short is completed.
    jni.clearCalls();
    trovsim_inject(TROVSIM_CALL_FIFO_WRITE, 0, 3, 0);
    trovsim_press_key(0, 0x43, 0);
    EXPECT_EQ(std::vector<FakeCall>{key(0x43)}, jni.waitForCalls(1));
    EXPECT_EQ(2 + 3, trovsim_injected(TROVSIM_CALL_FIFO_WRITE));

    closeKeyboard();
    expectNothingLeft();
}

TEST_F(InjectedFaults, AKeyboardThatRefusesItsReplugIsTakenUpOnceItLetsUsIn)
{
    ASSERT_EQ(0, openKeyboard());
    vStore(JposData.bKeyboardEnabled, 1);
    trovsim_unplug(0);
    trovsim_set_faults(0, TROVSIM_FAULT_OPEN_REFUSED);  // udev has not given the node its group yet
    trovsim_replug(0, 0);
    const long refusedBefore = trovsim_count(0, TROVSIM_REQ_OPEN);
    ASSERT_TRUE(waitUntil([&] { return trovsim_count(0, TROVSIM_REQ_OPEN) > refusedBefore + 3; }))
        << "the reader goes on trying";
    EXPECT_EQ(0, trovsim_open_handles(0));
    EXPECT_EQ(1, bDeviceOpened);

    trovsim_set_faults(0, 0);
    ASSERT_TRUE(waitUntil([] { return trovsim_open_handles(0) == 1; }));
    trovsim_press_key(0, 0x41, 0);
    EXPECT_EQ((std::vector<FakeCall>{status(2002), status(2001), key(0x41)}), jni.waitForCalls(3))
        << "off once, back once, the key";
    closeKeyboard();
    expectNothingLeft();
}

TEST_F(InjectedFaults, APresenceTestThatFailsWhileReadsWorkChangesNothing)
{
    // The reader owns the question whether a device that still has its descriptor open is lost: its
    // read fails then. A presence test failing on its own reports nothing and shuts nothing down.
    ASSERT_EQ(0, openKeyboard());
    claimAndEnable();
    EXPECT_EQ(std::vector<FakeCall>{status(OPOS_SUE_POWER_ONLINE)}, jni.waitForCalls(1));
    trovsim_set_faults(0, TROVSIM_FAULT_GDEVINFO);
    const long tests = trovsim_count(0, TROVSIM_REQ_GDEVINFO);
    ASSERT_TRUE(waitUntil([&] { return trovsim_count(0, TROVSIM_REQ_GDEVINFO) >= tests + 2; }))
        << "the poller tests twice more";
    trovsim_press_key(0, 0x41, 0);
    EXPECT_EQ((std::vector<FakeCall>{status(OPOS_SUE_POWER_ONLINE), key(0x41)}), jni.waitForCalls(2));
    EXPECT_EQ(1, tLoad(bDeviceOpened));
    closeKeyboard();
    expectNothingLeft();
}

TEST_F(InjectedFaults, AClaimTableThatCannotBeMadeOrAttachedFailsTheOpen)
{
    trovsim_inject(TROVSIM_CALL_SHMGET, 0, 1, ENOSPC);
    EXPECT_EQ(104, openKeyboard());
    expectNothingLeft();
    trovsim_inject(TROVSIM_CALL_SHMAT, 0, 1, ENOMEM);
    EXPECT_EQ(104, openKeyboard());
    expectNothingLeft();  // the segment made for it is removed again
    EXPECT_EQ(0, openKeyboard());
    closeKeyboard();
}

TEST_F(InjectedFaults, ThreadsThatCannotBeStarted)
{
    // The reader (the first thread an open starts), then the decoder (the second): the open fails.
    for (int skip : {0, 1}) {
        trovsim_inject(TROVSIM_CALL_PTHREAD_CREATE, skip, 1, EAGAIN);
        EXPECT_EQ(104, openKeyboard()) << "thread " << skip;
        EXPECT_EQ(1, trovsim_injected(TROVSIM_CALL_PTHREAD_CREATE));
        expectNothingLeft();
        trovsim_reset();
        plugKeyboard(0);
    }
    // The poller: the keyboard is enabled all the same; the power state is then reported only before
    // a key, by the decoder.
    ASSERT_EQ(0, openKeyboard());
    trovsim_inject(TROVSIM_CALL_PTHREAD_CREATE, 0, 1, EAGAIN);
    claimAndEnable();
    EXPECT_EQ(1, tLoad(JposData.bKeyboardEnabled));
    EXPECT_EQ(pthread_t{}, con_agent);
    trovsim_press_key(0, 0x41, 0);
    EXPECT_EQ((std::vector<FakeCall>{status(OPOS_SUE_POWER_ONLINE), key(0x41)}), jni.waitForCalls(2));
    closeKeyboard();
    expectNothingLeft();
}

TEST_F(InjectedFaults, TcoQueryWithoutAQueueIsNotSent)
{
    ASSERT_EQ(0, openKeyboard());
    trovsim_set_tco(0, 1, "12");
    trovsim_inject(TROVSIM_CALL_MSGGET, 0, 1, ENOSPC);
    EXPECT_EQ(0, readTco(1));
    EXPECT_TRUE(received(0).empty()) << "no reply could come back";
    EXPECT_EQ(0x12, readTco(1));
    closeKeyboard();
    expectNothingLeft();
}

TEST_F(InjectedFaults, TcoRepliesLeftOverOrLateNeverAnswerALaterQuery)
{
    // A reply message nobody took, with an old reply in the buffer.
    std::memcpy(JposData.ucTcoData, "99", 2);
    JposData.ucTcoLen = 2;
    ASSERT_EQ(0, openKeyboard());
    trovsim_set_tco(0, 1, "12");
    trovsim_set_tco(0, 2, "34");
    const int queue = msgget(TCO_QUEUE_KEY, IPC_CREAT | 0600);
    TcoMessage stale{static_cast<long>(getpid()), getpid()};
    ASSERT_EQ(0, msgsnd(queue, &stale, sizeof stale.iSenderPid, 0));
    EXPECT_EQ(0x34, readTco(2));

    // The keyboard answers after the query gave up: the late reply, arriving with no query outstanding,
    // answers none, and the next query is answered by its own reply.
    trovsim_set_answer_delay(0, LATE_ANSWER_MS);
    const uint32_t before = IOFifo.uiRead();
    EXPECT_EQ(0, readTco(1));
    ASSERT_TRUE(waitUntil([before] { return IOFifo.uiRead() - before >= 4; })) << "the late reply, 0x86 1 2 0x96";
    trovsim_set_answer_delay(0, 0);
    EXPECT_EQ(0x34, readTco(2));
    EXPECT_FALSE(tcoQueueExists());

    // A query that cannot be sent leaves no queue.
    trovsim_unplug(0);
    ASSERT_TRUE(waitUntil([] { return hidfunc.iDescriptor() == -1; }));
    EXPECT_EQ(0, readTco(1));
    EXPECT_FALSE(tcoQueueExists());
    closeKeyboard();
    expectNothingLeft();
}

}  // namespace
