// SPDX-License-Identifier: Apache-2.0
// Marks of the input hand-offs, for the benchmark only: with libtrovbench.so preloaded (after
// libtrovsim.so), its send() and read() stand in front of the C library's and note, on the calling
// thread, the time of the last send() (the simulated driver queueing an input report, inside
// SimKeyboard.pressKey) and of the last one-byte read() (the decoder thread taking a byte from the FIFO).
// Without the preload nothing here is called and the marks stay 0.
#include "handoff_marks.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<bool> Marking{false};
thread_local int64_t LastSendNs = 0;
thread_local int64_t LastByteReadNs = 0;

// The next definition of a function, or null while it is being looked up (dlsym may read).
template <typename Function>
Function nextOf(std::atomic<void *> &resolved, std::atomic_flag &resolving, const char *name)
{
    void *address = resolved.load(std::memory_order_acquire);
    if (address == nullptr) {
        if (resolving.test_and_set(std::memory_order_acq_rel)) {
            return nullptr;
        }
        address = dlsym(RTLD_NEXT, name);
        resolved.store(address, std::memory_order_release);
        resolving.clear(std::memory_order_release);
    }
    Function function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

std::atomic<void *> NextSend{nullptr};
std::atomic_flag ResolvingSend = ATOMIC_FLAG_INIT;
std::atomic<void *> NextRead{nullptr};
std::atomic_flag ResolvingRead = ATOMIC_FLAG_INIT;

}  // namespace

int64_t trovbench_now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void trovbench_set_marking(bool on)
{
    Marking.store(on, std::memory_order_relaxed);
}

int64_t trovbench_last_send_ns()
{
    return LastSendNs;
}

int64_t trovbench_last_byte_read_ns()
{
    return LastByteReadNs;
}

extern "C" {

ssize_t send(int fd, const void *buf, size_t len, int flags)
{
    if (Marking.load(std::memory_order_relaxed)) {
        LastSendNs = trovbench_now_ns();
    }
    if (auto f = nextOf<ssize_t (*)(int, const void *, size_t, int)>(NextSend, ResolvingSend, "send")) {
        return f(fd, buf, len, flags);
    }
    return syscall(SYS_sendto, fd, buf, len, flags, nullptr, 0);
}

ssize_t read(int fd, void *buf, size_t count)
{
    ssize_t got;
    if (auto f = nextOf<ssize_t (*)(int, void *, size_t)>(NextRead, ResolvingRead, "read")) {
        got = f(fd, buf, count);
    } else {
        got = syscall(SYS_read, fd, buf, count);
    }
    if (count == 1 && got == 1 && Marking.load(std::memory_order_relaxed)) {
        LastByteReadNs = trovbench_now_ns();
    }
    return got;
}

}  // extern "C"
