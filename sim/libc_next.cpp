// SPDX-License-Identifier: Apache-2.0
#include "sim/libc_next.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace trovsim::next {

namespace {

enum OtherSymbol {
    READ = OPEN_SYMBOLS, READ_CHK, CLOSE, IOCTL, POLL, POLL_CHK, PPOLL, WRITE, SHMGET, SHMAT, MSGGET, PTHREAD_CREATE, SYMBOLS
};

const char *const NAMES[SYMBOLS] = {"open",   "open64", "__open_2",    "__open64_2", "openat", "openat64",
                                    "__openat_2", "__openat64_2", "read", "__read_chk", "close", "ioctl",
                                    "poll",   "__poll_chk", "ppoll", "write", "shmget", "shmat", "msgget", "pthread_create"};

// Zero-initialised: usable before any constructor ran.
std::atomic<void *> resolved[SYMBOLS];
std::atomic_flag resolving[SYMBOLS];

// The C library's function, or null while it is being looked up.
template <typename Function>
Function lookup(int symbol)
{
    void *address = resolved[symbol].load(std::memory_order_acquire);
    if (address == nullptr) {
        if (resolving[symbol].test_and_set(std::memory_order_acq_rel)) {
            return nullptr;
        }
        address = dlsym(RTLD_NEXT, NAMES[symbol]);
        resolved[symbol].store(address, std::memory_order_release);
        resolving[symbol].clear(std::memory_order_release);
    }
    Function function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

bool is_at_variant(OpenSymbol symbol)
{
    return symbol == OPENAT || symbol == OPENAT64 || symbol == OPENAT_2 || symbol == OPENAT64_2;
}

bool is_checked_variant(OpenSymbol symbol)
{
    return symbol == OPEN_2 || symbol == OPEN64_2 || symbol == OPENAT_2 || symbol == OPENAT64_2;
}

}  // namespace

int open(OpenSymbol symbol, int dirfd, const char *path, int flags, mode_t mode)
{
    if (is_at_variant(symbol)) {
        if (is_checked_variant(symbol)) {
            if (auto f = lookup<int (*)(int, const char *, int)>(symbol)) {
                return f(dirfd, path, flags);
            }
        } else if (auto f = lookup<int (*)(int, const char *, int, ...)>(symbol)) {
            return f(dirfd, path, flags, mode);
        }
    } else {
        dirfd = AT_FDCWD;
        if (is_checked_variant(symbol)) {
            if (auto f = lookup<int (*)(const char *, int)>(symbol)) {
                return f(path, flags);
            }
        } else if (auto f = lookup<int (*)(const char *, int, ...)>(symbol)) {
            return f(path, flags, mode);
        }
    }
    if (symbol != OPEN && symbol != OPENAT && symbol != OPEN_2 && symbol != OPENAT_2) {
        flags |= O_LARGEFILE;
    }
    return static_cast<int>(syscall(SYS_openat, dirfd, path, flags, mode));
}

ssize_t read(int fd, void *buf, std::size_t count)
{
    if (auto f = lookup<ssize_t (*)(int, void *, std::size_t)>(READ)) {
        return f(fd, buf, count);
    }
    return syscall(SYS_read, fd, buf, count);
}

ssize_t read_chk(int fd, void *buf, std::size_t count, std::size_t buflen)
{
    if (auto f = lookup<ssize_t (*)(int, void *, std::size_t, std::size_t)>(READ_CHK)) {
        return f(fd, buf, count, buflen);
    }
    if (count > buflen) {
        std::abort();
    }
    return syscall(SYS_read, fd, buf, count);
}

int close(int fd)
{
    if (auto f = lookup<int (*)(int)>(CLOSE)) {
        return f(fd);
    }
    return static_cast<int>(syscall(SYS_close, fd));
}

int ioctl(int fd, unsigned long request, void *arg)
{
    if (auto f = lookup<int (*)(int, unsigned long, ...)>(IOCTL)) {
        return f(fd, request, arg);
    }
    return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

int poll(pollfd *fds, nfds_t nfds, int timeout)
{
    if (auto f = lookup<int (*)(pollfd *, nfds_t, int)>(POLL)) {
        return f(fds, nfds, timeout);
    }
    return static_cast<int>(syscall(SYS_poll, fds, nfds, timeout));
}

int poll_chk(pollfd *fds, nfds_t nfds, int timeout, std::size_t fdslen)
{
    if (auto f = lookup<int (*)(pollfd *, nfds_t, int, std::size_t)>(POLL_CHK)) {
        return f(fds, nfds, timeout, fdslen);
    }
    if (fdslen / sizeof *fds < nfds) {
        std::abort();
    }
    return trovsim::next::poll(fds, nfds, timeout);
}

int ppoll(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *sigmask)
{
    if (auto f = lookup<int (*)(pollfd *, nfds_t, const timespec *, const sigset_t *)>(PPOLL)) {
        return f(fds, nfds, timeout, sigmask);
    }
    // The kernel's call takes the size of the signal set; the C library's sigset_t is larger.
    return static_cast<int>(syscall(SYS_ppoll, fds, nfds, timeout, sigmask, sigmask == nullptr ? 0 : _NSIG / 8));
}

ssize_t write(int fd, const void *buf, std::size_t count)
{
    if (auto f = lookup<ssize_t (*)(int, const void *, std::size_t)>(WRITE)) {
        return f(fd, buf, count);
    }
    return syscall(SYS_write, fd, buf, count);
}

// The System V calls are made by the library and the tests only after start-up, so the look-up has
// finished by then; while it has not, they fail as a kernel without them would.
int shmget(key_t key, std::size_t size, int flags)
{
    if (auto f = lookup<int (*)(key_t, std::size_t, int)>(SHMGET)) {
        return f(key, size, flags);
    }
    errno = ENOSYS;
    return -1;
}

void *shmat(int id, const void *address, int flags)
{
    if (auto f = lookup<void *(*)(int, const void *, int)>(SHMAT)) {
        return f(id, address, flags);
    }
    errno = ENOSYS;
    return reinterpret_cast<void *>(-1);
}

int msgget(key_t key, int flags)
{
    if (auto f = lookup<int (*)(key_t, int)>(MSGGET)) {
        return f(key, flags);
    }
    errno = ENOSYS;
    return -1;
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*body)(void *), void *argument)
{
    if (auto f = lookup<int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *)>(PTHREAD_CREATE)) {
        return f(thread, attributes, body, argument);
    }
    return EAGAIN;
}

}  // namespace trovsim::next
