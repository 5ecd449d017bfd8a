// The device reader thread: the only place where the library reads from the keyboard. It makes the
// FIFO, starts the decoder, and forwards every non-zero input byte into the FIFO. When a read fails
// because the keyboard is gone, it closes the device and searches for it again; a keyboard that stays
// away for 10 seconds shuts the services down.
#ifndef TROV_INPUT_READER_THREAD_H
#define TROV_INPUT_READER_THREAD_H

#include <ctime>

// How long one wait for device input lasts before the reader looks at its stop flag again. The shutdown
// wakes the reader by having the device answer; this bound ends the wait when the device stays silent.
inline constexpr int READER_WAIT_MS = 100;

// How long the keyboard may stay away before the services are shut down.
inline constexpr int RECONNECT_LIMIT_S = 10;

// The reconnect time-out, kept by the reader thread itself (no signal is involved): armed when a lost
// device has been closed, cancelled by a successful reopen.
struct ReconnectTimer {
    bool bArmed;
    struct timespec Deadline;
};

// Starts the reader for the current opening into `agent` and waits until it has made the FIFO and
// started the decoder. False when either failed; the reader has then ended and released what it made.
bool bStartReader();

// Thread body; the argument carries the number of its opening.
void *thread_function(void *opening);

// One reconnection pass after a failed read: close the lost device, arm the time-out, try once to open
// it again; after a successful reopen restart the poller, empty the tracks and report empty tracks to
// the MSR listener while MSR events are enabled. Always 0.
int closeDeviceAndStart(ReconnectTimer &timer);

// The reconnect time-out: reports power off/offline, which shuts the services of the opening down.
void Cancel_All(unsigned opening);

#endif
