// SPDX-License-Identifier: Apache-2.0
#include "pipeline_fixture.h"

#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovMSRService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/iofunctions.h"

jint PipelineTest::openKeylock()
{
    return Java_com_trov_jpos_TrovKeylockService_OpenKeylock(env(), jni.object(keylock));
}

jint PipelineTest::openKeyboard()
{
    return Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(env(), jni.object(keyboard));
}

jint PipelineTest::openMsr()
{
    return Java_com_trov_jpos_TrovMSRService_OpenMSR(env(), jni.object(msr));
}

void PipelineTest::closeKeylock()
{
    Java_com_trov_jpos_TrovKeylockService_CloseKeylock(env(), jni.object(keylock));
}

void PipelineTest::closeKeyboard()
{
    Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(env(), jni.object(keyboard));
}

void PipelineTest::closeMsr()
{
    Java_com_trov_jpos_TrovMSRService_CloseMSR(env(), jni.object(msr));
}

void PipelineTest::silenceDetector()
{
    vStore(bFirstRunConnected, 0);
    vStore(bFirstRunDisconnected, 1);
}

void PipelineTest::expectShutDown()
{
    EXPECT_EQ(0, bDeviceOpened);
    EXPECT_EQ(pthread_t{}, agent);
    EXPECT_EQ(pthread_t{}, con_agent);
    EXPECT_EQ(pthread_t{}, fifo_agent);
    EXPECT_EQ(-1, hidfunc.iFd);
    EXPECT_EQ(-1, IOFifo.iReadFd);
    EXPECT_EQ(-1, IOFifo.iWriteFd);
    EXPECT_EQ(0, trovsim_open_handles(0));
    EXPECT_FALSE(claimSegmentExists());
    EXPECT_EQ(0, jni.liveGlobalRefs()) << "nothing of the library keeps a service object alive";
}

FakeCall PipelineTest::key(int code, int type)
{
    return FakeCall{"keyboardDataEvent", {code, type}, {}};
}

FakeCall PipelineTest::status(int code)
{
    return FakeCall{"keyboardStatusUpdateEvent", {code}, {}};
}
