// The named FIFO through which the reader thread hands the device's input bytes to the decoder thread.
//
// One descriptor, opened read-write, serves both sides: the reader writes, the decoder reads, and the
// shutdown writes one zero byte to wake the decoder. There is one instance, IOFifo. It prints nothing
// and throws nothing; results are those of the C library calls, with errno as they left it.
#ifndef TROV_INPUT_IOFUNCTIONS_H
#define TROV_INPUT_IOFUNCTIONS_H

// The FIFO's name, relative: it is made in the process's working directory.
inline constexpr char INPUT_FIFO_NAME[] = "InputFifo";

class IOFunctions {
public:
    IOFunctions();
    ~IOFunctions() = default;  // releases nothing: only iClose closes and removes the FIFO
    IOFunctions(const IOFunctions &) = delete;
    IOFunctions &operator=(const IOFunctions &) = delete;

    // Replaces any file of that name by a new FIFO and opens it: 0, or -1 (also for a name that does not
    // fit cFifoName).
    int iCreateFIFO(const char *name);
    int iWrite(const char *data, int count);
    int iRead(char *buffer, int count);
    // Closes the descriptor and removes the file: the result of removing it, or 0 when no name is set.
    int iClose();

    char cFifoName[256];
    int iFd;
};

#endif
