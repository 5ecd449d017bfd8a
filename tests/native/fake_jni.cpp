// SPDX-License-Identifier: Apache-2.0
#include "fake_jni.h"

#include <cstdarg>
#include <deque>
#include <map>
#include <ostream>
#include <thread>

namespace {

FakeJni *current = nullptr;
JNIInvokeInterface_ vmTable{};
JavaVM fakeVm{&vmTable};

// Exceptions are pending per thread.
thread_local bool pending = false;
thread_local std::string pendingText;

void vThrow(const std::string &message)
{
    pending = true;
    pendingText = message;
}

// Global references are tokens that point at the referenced fake object.
struct GlobalRef {
    FakeObject *target;
};
std::map<GlobalRef *, bool> globals;
std::mutex globalsLock;

FakeObject *target(jobject o)
{
    std::lock_guard<std::mutex> guard(globalsLock);
    auto *ref = reinterpret_cast<GlobalRef *>(o);
    if (globals.count(ref)) {
        return ref->target;
    }
    return reinterpret_cast<FakeObject *>(o);
}

// Byte arrays live until the fake VM goes.
std::deque<std::vector<unsigned char>> arrays;
std::mutex arraysLock;

}  // namespace

std::ostream &operator<<(std::ostream &out, const FakeCall &call)
{
    out << call.method << "(";
    for (int i : call.ints) {
        out << i << " ";
    }
    for (const auto &array : call.arrays) {
        out << "[";
        for (unsigned char b : array) {
            out << static_cast<int>(b) << " ";
        }
        out << "] ";
    }
    return out << ")";
}

struct FakeJniAccess {
    static void record(FakeCall call)
    {
        {
            std::lock_guard<std::mutex> guard(current->CallsLock);
            current->Calls.push_back(std::move(call));
        }
        current->CallsChanged.notify_all();
    }
    static void attached() { std::lock_guard<std::mutex> g(current->CallsLock); ++current->Attaches; }
    static void detached() { std::lock_guard<std::mutex> g(current->CallsLock); ++current->Detaches; }
};

FakeJni::FakeJni()
{
    current = this;
    {
        std::lock_guard<std::mutex> guard(globalsLock);
        globals.clear();
    }
    vmTable.AttachCurrentThread = [](JavaVM *, void **penv, void *) -> jint {
        FakeJniAccess::attached();
        *penv = current->env();
        return JNI_OK;
    };
    // Every thread counts as attached already, so GetEnv adds no attach of its own.
    vmTable.GetEnv = [](JavaVM *, void **penv, jint) -> jint {
        *penv = current->env();
        return JNI_OK;
    };
    vmTable.DetachCurrentThread = [](JavaVM *) -> jint {
        FakeJniAccess::detached();
        return JNI_OK;
    };
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
        std::lock_guard<std::mutex> guard(globalsLock);
        globals[ref] = true;
        return reinterpret_cast<jobject>(ref);
    };
    Table.DeleteGlobalRef = [](JNIEnv *, jobject o) {
        auto *ref = reinterpret_cast<GlobalRef *>(o);
        std::lock_guard<std::mutex> guard(globalsLock);
        if (globals.erase(ref) == 1) {
            delete ref;
        } else {
            vThrow("DeleteGlobalRef of something that is not a live global reference");
        }
    };
    Table.NewLocalRef = [](JNIEnv *, jobject o) -> jobject { return reinterpret_cast<jobject>(target(o)); };
    Table.DeleteLocalRef = [](JNIEnv *, jobject) {};
    Table.GetObjectClass = [](JNIEnv *, jobject o) -> jclass {
        return reinterpret_cast<jclass>(const_cast<FakeClass *>(target(o)->cls));
    };
    Table.GetMethodID = [](JNIEnv *, jclass c, const char *name, const char *sig) -> jmethodID {
        if (pending) {
            pendingText = "GetMethodID called with an exception pending";
            return nullptr;
        }
        auto *cls = reinterpret_cast<FakeClass *>(c);
        auto it = cls->methods.find(std::string(name) + " " + sig);
        if (it == cls->methods.end()) {
            vThrow(std::string("NoSuchMethodError: ") + name);
            return nullptr;
        }
        return reinterpret_cast<jmethodID>(const_cast<std::string *>(&*it));
    };
    Table.ExceptionOccurred = [](JNIEnv *) -> jthrowable {
        static int throwable;
        return pending ? reinterpret_cast<jthrowable>(&throwable) : nullptr;
    };
    Table.ExceptionCheck = [](JNIEnv *) -> jboolean { return pending ? JNI_TRUE : JNI_FALSE; };
    Table.ExceptionClear = [](JNIEnv *) { pending = false; };
    Table.NewByteArray = [](JNIEnv *, jsize length) -> jbyteArray {
        if (current->failNewByteArray) {
            vThrow("OutOfMemoryError");
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(arraysLock);
        arrays.emplace_back(static_cast<size_t>(length), 0);
        return reinterpret_cast<jbyteArray>(&arrays.back());
    };
    Table.GetArrayLength = [](JNIEnv *, jarray array) -> jsize {
        return static_cast<jsize>(reinterpret_cast<std::vector<unsigned char> *>(array)->size());
    };
    Table.GetByteArrayRegion = [](JNIEnv *, jbyteArray array, jsize start, jsize length, jbyte *bytes) {
        auto *v = reinterpret_cast<std::vector<unsigned char> *>(array);
        for (jsize i = 0; i < length; ++i) {
            bytes[i] = static_cast<jbyte>(v->at(static_cast<size_t>(start + i)));
        }
    };
    Table.SetByteArrayRegion = [](JNIEnv *, jbyteArray array, jsize start, jsize length, const jbyte *bytes) {
        auto *v = reinterpret_cast<std::vector<unsigned char> *>(array);
        for (jsize i = 0; i < length; ++i) {
            v->at(static_cast<size_t>(start + i)) = static_cast<unsigned char>(bytes[i]);
        }
    };
    Table.CallIntMethodV = [](JNIEnv *, jobject, jmethodID id, va_list args) -> jint {
        if (pending) {
            pendingText = "CallIntMethod called with an exception pending";
        }
        const std::string &method = *reinterpret_cast<const std::string *>(id);
        FakeCall call;
        call.method = method.substr(0, method.find(' '));
        const std::string signature = method.substr(method.find(' ') + 1);
        for (size_t i = 1; signature[i] != ')'; ++i) {
            if (signature[i] == 'I' || signature[i] == 'Z') {  // a jboolean argument travels as an int
                call.ints.push_back(va_arg(args, jint));
            } else if (signature[i] == '[') {
                ++i;
                auto *array = reinterpret_cast<std::vector<unsigned char> *>(va_arg(args, jbyteArray));
                call.arrays.push_back(array != nullptr ? *array : std::vector<unsigned char>{});
            }
        }
        FakeJniAccess::record(std::move(call));
        if (current->listenerDelayUs > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(current->listenerDelayUs.load()));
        }
        if (current->listenerThrows) {
            vThrow("listener threw");
        }
        return 0;
    };
    Env.functions = &Table;
}

FakeJni::~FakeJni()
{
    std::lock_guard<std::mutex> guard(globalsLock);
    for (auto &entry : globals) {
        delete entry.first;
    }
    globals.clear();
    pending = false;
    current = nullptr;
}

bool FakeJni::exceptionPending() const { return pending; }
std::string FakeJni::pendingMessage() const { return pendingText; }
void FakeJni::clearException() { pending = false; }

int FakeJni::liveGlobalRefs() const
{
    std::lock_guard<std::mutex> guard(globalsLock);
    return static_cast<int>(globals.size());
}

std::vector<FakeCall> FakeJni::calls()
{
    std::lock_guard<std::mutex> guard(CallsLock);
    return Calls;
}

std::vector<FakeCall> FakeJni::waitForCalls(size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(CallsLock);
    CallsChanged.wait_for(guard, limit, [&] { return Calls.size() >= count; });
    return Calls;
}

void FakeJni::clearCalls()
{
    std::lock_guard<std::mutex> guard(CallsLock);
    Calls.clear();
}

jbyteArray FakeJni::array(std::vector<unsigned char> bytes)
{
    std::lock_guard<std::mutex> guard(arraysLock);
    arrays.push_back(std::move(bytes));
    return reinterpret_cast<jbyteArray>(&arrays.back());
}

void FakeJni::releaseArrays()
{
    std::lock_guard<std::mutex> guard(arraysLock);
    arrays.clear();
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
