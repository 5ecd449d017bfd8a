// SPDX-License-Identifier: Apache-2.0
#include "jni/callbacks.h"

#include <cstring>
#include <jni.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "input/power_status.h"
#include "jni/registration.h"

pthread_mutex_t TrackLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

// Serialises the delivery of the power statuses 2001 and 2002 (from the poller and the decoder) with
// the staleness test of CallbackJPOSStatusSinceLink, so that a 2001 tested before an outage either
// reaches Java before that outage's 2002 or not at all. Taken before ListenerLock and EdgeLock, never
// while either is held; never held for a 2004, whose report takes the lifecycle lock.
pthread_mutex_t StatusReportLock = PTHREAD_MUTEX_INITIALIZER;

// What a callback calls, taken under ListenerLock: a local reference to the registered object (so that
// a Close that deletes the global reference meanwhile cannot pull the object from under the call), the
// listener's method id and, where the service has one, the id of the listener our own classes add.
struct Target {
    jobject object;
    jmethodID id;
    jmethodID extended;
};

// The common frame: the calling thread's environment (attached for this call unless the thread stays
// attached, as the decoder does), the target, the call, the exception check, the reference released.
// The opening is tested under ListenerLock: a shutdown advances it before the next opening can register
// its objects, so an event of an ended opening never finds an object of a later one.
template <typename Call>
void vCallListener(unsigned opening, jobject &object, jmethodID &method, jmethodID *extended, Call call)
{
    JavaVM *vm = tLoad(jvm);
    if (vm == nullptr) {
        return;
    }
    JNIEnv *env = nullptr;
    const bool attachedAlready = vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_6) == JNI_OK;
    if (!attachedAlready) {
        JavaVMAttachArgs attach;
        attach.version = tLoad(Version);
        attach.name = nullptr;
        attach.group = nullptr;
        env = nullptr;
        vm->AttachCurrentThread(reinterpret_cast<void **>(&env), &attach);
    }
    if (env != nullptr) {
        Target target = {nullptr, nullptr, nullptr};
        {
            ScopedLock listeners(ListenerLock);
            jobject registered = tLoad(object);
            target.id = tLoad(method);
            target.extended = extended != nullptr ? tLoad(*extended) : nullptr;
            if (registered != nullptr && target.id != nullptr && tLoad(uiOpening) == opening) {
                target.object = env->NewLocalRef(registered);
            }
        }
        if (target.object != nullptr) {
            call(env, target);
            if (env->ExceptionCheck()) {
                env->ExceptionClear();
            }
            // A thread that stays attached keeps its local references until it detaches: release it.
            env->DeleteLocalRef(target.object);
        }
    }
    if (!attachedAlready) {
        vm->DetachCurrentThread();
    }
}

struct Track {
    unsigned char bytes[257];  // the track's bytes and the 0 byte behind them
    int length;                // bytes to pass, the 0 byte included
};

void vCopyTrack(Track &out, const uint8_t *buffer, uint8_t length)
{
    std::memcpy(out.bytes, buffer, length);
    out.bytes[length] = 0;
    out.length = length + 1;
}

jbyteArray pNewArray(JNIEnv *env, const Track &track)
{
    jbyteArray array = env->NewByteArray(track.length);
    if (array != nullptr) {
        env->SetByteArrayRegion(array, 0, track.length, reinterpret_cast<const jbyte *>(track.bytes));
    }
    return array;
}

}  // namespace

JavaVM *pStayAttached()
{
    JavaVM *vm = tLoad(jvm);
    if (vm == nullptr) {
        return nullptr;
    }
    JNIEnv *env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_6) == JNI_OK) {
        return nullptr;  // attached by someone else, who detaches it
    }
    JavaVMAttachArgs attach;
    attach.version = tLoad(Version);
    attach.name = const_cast<char *>("TrovJPOS-decoder");
    attach.group = nullptr;
    // A daemon, so that a VM whose application ends with a service still open does not wait for it.
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), &attach) != JNI_OK) {
        return nullptr;
    }
    return vm;
}

void vLeaveVm(JavaVM *vm)
{
    if (vm != nullptr) {
        vm->DetachCurrentThread();
    }
}

void CallbackKeylock(int position, unsigned opening)
{
    vCallListener(opening, KLObject, KLStatusUpdateEventID, nullptr, [position](JNIEnv *env, const Target &target) {
        env->CallIntMethod(target.object, target.id, static_cast<jint>(position + 1));
    });
}

void CallbackMSR(unsigned opening)
{
    Track tracks[3];
    {
        ScopedLock guard(TrackLock);
        vCopyTrack(tracks[0], JposData.ucTrack1, JposData.ucTrack1Len);
        vCopyTrack(tracks[1], JposData.ucTrack2, JposData.ucTrack2Len);
        vCopyTrack(tracks[2], JposData.ucTrack3, JposData.ucTrack3Len);
    }
    vCallListener(opening, MSRObject, MSRDataEventID, nullptr, [&tracks](JNIEnv *env, const Target &target) {
        jbyteArray track1 = pNewArray(env, tracks[0]);
        jbyteArray track2 = track1 != nullptr ? pNewArray(env, tracks[1]) : nullptr;
        jbyteArray track3 = track2 != nullptr ? pNewArray(env, tracks[2]) : nullptr;
        // No call when the VM cannot make the arrays; the failed allocation's exception is cleared.
        if (track3 != nullptr) {
            env->CallIntMethod(target.object, target.id, track1, track2, track3);
        }
        // The exception check comes before any other call into the VM.
        if (env->ExceptionCheck()) {
            env->ExceptionClear();
        }
        for (jbyteArray array : {track1, track2, track3}) {
            if (array != nullptr) {
                env->DeleteLocalRef(array);
            }
        }
    });
}

void CallbackJPOSKeyData(KBDATA key, unsigned opening)
{
    vCallListener(opening, KBObject, KBDataEventID, &KBExtendedDataEventID, [key](JNIEnv *env, const Target &target) {
        if (target.extended != nullptr) {
            env->CallIntMethod(target.object, target.extended, static_cast<jint>(key.ucKey),
                               static_cast<jint>(key.cType), static_cast<jboolean>(key.ucExtended != 0));
        } else {
            env->CallIntMethod(target.object, target.id, static_cast<jint>(key.ucKey), static_cast<jint>(key.cType));
        }
    });
}

namespace {

void vCallStatusListener(int status, unsigned opening)
{
    vCallListener(opening, KBObject, KBStatusUpdateEventID, nullptr, [status](JNIEnv *env, const Target &target) {
        env->CallIntMethod(target.object, target.id, static_cast<jint>(status));
    });
}

void vCallPowerOffListener(unsigned opening)
{
    vCallStatusListener(OPOS_SUE_POWER_OFF_OFFLINE, opening);
}

}  // namespace

void CallbackJPOSStatusUpdate(int status, unsigned opening)
{
    if (status == OPOS_SUE_POWER_OFF_OFFLINE) {
        vReportPowerOff(opening, vCallPowerOffListener);
    } else {
        ScopedLock reports(StatusReportLock);
        vCallStatusListener(status, opening);
    }
}

void CallbackJPOSStatusSinceLink(int status, unsigned linkChanges, unsigned opening)
{
    if (status != OPOS_SUE_POWER_ONLINE) {
        CallbackJPOSStatusUpdate(status, opening);
        return;
    }
    ScopedLock reports(StatusReportLock);
    if (uiLinkChangesNoted() == linkChanges) {
        vCallStatusListener(status, opening);
    }
}
