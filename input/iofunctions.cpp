#include "input/iofunctions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/shared_access.h"

IOFunctions::IOFunctions()
{
    iFd = -1;
    cFifoName[0] = '\0';
}

int IOFunctions::iCreateFIFO(const char *name)
{
    if (std::strlen(name) >= sizeof cFifoName) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(cFifoName, name);
    ::unlink(cFifoName);  // whatever is left from an earlier run, FIFO or not, is replaced
    if (::mkfifo(cFifoName, 0600) == -1 && ::mknod(cFifoName, S_IFIFO | 0600, 0) == -1) {
        return -1;
    }
    // Opened read-write, the FIFO opens at once and always has a writer, so a read never sees end of file.
    const int fd = ::open(cFifoName, O_RDWR);
    vStore(iFd, fd);
    return fd == -1 ? -1 : 0;
}

int IOFunctions::iWrite(const char *data, int count)
{
    return static_cast<int>(::write(tLoad(iFd), data, static_cast<size_t>(count)));
}

int IOFunctions::iRead(char *buffer, int count)
{
    return static_cast<int>(::read(tLoad(iFd), buffer, static_cast<size_t>(count)));
}

int IOFunctions::iClose()
{
    const int fd = tExchange(iFd, -1);
    if (fd != -1) {
        ::close(fd);
    }
    if (cFifoName[0] == '\0') {
        return 0;
    }
    return ::unlink(cFifoName);
}
