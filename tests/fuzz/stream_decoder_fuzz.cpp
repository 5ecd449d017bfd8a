// SPDX-License-Identifier: Apache-2.0
// Fuzzes the framing of the input stream: any byte sequence, with any mix of enabled services, must
// decode without a fault, raise only well-formed events of enabled services, keep at most one frame
// open, and leave the decoder able to deliver a swipe, a keylock turn and a key that follow it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/lifecycle.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "fake_jni.h"
#include "input/power_status.h"
#include "input/stream_decoder.h"
#include "jni/registration.h"

// A broken fact names itself before the fuzzer records the input.
#define CHECK(fact) \
    ((fact) ? void(0) : (std::fprintf(stderr, "broken: %s (line %d)\n", #fact, __LINE__), std::abort()))

namespace {

FakeJni *Jni;
FakeServiceObjects *Objects;

bool bMarker(unsigned byte)
{
    switch (byte) {
    case MARK_TRACK1: case MARK_TRACK2: case MARK_TRACK3: case MARK_KEYLOCK: case MARK_TCO:
    case MARK_TRACK1_END: case MARK_TRACK2_END: case MARK_SWIPE_END: case MARK_KEYLOCK_END: case MARK_TCO_END:
        return true;
    default:
        return false;
    }
}

// One event as the listener received it, checked against what the decoder may produce.
void vCheckEvent(const FakeCall &call)
{
    const JposRecord &d = JposData;
    if (call.method == "msrDataEvent") {
        CHECK(d.bMsrEnabled && call.arrays.size() == 3);
        for (const auto &track : call.arrays) {
            CHECK(!track.empty() && track.size() <= 256 && track.back() == 0);
            for (size_t i = 0; i + 1 < track.size(); ++i) {
                CHECK(track[i] != 0 && !bMarker(track[i]));
            }
        }
    } else if (call.method == "keylockStatusUpdateEvent") {
        CHECK(d.bKeylockEnabled && call.ints.size() == 1);
    } else if (call.method == "keyboardDataEvent") {
        CHECK(d.bKeyboardEnabled && call.ints.size() == 2);
        // The key byte alone: a class shaped like the Java service classes never sees the extended mark.
        const int key = call.ints[0];
        CHECK(key >= 0 && key <= 0xFF);
        CHECK(key > 0 && !bMarker(key) && key != KEY_RELEASE_PREFIX && key != KEY_EXTENDED_PREFIX);
        CHECK(call.ints[1] == 1 || call.ints[1] == 2);
    } else {
        CHECK(false);  // a power event: the device is closed here and nothing may report one
    }
}

// Feeds one byte; returns the event it raised, if any.
std::vector<FakeCall> Feed(uint8_t byte, DecoderState &state)
{
    Jni->clearCalls();
    vDecodeByte(byte, state, tLoad(uiOpening));
    const JposRecord &d = JposData;
    CHECK(d.bTrack1Frame + d.bTrack2Frame + d.bTrack3Frame + d.bKeylockFrame + d.bTcoFrame <= 1);
    auto calls = Jni->calls();
    CHECK(calls.size() <= 1);  // one byte raises at most one event
    for (const auto &call : calls) {
        vCheckEvent(call);
    }
    return calls;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Jni = new FakeJni;
    Objects = new FakeServiceObjects;
    createJNIParKL(Jni->env(), Jni->object(Objects->keylock));
    createJNIParKB(Jni->env(), Jni->object(Objects->keyboard));
    createJNIParMSR(Jni->env(), Jni->object(Objects->msr));
    JavaVM *vm = nullptr;
    Jni->env()->GetJavaVM(&vm);
    vStore(jvm, vm);
    return 0;
}

// The first byte chooses the enabled services (bit 0 MSR, 1 keylock, 2 keyboard); the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    FakeJni::releaseArrays();
    vResetServiceState();
    vSilencePowerStatus();
    JposRecord &d = JposData;
    d.bMsrEnabled = data[0] & 1;
    d.bKeylockEnabled = (data[0] >> 1) & 1;
    d.bKeyboardEnabled = (data[0] >> 2) & 1;
    DecoderState state = FRESH_DECODER;
    for (size_t i = 1; i < size; ++i) {
        Feed(data[i], state);
    }

    // Whatever came before, a well-formed swipe, keylock turn and key are delivered intact. A release
    // or extended prefix left dangling by the garbage may still apply to the key, as a prefix lasts
    // until a key is delivered.
    d.bMsrEnabled = 1;
    d.bKeylockEnabled = 1;
    d.bKeyboardEnabled = 1;
    std::vector<FakeCall> calls;
    for (int byte : {0x81, 0x41, 0x42, 0x91, 0x82, 0x31, 0x92, 0x83, 0x93, 0x84, 0x33, 0x94, 0x1C}) {
        for (auto &call : Feed(static_cast<uint8_t>(byte), state)) {
            calls.push_back(call);
        }
    }
    CHECK(calls.size() == 3);
    CHECK(calls[0] == (FakeCall{"msrDataEvent", {}, {{'A', 'B', 0}, {'1', 0}, {0}}}));
    CHECK(calls[1] == (FakeCall{"keylockStatusUpdateEvent", {4}, {}}));
    CHECK(calls[2].method == "keyboardDataEvent" && calls[2].ints[0] == 0x1C);
    return 0;
}
