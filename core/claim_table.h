// SPDX-License-Identifier: Apache-2.0
// The claim table: five bytes of System V shared memory under key 100, one claimed flag per service
// (byte 0 keylock, 1 MSR, 2 POS keyboard, 3 tone indicator, 4 unused), shared by every process that uses
// the library. It is attached by the common open sequence and detached by the shutdown, which removes it
// only when no other process is attached to it. The first process to attach a table that no live process
// uses clears it of the claims of processes that ended without releasing them; while other processes
// stay attached, the claim of a process that died is cleared by the next look at it (core/claim_owners.h);
// a shutdown clears the claims of its own process. The first attach, the last detach and every change of
// a claim are serialised across processes by a lock under the table's key (core/process_lock.h) that dies
// with its holder; a process of a build that takes no lock still shares the table's bytes as before.
//
// The functions below are called with LifecycleLock held (lock order: LifecycleLock, then the table's
// process lock); they never touch a table that is not attached.
#ifndef TROV_CORE_CLAIM_TABLE_H
#define TROV_CORE_CLAIM_TABLE_H

#include <cstdint>

// Creates or finds the segment and attaches it, clearing stale claims when no other process is attached.
// 1 on success, 0 on failure.
int iCreateSharedMemory();

// Clears this process's claims, detaches the table if attached and removes the segment if one is held
// and no other process uses it.
void vReleaseClaimTable();

// Stores a service's claimed byte as given, when the device is open and the table attached, and
// remembers whether this process now holds that claim.
void vSetClaim(int index, uint8_t claim);

// True when the device is open, the table attached and the service's byte non-zero, once a claim of a
// process that has died is cleared.
bool bIsClaimed(int index);

#endif
