// SPDX-License-Identifier: Apache-2.0
#include "jni/command_bytes.h"

bool bCopyCommand(JNIEnv *env, jbyteArray data, jint count, signed char *buffer, int capacity)
{
    if (data == nullptr || count < 0 || count > env->GetArrayLength(data) || count > capacity) {
        return false;
    }
    env->GetByteArrayRegion(data, 0, count, reinterpret_cast<jbyte *>(buffer));
    return true;
}
