// SPDX-License-Identifier: Apache-2.0
// Holds a pthread mutex for the life of a scope. The library links no C++ runtime, so it uses the POSIX
// mutex directly rather than std::mutex.
#ifndef TROV_CORE_SCOPED_LOCK_H
#define TROV_CORE_SCOPED_LOCK_H

#include <pthread.h>

class ScopedLock {
public:
    explicit ScopedLock(pthread_mutex_t &lock) : Lock(lock) { pthread_mutex_lock(&Lock); }
    ~ScopedLock() { pthread_mutex_unlock(&Lock); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    pthread_mutex_t &Lock;
};

#endif
