// SPDX-License-Identifier: Apache-2.0
#include "core/stop_signal.h"

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/shared_access.h"

namespace {

int StopFd = -1;

}  // namespace

bool bCreateStopSignal()
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    vStore(StopFd, fd);
    return fd != -1;
}

void vRaiseStopSignal()
{
    const int fd = tLoad(StopFd);
    if (fd != -1) {
        const uint64_t one = 1;
        // An eventfd counter cannot overflow from a handful of raises; the result does not matter.
        (void)!write(fd, &one, sizeof one);
    }
}

void vCloseStopSignal()
{
    const int fd = tExchange(StopFd, -1);
    if (fd != -1) {
        close(fd);
    }
}

WaitEnd eWaitFor(int fd, short events, const struct timespec &limit)
{
    struct pollfd watched[2] = {{tLoad(StopFd), POLLIN, 0}, {fd, events, 0}};
    const int rc = ppoll(watched, 2, &limit, nullptr);
    if (rc <= 0) {
        return WaitEnd::TimedOut;
    }
    if (watched[0].revents != 0) {
        return WaitEnd::Stopped;
    }
    return WaitEnd::Ready;
}

WaitEnd eWaitForMs(int fd, short events, int limitMs)
{
    const struct timespec limit = {limitMs / 1000, static_cast<long>(limitMs % 1000) * 1000000L};
    return eWaitFor(fd, events, limit);
}
