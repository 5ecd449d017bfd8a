#include "core/claim_table.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include "core/shared_access.h"
#include "core/trovjpos.h"

namespace {

// Whether a segment is held. The kernel may hand out the id 0 (the first segment after a boot), so
// shmid alone cannot tell.
bool bTableHeld;

}  // namespace

int iCreateSharedMemory()
{
    const int flags = (bTableHeld ? 0 : IPC_CREAT) | 0666;
    shmid = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, flags);
    if (shmid < 0) {
        shmid = 0;  // nothing is held, so the next open creates the segment again
        return 0;
    }
    bTableHeld = true;
    void *table = shmat(shmid, nullptr, 0);
    if (table == reinterpret_cast<void *>(-1)) {
        return 0;  // the shutdown that follows removes the segment it could not attach
    }
    vStore(bClaimedBy, static_cast<uint8_t *>(table));
    return 1;
}

void vReleaseClaimTable()
{
    uint8_t *table = tExchange(bClaimedBy, nullptr);
    if (table != nullptr) {
        shmdt(table);
    }
    if (bTableHeld) {
        // Processes still attached keep their bytes; the next process to open gets a new, zeroed table.
        shmctl(shmid, IPC_RMID, nullptr);
        bTableHeld = false;
    }
    shmid = 0;
}

void vSetClaim(int index, uint8_t claim)
{
    uint8_t *table = tLoad(bClaimedBy);
    if (tLoad(bDeviceOpened) && table != nullptr) {
        vStore(table[index], claim);
    }
}

bool bIsClaimed(int index)
{
    uint8_t *table = tLoad(bClaimedBy);
    return tLoad(bDeviceOpened) && table != nullptr && tLoad(table[index]) != 0;
}
