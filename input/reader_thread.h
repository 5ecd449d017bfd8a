// The device reader thread: the only place where the library reads from the keyboard.
#ifndef TROV_INPUT_READER_THREAD_H
#define TROV_INPUT_READER_THREAD_H

// How long one wait for device input lasts before the reader looks at its stop flag again. The shutdown
// wakes the reader by having the device answer; this bound ends the wait when the device stays silent.
inline constexpr int READER_WAIT_MS = 100;

// Thread body, started by the common open sequence into `agent`; stopped by bTerminateThread.
void *thread_function(void *);

#endif
