// SPDX-License-Identifier: Apache-2.0
// The native methods of com.trov.jpos.TrovPOSKeyboardService: open and close the POS keyboard service,
// claim it, enable key events (which also starts the power-status poller), send raw commands to the
// keyboard and read its TCO values.
#include "com_trov_jpos_TrovPOSKeyboardService.h"

#include "core/claim_table.h"
#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/power_poller.h"
#include "jni/command_bytes.h"
#include "jni/registration.h"
#include "jni/service_open.h"
#include "jni/tco_query.h"

namespace {

// The largest raw keyboard command.
constexpr int KEYBOARD_COMMAND_SIZE = 80;

}  // namespace

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(JNIEnv *env, jobject self)
{
    ScopedLock lifecycle(LifecycleLock);
    const int result = iOpenService(env, self, createJNIParKB, JposData.ucKeyboardOpen);
    if (result == 0) {
        vStore(JposData.bKeyboardOpened, 1);
    }
    return result;
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(JNIEnv *env, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    if (!tLoad(JposData.bKeyboardOpened)) {
        return;
    }
    // One Close ends the keyboard service for all of its opens; its count goes with it, so that the
    // device is released when the other services close.
    vStore(JposData.ucKeyboardOpen, 0);
    close_all();
    vReleaseObject(env, KBObject);
    vStore(JposData.bKeyboardOpened, 0);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(JNIEnv *, jobject, jboolean enable)
{
    ScopedLock lifecycle(LifecycleLock);
    if (!tLoad(JposData.bKeyboardOpened) || !bIsClaimed(CLAIM_KEYBOARD)) {
        return;
    }
    vStore(JposData.bKeyboardEnabled, enable ? 1 : 0);
    if (enable) {
        vStartPoller();
    }
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(JNIEnv *, jobject, jboolean claim)
{
    ScopedLock lifecycle(LifecycleLock);
    // With the keyboard service closed, a claim can only be released.
    vSetClaim(CLAIM_KEYBOARD, tLoad(JposData.bKeyboardOpened) ? claim : 0);
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_isPOSKeyboardClaimed(JNIEnv *, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    return bIsClaimed(CLAIM_KEYBOARD) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_WritePOSKeyboard(JNIEnv *env, jobject,
                                                                                  jbyteArray data, jint count)
{
    if (!tLoad(JposData.bKeyboardOpened)) {
        return -1;
    }
    signed char command[KEYBOARD_COMMAND_SIZE] = {};
    if (!bCopyCommand(env, data, count, command, KEYBOARD_COMMAND_SIZE)) {
        return -1;
    }
    return hidfunc.bWrite(command, count) ? count : 0;
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(JNIEnv *, jobject, jint index)
{
    if (!tLoad(JposData.bKeyboardOpened)) {
        return -1;
    }
    return iReadTco(index);
}
