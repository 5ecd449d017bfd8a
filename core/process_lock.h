// SPDX-License-Identifier: Apache-2.0
// A lock across the processes of the machine that dies with its holder: one System V semaphore in a set
// of its own under a fixed key. The semaphore counts holders: 0 is free, and taking it waits for 0 and
// adds 1 in one operation, with SEM_UNDO, so that the kernel gives it back when the holder ends in any
// way (killed included). A set that has just been made holds 0, so it needs no initialisation that a
// process could die in the middle of.
//
// The set is removed when the lock is given back, and remade by the next process that takes it; a
// process that waited on a removed set looks again under the key. Nothing of it stays on the machine
// while nobody holds it (unless its maker was another user, whose set this process may not remove: it
// is then only given back; see core/ipc_access.h for who may use and remove it).
//
// A set removed while held (by its owner with ipcrm, or by the removal of an account's objects at its
// logout) cannot be prevented: its owner may always remove it. So the holder of a lock whose removal
// matters looks whether it still holds it (bProcessLockStillHeld) before it trusts what it guarded.
//
// Semaphore sets are System V objects of their own kind: the keys of the claim table's segment (100)
// and of the TCO reply queue (111) name the locks that guard them, and collide with neither.
#ifndef TROV_CORE_PROCESS_LOCK_H
#define TROV_CORE_PROCESS_LOCK_H

// Takes the lock under key, waiting at most limitMs (0: one try, no wait). The semaphore set's id, or -1
// when the wait reached its limit, the lock is held (0), or the set cannot be had.
int iTakeProcessLock(int key, int limitMs);

// Whether the lock taken as id is still held under key: false once its set was removed.
bool bProcessLockStillHeld(int key, int id);

// Gives back the lock taken as id, removing its set.
void vGiveBackProcessLock(int id);

#endif
