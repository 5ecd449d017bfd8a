// SPDX-License-Identifier: Apache-2.0
// The native methods of com.trov.jpos.TrovMSRService: open and close the magnetic stripe reader
// service, switch swipe events on and off (which also starts the power-status poller), and set and
// read the MSR's claim.
#include "com_trov_jpos_TrovMSRService.h"

#include "core/claim_table.h"
#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "input/power_poller.h"
#include "jni/registration.h"
#include "jni/service_open.h"

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovMSRService_OpenMSR(JNIEnv *env, jobject self)
{
    ScopedLock lifecycle(LifecycleLock);
    return iOpenService(env, self, createJNIParMSR, JposData.ucMsrOpen);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovMSRService_CloseMSR(JNIEnv *env, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    vCloseService(JposData.ucMsrOpen);
    vReleaseObject(env, MSRObject);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovMSRService_enableMSR(JNIEnv *, jobject, jboolean enable)
{
    ScopedLock lifecycle(LifecycleLock);
    vStore(JposData.bMsrEnabled, enable ? 1 : 0);
    // The poller watches an open device; with the device closed there is nothing to watch, and a
    // poller started then would outlive every shutdown.
    if (enable && tLoad(bDeviceOpened)) {
        vStartPoller();
    }
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovMSRService_claimMSR(JNIEnv *, jobject, jboolean claim)
{
    ScopedLock lifecycle(LifecycleLock);
    vSetClaim(CLAIM_MSR, claim);
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_TrovMSRService_isMSRClaimed(JNIEnv *, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    return bIsClaimed(CLAIM_MSR) ? JNI_TRUE : JNI_FALSE;
}
