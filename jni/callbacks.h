// SPDX-License-Identifier: Apache-2.0
// The road from the library's threads to the Java service objects: each callback attaches its thread
// to the VM, calls one listener method on the registered object, and detaches again. A thread that is
// attached already (the decoder stays attached for its life, see pStayAttached) is used as it is and
// stays attached.
//
// Each callback names the opening of the device whose thread raises it, and makes no call once that
// opening has ended: an event decoded for one opening never reaches the objects of a later one. It
// makes no call either when the VM is gone (the device was shut down), when the service has no
// registered object, or when the VM cannot provide what the call needs. An exception thrown by a
// listener method is cleared, so that it cannot stop the events that follow.
#ifndef TROV_JNI_CALLBACKS_H
#define TROV_JNI_CALLBACKS_H

#include <jni.h>
#include <pthread.h>

// The key record the decoder hands to the key-data callback.
struct KBDATA {
    signed char cType;         // 1 key down, 2 key up
    unsigned char ucKey;       // the key byte as received
    unsigned char ucExtended;  // 1 when the key came behind the extended prefix 0xE0
};

// The extended-key mark set in JposData.iKeyData. It never reaches keyboardDataEvent (see below).
inline constexpr int EXTENDED_KEY_BIT = 0x1000000;

// Guards the three track buffers and their lengths against the decoder filling them, the reader
// emptying them after a reconnection, and the MSR callback copying them, all at once.
extern pthread_mutex_t TrackLock;

// keylockStatusUpdateEvent(position + 1) on the keylock service object.
void CallbackKeylock(int position, unsigned opening);

// msrDataEvent(track1, track2, track3) on the MSR service object; each array holds the track's bytes
// followed by one 0 byte.
void CallbackMSR(unsigned opening);

// keyboardDataEvent(key byte 0..255, event type) on the POS keyboard service object, as every class
// with the listener methods of the Java service classes expects. A class that also declares
// keyboardDataEvent(int, int, boolean) (ours does, found at registration) gets that one instead, with
// whether the key came behind the extended prefix, so that E0 C8 and C8 stay apart in Java.
void CallbackJPOSKeyData(KBDATA key, unsigned opening);

// Attaches the calling thread to the VM for the callbacks it raises from now on, as a daemon thread (a
// VM whose application ends with the services open does not wait for it): one attach for the thread's
// life instead of one per event. Returns the VM to pass to vLeaveVm, or null when nothing was attached
// (no VM recorded, the attach failed, or the thread was attached already).
JavaVM *pStayAttached();

// Detaches the calling thread attached by pStayAttached (nothing for null). Called by the thread itself
// before it ends, so that no attached thread outlives its opening.
void vLeaveVm(JavaVM *vm);

// keyboardStatusUpdateEvent(status) on the POS keyboard service object. A power off/offline status
// while the device of that opening is open then shuts every service down, on the calling thread; the
// report and the shutdown happen as one step under the lifecycle lock, so that an Open made in answer
// to the report opens the device anew.
void CallbackJPOSStatusUpdate(int status, unsigned opening);

// As CallbackJPOSStatusUpdate, for a status the poller tested while the link had seen `linkChanges`
// changes (uiLinkChangesNoted before the test): a 2001 is dropped when the keyboard was lost or
// found since, because the decoder reports that change in stream order and a 2001 delivered after
// its 2002 would tell the application the keyboard is there while it is away.
void CallbackJPOSStatusSinceLink(int status, unsigned linkChanges, unsigned opening);

#endif
