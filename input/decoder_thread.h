// SPDX-License-Identifier: Apache-2.0
// The decoder thread: reads the FIFO one byte at a time and runs the framing state machine over it.
#ifndef TROV_INPUT_DECODER_THREAD_H
#define TROV_INPUT_DECODER_THREAD_H

// How long one wait of the decoder for a byte lasts at most; the stop signal or a byte ends it sooner.
inline constexpr int DECODER_WAIT_MS = 1000;

// Thread body, started by the reader into fifo_agent; the argument carries the number of its opening.
// It ends when bTerminateFifoThread is raised (the shutdown raises the stop signal and writes a zero
// byte, either of which ends its wait) or its opening has ended. It reads the FIFO without blocking
// and waits between bytes with the stop signal in the same poll.
void *fifo_thread(void *opening);

#endif
