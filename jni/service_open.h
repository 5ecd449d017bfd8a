// SPDX-License-Identifier: Apache-2.0
// The Open and Close steps the services share: the common open sequence followed by a service's
// registration, and the count a Close takes away.
#ifndef TROV_JNI_SERVICE_OPEN_H
#define TROV_JNI_SERVICE_OPEN_H

#include <cstdint>
#include <jni.h>

// Opens the device if needed, registers the service object (when a registration is given) and counts
// the open. 0, or JPOS_E_NOSERVICE; a failed registration releases a device that no service has open.
// An Open of a service already open 255 times fails with JPOS_E_NOSERVICE and changes nothing.
// The caller holds LifecycleLock.
int iOpenService(JNIEnv *env, jobject self, int (*registration)(JNIEnv *, jobject), uint8_t &openCount);

// Takes one from a service's open count; a count that is already 0 stays 0, so that a Close without an
// Open cannot keep the device open. Then shuts the device down if no service is open any more.
// The caller holds LifecycleLock.
void vCloseService(uint8_t &openCount);

#endif
