#include "jni/tco_query.h"

#include <cerrno>
#include <cstdint>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"

namespace {

pthread_mutex_t TcoLock = PTHREAD_MUTEX_INITIALIZER;

constexpr useconds_t REPLY_POLL_US = 1000;

// Waits for the decoder's reply message, polling so that the wait is bounded. The message is received
// into a buffer of its own: msgbuf is the decoder's, which it may be filling for the send at that moment
// (and some emulators write the buffer even when no message was there).
bool bReplyArrived()
{
    TcoMessage reply;
    for (int waited = 0; waited < TCO_REPLY_LIMIT_MS * 1000; waited += REPLY_POLL_US) {
        if (msgrcv(tLoad(msgID), &reply, sizeof reply.iSenderPid, 1, IPC_NOWAIT) >= 0) {
            return true;
        }
        if (errno != ENOMSG && errno != EINTR) {
            return false;  // the queue is gone or unusable
        }
        usleep(REPLY_POLL_US);
    }
    return false;
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
    ScopedLock queries(TcoLock);
    vStore(msgID, msgget(TCO_QUEUE_KEY, IPC_CREAT | 0600));
    const signed char query[] = {static_cast<signed char>(0xEF), 0x50, static_cast<signed char>(0xEF), 0x49, 0x31,
                                 static_cast<signed char>(index & 0xFF)};
    vStore(bTcoQueryWaiting, 1);
    if (!hidfunc.bWrite(query, sizeof query)) {
        vStore(bTcoQueryWaiting, 0);
        return 0;
    }
    const bool replied = bReplyArrived();
    vStore(bTcoQueryWaiting, 0);
    int value = 0;
    if (replied) {
        const uint8_t count = tLoad(JposData.ucTcoLen);  // written by the decoder before it posted
        value = iTcoValue(JposData.ucTcoData, count);
    }
    msgctl(tLoad(msgID), IPC_RMID, nullptr);
    return value;
}
