// SPDX-License-Identifier: Apache-2.0
// Copying a command from a Java byte array into a fixed command buffer, with the checks the write entry
// points share.
#ifndef TROV_JNI_COMMAND_BYTES_H
#define TROV_JNI_COMMAND_BYTES_H

#include <jni.h>

// Copies the first count bytes of data into buffer (of capacity bytes). False, with nothing copied and
// no Java exception left pending, when data is null, count is negative, above the array's length or
// above the buffer's capacity.
bool bCopyCommand(JNIEnv *env, jbyteArray data, jint count, signed char *buffer, int capacity);

#endif
