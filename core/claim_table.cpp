#include "core/claim_table.h"

#include <cerrno>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "core/shared_access.h"
#include "core/trovjpos.h"

namespace {

// Whether a segment is held. The kernel may hand out the id 0 (the first segment after a boot), so
// shmid alone cannot tell.
bool bTableHeld;

// A table being removed by its last user is skipped for a new one; a process meets that at most a few
// times in a row.
constexpr int ATTACH_ATTEMPTS = 16;

}  // namespace

int iCreateSharedMemory()
{
    for (int attempt = 0; attempt < ATTACH_ATTEMPTS; ++attempt) {
        const int flags = (bTableHeld ? 0 : IPC_CREAT) | 0666;
        shmid = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, flags);
        if (shmid < 0) {
            shmid = 0;  // nothing is held, so the next open creates the segment again
            return 0;
        }
        bTableHeld = true;
        void *table = shmat(shmid, nullptr, 0);
        if (table == reinterpret_cast<void *>(-1)) {
            if (errno == EIDRM || errno == EINVAL) {
                bTableHeld = false;  // removed by its last user meanwhile: take the next one
                continue;
            }
            return 0;  // the shutdown that follows removes the segment when nobody else uses it
        }
        struct shmid_ds state;
        if (shmctl(shmid, IPC_STAT, &state) == 0) {
            if ((state.shm_perm.mode & SHM_DEST) != 0) {
                // Its last user is removing it; a process attaching now would share it with nobody who
                // comes later. Take the segment that the next attempt creates.
                shmdt(table);
                bTableHeld = false;
                continue;
            }
            if (state.shm_nattch == 1) {
                // No live process uses the table: what it holds are the claims of processes that ended
                // without releasing them (killed, or crashed).
                std::memset(table, 0, CLAIM_TABLE_SIZE);
            }
        }
        vStore(bClaimedBy, static_cast<uint8_t *>(table));
        return 1;
    }
    shmid = 0;
    bTableHeld = false;
    return 0;
}

void vReleaseClaimTable()
{
    uint8_t *table = tExchange(bClaimedBy, nullptr);
    if (bTableHeld) {
        // Removed only when no other process is attached: processes still using it go on sharing it,
        // and the next process to open finds their claims.
        struct shmid_ds state;
        const unsigned long ours = table != nullptr ? 1 : 0;
        if (shmctl(shmid, IPC_STAT, &state) == 0 && state.shm_nattch <= ours) {
            shmctl(shmid, IPC_RMID, nullptr);
        }
        bTableHeld = false;
    }
    if (table != nullptr) {
        shmdt(table);
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
