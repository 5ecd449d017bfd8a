// SPDX-License-Identifier: Apache-2.0
#include "core/lifecycle.h"

#include <unistd.h>

#include "core/claim_table.h"
#include "core/ipc_access.h"
#include "core/shared_access.h"
#include "core/stop_signal.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/iofunctions.h"
#include "input/power_poller.h"
#include "input/power_status.h"
#include "input/reader_thread.h"
#include "jni/registration.h"
#include "jni/tco_query.h"

pthread_mutex_t LifecycleLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

// How often a power-off shutdown waiting for LifecycleLock looks again.
constexpr useconds_t POWER_OFF_LOCK_RETRY_US = 1000;

// Stops the decoder: raise its flag, then write the zero byte that has always woken it (the stop signal
// has woken it already; the byte is not written when the FIFO is full), and wait for it. When the
// shutdown runs on the decoder itself, it cannot wait for itself: the decoder ends without reading
// again once its current callback returns. Either way the pipe is closed here,
// once no thread of this opening reads it any more.
void vStopDecoder()
{
    const pthread_t decoder = tLoad(fifo_agent);
    const bool onDecoder = decoder != pthread_t{} && pthread_equal(decoder, pthread_self());
    if (!onDecoder) {
        vStore(bTerminateFifoThread, 1);
        const char wakeUp = 0;
        IOFifo.iWrite(&wakeUp, 1);
    }
    vEndThread(fifo_agent);
    vStore(bTerminateFifoThread, 0);
    IOFifo.iClose();
}

// Stops the threads, closes the device and releases the claim table, whatever the open counts say.
void vShutDownDevice()
{
    // Every thread of this opening sees from now on that its opening has ended, and every wait of the
    // reader and the decoder ends at once: the reader stops also while it waits for room in a full
    // FIFO, and the input still queued is dropped.
    std::atomic_ref<unsigned>(uiOpening).fetch_add(1, std::memory_order_acq_rel);
    vRaiseStopSignal();
    vWakePoller();  // so that the three threads end side by side, not one after the other

    // The reader: raise its flag (the stop signal has woken it already), then send the keylock position
    // request that a shutdown has always sent the keyboard. Its answer reaches no event: input that
    // arrives once the opening has ended is dropped.
    vStore(bTerminateThread, 1);
    hidfunc.bWrite(ReadKelockPosition, sizeof ReadKelockPosition);
    vEndThread(agent);

    vStopPoller();
    vStopDecoder();

    hidfunc.iCloseDevice();
    vStore(bDeviceOpened, 0);
    vStore(JposData.bKeyboardOpened, 0);
    // Nothing of the library may keep a service object alive once the device is shut down, also when
    // a power-off did it and the application never calls the native Close.
    vReleaseRegisteredObjects();
    vStore(jvm, nullptr);
    vReleaseClaimTable();
    vClearTcoLeftovers();
    vCloseStopSignal();
}

}  // namespace

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

bool bThreadGoesOn(uint8_t &stopFlag, unsigned opening)
{
    return !tLoad(stopFlag) && tLoad(uiOpening) == opening;
}

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
    vResetLink();  // no outage of an earlier opening is reported in this one
}

int iOpenDeviceIfClosed(JNIEnv *env)
{
    if (tLoad(bDeviceOpened)) {
        return 0;
    }
    hidfunc.vClearAll();
    // Each opening reports the power state its first test finds, also after an earlier opening was
    // shut down by a power-off: the application then learns that the keyboard is back.
    vStore(bFirstRunConnected, 1);
    vStore(bFirstRunDisconnected, 1);
    if (!hidfunc.bFindAndOpenDevice()) {
        return JPOS_E_NOSERVICE;
    }
    vStore(bDeviceOpened, 1);
    vStore(bTerminateThread, 0);
    if (!bCreateStopSignal()) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }

    // The reader makes the FIFO and starts the decoder; without them no event could ever arrive.
    if (!bStartReader()) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }

    JavaVM *vm = nullptr;
    if (env->GetJavaVM(&vm) != 0 || vm == nullptr) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }
    vStore(jvm, vm);

    vLearnIpcGroup();
    if (!iCreateSharedMemory()) {
        vShutDownDevice();
        return JPOS_E_NOSERVICE;
    }
    vClearTcoLeftovers();
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

void vReportPowerOff(unsigned opening, void (*report)(unsigned))
{
    while (pthread_mutex_trylock(&LifecycleLock) != 0) {
        if (tLoad(uiOpening) != opening) {
            return;  // that opening is being shut down already, by the holder of the lock
        }
        usleep(POWER_OFF_LOCK_RETRY_US);
    }
    report(opening);
    if (tLoad(uiOpening) == opening && tLoad(bDeviceOpened)) {
        JposRecord &d = JposData;
        vStore(d.ucKeylockOpen, 0);
        vStore(d.ucKeyboardOpen, 0);
        vStore(d.ucMsrOpen, 0);
        vStore(d.ucToneOpen, 0);
        close_all();
        vStore(d.bKeyboardOpened, 0);
    }
    pthread_mutex_unlock(&LifecycleLock);
}
