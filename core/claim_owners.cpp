// SPDX-License-Identifier: Apache-2.0
#include "core/claim_owners.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include "core/ipc_access.h"
#include "core/trovjpos.h"

namespace {

// The set's semaphores: "held" of byte i is i, "marked" of byte i is CLAIM_TABLE_SIZE + i.
constexpr int OWNER_SEMAPHORES = 2 * CLAIM_TABLE_SIZE;

// The set's id while the table is attached, else -1. Under LifecycleLock.
int iOwnersId = -1;

int iMarkedOf(int index)
{
    return CLAIM_TABLE_SIZE + index;
}

}  // namespace

bool bAttachClaimOwners(bool first)
{
    iOwnersId = semget(CLAIM_OWNERS_KEY, OWNER_SEMAPHORES, IPC_CREAT | iIpcMode());
    if (iOwnersId < 0) {
        return false;
    }
    vConformSemaphores(iOwnersId);
    if (first) {
        // Nobody else uses the table: no claim in it is alive, and neither is any mark.
        unsigned short zero[OWNER_SEMAPHORES] = {};
        semctl(iOwnersId, 0, SETALL, zero);
    }
    return true;
}

void vDetachClaimOwners(bool remove)
{
    if (remove && iOwnersId >= 0) {
        semctl(iOwnersId, 0, IPC_RMID);
    }
    iOwnersId = -1;
}

void vHoldClaim(int index)
{
    struct sembuf hold = {static_cast<unsigned short>(index), 1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)};
    if (iOwnersId >= 0) {
        semop(iOwnersId, &hold, 1);
    }
}

void vMarkClaim(int index, bool marked)
{
    if (iOwnersId >= 0) {
        semctl(iOwnersId, iMarkedOf(index), SETVAL, marked ? 1 : 0);
    }
}

void vReleaseHeldClaim(int index)
{
    struct sembuf release = {static_cast<unsigned short>(index), -1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)};
    if (iOwnersId >= 0) {
        semop(iOwnersId, &release, 1);
    }
}

bool bClaimerDied(int index)
{
    if (iOwnersId < 0) {
        return false;
    }
    unsigned short values[OWNER_SEMAPHORES];
    if (semctl(iOwnersId, 0, GETALL, values) != 0) {
        return false;
    }
    return values[iMarkedOf(index)] != 0 && values[index] == 0;
}
