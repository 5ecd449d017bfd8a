// SPDX-License-Identifier: Apache-2.0
// The pipe through which the reader thread hands the device's input bytes to the decoder thread.
//
// The process makes the pipe itself (pipe2, close-on-exec) and nothing else can reach it: it has no name
// in the file system, so no file in the working directory is ever made, opened, followed or removed, and
// the services open in a read-only or shared directory alike. The reader writes into the write end, the
// decoder reads from the read end. Neither end blocks: each side waits in a poll that the shutdown's stop
// signal ends (core/stop_signal.h); the zero byte the shutdown also writes when the pipe has room is not
// needed for that. There is one instance,
// IOFifo. It prints nothing and throws nothing; results are those of the C library calls, with errno as
// they left it.
//
// Each end counts the bytes that passed it, so that a byte the decoder reads can be placed against a
// moment on the writing side (the TCO query uses it to tell a reply that began after its query was sent
// from one that began before).
#ifndef TROV_INPUT_IOFUNCTIONS_H
#define TROV_INPUT_IOFUNCTIONS_H

#include <cstdint>

class IOFunctions {
public:
    IOFunctions();
    ~IOFunctions() = default;  // releases nothing: only iClose closes the pipe
    IOFunctions(const IOFunctions &) = delete;
    IOFunctions &operator=(const IOFunctions &) = delete;

    // Makes the pipe, both ends close-on-exec and non-blocking: 0, or -1 with errno set.
    int iCreateFIFO();
    // Writes all count bytes, again after an interrupted or short write: the bytes written, or -1 when
    // none could be.
    int iWrite(const char *data, int count);
    int iRead(char *buffer, int count);
    // Closes both ends: 0.
    int iClose();

    // Bytes written into and read from the pipe since it was made, counted modulo 2^32.
    uint32_t uiWritten();
    uint32_t uiRead();

    int iReadFd;   // the decoder's end, -1 when none is open
    int iWriteFd;  // the reader's end, -1 when none is open

private:
    uint32_t uiWrittenCount;
    uint32_t uiReadCount;
};

#endif
