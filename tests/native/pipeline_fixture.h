// SPDX-License-Identifier: Apache-2.0
// Common ground of the native tests that run the input pipeline into service objects in the fake VM
// (event_pipeline_test, pipeline_faults_test, injected_faults_test): the fake VM with one object of each
// listening service, opening and closing them through their entry points, the listener calls to expect,
// and the check that a shutdown left nothing of its opening behind.
#ifndef TROV_TESTS_PIPELINE_FIXTURE_H
#define TROV_TESTS_PIPELINE_FIXTURE_H

#include <jni.h>

#include "fake_jni.h"
#include "sim_fixture.h"

class PipelineTest : public SimTest, protected FakeServiceObjects {
protected:
    FakeJni jni;

    JNIEnv *env() { return jni.env(); }
    jint openKeylock();
    jint openKeyboard();
    jint openMsr();
    void closeKeylock();
    void closeKeyboard();
    void closeMsr();

    // The power-state detector quiet, as after a first enable that reported the device online.
    static void silenceDetector();

    // The device closed, the library's threads ended, the input pipe closed, node 0 held
    // by no descriptor, the claim table removed, and no service object referenced any more.
    void expectShutDown();

    // A key event (1 down, 2 up) and a power status as the keyboard object's listeners receive them.
    static FakeCall key(int code, int type = 1);
    static FakeCall status(int code);
};

#endif
