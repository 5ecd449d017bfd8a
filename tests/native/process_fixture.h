// SPDX-License-Identifier: Apache-2.0
// Helpers for tests that run the library in forked processes: a process, its exit status, a one-shot
// signal between processes, and the keylock and POS keyboard services of the calling process.
#ifndef TROV_TESTS_PROCESS_FIXTURE_H
#define TROV_TESTS_PROCESS_FIXTURE_H

#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "fake_jni.h"
#include "sim/trovsim.h"

namespace {

// Runs body in a forked process; its result is the exit status.
pid_t spawn(const std::function<int()> &body)
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    return child;
}

int exitStatus(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A one-shot signal from one process to another.
struct Signal {
    int ends[2];
    Signal() { EXPECT_EQ(0, pipe(ends)); }
    ~Signal() { close(ends[0]); close(ends[1]); }
    void raise() { EXPECT_EQ(1, write(ends[1], "!", 1)); }
    bool await() { char c; return read(ends[0], &c, 1) == 1; }
};

// The keylock service of the calling process.
struct Keylock {
    FakeJni jni;
    FakeClass cls = FakeJni::keylockClass();
    FakeObject service{&cls};
    jint open() { return Java_com_trov_jpos_TrovKeylockService_OpenKeylock(jni.env(), jni.object(service)); }
    void close() { Java_com_trov_jpos_TrovKeylockService_CloseKeylock(jni.env(), jni.object(service)); }
    void claim(bool c) { Java_com_trov_jpos_TrovKeylockService_claimKeylock(jni.env(), jni.object(service), c); }
    bool claimed() { return Java_com_trov_jpos_TrovKeylockService_isKeylockClaimed(jni.env(), jni.object(service)); }
};

// The POS keyboard service of the calling process, for TCO queries.
struct Keyboard {
    FakeJni jni;
    FakeClass cls = FakeJni::keyboardClass();
    FakeObject service{&cls};
    jint open() { return Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(jni.env(), jni.object(service)); }
    void close() { Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(jni.env(), jni.object(service)); }
    void claim(bool c) { Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(jni.env(), jni.object(service), c); }
    bool claimed() { return Java_com_trov_jpos_TrovPOSKeyboardService_isPOSKeyboardClaimed(jni.env(), jni.object(service)); }
    jint readTco(int index)
    {
        return Java_com_trov_jpos_TrovPOSKeyboardService_ReadTCO(jni.env(), jni.object(service), index);
    }
};

// The reply frame "11", as the keyboard sends it.
const unsigned char REPLY_11[] = {0x86, '1', '1', 0x96};

// In a child process: queries index 1 on a keyboard that answers nothing by itself, raises `sent` once
// the query is out, waits for `answer`, then has the keyboard send REPLY_11. The query's value; -1 when
// the keyboard could not be opened, -2 when the query never reached the keyboard.
int iQueryAnsweredOnSignal(Signal &sent, Signal &answer)
{
    Keyboard keyboard;
    if (keyboard.open() != 0) {
        return -1;
    }
    trovsim_set_silent(0, 1);
    int value = 0;
    std::thread query([&] { value = keyboard.readTco(1); });
    const bool wasSent = trovsim_wait_received(0, 6, 5000) == 6;
    sent.raise();
    answer.await();
    trovsim_send_raw(0, REPLY_11, sizeof REPLY_11);
    query.join();
    keyboard.close();
    return wasSent ? value : -2;
}

}  // namespace

#endif
