// SPDX-License-Identifier: Apache-2.0
// The native methods of com.trov.jpos.TrovToneIndicatorService: open and close the tone indicator
// service, allow tone commands, send them, and set and read the tone indicator's claim.
#include "com_trov_jpos_TrovToneIndicatorService.h"

#include "core/claim_table.h"
#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "jni/command_bytes.h"
#include "jni/service_open.h"

namespace {

// The largest tone command.
constexpr int TONE_COMMAND_SIZE = 16;

}  // namespace

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovToneIndicatorService_OpenToneIndicator(JNIEnv *env, jobject self)
{
    ScopedLock lifecycle(LifecycleLock);
    return iOpenService(env, self, nullptr, JposData.ucToneOpen);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovToneIndicatorService_CloseToneIndicator(JNIEnv *, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    vCloseService(JposData.ucToneOpen);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_TrovToneIndicatorService_WriteToneIndicator(JNIEnv *env, jobject,
                                                                                      jbyteArray data, jint count)
{
    if (!tLoad(JposData.bToneEnabled)) {
        return 0;
    }
    if (data != nullptr && count < 0) {
        return 0;  // nothing to send: the zeroed command starts with a 0 byte
    }
    signed char command[TONE_COMMAND_SIZE] = {};
    if (!bCopyCommand(env, data, count, command, TONE_COMMAND_SIZE)) {
        return -1;
    }
    return hidfunc.bWrite(command, count) ? count : 0;
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovToneIndicatorService_enableToneIndicator(JNIEnv *, jobject,
                                                                                       jboolean enable)
{
    vStore(JposData.bToneEnabled, enable ? 1 : 0);
}

JNIEXPORT void JNICALL Java_com_trov_jpos_TrovToneIndicatorService_claimToneIndicator(JNIEnv *, jobject,
                                                                                      jboolean claim)
{
    ScopedLock lifecycle(LifecycleLock);
    vSetClaim(CLAIM_TONE, claim);
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_TrovToneIndicatorService_isToneIndicatorClaimed(JNIEnv *, jobject)
{
    ScopedLock lifecycle(LifecycleLock);
    return bIsClaimed(CLAIM_TONE) ? JNI_TRUE : JNI_FALSE;
}
