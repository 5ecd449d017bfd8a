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

namespace {

// Gives the object to the group with mode 0660 when it should be and this process may; `control` is
// the object kind's IPC_STAT / IPC_SET call and `perm` picks the permission record out of its state.
template <typename State, typename Control, typename Perm>
void vConform(Control control, Perm perm)
{
    const int group = tLoad(iGroupId);
    State state;
    if (group >= 0 && control(IPC_STAT, &state) == 0 && bNeedsConforming(perm(state), group)) {
        perm(state).gid = static_cast<gid_t>(group);
        perm(state).mode = GROUP_MODE;
        control(IPC_SET, &state);
    }
}

}  // namespace

void vConformSegment(int id)
{
    vConform<struct shmid_ds>([id](int command, struct shmid_ds *state) { return shmctl(id, command, state); },
                              [](struct shmid_ds &state) -> struct ipc_perm & { return state.shm_perm; });
}

void vConformSemaphores(int id)
{
    vConform<struct semid_ds>([id](int command, struct semid_ds *state) { return semctl(id, 0, command, state); },
                              [](struct semid_ds &state) -> struct ipc_perm & { return state.sem_perm; });
}

void vConformQueue(int id)
{
    vConform<struct msqid_ds>([id](int command, struct msqid_ds *state) { return msgctl(id, command, state); },
                              [](struct msqid_ds &state) -> struct ipc_perm & { return state.msg_perm; });
}
