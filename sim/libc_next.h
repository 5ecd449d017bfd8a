// SPDX-License-Identifier: Apache-2.0
// The C library's own entry points behind the interposed ones, found with dlsym(RTLD_NEXT). A call
// that arrives while the symbol is still being looked up (dlsym re-entering the library, or another
// thread racing the first look-up) goes straight to the kernel instead, so start-up can never recurse.
#ifndef TROVSIM_LIBC_NEXT_H
#define TROVSIM_LIBC_NEXT_H

#include <cstddef>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <ctime>
#include <sys/types.h>

namespace trovsim::next {

// The open variants, each forwarded to the C library's function of the same name.
enum OpenSymbol { OPEN, OPEN64, OPEN_2, OPEN64_2, OPENAT, OPENAT64, OPENAT_2, OPENAT64_2, OPEN_SYMBOLS };

// dirfd is ignored for the variants without "at"; mode for the checked "_2" variants.
int open(OpenSymbol symbol, int dirfd, const char *path, int flags, mode_t mode);
ssize_t read(int fd, void *buf, std::size_t count);
ssize_t read_chk(int fd, void *buf, std::size_t count, std::size_t buflen);
int close(int fd);
int ioctl(int fd, unsigned long request, void *arg);
int poll(pollfd *fds, nfds_t nfds, int timeout);
int poll_chk(pollfd *fds, nfds_t nfds, int timeout, std::size_t fdslen);
int ppoll(pollfd *fds, nfds_t nfds, const timespec *timeout, const sigset_t *sigmask);
ssize_t write(int fd, const void *buf, std::size_t count);
int shmget(key_t key, std::size_t size, int flags);
void *shmat(int id, const void *address, int flags);
int msgget(key_t key, int flags);
int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*body)(void *), void *argument);

}  // namespace trovsim::next

#endif
