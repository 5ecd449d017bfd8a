#include "input/reader_thread.h"

#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/decoder_thread.h"
#include "input/iofunctions.h"
#include "input/power_poller.h"
#include "input/power_status.h"
#include "jni/callbacks.h"

namespace {

// Pause after closing a lost device, before each attempt to open it again.
constexpr useconds_t REOPEN_PAUSE_US = 200;

// The reader's report of its start to bStartReader.
struct StartReport {
    pthread_mutex_t Lock;
    pthread_cond_t Changed;
    int iState;  // -1 pending, 0 failed, 1 running
};
StartReport Start = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, -1};

void vReportStart(bool running)
{
    ScopedLock guard(Start.Lock);
    Start.iState = running ? 1 : 0;
    pthread_cond_broadcast(&Start.Changed);
}

bool bStarted()
{
    // Make the FIFO, then the decoder that reads it.
    if (IOFifo.iCreateFIFO(INPUT_FIFO_NAME) != 0) {
        if (tLoad(IOFifo.iFd) != -1) {
            IOFifo.iClose();
        }
        return false;
    }
    pthread_t decoder;
    void *opening = reinterpret_cast<void *>(static_cast<uintptr_t>(tLoad(uiOpening)));
    if (pthread_create(&decoder, nullptr, fifo_thread, opening) != 0) {
        IOFifo.iClose();
        return false;
    }
    vStore(fifo_agent, decoder);
    return true;
}

void vForward(const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != 0) {  // zero bytes carry nothing; the only zero in the FIFO is the shutdown's
            IOFifo.iWrite(reinterpret_cast<const char *>(&bytes[i]), 1);
        }
    }
}

bool bExpired(const ReconnectTimer &timer)
{
    if (!timer.bArmed) {
        return false;
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > timer.Deadline.tv_sec ||
           (now.tv_sec == timer.Deadline.tv_sec && now.tv_nsec >= timer.Deadline.tv_nsec);
}

void vClearTracks()
{
    ScopedLock tracks(TrackLock);
    JposRecord &d = JposData;
    vStore(d.ucTrack1Len, 0);
    std::memset(d.ucTrack1, 0, sizeof d.ucTrack1);
    vStore(d.ucTrack2Len, 0);
    std::memset(d.ucTrack2, 0, sizeof d.ucTrack2);
    vStore(d.ucTrack3Len, 0);
    std::memset(d.ucTrack3, 0, sizeof d.ucTrack3);
}

}  // namespace

bool bStartReader()
{
    {
        ScopedLock guard(Start.Lock);
        Start.iState = -1;
    }
    pthread_t reader;
    void *opening = reinterpret_cast<void *>(static_cast<uintptr_t>(tLoad(uiOpening)));
    if (pthread_create(&reader, nullptr, thread_function, opening) != 0) {
        return false;
    }
    vStore(agent, reader);
    ScopedLock guard(Start.Lock);
    while (Start.iState == -1) {
        pthread_cond_wait(&Start.Changed, &Start.Lock);
    }
    return Start.iState == 1;
}

void *thread_function(void *opening)
{
    const auto mine = static_cast<unsigned>(reinterpret_cast<uintptr_t>(opening));
    const bool running = bStarted();
    vReportStart(running);
    if (!running) {
        return nullptr;
    }

    ReconnectTimer timer{false, {0, 0}};
    unsigned char input[2 * TROV_READ_MAX_BYTES];
    while (bThreadGoesOn(bTerminateThread, mine)) {
        if (bExpired(timer)) {
            timer.bArmed = false;
            Cancel_All(mine);
            continue;
        }
        if (!hidfunc.bWaitForInput(READER_WAIT_MS)) {
            continue;
        }
        const int received = hidfunc.Read(input);
        if (received > 0) {
            vForward(input, received);
        } else if (received < 0) {
            closeDeviceAndStart(timer);
        }
    }
    return nullptr;
}

int closeDeviceAndStart(ReconnectTimer &timer)
{
    vStore(ucDeviceNoResponse, 1);
    vSilencePowerStatus();
    if (hidfunc.bGetDeviceInfo()) {
        return 0;  // the device still answers: the failed read has no further effect
    }
    const int closed = hidfunc.iCloseDevice();
    usleep(REOPEN_PAUSE_US);
    if (closed == 0) {
        // Only the pass that closed the lost device arms the time-out; later passes find nothing to close.
        clock_gettime(CLOCK_MONOTONIC, &timer.Deadline);
        timer.Deadline.tv_sec += RECONNECT_LIMIT_S;
        timer.bArmed = true;
    }
    if (!hidfunc.bFindAndOpenDevice()) {
        return 0;
    }
    timer.bArmed = false;
    vStartPoller();
    vClearTracks();
    if (tLoad(JposData.bMsrEnabled)) {
        CallbackMSR();
    }
    return 0;
}

void Cancel_All(unsigned opening)
{
    vStore(ucDeviceNoResponse, 0);
    vArmPowerOffReport();
    CallbackJPOSStatusUpdate(OPOS_SUE_POWER_OFF_OFFLINE, opening);
}
