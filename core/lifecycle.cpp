#include "core/lifecycle.h"

#include "core/claim_table.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/reader_thread.h"

pthread_mutex_t LifecycleLock = PTHREAD_MUTEX_INITIALIZER;

void vResetServiceState()
{
    JposRecord &d = JposData;
    vStore(d.bTrack1Frame, 0);
    vStore(d.bTrack2Frame, 0);
    vStore(d.bTrack3Frame, 0);
    vStore(d.ucMsrOpen, 0);
    vStore(d.bMsrEnabled, 0);
    vStore(d.ucKeylockOpen, 0);
    vStore(d.bKeylockFrame, 0);
    vStore(d.iKeylockPosition, -1);
    vStore(d.bKeylockEnabled, 0);
    vStore(d.ucKeyboardOpen, 0);
    vStore(d.iKeyData, -1);
    vStore(d.bKeyboardEnabled, 0);
    vStore(d.bExtendedKey, 0);
    vStore(d.bKeyboardOpened, 0);
    vStore(d.bTcoFrame, 0);
    vStore(d.ucToneOpen, 0);
    vStore(d.bToneEnabled, 0);
}

namespace {

// Ends a library thread and clears its handle. A thread never waits for itself: when the shutdown runs
// on the thread being stopped, that thread is detached instead and ends when its current call returns.
void vEndThread(pthread_t &handle)
{
    const pthread_t thread = tExchange(handle, pthread_t{});
    if (thread == pthread_t{}) {
        return;
    }
    if (pthread_equal(thread, pthread_self())) {
        pthread_detach(thread);
    } else {
        pthread_join(thread, nullptr);
    }
}

// Stops the threads, closes the device and releases the claim table, whatever the open counts say.
void vShutDownDevice()
{
    // The reader: raise its flag, then have the device answer so that a wait for input ends at once.
    // The reader's wait is bounded as well, so a device that does not answer cannot stall the shutdown.
    vStore(bTerminateThread, 1);
    hidfunc.bWrite(ReadKelockPosition, sizeof ReadKelockPosition);
    vEndThread(agent);

    // The poller looks at its flag once a second.
    vStore(bTerminateConnectThread, 1);
    vEndThread(con_agent);
    vStore(bTerminateConnectThread, 0);

    hidfunc.iCloseDevice();
    vStore(bDeviceOpened, 0);
    vStore(JposData.bKeyboardOpened, 0);
    vStore(jvm, nullptr);
    vReleaseClaimTable();
}

}  // namespace

int iOpenDeviceIfClosed(JNIEnv *env)
{
    if (tLoad(bDeviceOpened)) {
        return 0;
    }
    hidfunc.vClearAll();
    if (!hidfunc.bFindAndOpenDevice()) {
        return JPOS_E_NOSERVICE;
    }
    vStore(bDeviceOpened, 1);
    vStore(bTerminateThread, 0);

    pthread_t reader;
    if (pthread_create(&reader, nullptr, thread_function, nullptr) != 0) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }
    vStore(agent, reader);

    JavaVM *vm = nullptr;
    if (env->GetJavaVM(&vm) != 0 || vm == nullptr) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }
    vStore(jvm, vm);

    if (!iCreateSharedMemory()) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }
    return 0;
}

void close_all()
{
    const JposRecord &d = JposData;
    if (tLoad(d.ucKeylockOpen) || tLoad(d.ucKeyboardOpen) || tLoad(d.ucMsrOpen) || tLoad(d.ucToneOpen)) {
        return;
    }
    vShutDownDevice();
}
