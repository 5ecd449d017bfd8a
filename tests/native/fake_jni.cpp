#include "fake_jni.h"

#include <map>

namespace {

FakeJni *current = nullptr;
JNIInvokeInterface_ vmTable{};
JavaVM fakeVm{&vmTable};

// Global references are tokens that point at the referenced fake object.
struct GlobalRef {
    FakeObject *target;
};
std::map<GlobalRef *, bool> globals;

FakeObject *target(jobject o)
{
    auto *ref = reinterpret_cast<GlobalRef *>(o);
    if (globals.count(ref)) {
        return ref->target;
    }
    return reinterpret_cast<FakeObject *>(o);
}

}  // namespace

FakeJni::FakeJni()
{
    current = this;
    globals.clear();
    Table.GetVersion = [](JNIEnv *) -> jint { return JNI_VERSION_10; };
    Table.GetJavaVM = [](JNIEnv *, JavaVM **vm) -> jint {
        if (current->failGetJavaVM) {
            return JNI_ERR;
        }
        *vm = &fakeVm;
        return JNI_OK;
    };
    Table.NewGlobalRef = [](JNIEnv *, jobject o) -> jobject {
        if (current->failNewGlobalRef || o == nullptr) {
            return nullptr;
        }
        auto *ref = new GlobalRef{target(o)};
        globals[ref] = true;
        return reinterpret_cast<jobject>(ref);
    };
    Table.DeleteGlobalRef = [](JNIEnv *, jobject o) {
        auto *ref = reinterpret_cast<GlobalRef *>(o);
        if (globals.erase(ref) == 1) {
            delete ref;
        } else {
            current->Pending = true;
            current->PendingMessage = "DeleteGlobalRef of something that is not a live global reference";
        }
    };
    Table.DeleteLocalRef = [](JNIEnv *, jobject) {};
    Table.GetObjectClass = [](JNIEnv *, jobject o) -> jclass {
        return reinterpret_cast<jclass>(const_cast<FakeClass *>(target(o)->cls));
    };
    Table.GetMethodID = [](JNIEnv *, jclass c, const char *name, const char *sig) -> jmethodID {
        if (current->Pending) {
            current->PendingMessage = "GetMethodID called with an exception pending";
            return nullptr;
        }
        auto *cls = reinterpret_cast<FakeClass *>(c);
        auto it = cls->methods.find(std::string(name) + " " + sig);
        if (it == cls->methods.end()) {
            current->Pending = true;
            current->PendingMessage = std::string("NoSuchMethodError: ") + name;
            return nullptr;
        }
        return reinterpret_cast<jmethodID>(const_cast<std::string *>(&*it));
    };
    Table.ExceptionOccurred = [](JNIEnv *) -> jthrowable {
        static int throwable;
        return current->Pending ? reinterpret_cast<jthrowable>(&throwable) : nullptr;
    };
    Env.functions = &Table;
}

FakeJni::~FakeJni()
{
    for (auto &entry : globals) {
        delete entry.first;
    }
    globals.clear();
    current = nullptr;
}

int FakeJni::liveGlobalRefs() const
{
    return static_cast<int>(globals.size());
}

FakeClass FakeJni::keylockClass()
{
    return FakeClass{{"keylockStatusUpdateEvent (I)I", "keylockDirectIOEvent (II[B)I"}};
}

FakeClass FakeJni::keyboardClass()
{
    return FakeClass{{"keyboardStatusUpdateEvent (I)I", "keyboardDirectIOEvent (II[B)I", "keyboardDataEvent (II)I"}};
}

FakeClass FakeJni::msrClass()
{
    return FakeClass{{"msrDataEvent ([B[B[B)I"}};
}
