// SPDX-License-Identifier: Apache-2.0
// The open and close lifecycle through the keylock entry points: the common open sequence, the counts,
// the reset at first open, the shutdown, the claim table, and the undoing of a failed open.
#include <chrono>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "fake_jni.h"
#include "jni/registration.h"
#include "sim_fixture.h"

namespace {

class KeylockLifecycle : public SimTest {
protected:
    FakeJni jni;
    FakeClass keylockClass = FakeJni::keylockClass();
    FakeObject service{&keylockClass};

    jint open(FakeObject &o) { return Java_com_trov_jpos_TrovKeylockService_OpenKeylock(jni.env(), jni.object(o)); }
    jint open() { return open(service); }
    void close() { Java_com_trov_jpos_TrovKeylockService_CloseKeylock(jni.env(), jni.object(service)); }
    void claim(bool c) { Java_com_trov_jpos_TrovKeylockService_claimKeylock(jni.env(), jni.object(service), c); }
    bool claimed() { return Java_com_trov_jpos_TrovKeylockService_isKeylockClaimed(jni.env(), jni.object(service)); }
    void enable(bool e) { Java_com_trov_jpos_TrovKeylockService_enableKeylock(jni.env(), jni.object(service), e); }

    // Everything the shutdown must leave behind.
    void expectFullyClosed()
    {
        EXPECT_EQ(0, bDeviceOpened);
        EXPECT_EQ(pthread_t{}, agent);
        EXPECT_EQ(pthread_t{}, con_agent);
        EXPECT_EQ(pthread_t{}, fifo_agent);
        EXPECT_EQ(0, shmid);
        EXPECT_EQ(0, JposData.bKeyboardOpened);
        EXPECT_EQ(nullptr, jvm);
        EXPECT_EQ(0, bTerminateConnectThread);
        EXPECT_EQ(0, bTerminateFifoThread);
        EXPECT_EQ(1, bTerminateThread);
        EXPECT_EQ(-1, hidfunc.iFd);
        EXPECT_EQ(0, trovsim_open_handles(0));
        EXPECT_FALSE(claimSegmentExists());
    }
};

TEST_F(KeylockLifecycle, OpenWithoutKeyboardFailsAndStartsNothing)
{
    EXPECT_EQ(104, open());
    EXPECT_EQ(0, bDeviceOpened);
    EXPECT_EQ(pthread_t{}, agent);
    EXPECT_EQ(0, JposData.ucKeylockOpen);
    EXPECT_EQ(0, jni.liveGlobalRefs());
    EXPECT_FALSE(claimSegmentExists());
}

TEST_F(KeylockLifecycle, OpenClaimEnableCloseReleasesEverything)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    EXPECT_EQ(1, bDeviceOpened);
    EXPECT_NE(pthread_t{}, agent);
    EXPECT_EQ(shmget(CLAIM_TABLE_KEY, 0, 0), shmid) << "the segment under the claim table's key (its id may be 0)";
    EXPECT_NE(nullptr, jvm);
    EXPECT_EQ(1, JposData.ucKeylockOpen);
    EXPECT_NE(nullptr, KLObject);
    EXPECT_NE(nullptr, KLStatusUpdateEventID);
    EXPECT_NE(nullptr, KLDirectIOEventID);

    EXPECT_FALSE(claimed()) << "a new claim table is all zero";
    claim(true);
    EXPECT_TRUE(claimed());
    claim(false);
    EXPECT_FALSE(claimed());
    claim(true);

    enable(true);
    EXPECT_EQ(1, JposData.bKeylockEnabled);
    EXPECT_EQ(bytes({0xEF, 0x07}), received(0)) << "enabling asks the keyboard for its position";
    enable(false);
    EXPECT_EQ(0, JposData.bKeylockEnabled);
    EXPECT_EQ(2u, received(0).size()) << "disabling sends nothing";

    close();
    expectFullyClosed();
    EXPECT_EQ(nullptr, KLObject);
    EXPECT_EQ(0, jni.liveGlobalRefs());
    EXPECT_EQ(bytes({0xEF, 0x07, 0xEF, 0x07}), received(0)) << "the shutdown wakes the reader with a request";
    EXPECT_FALSE(claimed()) << "with the device closed nothing is claimed";
    claim(true);  // must not touch the detached table
    EXPECT_FALSE(claimed());
}

TEST_F(KeylockLifecycle, ASecondOpenOnlyCountsAndTheLastCloseShutsDown)
{
    plugKeyboard(0);
    FakeObject second{&keylockClass};
    ASSERT_EQ(0, open());
    const pthread_t reader = agent;
    const int table = shmid;
    ASSERT_EQ(0, open(second));
    EXPECT_EQ(2, JposData.ucKeylockOpen);
    EXPECT_EQ(reader, agent) << "the device and its thread are shared";
    EXPECT_EQ(table, shmid);
    EXPECT_EQ(1, trovsim_count(0, TROVSIM_REQ_OPEN));
    EXPECT_EQ(1, jni.liveGlobalRefs()) << "the registration that replaces another releases its reference";

    close();
    EXPECT_EQ(1, bDeviceOpened);
    EXPECT_EQ(1, JposData.ucKeylockOpen);
    EXPECT_EQ(nullptr, KLObject) << "every Close releases the registered object";

    close();
    expectFullyClosed();
}

TEST_F(KeylockLifecycle, CloseWithoutOpenCannotKeepTheDeviceOpen)
{
    plugKeyboard(0);
    close();
    EXPECT_EQ(0, JposData.ucKeylockOpen);
    ASSERT_EQ(0, open());
    close();
    close();
    EXPECT_EQ(0, JposData.ucKeylockOpen);
    expectFullyClosed();
}

TEST_F(KeylockLifecycle, FirstOpenResetsTheServiceStateButKeepsTheBuffers)
{
    plugKeyboard(0);
    JposData.bKeylockEnabled = 1;
    JposData.bMsrEnabled = 1;
    JposData.bTrack2Frame = 1;
    JposData.iKeyData = 77;
    JposData.bToneEnabled = 1;
    JposData.ucTrack1Len = 3;
    JposData.ucTrack1[0] = 'x';
    JposData.ucTcoLen = 2;
    JposData.ucTcoData[1] = 'F';

    ASSERT_EQ(0, open());
    EXPECT_EQ(0, JposData.bKeylockEnabled);
    EXPECT_EQ(0, JposData.bMsrEnabled);
    EXPECT_EQ(0, JposData.bTrack2Frame);
    EXPECT_EQ(-1, JposData.iKeyData);
    EXPECT_EQ(-1, JposData.iKeylockPosition);
    EXPECT_EQ(0, JposData.bToneEnabled);
    EXPECT_EQ(3, JposData.ucTrack1Len);
    EXPECT_EQ('x', JposData.ucTrack1[0]);
    EXPECT_EQ(2, JposData.ucTcoLen);
    EXPECT_EQ('F', JposData.ucTcoData[1]);
}

TEST_F(KeylockLifecycle, EnableWithDeviceClosedOnlySetsTheFlagUntilTheNextOpen)
{
    plugKeyboard(0);
    enable(true);
    EXPECT_EQ(1, JposData.bKeylockEnabled);
    EXPECT_EQ(0, trovsim_count(0, TROVSIM_REQ_OPEN));
    ASSERT_EQ(0, open());
    EXPECT_EQ(0, JposData.bKeylockEnabled);
    EXPECT_TRUE(received(0).empty());
    EXPECT_EQ(0, Java_com_trov_jpos_TrovKeylockService_WaitForKeylockChange(jni.env(), jni.object(service)));
}

TEST_F(KeylockLifecycle, ClaimIsSeenByAnotherProcess)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    claim(true);
    const pid_t child = fork();
    if (child == 0) {
        // A process of its own attaches the same segment and reads the keylock byte.
        const int id = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, 0666);
        if (id < 0) {
            _exit(2);
        }
        auto *table = static_cast<unsigned char *>(shmat(id, nullptr, SHM_RDONLY));
        if (table == reinterpret_cast<void *>(-1)) {
            _exit(3);
        }
        _exit(table[0] == 1 && table[1] == 0 && table[2] == 0 && table[3] == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(KeylockLifecycle, AClaimMadeByAnotherProcessIsReported)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    const pid_t child = fork();
    if (child == 0) {
        const int id = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, 0666);
        auto *table = static_cast<unsigned char *>(shmat(id, nullptr, 0));
        table[0] = 1;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(claimed());
}

TEST_F(KeylockLifecycle, FailedRegistrationReleasesItsReferenceAndTheDevice)
{
    plugKeyboard(0);
    FakeClass lacking{{"keylockStatusUpdateEvent (I)I"}};
    FakeObject incomplete{&lacking};
    EXPECT_EQ(104, open(incomplete));
    EXPECT_TRUE(jni.exceptionPending()) << "the lookup's exception is left for the Java caller";
    EXPECT_EQ(nullptr, KLObject);
    EXPECT_EQ(0, jni.liveGlobalRefs());
    EXPECT_EQ(0, JposData.ucKeylockOpen);
    expectFullyClosed();
    jni.clearException();

    ASSERT_EQ(0, open()) << "the next Open starts from the beginning";
    EXPECT_EQ(1, bDeviceOpened);
}

TEST_F(KeylockLifecycle, FailedRegistrationKeepsADeviceAnotherServiceUses)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    FakeClass lacking{{}};
    FakeObject incomplete{&lacking};
    EXPECT_EQ(104, open(incomplete));
    jni.clearException();
    EXPECT_EQ(1, bDeviceOpened);
    EXPECT_EQ(1, JposData.ucKeylockOpen);
}

TEST_F(KeylockLifecycle, OpenThatFailsAfterTheDeviceWasOpenedUndoesIt)
{
    plugKeyboard(0);

    // The VM pointer cannot be fetched.
    jni.failGetJavaVM = true;
    EXPECT_EQ(104, open());
    expectFullyClosed();
    jni.failGetJavaVM = false;

    // A segment under the claim table's key that is too small cannot be used.
    const int tooSmall = shmget(CLAIM_TABLE_KEY, 1, IPC_CREAT | 0666);
    ASSERT_GE(tooSmall, 0);
    EXPECT_EQ(104, open());
    EXPECT_EQ(0, bDeviceOpened);
    EXPECT_EQ(pthread_t{}, agent);
    EXPECT_EQ(0, trovsim_open_handles(0));
    shmctl(tooSmall, IPC_RMID, nullptr);

    ASSERT_EQ(0, open()) << "the next Open runs the whole sequence again";
    EXPECT_EQ(shmget(CLAIM_TABLE_KEY, 0, 0), shmid) << "the segment under the claim table's key (its id may be 0)";
    EXPECT_EQ(1, trovsim_open_handles(0));
}

TEST_F(KeylockLifecycle, CloseCompletesWhenTheKeyboardDoesNotAnswer)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    trovsim_set_silent(0, 1);
    const auto start = std::chrono::steady_clock::now();
    close();
    const auto took = std::chrono::steady_clock::now() - start;
    expectFullyClosed();
    // A liveness bound, far above the reader's wait: a hang fails here instead of stalling the run.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(bytes({0xEF, 0x07}), received(0)) << "the wake-up request is still sent";
}

TEST_F(KeylockLifecycle, CloseAfterTheKeyboardWasUnpluggedCompletes)
{
    plugKeyboard(0);
    ASSERT_EQ(0, open());
    trovsim_unplug(0);
    close();
    expectFullyClosed();
}

}  // namespace
