// SPDX-License-Identifier: Apache-2.0
#include "jni/registration.h"

#include <cstdio>

#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"

pthread_mutex_t ListenerLock = PTHREAD_MUTEX_INITIALIZER;
jint Version;
jobject KLObject;
jobject MSRObject;
jobject KBObject;
jmethodID KLStatusUpdateEventID;
jmethodID KLDirectIOEventID;
jmethodID MSRDataEventID;
jmethodID KBStatusUpdateEventID;
jmethodID KBDirectIOEventID;
jmethodID KBDataEventID;
jmethodID KBExtendedDataEventID;

namespace {

struct Listener {
    const char *pcName;
    const char *pcSignature;
    jmethodID &id;
};

// The common registration: version, global reference, class, then each listener in order, then the
// optional listener (none when null), whose id is stored with the object.
template <int N>
int iRegister(JNIEnv *env, jobject obj, jobject &object, const Listener (&listeners)[N],
              const Listener *optional = nullptr)
{
    vStore(Version, env->GetVersion());

    jobject reference = env->NewGlobalRef(obj);
    vReleaseObject(env, object);
    if (reference == nullptr) {
        return -1;
    }
    jclass serviceClass = env->GetObjectClass(reference);
    if (serviceClass == nullptr) {
        env->DeleteGlobalRef(reference);
        return -1;
    }
    for (const Listener &listener : listeners) {
        jmethodID id = env->GetMethodID(serviceClass, listener.pcName, listener.pcSignature);
        vStore(listener.id, id);
        if (id == nullptr) {
            // The VM's NoSuchMethodError stays pending: the Java caller of Open meets it.
            env->DeleteLocalRef(serviceClass);
            env->DeleteGlobalRef(reference);
            return -1;
        }
    }

    jthrowable pending = env->ExceptionOccurred();
    if (pending != nullptr) {
        env->DeleteLocalRef(pending);
        env->DeleteLocalRef(serviceClass);
        std::fputs("Exception occurred\n", stderr);
        env->DeleteGlobalRef(reference);
        return -1;
    }
    // A class without the optional listener makes the lookup raise NoSuchMethodError, which is ours
    // alone to clear: nothing else was pending, as tested just above.
    jmethodID optionalId = nullptr;
    if (optional != nullptr) {
        optionalId = env->GetMethodID(serviceClass, optional->pcName, optional->pcSignature);
        if (optionalId == nullptr && env->ExceptionCheck()) {
            env->ExceptionClear();
        }
    }
    env->DeleteLocalRef(serviceClass);
    ScopedLock guard(ListenerLock);
    if (optional != nullptr) {
        vStore(optional->id, optionalId);
    }
    vStore(object, reference);
    return 0;
}

}  // namespace

void vReleaseObject(JNIEnv *env, jobject &object)
{
    jobject earlier = nullptr;
    {
        ScopedLock guard(ListenerLock);
        earlier = tExchange(object, nullptr);
    }
    if (earlier != nullptr) {
        env->DeleteGlobalRef(earlier);
    }
}

int createJNIParKL(JNIEnv *env, jobject obj)
{
    const Listener listeners[] = {
        {"keylockStatusUpdateEvent", "(I)I", KLStatusUpdateEventID},
        {"keylockDirectIOEvent", "(II[B)I", KLDirectIOEventID},
    };
    return iRegister(env, obj, KLObject, listeners);
}

int createJNIParMSR(JNIEnv *env, jobject obj)
{
    const Listener listeners[] = {
        {"msrDataEvent", "([B[B[B)I", MSRDataEventID},
    };
    return iRegister(env, obj, MSRObject, listeners);
}

int createJNIParKB(JNIEnv *env, jobject obj)
{
    const Listener listeners[] = {
        {"keyboardStatusUpdateEvent", "(I)I", KBStatusUpdateEventID},
        {"keyboardDirectIOEvent", "(II[B)I", KBDirectIOEventID},
        {"keyboardDataEvent", "(II)I", KBDataEventID},
    };
    const Listener extended = {"keyboardDataEvent", "(IIZ)I", KBExtendedDataEventID};
    return iRegister(env, obj, KBObject, listeners, &extended);
}

void vReleaseRegisteredObjects()
{
    JavaVM *vm = tLoad(jvm);
    if (vm == nullptr) {
        return;  // no opening recorded a VM, so none registered an object
    }
    JNIEnv *env = nullptr;
    bool attached = false;
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_6) == JNI_EDETACHED) {
        JavaVMAttachArgs attach;
        attach.version = JNI_VERSION_1_6;
        attach.name = nullptr;
        attach.group = nullptr;
        attached = vm->AttachCurrentThread(reinterpret_cast<void **>(&env), &attach) == JNI_OK;
    }
    if (env != nullptr) {
        vReleaseObject(env, KLObject);
        vReleaseObject(env, MSRObject);
        vReleaseObject(env, KBObject);
    }
    if (attached) {
        vm->DetachCurrentThread();
    }
}
