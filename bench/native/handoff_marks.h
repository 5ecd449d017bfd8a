// SPDX-License-Identifier: Apache-2.0
// Times of the input hand-offs on the calling thread (see handoff_marks.cpp), in CLOCK_MONOTONIC
// nanoseconds, the clock of System.nanoTime().
#ifndef TROVBENCH_HANDOFF_MARKS_H
#define TROVBENCH_HANDOFF_MARKS_H

#include <cstdint>

int64_t trovbench_now_ns();
// Turns the marking on or off for every thread.
void trovbench_set_marking(bool on);
// The start of the calling thread's last send(), 0 if none was marked.
int64_t trovbench_last_send_ns();
// The return of the calling thread's last read() of one byte, 0 if none was marked.
int64_t trovbench_last_byte_read_ns();

#endif
