// SPDX-License-Identifier: Apache-2.0
#include "core/ipc_access.h"

#include <grp.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include "core/shared_access.h"

namespace {

// The group's id, or -1 when the machine has no group of that name (or one whose id does not fit an
// int). Written under LifecycleLock at an open; read by the TCO queries of the opening.
int iGroupId = -1;

// Room for the group's entry: its name, password field and member list. A group with more members than
// fit is looked up as missing (ERANGE), and the objects keep mode 0666.
char GroupEntryRoom[16384];

constexpr int GROUP_MODE = 0660;
constexpr int OPEN_MODE = 0666;

// Whether the object, as the kernel describes it, should be changed, and by this process.
bool bNeedsConforming(const struct ipc_perm &perm, int group)
{
    const uid_t self = geteuid();
    if (perm.uid != self && perm.cuid != self) {
        return false;  // only its creator, its owner (or root) may
    }
    return perm.gid != static_cast<gid_t>(group) || (perm.mode & 0777) != GROUP_MODE;
}

}  // namespace

void vLearnIpcGroup()
{
    struct group entry;
    struct group *found = nullptr;
    const int error = getgrnam_r("pos", &entry, GroupEntryRoom, sizeof GroupEntryRoom, &found);
    const bool known = error == 0 && found != nullptr && found->gr_gid <= 0x7FFFFFFFu;
    vStore(iGroupId, known ? static_cast<int>(found->gr_gid) : -1);
}

int iIpcMode()
{
    return tLoad(iGroupId) >= 0 ? GROUP_MODE : OPEN_MODE;
}

void vConformSegment(int id)
{
    const int group = tLoad(iGroupId);
    struct shmid_ds state;
    if (group >= 0 && shmctl(id, IPC_STAT, &state) == 0 && bNeedsConforming(state.shm_perm, group)) {
        state.shm_perm.gid = static_cast<gid_t>(group);
        state.shm_perm.mode = GROUP_MODE;
        shmctl(id, IPC_SET, &state);
    }
}

void vConformSemaphores(int id)
{
    const int group = tLoad(iGroupId);
    struct semid_ds state;
    if (group >= 0 && semctl(id, 0, IPC_STAT, &state) == 0 && bNeedsConforming(state.sem_perm, group)) {
        state.sem_perm.gid = static_cast<gid_t>(group);
        state.sem_perm.mode = GROUP_MODE;
        semctl(id, 0, IPC_SET, &state);
    }
}

void vConformQueue(int id)
{
    const int group = tLoad(iGroupId);
    struct msqid_ds state;
    if (group >= 0 && msgctl(id, IPC_STAT, &state) == 0 && bNeedsConforming(state.msg_perm, group)) {
        state.msg_perm.gid = static_cast<gid_t>(group);
        state.msg_perm.mode = GROUP_MODE;
        msgctl(id, IPC_SET, &state);
    }
}
