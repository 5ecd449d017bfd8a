// SPDX-License-Identifier: Apache-2.0
// The C library entry points the simulator stands in for. Node paths open a simulated node; the
// descriptors handed out get the hiddev driver's read, ioctl, poll, ppoll and close behaviour. The reads
// and writes of FIFOs and pipes, shmget, shmat, msgget and pthread_create fail here when a test has
// injected a fault into them (trovsim_inject). Everything else goes to the C library untouched, after
// one atomic load for descriptor calls.
//
// The plain (not large-file, not fortified) declarations are wanted here, so that each definition below
// carries the name it says.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#undef _FORTIFY_SOURCE

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <fcntl.h>
#include <linux/hiddev.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim/fd_marks.h"
#include "sim/injected_faults.h"
#include "sim/libc_next.h"
#include "sim/node_paths.h"
#include "sim/simulator.h"

using trovsim::Simulator;
namespace fd_marks = trovsim::fd_marks;
namespace next = trovsim::next;
namespace injected = trovsim::injected;

extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen);
int __poll_chk(struct pollfd *fds, nfds_t nfds, int timeout, size_t fdslen);
}

namespace {

// Highest errno the kernel returns: results from -4095 to -1 are errors, other values are results.
constexpr long MAX_ERRNO = 4095;

int syscall_result(long result)
{
    if (result < 0 && result >= -MAX_ERRNO) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return static_cast<int>(result);
}

bool takes_mode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int open_path(next::OpenSymbol symbol, int dirfd, const char *path, int flags, mode_t mode)
{
    const int node = trovsim::node_of_path(path);
    if (node < 0) {
        return next::open(symbol, dirfd, path, flags, mode);
    }
    try {
        return syscall_result(Simulator::instance().open_node(node, flags));
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

// hiddev's read: nothing for a buffer smaller than one record, else whole records only; once the
// device is gone, what was queued and then EIO.
ssize_t read_node(int fd, void *buf, size_t count, ssize_t (*read_records)(int, void *, size_t, size_t),
                  size_t buflen)
{
    Simulator::instance().note_read(fd);
    if (count < sizeof(hiddev_event)) {
        return 0;
    }
    const ssize_t got = read_records(fd, buf, count - count % sizeof(hiddev_event), buflen);
    if (got == 0) {
        errno = EIO;
        return -1;
    }
    return got;
}

ssize_t plain_read(int fd, void *buf, size_t count, size_t)
{
    return next::read(fd, buf, count);
}

// hiddev's poll mask for a simulated descriptor whose socket reported something: with records queued
// the driver answers readable and writable alike; with none, error and hang-up once the device is gone.
short node_revents(int fd)
{
    int queued = 0;
    if (next::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) {
        return POLLIN | POLLRDNORM | POLLOUT;
    }
    return fd_marks::get(fd) == fd_marks::LIVE ? 0 : POLLERR | POLLHUP;
}

int poll_nodes(pollfd *fds, nfds_t nfds, int timeout, int (*real_poll)(pollfd *, nfds_t, int, size_t),
               size_t fdslen)
{
    // The sockets are polled for input only (a hiddev node is never writable); its hang-up is always
    // reported. Their masks are then rewritten to what the driver reports.
    std::vector<pollfd> polled(fds, fds + nfds);
    for (nfds_t i = 0; i < nfds; ++i) {
        if (fd_marks::get(fds[i].fd) != fd_marks::NONE) {
            polled[i].events = (fds[i].events & (POLLIN | POLLRDNORM | POLLOUT)) != 0 ? POLLIN : 0;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    int wait = timeout;
    for (;;) {
        const int rc = real_poll(polled.data(), nfds, wait, fdslen);
        if (rc < 0) {
            return rc;
        }
        int ready = 0;
        for (nfds_t i = 0; i < nfds; ++i) {
            short revents = polled[i].revents;
            if (revents != 0 && fd_marks::get(fds[i].fd) != fd_marks::NONE) {
                revents = static_cast<short>(node_revents(fds[i].fd) & (fds[i].events | POLLERR | POLLHUP));
                if (revents == 0 && fd_marks::get(fds[i].fd) == fd_marks::DEAD) {
                    // Records left on a dead node that the caller does not wait for: the driver would
                    // report nothing more for it, so wait on without it.
                    polled[i].fd = -1;
                }
            }
            fds[i].revents = revents;
            ready += revents != 0 ? 1 : 0;
        }
        if (ready > 0 || rc == 0 || timeout == 0) {
            return ready;
        }
        if (timeout > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return 0;
            }
            wait = static_cast<int>(left.count());
        }
    }
}

int plain_poll(pollfd *fds, nfds_t nfds, int timeout, size_t)
{
    return next::poll(fds, nfds, timeout);
}

// The C library declares poll's array write-only, yet the events asked for are read from it. The
// pointer goes through a copy the compiler cannot follow, so that it does not take them as unset.
pollfd *readable(pollfd *fds)
{
    pollfd *volatile copy = fds;
    return copy;
}

bool any_node(const pollfd *fds, nfds_t nfds)
{
    for (nfds_t i = 0; i < nfds; ++i) {
        if (fd_marks::get(fds[i].fd) != fd_marks::NONE) {
            return true;
        }
    }
    return false;
}

bool is_fifo(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

// Whether an injected fault takes this call instead of the C library; errno is then set.
bool injected_failure(int call)
{
    int error = 0;
    if (!injected::fails(call, &error)) {
        return false;
    }
    errno = error;
    return true;
}

bool injected_fifo_failure(int call, int fd)
{
    return injected::armed(call) && is_fifo(fd) && injected_failure(call);
}

}  // namespace

extern "C" {

int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_path(next::OPEN, AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_path(next::OPEN64, AT_FDCWD, path, flags, mode);
}

int __open_2(const char *path, int flags)
{
    return open_path(next::OPEN_2, AT_FDCWD, path, flags, 0);
}

int __open64_2(const char *path, int flags)
{
    return open_path(next::OPEN64_2, AT_FDCWD, path, flags, 0);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_path(next::OPENAT, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takes_mode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_path(next::OPENAT64, dirfd, path, flags, mode);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    return open_path(next::OPENAT_2, dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    return open_path(next::OPENAT64_2, dirfd, path, flags, 0);
}

ssize_t read(int fd, void *buf, size_t count)
{
    if (fd_marks::get(fd) == fd_marks::NONE) {
        return injected_fifo_failure(TROVSIM_CALL_FIFO_READ, fd) ? -1 : next::read(fd, buf, count);
    }
    if (injected_failure(TROVSIM_CALL_NODE_READ)) {
        return -1;
    }
    return read_node(fd, buf, count, plain_read, count);
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen)
{
    if (fd_marks::get(fd) == fd_marks::NONE) {
        return injected_fifo_failure(TROVSIM_CALL_FIFO_READ, fd) ? -1 : next::read_chk(fd, buf, count, buflen);
    }
    if (injected_failure(TROVSIM_CALL_NODE_READ)) {
        return -1;
    }
    return read_node(fd, buf, count, next::read_chk, buflen);
}

ssize_t write(int fd, const void *buf, size_t count)
{
    if (injected::armed(TROVSIM_CALL_FIFO_WRITE) && is_fifo(fd)) {
        int error = 0;
        if (injected::fails(TROVSIM_CALL_FIFO_WRITE, &error)) {
            if (error != 0) {
                errno = error;
                return -1;
            }
            // A short write: half of the bytes, none of a single one.
            return count / 2 == 0 ? 0 : next::write(fd, buf, count / 2);
        }
    }
    return next::write(fd, buf, count);
}

int shmget(key_t key, size_t size, int flags) noexcept
{
    return injected_failure(TROVSIM_CALL_SHMGET) ? -1 : next::shmget(key, size, flags);
}

void *shmat(int id, const void *address, int flags) noexcept
{
    return injected_failure(TROVSIM_CALL_SHMAT) ? reinterpret_cast<void *>(-1) : next::shmat(id, address, flags);
}

int msgget(key_t key, int flags) noexcept
{
    return injected_failure(TROVSIM_CALL_MSGGET) ? -1 : next::msgget(key, flags);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*body)(void *), void *argument) noexcept
{
    int error = 0;
    if (injected::fails(TROVSIM_CALL_PTHREAD_CREATE, &error)) {
        return error;
    }
    return next::pthread_create(thread, attributes, body, argument);
}

int close(int fd)
{
    if (fd_marks::get(fd) != fd_marks::NONE) {
        Simulator::instance().forget(fd);
    }
    return next::close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (fd_marks::get(fd) == fd_marks::NONE) {
        return next::ioctl(fd, request, arg);
    }
    try {
        return syscall_result(Simulator::instance().ioctl(fd, request, arg));
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

int poll(struct pollfd *requested, nfds_t nfds, int timeout)
{
    pollfd *const fds = readable(requested);
    if (!any_node(fds, nfds)) {
        return next::poll(fds, nfds, timeout);
    }
    if (injected_failure(TROVSIM_CALL_NODE_POLL)) {
        return -1;
    }
    try {
        return poll_nodes(fds, nfds, timeout, plain_poll, 0);
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

int __poll_chk(struct pollfd *requested, nfds_t nfds, int timeout, size_t fdslen)
{
    pollfd *const fds = readable(requested);
    if (fdslen / sizeof *fds < nfds || !any_node(fds, nfds)) {
        return next::poll_chk(fds, nfds, timeout, fdslen);
    }
    if (injected_failure(TROVSIM_CALL_NODE_POLL)) {
        return -1;
    }
    try {
        return poll_nodes(fds, nfds, timeout, plain_poll, fdslen);
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

// ppoll on a set holding a node is answered like poll, its time-out rounded up to whole milliseconds.
// The library passes no signal mask; a caller that does gets the set polled without it.
int ppoll(struct pollfd *requested, nfds_t nfds, const struct timespec *timeout, const sigset_t *sigmask)
{
    pollfd *const fds = readable(requested);
    if (!any_node(fds, nfds)) {
        return next::ppoll(fds, nfds, timeout, sigmask);
    }
    if (injected_failure(TROVSIM_CALL_NODE_POLL)) {
        return -1;
    }
    const int millis = timeout == nullptr
                           ? -1
                           : static_cast<int>(timeout->tv_sec * 1000 + (timeout->tv_nsec + 999999) / 1000000);
    try {
        return poll_nodes(fds, nfds, millis, plain_poll, 0);
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}

}  // extern "C"
