#include "jni/tco_query.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"

namespace {

// Serialises the queries of this process: one exchange with the keyboard at a time. Taken with the
// caller's time limit. Lock order: TcoLock, then ReplyLock.
pthread_mutex_t TcoLock = PTHREAD_MUTEX_INITIALIZER;

// Serialises the hand-over of a completed reply (decoder) with the start and the end of a query's wait
// (query thread), so that each reply is either posted to a waiting query, or counted against a query
// that gave up, or ignored, and never lost between the two. Held for no blocking call.
pthread_mutex_t ReplyLock = PTHREAD_MUTEX_INITIALIZER;

// Under ReplyLock: whether a reply is owed to a query that gave up, and until when it is expected.
bool bReplyOwed;
long long llOwedUntilMs;

constexpr useconds_t REPLY_POLL_US = 1000;

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

// The queue, made anew when another process's query has removed it meanwhile.
int iQueue()
{
    const int queue = msgget(TCO_QUEUE_KEY, IPC_CREAT | 0600);
    vStore(msgID, queue);
    return queue;
}

// Takes one reply message of this process, without waiting. The message is received into a buffer of
// its own: msgbuf is the decoder's, which it may be filling for the send at that moment.
bool bTakeReply()
{
    TcoMessage reply;
    if (msgrcv(tLoad(msgID), &reply, sizeof reply.iSenderPid, lReplyType(), IPC_NOWAIT) >= 0) {
        return true;
    }
    if (errno == EIDRM || errno == EINVAL) {
        iQueue();
    }
    return false;
}

// Whether a late reply is still expected; forgets one whose time has passed.
bool bReplyStillOwed()
{
    ScopedLock replies(ReplyLock);
    if (bReplyOwed && llNowMs() >= llOwedUntilMs) {
        bReplyOwed = false;
    }
    return bReplyOwed;
}

// Waits, polling so that the wait is bounded, for the decoder's reply message. A query that gives up
// leaves its reply owed.
bool bReplyArrived(long long deadlineMs)
{
    for (;;) {
        if (bTakeReply()) {
            ScopedLock replies(ReplyLock);
            vStore(bTcoQueryWaiting, 0);
            return true;
        }
        if (llNowMs() >= deadlineMs) {
            ScopedLock replies(ReplyLock);
            if (bTakeReply()) {
                vStore(bTcoQueryWaiting, 0);
                return true;  // posted just before the decoder could see that we give up
            }
            vStore(bTcoQueryWaiting, 0);
            bReplyOwed = true;
            llOwedUntilMs = llNowMs() + TCO_LATE_REPLY_MS;
            return false;
        }
        usleep(REPLY_POLL_US);
    }
}

// Removes the queue unless another process's reply waits in it (that process removes it then).
void vRemoveQueue()
{
    struct msqid_ds state;
    const int queue = tLoad(msgID);
    if (msgctl(queue, IPC_STAT, &state) == 0 && state.msg_qnum == 0) {
        msgctl(queue, IPC_RMID, nullptr);
    }
}

int iQueryLocked(int index, long long deadlineMs)
{
    if (iQueue() < 0) {
        return 0;  // no way back for the reply: nothing is sent
    }
    // Replies of earlier queries that nobody took are stale.
    while (bTakeReply()) {
    }
    // The reply owed by a query that gave up comes first; it is dropped, then this query goes out.
    while (bReplyStillOwed() && llNowMs() < deadlineMs) {
        usleep(REPLY_POLL_US);
    }
    int value = 0;
    if (llNowMs() < deadlineMs && !bReplyStillOwed()) {
        const signed char query[] = {static_cast<signed char>(0xEF), 0x50, static_cast<signed char>(0xEF), 0x49,
                                     0x31, static_cast<signed char>(index & 0xFF)};
        {
            ScopedLock replies(ReplyLock);
            vStore(bTcoQueryWaiting, 1);
        }
        if (!hidfunc.bWrite(query, sizeof query)) {
            ScopedLock replies(ReplyLock);
            vStore(bTcoQueryWaiting, 0);  // a query that did not go out is owed no reply
        } else if (bReplyArrived(deadlineMs)) {
            const uint8_t count = tLoad(JposData.ucTcoLen);  // written by the decoder before it posted
            value = iTcoValue(JposData.ucTcoData, count);
        }
    }
    vRemoveQueue();
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
    const long long deadlineMs = llNowMs() + TCO_REPLY_LIMIT_MS;
    // The lock's wait is measured on the real-time clock, the rest on the monotonic one.
    struct timespec lockLimit;
    clock_gettime(CLOCK_REALTIME, &lockLimit);
    lockLimit.tv_sec += TCO_REPLY_LIMIT_MS / 1000;
    lockLimit.tv_nsec += static_cast<long>(TCO_REPLY_LIMIT_MS % 1000) * 1000000;
    if (lockLimit.tv_nsec >= 1000000000) {
        lockLimit.tv_sec += 1;
        lockLimit.tv_nsec -= 1000000000;
    }
    if (pthread_mutex_timedlock(&TcoLock, &lockLimit) != 0) {
        return 0;  // the queries of other threads took the whole time
    }
    const int value = iQueryLocked(index, deadlineMs);
    pthread_mutex_unlock(&TcoLock);
    return value;
}

void vTcoReplyComplete()
{
    ScopedLock replies(ReplyLock);
    if (bReplyOwed) {
        bReplyOwed = false;
        if (llNowMs() < llOwedUntilMs) {
            return;  // the late reply of a query that gave up
        }
    }
    if (!tLoad(bTcoQueryWaiting)) {
        return;  // nobody here asked (another process's query, or an unsolicited frame)
    }
    msgbuf.mtype = lReplyType();
    msgbuf.iSenderPid = static_cast<int32_t>(getpid());
    if (msgsnd(tLoad(msgID), &msgbuf, sizeof msgbuf.iSenderPid, IPC_NOWAIT) != 0 &&
        (errno == EIDRM || errno == EINVAL)) {
        // Another process's query removed the queue; the waiting query looks in the one made anew.
        msgsnd(iQueue(), &msgbuf, sizeof msgbuf.iSenderPid, IPC_NOWAIT);
    }
}
