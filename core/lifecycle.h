// SPDX-License-Identifier: Apache-2.0
// The device lifecycle shared by the four services: the reset of the service state, the common open
// sequence that the first Open of any service runs, the shutdown close_all, and the power-off shutdown
// that the library's own threads raise.
//
// Opens, Closes, claims and shutdowns of all four services are serialised by LifecycleLock, so that two
// Java threads never both run a first open, two shutdowns never stop the same threads, and a claim never
// writes a table that a shutdown is detaching.
#ifndef TROV_CORE_LIFECYCLE_H
#define TROV_CORE_LIFECYCLE_H

#include <cstdint>
#include <jni.h>
#include <pthread.h>

extern pthread_mutex_t LifecycleLock;

// Resets the service state in JposData to its values at first open (track and TCO buffers kept), and
// the count of outages to report.
void vResetServiceState();

// Runs the common open sequence when the device is not open yet. 0 to go on with the service's own
// step, or JPOS_E_NOSERVICE. A sequence that fails after the device was opened undoes what it did, so
// that the next Open starts again from the beginning. The caller holds LifecycleLock.
int iOpenDeviceIfClosed(JNIEnv *env);

// Shuts the device down when no service is open any more: stops the library's threads, closes the
// device, forgets the VM and removes the claim table. Does nothing while any open count is non-zero.
// The caller holds LifecycleLock.
void close_all();

// The power-off shutdown, raised on a library thread of the given opening. It takes LifecycleLock for
// the whole report, so that no Open can slip in between the report and the shutdown and be shut down
// with the old opening: report() runs with the lock held, then, while that opening's device is open,
// all four counts go to 0 and close_all runs. Waiting for the lock gives up (and reports nothing) as
// soon as that opening's shutdown has begun elsewhere, such as a Close that is stopping this very
// thread, so that the two never deadlock.
void vReportPowerOff(unsigned opening, void (*report)(unsigned));

// Whether a library thread of the given opening goes on: its stop flag is down and its opening has not
// ended.
bool bThreadGoesOn(uint8_t &stopFlag, unsigned opening);

// Ends a library thread and clears its handle: joins it, or, when called on that thread itself,
// detaches it (it then ends as soon as its current call returns).
void vEndThread(pthread_t &handle);

#endif
