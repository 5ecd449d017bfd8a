// The decoder thread: reads the FIFO one byte at a time and runs the framing state machine over it.
#ifndef TROV_INPUT_DECODER_THREAD_H
#define TROV_INPUT_DECODER_THREAD_H

// Thread body, started by the reader into fifo_agent; the argument carries the number of its opening.
// It ends when bTerminateFifoThread is raised (the shutdown then wakes it with a zero byte) or its
// opening has ended.
void *fifo_thread(void *opening);

#endif
