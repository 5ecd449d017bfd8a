#include "input/power_poller.h"

#include <cstdint>
#include <unistd.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "input/power_status.h"
#include "jni/callbacks.h"

namespace {

// Serialises starting and stopping, so that a start never races a stop into a second poller.
pthread_mutex_t PollerLock = PTHREAD_MUTEX_INITIALIZER;

// One test per second; the pause is slept in slices so that a stop is seen within one slice.
constexpr int POLL_SLICES = 20;
constexpr useconds_t POLL_SLICE_US = 50000;

}  // namespace

void *connect_thread(void *opening)
{
    const auto mine = static_cast<unsigned>(reinterpret_cast<uintptr_t>(opening));
    while (bThreadGoesOn(bTerminateConnectThread, mine)) {
        const int status = getJPOSPowerStatus();
        if (status != 0) {
            CallbackJPOSStatusUpdate(status, mine);
        }
        for (int slice = 0; slice < POLL_SLICES && bThreadGoesOn(bTerminateConnectThread, mine); ++slice) {
            usleep(POLL_SLICE_US);
        }
    }
    return nullptr;
}

void vStartPoller()
{
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

void vStopPoller()
{
    ScopedLock pollers(PollerLock);
    vStore(bTerminateConnectThread, 1);
    vEndThread(con_agent);
    vStore(bTerminateConnectThread, 0);
}
