// SPDX-License-Identifier: Apache-2.0
#include "input/power_status.h"

#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"

namespace {

pthread_mutex_t EdgeLock = PTHREAD_MUTEX_INITIALIZER;

// Guarded by EdgeLock: the changes of the link the reader found since the open, and those the decoder
// reported. Losses and returns alternate, a loss first, so an odd change is a loss.
unsigned LinkChanges = 0;
unsigned LinkChangesReported = 0;

}  // namespace

int getJPOSPowerStatus()
{
    ScopedLock edges(EdgeLock);
    if (hidfunc.bGetDeviceInfo()) {
        if (tLoad(bFirstRunConnected) == 1) {
            vStore(bFirstRunConnected, 0);
            vStore(bFirstRunDisconnected, 1);
            return OPOS_SUE_POWER_ONLINE;
        }
        return 0;
    }
    // A device that stopped answering while its descriptor is still open has just been lost, and the
    // reader, whose read fails at the same moment, takes it from here: it searches for the device for
    // 10 seconds before it reports power off. Reporting it here as well would end that grace at random,
    // whenever a test happened to fall between the loss and the reader's reconnection pass.
    if (hidfunc.iDescriptor() != -1 && tLoad(agent) != pthread_t{}) {
        return 0;
    }
    if (tLoad(bFirstRunDisconnected) == 1) {
        vStore(bFirstRunDisconnected, 0);
        vStore(bFirstRunConnected, 1);
        return OPOS_SUE_POWER_OFF_OFFLINE;
    }
    return 0;
}

void vSilencePowerStatus()
{
    ScopedLock edges(EdgeLock);
    vStore(bFirstRunConnected, 0);
    vStore(bFirstRunDisconnected, 0);
}

void vArmPowerOffReport()
{
    ScopedLock edges(EdgeLock);
    vStore(bFirstRunDisconnected, 1);
}

void vNoteLinkChange()
{
    ScopedLock edges(EdgeLock);
    ++LinkChanges;
}

void vResetLink()
{
    ScopedLock edges(EdgeLock);
    LinkChanges = 0;
    LinkChangesReported = 0;
}

unsigned uiLinkChangesNoted()
{
    ScopedLock edges(EdgeLock);
    return LinkChanges;
}

int iUnreportedLinkChange()
{
    ScopedLock edges(EdgeLock);
    if (LinkChangesReported == LinkChanges) {
        return 0;
    }
    ++LinkChangesReported;
    return LinkChangesReported % 2 == 1 ? OPOS_SUE_POWER_OFF : OPOS_SUE_POWER_ONLINE;
}
