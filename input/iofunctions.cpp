#include "input/iofunctions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/shared_access.h"

namespace {

// Another process holds the name only between making its FIFO and releasing the name, a matter of
// microseconds; each attempt that finds it so waits a millisecond, so a creation gives up after about 2 s.
constexpr int CREATE_ATTEMPTS = 2000;
constexpr useconds_t BUSY_PAUSE_US = 1000;

// A write that the kernel interrupts or cuts short is repeated; a write that makes no progress this many
// times in a row is given up.
constexpr int WRITE_ATTEMPTS = 100;

const char CAUSE_TOO_LONG[] = "the FIFO's name is too long";
const char CAUSE_CANNOT_MAKE[] =
    "\"InputFifo\" cannot be made in the working directory (it is not writable, or it is gone)";
const char CAUSE_SYMLINK[] = "\"InputFifo\" in the working directory is a symbolic link, which is never followed";
const char CAUSE_NOT_FIFO[] = "\"InputFifo\" in the working directory is not a FIFO; it is left as it is";
const char CAUSE_OTHER_USER[] = "\"InputFifo\" in the working directory is a FIFO of another user";
const char CAUSE_CANNOT_OPEN[] = "\"InputFifo\" in the working directory cannot be opened";
const char CAUSE_BUSY[] = "\"InputFifo\" in the working directory stayed in use by other processes";

bool bSameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

IOFunctions::IOFunctions()
{
    iFd = -1;
    cFifoName[0] = '\0';
    pcCause = nullptr;
}

int IOFunctions::iFail(const char *cause, int error)
{
    pcCause = cause;
    errno = error;
    return -1;
}

const char *IOFunctions::pcNameProblem(const char *name)
{
    struct stat found;
    if (::lstat(name, &found) != 0) {
        return errno == ENOENT ? nullptr : CAUSE_CANNOT_MAKE;
    }
    if (S_ISLNK(found.st_mode)) {
        return CAUSE_SYMLINK;
    }
    if (!S_ISFIFO(found.st_mode)) {
        return CAUSE_NOT_FIFO;
    }
    return found.st_uid == ::geteuid() ? nullptr : CAUSE_OTHER_USER;
}

int IOFunctions::iCreateFIFO(const char *name)
{
    if (std::strlen(name) >= sizeof cFifoName) {
        return iFail(CAUSE_TOO_LONG, ENAMETOOLONG);
    }
    std::strcpy(cFifoName, name);
    for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
        // Exclusive: an existing file of the name, of whatever kind, is never replaced.
        if (::mkfifo(cFifoName, 0600) == -1 && errno != EEXIST &&
            ::mknod(cFifoName, S_IFIFO | 0600, 0) == -1 && errno != EEXIST) {
            return iFail(CAUSE_CANNOT_MAKE, errno);
        }
        // Whatever the name holds now (ours, another process's, or one left from a crash) is looked at
        // before it is opened, and opened only as a FIFO of this user, without following a link and
        // without waiting.
        if (const char *problem = pcNameProblem(cFifoName)) {
            return iFail(problem, problem == CAUSE_CANNOT_MAKE ? errno : EEXIST);
        }
        const int fd = ::open(cFifoName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd == -1) {
            if (errno == ENOENT) {
                continue;  // its process released the name meanwhile: make our own
            }
            return iFail(errno == ELOOP ? CAUSE_SYMLINK : CAUSE_CANNOT_OPEN, errno);
        }
        struct stat held;
        if (::fstat(fd, &held) != 0 || !S_ISFIFO(held.st_mode) || held.st_uid != ::geteuid()) {
            ::close(fd);  // replaced between the look and the open
            return iFail(CAUSE_NOT_FIFO, EEXIST);
        }
        // The lock decides whose FIFO it is: another process that made or took it holds it until it
        // closes it, so a FIFO is never used by two processes.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            ::usleep(BUSY_PAUSE_US);
            continue;
        }
        // Ours. Release the name, when it still names this FIFO, for the next process.
        struct stat named;
        if (::lstat(cFifoName, &named) == 0 && bSameFile(named, held)) {
            ::unlink(cFifoName);
        }
        // A FIFO left by a crashed process may still hold its bytes; none of them is ours.
        char stale[64];
        while (::read(fd, stale, sizeof stale) > 0) {
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        pcCause = nullptr;
        vStore(iFd, fd);
        return 0;
    }
    return iFail(CAUSE_BUSY, EBUSY);
}

int IOFunctions::iWrite(const char *data, int count)
{
    const int fd = tLoad(iFd);
    int written = 0;
    int stalled = 0;
    while (written < count && stalled < WRITE_ATTEMPTS) {
        const ssize_t rc = ::write(fd, data + written, static_cast<size_t>(count - written));
        if (rc > 0) {
            written += static_cast<int>(rc);
            stalled = 0;
        } else if (rc == 0 || errno == EINTR) {
            ++stalled;
        } else {
            break;
        }
    }
    return written > 0 || count == 0 ? written : -1;
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
    return 0;
}
