// SPDX-License-Identifier: Apache-2.0
#include "jni/service_open.h"

#include "core/lifecycle.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"

int iOpenService(JNIEnv *env, jobject self, int (*registration)(JNIEnv *, jobject), uint8_t &openCount)
{
    // The count has eight bits: a 256th open would wrap it to 0, and the Close of another service would
    // then shut the device down under this one.
    if (tLoad(openCount) == UINT8_MAX) {
        return JPOS_E_NOSERVICE;
    }
    if (iOpenDeviceIfClosed(env) != 0) {
        return JPOS_E_NOSERVICE;
    }
    if (registration != nullptr && registration(env, self) != 0) {
        close_all();  // releases a device this call opened, unless another service has it open
        return JPOS_E_NOSERVICE;
    }
    vStore(openCount, openCount + 1);
    return 0;
}

void vCloseService(uint8_t &openCount)
{
    if (openCount != 0) {
        vStore(openCount, openCount - 1);
    }
    if (tLoad(bDeviceOpened)) {
        close_all();
    }
}
