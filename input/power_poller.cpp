// SPDX-License-Identifier: Apache-2.0
#include "input/power_poller.h"

#include <cstdint>
#include <ctime>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "input/power_status.h"
#include "jni/callbacks.h"

namespace {

// Serialises starting and stopping, so that a start never races a stop into a second poller.
// Taken before PauseLock when both are held.
pthread_mutex_t PollerLock = PTHREAD_MUTEX_INITIALIZER;

// The pause between two tests: the poller waits on PauseEnded (under PauseLock) until the next test is
// due or a stop is requested, so that a stop ends the pause at once.
pthread_mutex_t PauseLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t PauseEnded;
pthread_once_t PauseOnce = PTHREAD_ONCE_INIT;

constexpr int POLL_PERIOD_S = 1;

void vInitPause()
{
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&PauseEnded, &attributes);
    pthread_condattr_destroy(&attributes);
}

// Waits one poll period, or less when the poller is to stop.
void vPause(unsigned opening)
{
    struct timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    due.tv_sec += POLL_PERIOD_S;
    ScopedLock pause(PauseLock);
    while (bThreadGoesOn(bTerminateConnectThread, opening)) {
        if (pthread_cond_timedwait(&PauseEnded, &PauseLock, &due) != 0) {
            return;  // the period is over (an error ends the pause the same way: it is bounded)
        }
    }
}

}  // namespace

void *connect_thread(void *opening)
{
    const auto mine = static_cast<unsigned>(reinterpret_cast<uintptr_t>(opening));
    while (bThreadGoesOn(bTerminateConnectThread, mine)) {
        const unsigned linkChanges = uiLinkChangesNoted();
        const int status = getJPOSPowerStatus();
        if (status != 0) {
            CallbackJPOSStatusSinceLink(status, linkChanges, mine);
        }
        vPause(mine);
    }
    return nullptr;
}

void vStartPoller()
{
    pthread_once(&PauseOnce, vInitPause);
    ScopedLock pollers(PollerLock);
    if (tLoad(con_agent) != pthread_t{}) {
        return;
    }
    vStore(bTerminateConnectThread, 0);
    pthread_t poller;
    void *opening = reinterpret_cast<void *>(static_cast<uintptr_t>(tLoad(uiOpening)));
    if (pthread_create(&poller, nullptr, connect_thread, opening) == 0) {
        vStore(con_agent, poller);
    }
}

void vWakePoller()
{
    pthread_once(&PauseOnce, vInitPause);
    ScopedLock pause(PauseLock);
    pthread_cond_broadcast(&PauseEnded);
}

void vStopPoller()
{
    pthread_once(&PauseOnce, vInitPause);
    ScopedLock pollers(PollerLock);
    {
        ScopedLock pause(PauseLock);
        vStore(bTerminateConnectThread, 1);
        pthread_cond_broadcast(&PauseEnded);
    }
    vEndThread(con_agent);
    vStore(bTerminateConnectThread, 0);
}
