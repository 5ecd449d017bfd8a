// SPDX-License-Identifier: Apache-2.0
// Native side of com.trov.jpos.bench.UpcallProbe: timestamps taken on the library's own threads, and
// the costs of the primitives the input pipeline is made of.
//
// The probe times the library's upcalls without touching the library: it replaces the JNI function
// table of the VM (JVMTI SetJNIFunctionTable) with a copy whose CallIntMethodV and NewLocalRef first
// note the time on the calling thread. The library calls a listener method as
//   AttachCurrentThread, NewLocalRef(service object), CallIntMethod(object, method, ...), DetachCurrentThread
// so on the decoder thread the NewLocalRef time is the moment the attach is done, and the CallIntMethodV
// entry and return times bracket the Java listener method. Only calls of the one method named at install
// are recorded. The clock is CLOCK_MONOTONIC, the clock of System.nanoTime() on Linux, so the times
// compare directly with those taken in Java.
#include <jni.h>
#include <jvmti.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <unistd.h>
#include <vector>

#include "com_trov_jpos_bench_UpcallProbe.h"
#include "handoff_marks.h"

namespace {

JavaVM *Vm = nullptr;
jvmtiEnv *Jvmti = nullptr;

// The VM's own table, as it was before install (allocated by JVMTI, kept for the life of the process).
jniNativeInterface *Original = nullptr;
// The table in force while installed: the original with two entries replaced.
jniNativeInterface Probed;

std::atomic<jmethodID> Watched{nullptr};
bool Installed = false;  // the probed table is in force

// One record per call of the watched method, in call order.
struct Record {
    int64_t byteReadNs;  // last one-byte read() on the calling thread before the call (0 without the preload)
    int64_t attachedNs;  // last NewLocalRef on the calling thread before the call
    int64_t enteredNs;   // CallIntMethodV entered
    int64_t returnedNs;  // the Java method returned
    jint firstArg;
};
std::vector<Record> Records;
std::atomic<int> Recorded{0};  // records written so far (may exceed the capacity: the excess is dropped)
std::atomic<int> Published{0}; // records whose fields are all written

thread_local int64_t LastLocalRefNs = 0;

int64_t nowNs()
{
    return trovbench_now_ns();
}

jobject JNICALL probedNewLocalRef(JNIEnv *env, jobject ref)
{
    LastLocalRefNs = nowNs();
    return Original->NewLocalRef(env, ref);
}

jint JNICALL probedCallIntMethodV(JNIEnv *env, jobject obj, jmethodID method, va_list args)
{
    if (method != Watched.load(std::memory_order_acquire)) {
        return Original->CallIntMethodV(env, obj, method, args);
    }
    va_list copy;
    va_copy(copy, args);
    const jint first = va_arg(copy, jint);
    va_end(copy);
    const int64_t byteRead = trovbench_last_byte_read_ns();
    const int64_t attached = LastLocalRefNs;
    const int64_t entered = nowNs();
    const jint result = Original->CallIntMethodV(env, obj, method, args);
    const int64_t returned = nowNs();
    const int slot = Recorded.fetch_add(1, std::memory_order_relaxed);
    if (slot < static_cast<int>(Records.size())) {
        Records[static_cast<size_t>(slot)] = Record{byteRead, attached, entered, returned, first};
    }
    Published.fetch_add(1, std::memory_order_release);
    return result;
}

bool jvmtiReady()
{
    if (Jvmti != nullptr) {
        return true;
    }
    if (Vm == nullptr || Vm->GetEnv(reinterpret_cast<void **>(&Jvmti), JVMTI_VERSION_1_2) != JNI_OK) {
        Jvmti = nullptr;
        return false;
    }
    return true;
}

// Copies samples into a Java array of the same length; the statistics are done on the Java side.
void fill(JNIEnv *env, jlongArray out, const std::vector<jlong> &values)
{
    const jsize n = static_cast<jsize>(values.size());
    if (n > 0) {
        env->SetLongArrayRegion(out, 0, n, values.data());
    }
}

struct AttachRun {
    size_t rounds;
    std::vector<jlong> attachNs;
    std::vector<jlong> detachNs;
    bool failed;
};

// Attaches and detaches one fresh thread again and again, as the decoder thread does once per event.
void *attachLoop(void *arg)
{
    auto *run = static_cast<AttachRun *>(arg);
    for (size_t i = 0; i < run->rounds; ++i) {
        JNIEnv *env = nullptr;
        JavaVMAttachArgs attach{JNI_VERSION_1_8, nullptr, nullptr};
        const int64_t t0 = nowNs();
        if (Vm->AttachCurrentThread(reinterpret_cast<void **>(&env), &attach) != JNI_OK) {
            run->failed = true;
            return nullptr;
        }
        const int64_t t1 = nowNs();
        Vm->DetachCurrentThread();
        const int64_t t2 = nowNs();
        run->attachNs[i] = t1 - t0;
        run->detachNs[i] = t2 - t1;
    }
    return nullptr;
}

struct PingPong {
    int there[2];
    int back[2];
    size_t rounds;
};

void *echoLoop(void *arg)
{
    auto *p = static_cast<PingPong *>(arg);
    char byte = 0;
    for (size_t i = 0; i < p->rounds; ++i) {
        if (read(p->there[0], &byte, 1) != 1 || write(p->back[1], &byte, 1) != 1) {
            break;
        }
    }
    return nullptr;
}

// The bare path: what any hand-off of a byte from a device thread to a Java method costs at the least,
// built from the same primitives as the key path (a pipe to a thread, a pipe to a second thread, attach,
// call, detach), with nothing of the library in it.
struct BarePath {
    int first[2];   // sender -> relay
    int second[2];  // relay -> caller
    int done[2];    // caller -> sender, after the detach
    size_t rounds;
    jobject target;
    jmethodID method;
    std::vector<jlong> enteredNs;  // on the caller thread, just before CallIntMethod
    bool failed;
};

void *bareRelay(void *arg)
{
    auto *b = static_cast<BarePath *>(arg);
    char byte = 0;
    for (size_t i = 0; i < b->rounds; ++i) {
        if (read(b->first[0], &byte, 1) != 1 || write(b->second[1], &byte, 1) != 1) {
            break;
        }
    }
    return nullptr;
}

void *bareCaller(void *arg)
{
    auto *b = static_cast<BarePath *>(arg);
    char byte = 0;
    for (size_t i = 0; i < b->rounds; ++i) {
        if (read(b->second[0], &byte, 1) != 1) {
            break;
        }
        JNIEnv *env = nullptr;
        JavaVMAttachArgs attach{JNI_VERSION_1_8, nullptr, nullptr};
        if (Vm->AttachCurrentThread(reinterpret_cast<void **>(&env), &attach) != JNI_OK) {
            b->failed = true;
        } else {
            jobject target = env->NewLocalRef(b->target);
            b->enteredNs[i] = nowNs();
            env->CallIntMethod(target, b->method, static_cast<jint>(byte), 1);
            if (env->ExceptionCheck()) {
                env->ExceptionClear();
                b->failed = true;
            }
            env->DeleteLocalRef(target);
            Vm->DetachCurrentThread();
        }
        if (write(b->done[1], &byte, 1) != 1) {
            break;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *vm, void *)
{
    Vm = vm;
    return JNI_VERSION_1_8;
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_bench_UpcallProbe_install(JNIEnv *env, jclass, jclass owner,
                                                                        jstring name, jstring signature,
                                                                        jint capacity)
{
    if (Installed || capacity < 0 || !jvmtiReady()) {
        return JNI_FALSE;
    }
    const char *methodName = env->GetStringUTFChars(name, nullptr);
    const char *methodSignature = methodName != nullptr ? env->GetStringUTFChars(signature, nullptr) : nullptr;
    jmethodID method = methodSignature != nullptr ? env->GetMethodID(owner, methodName, methodSignature) : nullptr;
    if (methodSignature != nullptr) {
        env->ReleaseStringUTFChars(signature, methodSignature);
    }
    if (methodName != nullptr) {
        env->ReleaseStringUTFChars(name, methodName);
    }
    if (method == nullptr) {
        env->ExceptionClear();  // no such method: the caller may try another signature
        return JNI_FALSE;
    }
    Records.assign(static_cast<size_t>(capacity), Record{0, 0, 0, 0, 0});
    Recorded.store(0);
    Published.store(0);
    Watched.store(method, std::memory_order_release);
    // The VM's own table is fetched once and kept: a thread may still be in a probed call of an earlier
    // installation, passing on through it.
    if (Original == nullptr && Jvmti->GetJNIFunctionTable(&Original) != JVMTI_ERROR_NONE) {
        Original = nullptr;
        return JNI_FALSE;
    }
    Probed = *Original;
    Probed.NewLocalRef = probedNewLocalRef;
    Probed.CallIntMethodV = probedCallIntMethodV;
    if (Jvmti->SetJNIFunctionTable(&Probed) != JVMTI_ERROR_NONE) {
        return JNI_FALSE;
    }
    Installed = true;
    trovbench_set_marking(true);
    return JNI_TRUE;
}

JNIEXPORT void JNICALL Java_com_trov_jpos_bench_UpcallProbe_uninstall(JNIEnv *, jclass)
{
    trovbench_set_marking(false);
    // The original table goes back; the copy stays allocated, since a thread may still be in a probed call.
    if (Installed) {
        Jvmti->SetJNIFunctionTable(Original);
        Installed = false;
    }
    Watched.store(nullptr, std::memory_order_release);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_bench_UpcallProbe_count(JNIEnv *, jclass)
{
    return Published.load(std::memory_order_acquire);
}

JNIEXPORT jlong JNICALL Java_com_trov_jpos_bench_UpcallProbe_lastSendNs(JNIEnv *, jclass)
{
    return trovbench_last_send_ns();
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_bench_UpcallProbe_fetch(JNIEnv *env, jclass, jlongArray byteRead,
                                                                  jlongArray attached, jlongArray entered,
                                                                  jlongArray returned, jintArray firstArgs)
{
    const int published = Published.load(std::memory_order_acquire);
    int n = published < static_cast<int>(Records.size()) ? published : static_cast<int>(Records.size());
    const jsize room = env->GetArrayLength(entered);
    if (n > room) {
        n = room;
    }
    std::vector<jlong> b(static_cast<size_t>(n));
    std::vector<jlong> a(static_cast<size_t>(n));
    std::vector<jlong> e(static_cast<size_t>(n));
    std::vector<jlong> r(static_cast<size_t>(n));
    std::vector<jint> f(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const Record &rec = Records[static_cast<size_t>(i)];
        b[static_cast<size_t>(i)] = rec.byteReadNs;
        a[static_cast<size_t>(i)] = rec.attachedNs;
        e[static_cast<size_t>(i)] = rec.enteredNs;
        r[static_cast<size_t>(i)] = rec.returnedNs;
        f[static_cast<size_t>(i)] = rec.firstArg;
    }
    if (n > 0) {
        env->SetLongArrayRegion(byteRead, 0, n, b.data());
        env->SetLongArrayRegion(attached, 0, n, a.data());
        env->SetLongArrayRegion(entered, 0, n, e.data());
        env->SetLongArrayRegion(returned, 0, n, r.data());
        env->SetIntArrayRegion(firstArgs, 0, n, f.data());
    }
    return n;
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_bench_UpcallProbe_measureAttach(JNIEnv *env, jclass,
                                                                              jlongArray attachNs,
                                                                              jlongArray detachNs)
{
    AttachRun run;
    run.rounds = static_cast<size_t>(env->GetArrayLength(attachNs));
    run.attachNs.assign(run.rounds, 0);
    run.detachNs.assign(run.rounds, 0);
    run.failed = false;
    pthread_t thread;
    if (Vm == nullptr || pthread_create(&thread, nullptr, attachLoop, &run) != 0) {
        return JNI_FALSE;
    }
    pthread_join(thread, nullptr);
    fill(env, attachNs, run.attachNs);
    fill(env, detachNs, run.detachNs);
    return run.failed ? JNI_FALSE : JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_bench_UpcallProbe_measureBarePath(JNIEnv *env, jclass, jobject target,
                                                                                jlongArray latencyNs, jint gapUs)
{
    BarePath b{};
    b.rounds = static_cast<size_t>(env->GetArrayLength(latencyNs));
    b.enteredNs.assign(b.rounds, 0);
    jclass cls = env->GetObjectClass(target);
    b.method = env->GetMethodID(cls, "keyboardDataEvent", "(II)I");
    env->DeleteLocalRef(cls);
    if (b.method == nullptr || Vm == nullptr) {
        return JNI_FALSE;
    }
    b.target = env->NewGlobalRef(target);
    if (pipe(b.first) != 0 || pipe(b.second) != 0 || pipe(b.done) != 0) {
        return JNI_FALSE;  // a benchmark's failed set-up: the few descriptors are left to the exit
    }
    pthread_t relay;
    pthread_t caller;
    if (pthread_create(&relay, nullptr, bareRelay, &b) != 0 || pthread_create(&caller, nullptr, bareCaller, &b) != 0) {
        return JNI_FALSE;
    }
    std::vector<jlong> latency(b.rounds);
    bool ok = true;
    const struct timespec gap = {gapUs / 1000000, static_cast<long>(gapUs % 1000000) * 1000L};
    for (size_t i = 0; i < b.rounds && ok; ++i) {
        if (gapUs > 0) {
            nanosleep(&gap, nullptr);
        }
        char byte = static_cast<char>(1 + i % 0x7F);
        const int64_t sent = nowNs();
        ok = write(b.first[1], &byte, 1) == 1 && read(b.done[0], &byte, 1) == 1;
        latency[i] = b.enteredNs[i] - sent;
    }
    for (int fd : {b.first[1], b.second[1], b.done[1]}) {
        close(fd);  // ends the relay's and the caller's reads if a round failed
    }
    pthread_join(relay, nullptr);
    pthread_join(caller, nullptr);
    for (int fd : {b.first[0], b.second[0], b.done[0]}) {
        close(fd);
    }
    env->DeleteGlobalRef(b.target);
    fill(env, latencyNs, latency);
    return ok && !b.failed ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_trov_jpos_bench_UpcallProbe_measurePipe(JNIEnv *env, jclass,
                                                                            jlongArray writeNs,
                                                                            jlongArray handoffNs)
{
    // One-byte write() into a pipe (the kernel object behind a FIFO) on one thread, read back at once.
    int fds[2];
    if (pipe(fds) != 0) {
        return JNI_FALSE;
    }
    const size_t writes = static_cast<size_t>(env->GetArrayLength(writeNs));
    std::vector<jlong> w(writes);
    bool ok = true;
    char byte = 1;
    for (size_t i = 0; i < writes && ok; ++i) {
        const int64_t t0 = nowNs();
        ok = write(fds[1], &byte, 1) == 1;
        w[i] = nowNs() - t0;
        ok = ok && read(fds[0], &byte, 1) == 1;
    }
    close(fds[0]);
    close(fds[1]);

    // A byte handed to a thread blocked in read() and back: half the round trip is one hand-off.
    PingPong p{};
    p.rounds = static_cast<size_t>(env->GetArrayLength(handoffNs));
    std::vector<jlong> h(p.rounds);
    if (ok && pipe(p.there) == 0) {
        if (pipe(p.back) == 0) {
            pthread_t echo;
            if (pthread_create(&echo, nullptr, echoLoop, &p) == 0) {
                for (size_t i = 0; i < p.rounds && ok; ++i) {
                    const int64_t t0 = nowNs();
                    ok = write(p.there[1], &byte, 1) == 1 && read(p.back[0], &byte, 1) == 1;
                    h[i] = (nowNs() - t0) / 2;
                }
                if (!ok) {
                    close(p.there[1]);  // ends the echo thread's read
                    p.there[1] = -1;
                }
                pthread_join(echo, nullptr);
            } else {
                ok = false;
            }
            close(p.back[0]);
            close(p.back[1]);
        } else {
            ok = false;
        }
        close(p.there[0]);
        if (p.there[1] != -1) {
            close(p.there[1]);
        }
    } else {
        ok = false;
    }
    fill(env, writeNs, w);
    fill(env, handoffNs, h);
    return ok ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
