// SPDX-License-Identifier: Apache-2.0
// Which descriptors the simulator handed out, readable without a lock: the interposed read, close and
// poll ask this for every call the process makes, so the answer for a foreign descriptor must cost one
// atomic load.
#ifndef TROVSIM_FD_MARKS_H
#define TROVSIM_FD_MARKS_H

#include <atomic>

namespace trovsim::fd_marks {

// Descriptors at or above this number are never handed out.
inline constexpr int LIMIT = 1 << 16;

enum Mark : unsigned char {
    NONE = 0,  // not the simulator's
    LIVE = 1,  // open on a present device
    DEAD = 2   // its device was unplugged or the simulator reset
};

extern std::atomic<unsigned char> table[LIMIT];

inline Mark get(int fd)
{
    if (fd < 0 || fd >= LIMIT) {
        return NONE;
    }
    return static_cast<Mark>(table[fd].load(std::memory_order_acquire));
}

inline void set(int fd, Mark mark)
{
    table[fd].store(mark, std::memory_order_release);
}

}  // namespace trovsim::fd_marks

#endif
