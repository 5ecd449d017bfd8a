// SPDX-License-Identifier: Apache-2.0
#include "core/process_lock.h"

#include <cerrno>
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>

namespace {

long long llNowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int iTakeProcessLock(int key, int limitMs)
{
    const long long deadline = llNowMs() + limitMs;
    for (;;) {
        const int id = semget(key, 1, IPC_CREAT | 0666);
        if (id < 0) {
            return -1;
        }
        const long long left = deadline - llNowMs();
        if (left <= 0) {
            return -1;
        }
        const struct timespec wait = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
        struct sembuf take[2] = {{0, 0, 0}, {0, 1, SEM_UNDO}};
        if (semtimedop(id, take, 2, &wait) == 0) {
            return id;
        }
        if (errno != EINTR && errno != EIDRM && errno != EINVAL) {
            return -1;  // EAGAIN: the limit passed
        }
        // Interrupted, or the set was removed by its holder as it gave the lock back: look again.
    }
}

void vGiveBackProcessLock(int id)
{
    if (id < 0) {
        return;
    }
    // Removing the set wakes every waiter, and they meet again in the set the first of them makes.
    if (semctl(id, 0, IPC_RMID) != 0) {
        struct sembuf giveBack = {0, -1, SEM_UNDO};
        semop(id, &giveBack, 1);
    }
}
