// SPDX-License-Identifier: Apache-2.0
#include "core/claim_table.h"

#include <cerrno>
#include <cstring>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include "core/claim_owners.h"
#include "core/ipc_access.h"
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

// How long an attach, a detach or a change of a claim waits for another process's; each holds the lock
// for a few system calls, so only a holder that is stopped (a debugger, SIGSTOP) makes it wait that long.
constexpr int CLAIM_LOCK_LIMIT_MS = 2000;

// Takes a claim for this process (or gives it back) in the order that never lets a live claim look
// stale: held before the byte and the byte before the mark; the mark before the byte and the byte
// before held. Under the table's process lock, when it could be had.
void vChangeOwnClaim(uint8_t *table, int index, uint8_t claim)
{
    const bool had = OwnClaims[index] != 0;
    if (claim != 0 && !had) {
        vHoldClaim(index);
        vStore(table[index], claim);
        vMarkClaim(index, true);
    } else if (claim == 0 && had) {
        vMarkClaim(index, false);
        vStore(table[index], 0);
        vReleaseHeldClaim(index);
    } else if (claim != 0) {
        vStore(table[index], claim);  // claimed again by this process
    }
    OwnClaims[index] = claim != 0 ? 1 : 0;
}

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
    shmid = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, IPC_CREAT | iIpcMode());
    if (shmid < 0) {
        shmid = 0;  // nothing is held, so the next open creates the segment again
    } else {
        bTableHeld = true;
        vConformSegment(shmid);
        void *table = shmat(shmid, nullptr, 0);
        if (table != reinterpret_cast<void *>(-1)) {
            // A child forked before its exec would otherwise inherit the attachment and count as a
            // user of the table (fork copies the mapping and raises shm_nattch; seen on Linux 6.18): a last
            // close meanwhile would keep a table that nobody holds once the child has exec'd.
            // ProcessDeaths.AChildForkedBeforeItsExecKeepsNoTable checks it.
            madvise(table, CLAIM_TABLE_SIZE, MADV_DONTFORK);
            struct shmid_ds state;
            const bool first = shmctl(shmid, IPC_STAT, &state) == 0 && state.shm_nattch == 1;
            if (first) {
                // No live process uses the table: what it holds are the claims of processes that ended
                // without releasing them (killed, or crashed).
                std::memset(table, 0, CLAIM_TABLE_SIZE);
            }
            bAttachClaimOwners(first);
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
    if (!bTableHeld) {
        if (table != nullptr) {
            shmdt(table);
        }
        vDetachClaimOwners(false);
        shmid = 0;
        return;
    }
    const int lock = iTakeProcessLock(CLAIM_TABLE_KEY, CLAIM_LOCK_LIMIT_MS);
    if (table != nullptr) {
        // The opening has ended, however it ended (a Close, or a power-off that Java never follows
        // with a release): its claims go with it, so that the next opening of any process can claim.
        for (int i = 0; i < CLAIM_TABLE_SIZE; ++i) {
            vChangeOwnClaim(table, i, 0);
        }
        shmdt(table);
    }
    // Removed only when no other process is attached: processes still using it go on sharing it, and
    // the next process to open finds their claims. Without the lock (its holder stopped) the table is
    // left; the next first attach clears it. A table made by another account cannot be removed by this
    // one (EPERM): the next process of its maker's account that closes last removes it.
    // A lock whose set was removed while this process held it (an ipcrm) no longer keeps out a process
    // that attaches meanwhile: the table is then left, and the next first attach clears it.
    struct shmid_ds state;
    const bool last = bProcessLockStillHeld(CLAIM_TABLE_KEY, lock) && shmctl(shmid, IPC_STAT, &state) == 0 &&
                      state.shm_nattch == 0;
    if (last) {
        shmctl(shmid, IPC_RMID, nullptr);
    }
    vDetachClaimOwners(last);
    vGiveBackProcessLock(lock);
    bTableHeld = false;
    shmid = 0;
}

void vSetClaim(int index, uint8_t claim)
{
    uint8_t *table = tLoad(bClaimedBy);
    if (tLoad(bDeviceOpened) && table != nullptr) {
        const int lock = iTakeProcessLock(CLAIM_TABLE_KEY, CLAIM_LOCK_LIMIT_MS);
        if (claim == 0 && OwnClaims[index] == 0) {
            vStore(table[index], 0);  // a release stores the byte, as it always has
        }
        vChangeOwnClaim(table, index, claim);
        vGiveBackProcessLock(lock);
    }
}

bool bIsClaimed(int index)
{
    uint8_t *table = tLoad(bClaimedBy);
    if (!tLoad(bDeviceOpened) || table == nullptr || tLoad(table[index]) == 0) {
        return false;
    }
    if (OwnClaims[index] != 0 || !bClaimerDied(index)) {
        return true;
    }
    // The claimer has died: look again under the lock, where no live process is half way through a
    // change of that claim, and clear it.
    const int lock = iTakeProcessLock(CLAIM_TABLE_KEY, CLAIM_LOCK_LIMIT_MS);
    if (bProcessLockStillHeld(CLAIM_TABLE_KEY, lock) && bClaimerDied(index)) {
        vMarkClaim(index, false);
        vStore(table[index], 0);
    }
    vGiveBackProcessLock(lock);
    return tLoad(table[index]) != 0;
}
