// SPDX-License-Identifier: Apache-2.0
// The device reader thread: the only place where the library reads from the keyboard. It makes the
// FIFO, starts the decoder, and forwards every non-zero input byte into the FIFO. When a read fails
// because the keyboard is gone, it closes the device and searches for it again; a keyboard that stays
// away for 10 seconds shuts the services down.
#ifndef TROV_INPUT_READER_THREAD_H
#define TROV_INPUT_READER_THREAD_H

#include <ctime>

// How long one wait of the reader (for device input, or for room in a full FIFO) lasts at most before it
// looks at its stop flag and the reconnect time-out again. The shutdown's stop signal ends it at once.
inline constexpr int READER_WAIT_MS = 100;

// How long the keyboard may stay away before the services are shut down.
inline constexpr int RECONNECT_LIMIT_S = 10;

// The reconnect time-out, kept by the reader thread itself (no signal is involved): armed when a lost
// device has been closed, cancelled by a successful reopen.
struct ReconnectTimer {
    bool bArmed;
    struct timespec Deadline;
    long lPauseUs;  // pause before the next search for the lost keyboard
};

// Starts the reader for the current opening into `agent` and waits until it has made the FIFO and
// started the decoder. False when either failed; the reader has then ended and released what it made.
bool bStartReader();

// Thread body; the argument carries the number of its opening.
void *thread_function(void *opening);

// One reconnection pass after a failed read: close the lost device, arm the time-out, pause, try once to
// open it again; after a successful reopen restart the poller and mark the break in the FIFO (a zero
// byte), at which the decoder drops partial frames and prefixes, empties the tracks and reports empty
// tracks to the MSR listener while MSR events are enabled. The first pause after the loss is 200 us;
// while the keyboard stays away each further one doubles, up to 50 ms. Always 0.
int closeDeviceAndStart(ReconnectTimer &timer, unsigned opening);

// The reconnect time-out: reports power off/offline, which shuts the services of the opening down.
void Cancel_All(unsigned opening);

#endif
