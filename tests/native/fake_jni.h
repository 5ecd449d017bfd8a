// A stand-in for the Java VM's JNI function table, enough for the entry points' open, close and
// registration paths: objects of fake classes with a chosen set of methods, counted global references,
// a pending exception, and failures on demand.
#ifndef TROV_TESTS_FAKE_JNI_H
#define TROV_TESTS_FAKE_JNI_H

#include <jni.h>

#include <set>
#include <string>

struct FakeClass {
    std::set<std::string> methods;  // "name signature"
};

struct FakeObject {
    const FakeClass *cls;
};

class FakeJni {
public:
    FakeJni();
    ~FakeJni();
    FakeJni(const FakeJni &) = delete;
    FakeJni &operator=(const FakeJni &) = delete;

    JNIEnv *env() { return &Env; }
    jobject object(FakeObject &o) { return reinterpret_cast<jobject>(&o); }

    // Classes shaped like the Java service classes.
    static FakeClass keylockClass();
    static FakeClass keyboardClass();
    static FakeClass msrClass();

    int liveGlobalRefs() const;
    bool exceptionPending() const { return Pending; }
    std::string pendingMessage() const { return PendingMessage; }
    void clearException() { Pending = false; }

    bool failGetJavaVM = false;
    bool failNewGlobalRef = false;

private:
    JNINativeInterface_ Table{};
    JNIEnv Env{};
    bool Pending = false;
    std::string PendingMessage;
};

#endif
