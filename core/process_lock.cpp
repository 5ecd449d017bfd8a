// SPDX-License-Identifier: Apache-2.0
#include "core/process_lock.h"

#include <cerrno>
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include "core/ipc_access.h"

namespace {

// How often a process that may not use the set under the key (EACCES) looks again: its maker has just
// made it and not yet given it to the group.
constexpr useconds_t ACCESS_RETRY_US = 1000;

long long llNowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int iTakeProcessLock(int key, int limitMs)
{
    const bool once = limitMs == 0;
    const long long deadline = llNowMs() + limitMs;
    for (bool first = true;; first = false) {
        // The limit is looked at before the set is made: a waiter woken at its limit (by a removal of
        // the set) makes no set that it would then leave behind.
        const long long left = deadline - llNowMs();
        if (left <= 0 && !(once && first)) {
            return -1;
        }
        const int id = semget(key, 1, IPC_CREAT | iIpcMode());
        if (id < 0) {
            if (errno == EACCES && !once) {
                usleep(ACCESS_RETRY_US);
                continue;
            }
            return -1;
        }
        vConformSemaphores(id);
        const struct timespec wait = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
        struct sembuf take[2] = {{0, 0, static_cast<short>(once ? IPC_NOWAIT : 0)}, {0, 1, SEM_UNDO}};
        if ((once ? semop(id, take, 2) : semtimedop(id, take, 2, &wait)) == 0) {
            return id;
        }
        if (once || (errno != EINTR && errno != EIDRM && errno != EINVAL)) {
            return -1;  // EAGAIN: the limit passed, or the lock is held
        }
        // Interrupted, or the set was removed by its holder as it gave the lock back: look again.
    }
}

bool bProcessLockStillHeld(int key, int id)
{
    return id >= 0 && semget(key, 1, 0) == id && semctl(id, 0, GETVAL) > 0;
}

void vGiveBackProcessLock(int id)
{
    if (id < 0) {
        return;
    }
    // Removing the set wakes every waiter, and they meet again in the set the first of them makes.
    if (semctl(id, 0, IPC_RMID) != 0) {
        struct sembuf giveBack = {0, -1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)};
        semop(id, &giveBack, 1);
    }
}
