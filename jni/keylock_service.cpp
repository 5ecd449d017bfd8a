// SPDX-License-Identifier: Apache-2.0
// The native methods of com.trov.jpos.TrovKeylockService: open and close the keylock service on the
// shared device, switch keylock position events on and off, and set and read the keylock's claim.
#include "com_trov_jpos_TrovKeylockService.h"

#include "core/claim_table.h"
#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "jni/registration.h"
#include "jni/service_open.h"

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovKeylockService_OpenKeylock(JNIEnv *env, jobject self)
{
    ScopedLock lifecycle(LifecycleLock);
    return iOpenService(env, self, createJNIParKL, JposData.ucKeylockOpen);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovKeylockService_CloseKeylock(JNIEnv *env, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    vCloseService(JposData.ucKeylockOpen);
    vReleaseObject(env, KLObject);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovKeylockService_enableKeylock(JNIEnv *, jobject, jboolean enable)
{
    vStore(JposData.bKeylockEnabled, enable ? 1 : 0);
    if (enable && tLoad(bDeviceOpened)) {
        // The keyboard answers with its current position, which arrives as a keylock event.
        hidfunc.bWrite(ReadKelockPosition, sizeof ReadKelockPosition);
    }
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovKeylockService_WaitForKeylockChange(JNIEnv *, jobject)
{
    return 0;
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovKeylockService_claimKeylock(JNIEnv *, jobject, jboolean claim)
{
    ScopedLock lifecycle(LifecycleLock);
    vSetClaim(CLAIM_KEYLOCK, claim);
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_TrovKeylockService_isKeylockClaimed(JNIEnv *, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    return bIsClaimed(CLAIM_KEYLOCK) ? JNI_TRUE : JNI_FALSE;
}
