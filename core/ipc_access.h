// SPDX-License-Identifier: Apache-2.0
// Who may use the System V objects the library makes (the claim table's segment, the locks' semaphore
// sets, the claim owners' set, the TCO reply queue): one policy for all of them.
//
// Where the group `pos` exists (the package makes it for the keyboard's users, who need it for the
// hiddev node anyway), every object is made with mode 0660 and given to that group: the accounts of the
// group share the locks and claims, and no other account can take a lock and hold it, write a claim or
// read a reply. On a machine without the group, every object has mode 0666, as before: every account
// shares them.
//
// The kernel lets only an object's creator, its owner or root remove it or change its owner, group and
// mode; so an object made by one account and left behind (its maker killed) is removed by the next
// process of that account, and until then it is usable by the others: it locks nobody out.
#ifndef TROV_CORE_IPC_ACCESS_H
#define TROV_CORE_IPC_ACCESS_H

// Looks up the group once, at an open of the device. Called with LifecycleLock held.
void vLearnIpcGroup();

// The permission bits to make and get objects with: 0660 when the group exists, 0666 otherwise.
int iIpcMode();

// Gives an object this process made (or owns) to the group with mode 0660, when the group exists and
// the object is not so already. The others leave an object they cannot change as it is.
void vConformSegment(int id);
void vConformSemaphores(int id);
void vConformQueue(int id);

#endif
