// SPDX-License-Identifier: Apache-2.0
// Tells a claim of a process that has died from a claim of a live one. The claim table's bytes say only
// that a service is claimed; beside them, a set of semaphores under key 101 (semaphore keys are a
// namespace of their own) holds two per byte:
//   - "held": raised by the claimer with SEM_UNDO, so the kernel lowers it again when the claimer ends
//     in any way (killed or crashed included);
//   - "marked": raised by the claimer without undo; it says that the byte was set by a process of this
//     build, which keeps "held" raised for as long as it lives.
// A byte that is set, marked and not held was set by a process that has died: the claim is stale. A
// byte that is set and not marked was set by a build that takes no lock (or by a process of this build
// killed within the few system calls of its claim or release, which looks the same): it is never
// cleared, so that no live claim is ever taken away.
//
// Every change of a claim by this build (claim: held, byte, marked; release: marked, byte, held) and
// every clearing of a stale one happens under the claim table's process lock (key 100), so that the
// clearing sees no claim half made by a live process. The set lives as long as the table: made or
// found at an attach, reset by the first attacher, removed with the table by the last detach.
#ifndef TROV_CORE_CLAIM_OWNERS_H
#define TROV_CORE_CLAIM_OWNERS_H

#include <cstdint>

inline constexpr int CLAIM_OWNERS_KEY = 101;

// Makes or finds the set; a first attacher (no other process uses the table) resets it. Under the
// table's process lock. False when the set cannot be had: claims then work as in a build that takes no
// lock (never cleared while the table is in use).
bool bAttachClaimOwners(bool first);

// Forgets the set (this process no longer uses the table); remove: and removes it, when the table goes.
void vDetachClaimOwners(bool remove);

// The two halves of this process's claim of a byte, around the store of the byte itself.
void vHoldClaim(int index);
void vMarkClaim(int index, bool marked);
void vReleaseHeldClaim(int index);

// Whether the byte's claim was made by a process of this build that has died since.
bool bClaimerDied(int index);

#endif
