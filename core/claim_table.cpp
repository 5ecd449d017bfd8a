// SPDX-License-Identifier: Apache-2.0
#include "core/claim_table.h"

#include <cerrno>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "core/process_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"

namespace {

// Whether a segment is held. The kernel may hand out the id 0 (the first segment after a boot), so
// shmid alone cannot tell.
bool bTableHeld;

// The claims this process made and has not released, one flag per byte of the table: these, and only
// these, are cleared when its opening ends.
uint8_t OwnClaims[CLAIM_TABLE_SIZE];

// How long an attach or a detach waits for another process's; each holds the lock for a few system
// calls, so only a holder that is stopped (a debugger, SIGSTOP) makes it wait that long.
constexpr int CLAIM_LOCK_LIMIT_MS = 2000;

}  // namespace

int iCreateSharedMemory()
{
    // The first attach of a table and its clearing of stale claims, and the last detach and the
    // removal, are serialised across processes by this lock: a process attaches either before the last
    // detach has looked (and the table stays) or after the removal (and makes a new one), and of two
    // first attachers the first clears and the second finds the first one attached.
    const int lock = iTakeProcessLock(CLAIM_TABLE_KEY, CLAIM_LOCK_LIMIT_MS);
    if (lock < 0) {
        return 0;
    }
    int result = 0;
    shmid = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, IPC_CREAT | 0666);
    if (shmid < 0) {
        shmid = 0;  // nothing is held, so the next open creates the segment again
    } else {
        bTableHeld = true;
        void *table = shmat(shmid, nullptr, 0);
        if (table != reinterpret_cast<void *>(-1)) {
            struct shmid_ds state;
            if (shmctl(shmid, IPC_STAT, &state) == 0 && state.shm_nattch == 1) {
                // No live process uses the table: what it holds are the claims of processes that ended
                // without releasing them (killed, or crashed).
                std::memset(table, 0, CLAIM_TABLE_SIZE);
            }
            std::memset(OwnClaims, 0, sizeof OwnClaims);
            vStore(bClaimedBy, static_cast<uint8_t *>(table));
            result = 1;
        }
        // A table that cannot be attached is given up by the shutdown that follows the failed open.
    }
    vGiveBackProcessLock(lock);
    return result;
}

void vReleaseClaimTable()
{
    uint8_t *table = tExchange(bClaimedBy, nullptr);
    if (table != nullptr) {
        // The opening has ended, however it ended (a Close, or a power-off that Java never follows with
        // a release): its claims go with it, so that the next opening of any process can claim.
        for (int i = 0; i < CLAIM_TABLE_SIZE; ++i) {
            if (OwnClaims[i] != 0) {
                vStore(table[i], 0);
                OwnClaims[i] = 0;
            }
        }
    }
    if (!bTableHeld) {
        if (table != nullptr) {
            shmdt(table);
        }
        shmid = 0;
        return;
    }
    const int lock = iTakeProcessLock(CLAIM_TABLE_KEY, CLAIM_LOCK_LIMIT_MS);
    if (table != nullptr) {
        shmdt(table);
    }
    // Removed only when no other process is attached: processes still using it go on sharing it, and
    // the next process to open finds their claims. Without the lock (its holder stopped) the table is
    // left; the next first attach clears it.
    struct shmid_ds state;
    if (lock >= 0 && shmctl(shmid, IPC_STAT, &state) == 0 && state.shm_nattch == 0) {
        shmctl(shmid, IPC_RMID, nullptr);
    }
    vGiveBackProcessLock(lock);
    bTableHeld = false;
    shmid = 0;
}

void vSetClaim(int index, uint8_t claim)
{
    uint8_t *table = tLoad(bClaimedBy);
    if (tLoad(bDeviceOpened) && table != nullptr) {
        vStore(table[index], claim);
        OwnClaims[index] = claim != 0 ? 1 : 0;
    }
}

bool bIsClaimed(int index)
{
    uint8_t *table = tLoad(bClaimedBy);
    return tLoad(bDeviceOpened) && table != nullptr && tLoad(table[index]) != 0;
}
