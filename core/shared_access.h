// SPDX-License-Identifier: Apache-2.0
// Well-defined hand-off of the library's plain shared variables between threads.
//
// The service state is a set of plain one-byte flags, counts and handles that several threads read and
// write without a lock, and some of it is exported with a fixed layout. Every access from more than one
// thread goes through these helpers, which use std::atomic_ref on the plain object: the hand-off is then
// well defined (acquire/release), while the variables keep their types, sizes and offsets.
#ifndef TROV_CORE_SHARED_ACCESS_H
#define TROV_CORE_SHARED_ACCESS_H

#include <atomic>

template <typename T>
inline T tLoad(T &value)
{
    return std::atomic_ref<T>(value).load(std::memory_order_acquire);
}

template <typename T, typename U>
inline void vStore(T &value, U newValue)
{
    std::atomic_ref<T>(value).store(static_cast<T>(newValue), std::memory_order_release);
}

template <typename T, typename U>
inline T tExchange(T &value, U newValue)
{
    return std::atomic_ref<T>(value).exchange(static_cast<T>(newValue), std::memory_order_acq_rel);
}

#endif
