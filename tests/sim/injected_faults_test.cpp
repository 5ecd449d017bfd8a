// SPDX-License-Identifier: Apache-2.0
// The faults the simulator injects into calls of the process: which calls they take, how many, with
// which result, and that every other call passes through; the presence-test fault and late answers.
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include "sim_fixture.h"

namespace {

using InjectedFault = SimTest;

TEST_F(InjectedFault, TakesTheCallsAfterTheSkippedOnesThenPassesAgain)
{
    ASSERT_EQ(0, trovsim_inject(TROVSIM_CALL_MSGGET, 1, 2, ENOSPC));
    const int passed = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    EXPECT_GE(passed, 0) << "skipped";
    errno = 0;
    EXPECT_EQ(-1, msgget(IPC_PRIVATE, IPC_CREAT | 0600));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ(-1, msgget(IPC_PRIVATE, IPC_CREAT | 0600));
    const int again = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    EXPECT_GE(again, 0);
    EXPECT_EQ(2, trovsim_injected(TROVSIM_CALL_MSGGET));
    msgctl(passed, IPC_RMID, nullptr);
    msgctl(again, IPC_RMID, nullptr);

    EXPECT_EQ(-1, trovsim_inject(TROVSIM_CALLS, 0, 1, EIO));
    EXPECT_EQ(-1, trovsim_inject(TROVSIM_CALL_SHMGET, -1, 1, EIO));
    EXPECT_EQ(-1, trovsim_injected(-1));
}

TEST_F(InjectedFault, SharedMemoryAndThreadsFailAsTheCLibraryWould)
{
    trovsim_inject(TROVSIM_CALL_SHMGET, 0, 1, ENOSPC);
    EXPECT_EQ(-1, shmget(IPC_PRIVATE, 5, IPC_CREAT | 0600));
    const int segment = shmget(IPC_PRIVATE, 5, IPC_CREAT | 0600);
    ASSERT_GE(segment, 0);
    trovsim_inject(TROVSIM_CALL_SHMAT, 0, 1, ENOMEM);
    EXPECT_EQ(reinterpret_cast<void *>(-1), shmat(segment, nullptr, 0));
    EXPECT_EQ(ENOMEM, errno);
    shmctl(segment, IPC_RMID, nullptr);

    // A sanitizer's runtime starts a thread of its own at the program's first creation; let that pass.
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, nullptr, [](void *) -> void * { return nullptr; }, nullptr));
    pthread_join(thread, nullptr);
    trovsim_inject(TROVSIM_CALL_PTHREAD_CREATE, 0, 1, EAGAIN);
    EXPECT_EQ(EAGAIN, pthread_create(&thread, nullptr, [](void *) -> void * { return nullptr; }, nullptr));
    ASSERT_EQ(0, pthread_create(&thread, nullptr, [](void *) -> void * { return nullptr; }, nullptr));
    pthread_join(thread, nullptr);
}

TEST_F(InjectedFault, FifoCallsAreInterruptedOrCutShortAndOtherFilesAreNot)
{
    int fifo[2];
    ASSERT_EQ(0, pipe(fifo));
    trovsim_inject(TROVSIM_CALL_FIFO_WRITE, 0, 1, EINTR);
    EXPECT_EQ(-1, write(fifo[1], "ab", 2));
    EXPECT_EQ(EINTR, errno);
    trovsim_inject(TROVSIM_CALL_FIFO_WRITE, 0, 2, 0);
    EXPECT_EQ(1, write(fifo[1], "ab", 2)) << "half";
    EXPECT_EQ(0, write(fifo[1], "c", 1)) << "nothing of one byte";
    trovsim_inject(TROVSIM_CALL_FIFO_READ, 0, 1, EINTR);
    char got[4];
    EXPECT_EQ(-1, read(fifo[0], got, sizeof got));
    EXPECT_EQ(1, read(fifo[0], got, sizeof got));
    EXPECT_EQ('a', got[0]);

    // A node's read and poll are taken by their own kinds, not by the FIFO ones.
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    const int fd = open_node(0);
    trovsim_inject(TROVSIM_CALL_FIFO_READ, 0, 1, EINTR);
    trovsim_inject(TROVSIM_CALL_NODE_POLL, 0, 1, EINTR);
    trovsim_inject(TROVSIM_CALL_NODE_READ, 0, 1, EINTR);
    pollfd request{fd, POLLIN, 0};
    EXPECT_EQ(-1, poll(&request, 1, 0));
    hiddev_event event;
    EXPECT_EQ(-1, read(fd, &event, sizeof event));
    EXPECT_EQ(EINTR, errno);
    EXPECT_EQ(1, trovsim_injected(TROVSIM_CALL_FIFO_READ)) << "only the pipe's";
    trovsim_reset();
    EXPECT_EQ(1, write(fifo[1], "d", 1)) << "a reset disarms";
    close(fifo[0]);
    close(fifo[1]);
}

TEST_F(InjectedFault, PresenceTestFailsWhileTheKeyboardGoesOnAndAnswersComeLate)
{
    ASSERT_EQ(0, trovsim_set_kind(0, TROVSIM_KEYBOARD));
    trovsim_set_faults(0, TROVSIM_FAULT_GDEVINFO);
    const int fd = open_node(0);
    hiddev_devinfo info;
    EXPECT_EQ(-1, ioctl(fd, HIDIOCGDEVINFO, &info));
    EXPECT_EQ(EIO, errno);

    trovsim_set_answer_delay(0, 200);
    send_bytes(fd, {0xEF - 0x100, 0x07});
    EXPECT_TRUE(read_events(fd, 4, 0).empty()) << "not yet";
    EXPECT_EQ((std::vector<int>{0x84 - 0x100, '0', 0x94 - 0x100, 0}), values_of(read_events(fd, 4, 2000)));

    send_bytes(fd, {0xEF - 0x100, 0x07});
    trovsim_unplug(0);
    trovsim_replug(0, 0);
    const int replugged = open_node(0);
    EXPECT_TRUE(read_events(replugged, 4, 400).empty()) << "an answer due after a replug is lost";
}

}  // namespace
