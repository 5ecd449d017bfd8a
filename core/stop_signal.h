// SPDX-License-Identifier: Apache-2.0
// The stop signal of an opening: an eventfd that the shutdown raises first thing, and that every wait of
// the reader and the decoder watches beside the descriptor it waits on. A thread of the opening then
// wakes at once, wherever it waits (for device input, for room in a full FIFO, for a byte in an empty
// one, or between two searches for a lost keyboard), instead of looking at its stop flag in time slices.
//
// Once raised, the signal stays raised until the shutdown closes it, after it has stopped every thread
// of the opening; the next opening makes a new one.
#ifndef TROV_CORE_STOP_SIGNAL_H
#define TROV_CORE_STOP_SIGNAL_H

#include <ctime>

// Makes the signal for a new opening. False when the system has no eventfd to give.
bool bCreateStopSignal();

// Raises the signal: every wait below returns at once from now on.
void vRaiseStopSignal();

// Closes the signal; called when no thread of the opening can wait on it any more.
void vCloseStopSignal();

enum class WaitEnd { Ready, Stopped, TimedOut };

// Waits until fd has one of `events` (poll(2) events; fd -1 waits for the signal alone), the stop
// signal is raised, or `limit` has passed. An interrupted wait reports TimedOut, so that the caller
// looks again.
WaitEnd eWaitFor(int fd, short events, const struct timespec &limit);

// The same with the limit in milliseconds.
WaitEnd eWaitForMs(int fd, short events, int limitMs);

#endif
