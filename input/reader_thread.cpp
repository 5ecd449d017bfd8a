// SPDX-License-Identifier: Apache-2.0
#include "input/reader_thread.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/stop_signal.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/decoder_thread.h"
#include "input/forwarding_state.h"
#include "input/iofunctions.h"
#include "input/power_poller.h"
#include "input/power_status.h"
#include "jni/callbacks.h"

namespace {

// Pause after closing a lost device, before the first attempt to open it again.
constexpr long REOPEN_PAUSE_US = 200;

// While the keyboard stays away, the pause before each further search doubles up to this, so that the
// search does not keep a core busy (a scan of the sixteen nodes every 200 us would) while a keyboard
// plugged back in is still found within a fraction of the time the kernel takes to announce it.
constexpr long SEARCH_PAUSE_MAX_US = 50000;

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
    // Make the pipe, then the decoder that reads it. Neither end blocks: each side waits in a poll that
    // the stop signal ends, so that a reader facing a full pipe can still be stopped.
    if (IOFifo.iCreateFIFO() != 0) {
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

// Writes one byte into the FIFO, waiting while the FIFO is full. False when the opening ends first:
// the byte and the rest of the input are then dropped. A write that fails otherwise loses the byte.
bool bPutByte(unsigned char byte, unsigned opening)
{
    for (;;) {
        if (IOFifo.iWrite(reinterpret_cast<const char *>(&byte), 1) == 1) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return true;
        }
        if (!bThreadGoesOn(bTerminateThread, opening) ||
            eWaitForMs(tLoad(IOFifo.iWriteFd), POLLOUT, READER_WAIT_MS) == WaitEnd::Stopped) {
            return false;
        }
    }
}

void vForward(const unsigned char *bytes, int count, unsigned opening)
{
    for (int i = 0; i < count; ++i) {
        // Zero bytes carry nothing; in the FIFO a zero byte marks a break in the stream.
        if (bytes[i] != 0 && !bPutByte(bytes[i], opening)) {
            return;
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

// Pauses the search for a lost keyboard; the stop signal ends the pause at once.
void vPauseSearch(long micros)
{
    const struct timespec pause = {micros / 1000000, (micros % 1000000) * 1000};
    eWaitFor(-1, 0, pause);
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

    ReconnectTimer timer{false, {0, 0}, REOPEN_PAUSE_US};
    unsigned char input[2 * TROV_READ_MAX_BYTES];
    while (bThreadGoesOn(bTerminateThread, mine)) {
        if (bExpired(timer)) {
            timer.bArmed = false;
            Cancel_All(mine);
            continue;
        }
        const int device = hidfunc.iDescriptor();
        if (device >= 0 && eWaitForMs(device, POLLIN, READER_WAIT_MS) != WaitEnd::Ready) {
            continue;
        }
        vReaderPassBegins();
        const int received = hidfunc.Read(input);
        if (received > 0) {
            vForward(input, received, mine);
        }
        vReaderPassEnds();
        if (received < 0) {
            closeDeviceAndStart(timer, mine);
        }
    }
    return nullptr;
}

int closeDeviceAndStart(ReconnectTimer &timer, unsigned opening)
{
    vStore(ucDeviceNoResponse, 1);
    vSilencePowerStatus();
    if (hidfunc.bGetDeviceInfo()) {
        return 0;  // the device still answers: the failed read has no further effect
    }
    const int closed = hidfunc.iCloseDevice();
    if (closed == 0) {
        // Only the pass that closed the lost device arms the time-out; later passes find nothing to close.
        clock_gettime(CLOCK_MONOTONIC, &timer.Deadline);
        timer.Deadline.tv_sec += RECONNECT_LIMIT_S;
        timer.bArmed = true;
        timer.lPauseUs = REOPEN_PAUSE_US;
        // The keyboard is gone: the application hears it at once (2002), in stream order.
        vNoteLinkChange();
        bPutByte(0, opening);
    }
    vPauseSearch(timer.lPauseUs);
    timer.lPauseUs = timer.lPauseUs * 2 < SEARCH_PAUSE_MAX_US ? timer.lPauseUs * 2 : SEARCH_PAUSE_MAX_US;
    if (!bThreadGoesOn(bTerminateThread, opening) || !hidfunc.bFindAndOpenDevice()) {
        return 0;
    }
    timer.bArmed = false;
    vStartPoller();
    // The decoder drops what the outage cut off, in stream order (after the bytes received before it),
    // empties the tracks and reports the keyboard back (2001).
    vNoteLinkChange();
    bPutByte(0, opening);
    // The key may have been turned while the cable was out: ask for the position again, as enabling
    // does, so that an enabled keylock never keeps a stale one.
    if (tLoad(JposData.bKeylockEnabled)) {
        hidfunc.bWrite(ReadKelockPosition, sizeof ReadKelockPosition);
    }
    return 0;
}

void Cancel_All(unsigned opening)
{
    vStore(ucDeviceNoResponse, 0);
    vArmPowerOffReport();
    CallbackJPOSStatusUpdate(OPOS_SUE_POWER_OFF_OFFLINE, opening);
}
