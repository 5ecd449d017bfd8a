// SPDX-License-Identifier: Apache-2.0
#include "jni/tco_query.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include "core/ipc_access.h"
#include "core/process_lock.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/forwarding_state.h"
#include "input/iofunctions.h"

namespace {

// Serialises the queries of this process. Lock order: TcoLock, then the process lock under key 111,
// then ReplyLock.
pthread_mutex_t TcoLock = PTHREAD_MUTEX_INITIALIZER;

// Serialises the decoder's hand-over of a completed reply with the start and the end of a query's wait,
// so that a reply is either posted to the outstanding query or ignored, and never posted after the query
// gave up. Held for no blocking call.
pthread_mutex_t ReplyLock = PTHREAD_MUTEX_INITIALIZER;

// Under ReplyLock (bTcoQueryWaiting also read by the decoder through it): the outstanding query's mark
// in the input, the opening it was sent in, and the value of the reply handed to it.
uint32_t uiQueryMark;
unsigned uiQueryOpening;
int iReplyValue;

// Set by the decoder once it has handed a reply to the outstanding query (and posted its message).
uint8_t bReplyReady;

// The decoder's own: where the reply frame being collected began in the input.
uint32_t uiFrameStart;

// How many left-over messages one query looks at, at most.
constexpr int STALE_MESSAGES_MAX = 64;

constexpr useconds_t REPLY_POLL_US = 1000;

// A query of this library that holds the keyboard posts a message of this type plus its process id
// while it runs, so that a query that took the lock after a removal of the set sees that it is not
// alone. A build that takes no lock waits for type 1 only, and a reply's type is a process id, which
// never reaches this base.
constexpr long HOLDER_MARK_BASE = 1L << 30;

long long llNowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The reply messages of this process carry its process id as their type.
long lReplyType()
{
    return static_cast<long>(getpid());
}

long lHolderMarkType()
{
    return HOLDER_MARK_BASE + static_cast<long>(getpid());
}

bool bProcessEnded(long pid)
{
    return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The process a message speaks for.
long lSenderOf(const TcoMessage &message)
{
    if (message.mtype == 1) {
        return message.iSenderPid;
    }
    return message.mtype >= HOLDER_MARK_BASE ? message.mtype - HOLDER_MARK_BASE : message.mtype;
}

// Drops the messages no query will ever take: this process's replies (of a query that ended) and the
// messages of processes that ended. A message of a live process (of a build that takes no lock, or
// another holder's mark) is put back. True when the mark of another live holder is among them.
bool bOtherHolderSeen(int queue)
{
    TcoMessage kept[STALE_MESSAGES_MAX];
    int keptCount = 0;
    bool otherHolder = false;
    for (int i = 0; i < STALE_MESSAGES_MAX; ++i) {
        TcoMessage message;
        if (msgrcv(queue, &message, sizeof message.iSenderPid, 0, IPC_NOWAIT) < 0) {
            break;
        }
        if (message.mtype != lReplyType() && !bProcessEnded(lSenderOf(message))) {
            kept[keptCount++] = message;
            otherHolder = otherHolder || (message.mtype >= HOLDER_MARK_BASE && message.mtype != lHolderMarkType());
        }
    }
    for (int i = 0; i < keptCount; ++i) {
        msgsnd(queue, &kept[i], sizeof kept[i].iSenderPid, IPC_NOWAIT);
    }
    return otherHolder;
}

void vPostHolderMark(int queue)
{
    TcoMessage mark{lHolderMarkType(), static_cast<int32_t>(getpid())};
    msgsnd(queue, &mark, sizeof mark.iSenderPid, IPC_NOWAIT);
}

void vTakeBackHolderMark(int queue)
{
    TcoMessage mark;
    msgrcv(queue, &mark, sizeof mark.iSenderPid, lHolderMarkType(), IPC_NOWAIT);
}

// Removes the queue when nothing waits in it any more (a message of another build keeps it).
void vRemoveQueueIfEmpty(int queue)
{
    struct msqid_ds state;
    if (msgctl(queue, IPC_STAT, &state) == 0 && state.msg_qnum == 0) {
        msgctl(queue, IPC_RMID, nullptr);
    }
}

// Takes this process's reply message, without waiting.
bool bTakeReply(int queue)
{
    TcoMessage reply;
    return msgrcv(queue, &reply, sizeof reply.iSenderPid, lReplyType(), IPC_NOWAIT) >= 0;
}

// Waits for the input that arrived before now to reach the pipe, and marks where it ends.
bool bCaughtUp(uint32_t &mark)
{
    const long long deadline = llNowMs() + TCO_CATCH_UP_LIMIT_MS;
    while (!bInputCaughtUp(hidfunc.iDescriptor(), mark)) {
        if (llNowMs() >= deadline) {
            return false;
        }
        usleep(REPLY_POLL_US);
    }
    return true;
}

// Whether the decoder has handed the reply over; its message is taken off the queue. A message that
// could not be posted (a process of a build that takes no lock removed the queue) does not lose the
// reply.
bool bReplyTaken(int queue)
{
    if (!tLoad(bReplyReady)) {
        return false;
    }
    bTakeReply(queue);
    return true;
}

// The query's hold on the keyboard: the lock's set, and the queue its mark stands in.
struct KeyboardHold {
    int lock;
    int markedQueue;
    bool lost;  // the set was removed while held
};

// Whether the hold is still this query's alone. Once its set is gone, another process may take the
// lock and query: this query then takes no reply, and keeps its mark in whichever queue stands under the
// key, so that the other query, seeing it, takes none either (the keyboard's replies can no longer be
// told apart).
bool bStillHeld(KeyboardHold &hold)
{
    if (!hold.lost && !bProcessLockStillHeld(TCO_QUEUE_KEY, hold.lock)) {
        hold.lost = true;
    }
    if (hold.lost) {
        const int current = msgget(TCO_QUEUE_KEY, 0);
        if (current >= 0 && current != hold.markedQueue) {
            vTakeBackHolderMark(hold.markedQueue);
            vPostHolderMark(current);
            hold.markedQueue = current;
        }
    }
    return !hold.lost;
}

// Waits, polling so that the wait is bounded, for the decoder's reply. When the limit passes, the query
// stops being outstanding, after one last look under ReplyLock: a reply handed over just before is still
// taken, and none is handed over after.
bool bReplyArrived(int queue, long long deadlineMs, KeyboardHold &hold)
{
    for (;;) {
        if (bStillHeld(hold) && bReplyTaken(queue)) {
            return true;
        }
        if (llNowMs() >= deadlineMs) {
            ScopedLock replies(ReplyLock);
            vStore(bTcoQueryWaiting, 0);
            return bStillHeld(hold) && bReplyTaken(queue);
        }
        usleep(REPLY_POLL_US);
    }
}

// After a query whose reply did not come: keeps the keyboard for TCO_LATE_REPLY_GUARD_MS more, so that a
// late reply that begins meanwhile is dropped here (no query is outstanding) instead of answering the
// next query.
void vSitOutLateReply(long long untilMs, KeyboardHold &hold)
{
    while (llNowMs() < untilMs) {
        bStillHeld(hold);
        usleep(REPLY_POLL_US);
    }
}

// Holding the lock across processes: sends the query and waits for its reply.
int iExchange(int index, int lock)
{
    const int queue = msgget(TCO_QUEUE_KEY, IPC_CREAT | iIpcMode());
    vStore(msgID, queue);
    if (queue < 0) {
        return 0;  // no way back for the reply: nothing is sent
    }
    vConformQueue(queue);
    KeyboardHold hold{lock, queue, false};
    vPostHolderMark(queue);
    int value = 0;
    uint32_t mark = 0;
    // Another holder's mark: the set was removed while it held the lock, and it queries still.
    if (!bOtherHolderSeen(queue) && bCaughtUp(mark)) {
        {
            ScopedLock replies(ReplyLock);
            uiQueryMark = mark;
            uiQueryOpening = tLoad(uiOpening);
            vStore(bReplyReady, 0);
            vStore(bTcoQueryWaiting, 1);
        }
        const signed char query[] = {static_cast<signed char>(0xEF), 0x50, static_cast<signed char>(0xEF), 0x49,
                                     0x31, static_cast<signed char>(index & 0xFF)};
        const bool sent = hidfunc.bWrite(query, sizeof query);
        // The limit counts from the send, not from the waits for the locks before it.
        const long long deadline = llNowMs() + TCO_REPLY_LIMIT_MS;
        if (sent && bReplyArrived(queue, deadline, hold)) {
            const bool alone = !bOtherHolderSeen(queue);
            ScopedLock replies(ReplyLock);
            value = alone ? iReplyValue : 0;
        } else if (sent) {
            vSitOutLateReply(deadline + TCO_LATE_REPLY_GUARD_MS, hold);
        }
        ScopedLock replies(ReplyLock);
        vStore(bTcoQueryWaiting, 0);  // also for a query that did not go out
    }
    vTakeBackHolderMark(hold.markedQueue);
    // No process of this library posts while this one holds the lock, and this process's decoder
    // posts no more: the queue goes unless a message of another build waits in it. A queue this
    // query no longer holds (its set was removed) is left to its holder.
    if (!hold.lost) {
        vRemoveQueueIfEmpty(queue);
    }
    return value;
}

}  // namespace

int iHexToInt(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return 0;
}

int iTcoValue(const unsigned char *digits, int count)
{
    uint32_t value = 0;  // unsigned, so that more than eight digits wrap without overflow
    for (int i = 0; i < count; ++i) {
        value = value * 16u + static_cast<uint32_t>(iHexToInt(static_cast<char>(digits[i])));
    }
    return static_cast<int32_t>(value);
}

int iReadTco(int index)
{
    // The mutex's wait is measured on the real-time clock.
    struct timespec lockLimit;
    clock_gettime(CLOCK_REALTIME, &lockLimit);
    lockLimit.tv_sec += TCO_LOCK_LIMIT_MS / 1000;
    lockLimit.tv_nsec += static_cast<long>(TCO_LOCK_LIMIT_MS % 1000) * 1000000;
    if (lockLimit.tv_nsec >= 1000000000) {
        lockLimit.tv_sec += 1;
        lockLimit.tv_nsec -= 1000000000;
    }
    const long long start = llNowMs();
    if (pthread_mutex_timedlock(&TcoLock, &lockLimit) != 0) {
        return 0;  // the queries of other threads took the whole time
    }
    int value = 0;
    const long long left = start + TCO_LOCK_LIMIT_MS - llNowMs();
    const int keyboard = left > 0 ? iTakeProcessLock(TCO_QUEUE_KEY, static_cast<int>(left)) : -1;
    if (keyboard >= 0) {
        value = iExchange(index, keyboard);
        vGiveBackProcessLock(keyboard);
    }
    pthread_mutex_unlock(&TcoLock);
    return value;
}

void vTcoFrameOpened()
{
    uiFrameStart = IOFifo.uiRead();
}

void vTcoReplyComplete()
{
    ScopedLock replies(ReplyLock);
    // A frame that began at or before the mark was on its way before the send: it answers another
    // query (another process's, or one of this process that gave up).
    if (!tLoad(bTcoQueryWaiting) || tLoad(uiOpening) != uiQueryOpening ||
        static_cast<int32_t>(uiFrameStart - uiQueryMark) <= 0) {
        return;
    }
    iReplyValue = iTcoValue(JposData.ucTcoData, tLoad(JposData.ucTcoLen));
    vStore(bTcoQueryWaiting, 0);  // one reply per query
    msgbuf.mtype = lReplyType();
    msgbuf.iSenderPid = static_cast<int32_t>(getpid());
    msgsnd(tLoad(msgID), &msgbuf, sizeof msgbuf.iSenderPid, IPC_NOWAIT);
    vStore(bReplyReady, 1);
}

void vClearTcoLeftovers()
{
    // A query of a process that was killed leaves its set and its queue; a query running now (of any
    // process, this one included) holds the lock, and its end removes both. The queue goes when the
    // last message sent to it came from a process that has ended: a queue nobody has sent to yet may be
    // the one a process of a build that takes no lock waits on, and stays.
    const int lock = iTakeProcessLock(TCO_QUEUE_KEY, 0);
    if (lock < 0) {
        return;
    }
    const int queue = msgget(TCO_QUEUE_KEY, 0);
    struct msqid_ds state;
    if (queue >= 0 && !bOtherHolderSeen(queue) && msgctl(queue, IPC_STAT, &state) == 0 && state.msg_qnum == 0 &&
        (state.msg_lspid == getpid() || bProcessEnded(state.msg_lspid))) {
        msgctl(queue, IPC_RMID, nullptr);
    }
    vGiveBackProcessLock(lock);
}
