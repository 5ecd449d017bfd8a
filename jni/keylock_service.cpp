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

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovKeylockService_OpenKeylock(JNIEnv *env, jobject self)
{
    ScopedLock lifecycle(LifecycleLock);
    if (iOpenDeviceIfClosed(env) != 0) {
        return JPOS_E_NOSERVICE;
    }
    if (createJNIParKL(env, self) != 0) {
        close_all();  // releases a device this call opened, unless another service has it open
        return JPOS_E_NOSERVICE;
    }
    vStore(JposData.ucKeylockOpen, JposData.ucKeylockOpen + 1);
    return 0;
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovKeylockService_CloseKeylock(JNIEnv *env, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    // A Close without an Open leaves the count at 0, so that it cannot keep the device open.
    if (JposData.ucKeylockOpen != 0) {
        vStore(JposData.ucKeylockOpen, JposData.ucKeylockOpen - 1);
    }
    if (tLoad(bDeviceOpened)) {
        close_all();
    }
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
