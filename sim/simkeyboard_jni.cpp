// SPDX-License-Identifier: Apache-2.0
// Native methods of com.trov.jpos.sim.SimKeyboard: each passes its arguments to the C control API.
// Arrays and strings are copied in and out with the region calls, so no Java object stays pinned and
// no JNI call happens with an exception pending.
#include <jni.h>

#include <cstdio>
#include <vector>

#include "com_trov_jpos_sim_SimKeyboard.h"
#include "sim/keyboard_protocol.h"
#include "sim/trovsim.h"

namespace {

// A Java byte[] as C bytes; null reads as no bytes.
std::vector<unsigned char> bytes_of(JNIEnv *env, jbyteArray array)
{
    std::vector<unsigned char> bytes;
    if (array != nullptr) {
        bytes.resize(static_cast<std::size_t>(env->GetArrayLength(array)));
        if (!bytes.empty()) {
            env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                    reinterpret_cast<jbyte *>(bytes.data()));
        }
    }
    return bytes;
}

// Throws IllegalArgumentException naming the code when the protocol reserves it as a key code.
bool refused_as_reserved(JNIEnv *env, jint key)
{
    if (!trovkbd::is_reserved_key(key)) {
        return false;
    }
    char message[160];
    std::snprintf(message, sizeof message,
                  "0x%02X is not a key code: the keyboard's protocol reserves it (zero, a frame marker, or the"
                  " extended or release prefix); see SimKeyboard.isReservedKeyCode",
                  static_cast<unsigned>(key));
    jclass illegal = env->FindClass("java/lang/IllegalArgumentException");
    if (illegal != nullptr) {
        env->ThrowNew(illegal, message);
    }
    return true;
}

// A Java string as modified UTF-8 for the time of a call; null stays null.
class Utf8 {
public:
    Utf8(JNIEnv *env, jstring text) : env_(env), text_(text)
    {
        chars_ = text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr;
    }
    ~Utf8()
    {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
        }
    }
    Utf8(const Utf8 &) = delete;
    Utf8 &operator=(const Utf8 &) = delete;
    const char *get() const { return chars_; }
    // GetStringUTFChars failed (out of memory, exception pending).
    bool failed() const { return text_ != nullptr && chars_ == nullptr; }

private:
    JNIEnv *env_;
    jstring text_;
    const char *chars_;
};

int length(const std::vector<unsigned char> &bytes)
{
    return static_cast<int>(bytes.size());
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_trov_jpos_sim_SimKeyboard_reset(JNIEnv *, jclass)
{
    trovsim_reset();
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setKind(JNIEnv *, jclass, jint node, jint kind)
{
    return trovsim_set_kind(node, kind);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_kind(JNIEnv *, jclass, jint node)
{
    return trovsim_kind(node);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setFaults(JNIEnv *, jclass, jint node, jint faults)
{
    return trovsim_set_faults(node, static_cast<unsigned>(faults));
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setApplications(JNIEnv *env, jclass, jint node,
                                                                          jintArray usages)
{
    if (usages == nullptr) {
        return -1;
    }
    std::vector<jint> values(static_cast<std::size_t>(env->GetArrayLength(usages)));
    if (!values.empty()) {
        env->GetIntArrayRegion(usages, 0, static_cast<jsize>(values.size()), values.data());
    }
    const std::vector<unsigned> list(values.begin(), values.end());
    return trovsim_set_applications(node, list.data(), static_cast<int>(list.size()));
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setIdentity(JNIEnv *env, jclass, jint node, jint vendor,
                                                                      jint product, jint version, jstring name)
{
    const Utf8 text(env, name);
    if (text.failed()) {
        return -1;
    }
    return trovsim_set_identity(node, static_cast<unsigned short>(vendor), static_cast<unsigned short>(product),
                                static_cast<unsigned short>(version), text.get());
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setKeylock(JNIEnv *, jclass, jint node, jint digit)
{
    return trovsim_set_keylock(node, digit);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setTco(JNIEnv *env, jclass, jint node, jint index,
                                                                 jstring digits)
{
    const Utf8 text(env, digits);
    if (text.failed()) {
        return -1;
    }
    return trovsim_set_tco(node, index, text.get());
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setSilent(JNIEnv *, jclass, jint node, jint silent)
{
    return trovsim_set_silent(node, silent);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_setAnswerDelay(JNIEnv *, jclass, jint node, jint delayMs)
{
    return trovsim_set_answer_delay(node, delayMs);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_inject(JNIEnv *, jclass, jint call, jint skip, jint count,
                                                                 jint error)
{
    return trovsim_inject(call, skip, count, error);
}

JNIEXPORT jlong JNICALL Java_com_trov_jpos_sim_SimKeyboard_injected(JNIEnv *, jclass, jint call)
{
    return trovsim_injected(call);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_sendRaw(JNIEnv *env, jclass, jint node,
                                                                  jbyteArray bytes)
{
    if (bytes == nullptr) {
        return -1;
    }
    const std::vector<unsigned char> raw = bytes_of(env, bytes);
    return trovsim_send_raw(node, raw.data(), length(raw));
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_pressKey(JNIEnv *env, jclass, jint node, jint key,
                                                                   jint extended)
{
    if (refused_as_reserved(env, key)) {
        return -1;
    }
    return trovsim_press_key(node, key, extended);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_releaseKey(JNIEnv *env, jclass, jint node, jint key,
                                                                     jint extended)
{
    if (refused_as_reserved(env, key)) {
        return -1;
    }
    return trovsim_release_key(node, key, extended);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_turnKeylock(JNIEnv *, jclass, jint node, jint digit)
{
    return trovsim_turn_keylock(node, digit);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_swipe(JNIEnv *env, jclass, jint node, jbyteArray track1,
                                                                jbyteArray track2, jbyteArray track3)
{
    const std::vector<unsigned char> t1 = bytes_of(env, track1);
    const std::vector<unsigned char> t2 = bytes_of(env, track2);
    const std::vector<unsigned char> t3 = bytes_of(env, track3);
    return trovsim_swipe(node, t1.data(), length(t1), t2.data(), length(t2), t3.data(), length(t3));
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_unplug(JNIEnv *, jclass, jint node)
{
    return trovsim_unplug(node);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_replug(JNIEnv *, jclass, jint node, jint delay_ms)
{
    return trovsim_replug(node, delay_ms);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_receivedInto(JNIEnv *env, jclass, jint node,
                                                                       jbyteArray buf)
{
    if (buf == nullptr) {
        return -1;
    }
    std::vector<unsigned char> copy(static_cast<std::size_t>(env->GetArrayLength(buf)));
    const int total = trovsim_received(node, copy.data(), length(copy));
    const int copied = total < length(copy) ? total : length(copy);
    if (copied > 0) {
        env->SetByteArrayRegion(buf, 0, copied, reinterpret_cast<const jbyte *>(copy.data()));
    }
    return total;
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_clearReceived(JNIEnv *, jclass, jint node)
{
    return trovsim_clear_received(node);
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_waitReceived(JNIEnv *, jclass, jint node, jint count,
                                                                       jint timeout_ms)
{
    return trovsim_wait_received(node, count, timeout_ms);
}

JNIEXPORT jlong JNICALL Java_com_trov_jpos_sim_SimKeyboard_count(JNIEnv *, jclass, jint node, jint request)
{
    return static_cast<jlong>(trovsim_count(node, request));
}

JNIEXPORT jint JNICALL Java_com_trov_jpos_sim_SimKeyboard_openHandles(JNIEnv *, jclass, jint node)
{
    return trovsim_open_handles(node);
}

}  // extern "C"
