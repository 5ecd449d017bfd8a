// The named FIFO through which the reader thread hands the device's input bytes to the decoder thread.
//
// One descriptor, opened read-write, serves both sides: the reader writes and the decoder reads. (The
// shutdown wakes the decoder through the stop signal, core/stop_signal.h; the zero byte it also writes
// when the FIFO has room is not needed for that.) There is one instance, IOFifo. It prints nothing
// and throws nothing; results are those of the C library calls, with errno as they left it.
//
// The FIFO is made under its name in the working directory, where other processes using the library may
// make theirs at the same moment. So that two processes never share a FIFO and never remove each other's,
// a process uses a FIFO only while it holds an exclusive lock (flock) on it, and it releases the name as
// soon as it holds its FIFO: from then on the FIFO has no name, nobody else can open it, and the name is
// free for the next process. The name is never followed through a symbolic link, and a file of that name
// that is not a FIFO of this user is neither opened nor removed.
#ifndef TROV_INPUT_IOFUNCTIONS_H
#define TROV_INPUT_IOFUNCTIONS_H

// The FIFO's name, relative: it is made in the process's working directory.
inline constexpr char INPUT_FIFO_NAME[] = "InputFifo";

class IOFunctions {
public:
    IOFunctions();
    ~IOFunctions() = default;  // releases nothing: only iClose closes the FIFO
    IOFunctions(const IOFunctions &) = delete;
    IOFunctions &operator=(const IOFunctions &) = delete;

    // Makes (or takes over a left-over) FIFO of that name, opens it close-on-exec and releases the name:
    // 0, or -1 with errno set and pcFailure() saying why (also for a name that does not fit cFifoName).
    int iCreateFIFO(const char *name);
    // Writes all count bytes, again after an interrupted or short write: the bytes written, or -1 when
    // none could be.
    int iWrite(const char *data, int count);
    int iRead(char *buffer, int count);
    // Closes the descriptor. The name was released when the FIFO was made, so nothing is removed: 0.
    int iClose();

    // Why the last iCreateFIFO failed, as a sentence about the name; null after a success.
    const char *pcFailure() const { return pcCause; }
    // What stands in the way of making a FIFO under name in the working directory, or null when nothing
    // does (the name is free, or names a left-over FIFO of this user). Touches nothing.
    static const char *pcNameProblem(const char *name);

    char cFifoName[256];
    int iFd;

private:
    int iFail(const char *cause, int error);

    const char *pcCause;
};

#endif
