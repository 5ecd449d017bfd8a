// SPDX-License-Identifier: Apache-2.0
// A stand-in for the Java VM's JNI function table, enough for the entry points' open, close and
// registration paths: objects of fake classes with a chosen set of methods, counted global references,
// a pending exception, and failures on demand.
#ifndef TROV_TESTS_FAKE_JNI_H
#define TROV_TESTS_FAKE_JNI_H

#include <jni.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct FakeClass {
    std::set<std::string> methods;  // "name signature"
};

struct FakeObject {
    const FakeClass *cls;
};

// One listener call made by the library: the method's name, its int arguments and its byte arrays.
struct FakeCall {
    std::string method;
    std::vector<int> ints;
    std::vector<std::vector<unsigned char>> arrays;
    bool operator==(const FakeCall &) const = default;
};
std::ostream &operator<<(std::ostream &out, const FakeCall &call);

class FakeJni {
public:
    FakeJni();
    ~FakeJni();
    FakeJni(const FakeJni &) = delete;
    FakeJni &operator=(const FakeJni &) = delete;

    JNIEnv *env() { return &Env; }
    jobject object(FakeObject &o) { return reinterpret_cast<jobject>(&o); }

    // A Java byte array holding these bytes.
    static jbyteArray array(std::vector<unsigned char> bytes);
    // Frees every byte array made so far; none may be in use.
    static void releaseArrays();

    // Classes shaped like the Java service classes.
    static FakeClass keylockClass();
    static FakeClass keyboardClass();
    static FakeClass msrClass();

    int liveGlobalRefs() const;
    // The calling thread's pending exception, as in a real VM.
    bool exceptionPending() const;
    std::string pendingMessage() const;
    void clearException();

    // Listener calls made so far, in order; waits until there are at least `count` of them.
    std::vector<FakeCall> calls();
    std::vector<FakeCall> waitForCalls(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
    void clearCalls();
    int attaches() const { return Attaches; }
    int detaches() const { return Detaches; }

    bool failGetJavaVM = false;
    bool failNewGlobalRef = false;
    bool failNewByteArray = false;
    bool listenerThrows = false;  // every listener call leaves an exception pending
    std::atomic<int> listenerDelayUs{0};  // every listener call takes this long, as a slow application's

private:
    friend struct FakeJniAccess;
    JNINativeInterface_ Table{};
    JNIEnv Env{};
    std::mutex CallsLock;
    std::condition_variable CallsChanged;
    std::vector<FakeCall> Calls;
    int Attaches = 0;
    int Detaches = 0;
};

// One object of each listening service class, as the Java side would open them.
struct FakeServiceObjects {
    FakeClass keylockClass = FakeJni::keylockClass();
    FakeClass keyboardClass = FakeJni::keyboardClass();
    FakeClass msrClass = FakeJni::msrClass();
    FakeObject keylock{&keylockClass};
    FakeObject keyboard{&keyboardClass};
    FakeObject msr{&msrClass};
};

#endif
