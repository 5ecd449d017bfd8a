// SPDX-License-Identifier: Apache-2.0
#include "sim/injected_faults.h"

#include <atomic>
#include <mutex>

#include "sim/trovsim.h"

namespace trovsim::injected {

namespace {

// Atomic throughout, so that the quick test needs no lock; the lock makes each call's decision and its
// count one step. (The decision may run inside another interceptor's call, e.g. a sanitizer's poll, where
// a race detector does not see the lock.)
struct Armed {
    std::atomic<int> failing{0};  // calls still to fail; 0 when unarmed
    std::atomic<int> skip{0};     // calls still to pass first
    std::atomic<int> error{0};
    std::atomic<long> injected{0};
};

// Zero-initialised static storage: usable before any constructor ran (calls arrive during start-up).
Armed calls[TROVSIM_CALLS];
std::mutex lock;

}  // namespace

void arm(int call, int skip, int count, int error)
{
    std::lock_guard<std::mutex> guard(lock);
    calls[call].skip.store(skip, std::memory_order_relaxed);
    calls[call].error.store(error, std::memory_order_relaxed);
    calls[call].failing.store(count, std::memory_order_release);
}

void disarm_all()
{
    std::lock_guard<std::mutex> guard(lock);
    for (Armed &armed : calls) {
        armed.failing.store(0, std::memory_order_release);
        armed.skip.store(0, std::memory_order_relaxed);
        armed.injected.store(0, std::memory_order_relaxed);
    }
}

long injected(int call)
{
    return calls[call].injected.load(std::memory_order_acquire);
}

bool armed(int call)
{
    return calls[call].failing.load(std::memory_order_acquire) > 0;
}

bool fails(int call, int *error)
{
    if (!armed(call)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    Armed &armed = calls[call];
    if (armed.failing.load(std::memory_order_relaxed) <= 0) {
        return false;
    }
    if (armed.skip.load(std::memory_order_acquire) > 0) {
        armed.skip.fetch_sub(1, std::memory_order_acq_rel);
        return false;
    }
    armed.failing.fetch_sub(1, std::memory_order_acq_rel);
    armed.injected.fetch_add(1, std::memory_order_acq_rel);
    *error = armed.error.load(std::memory_order_acquire);
    return true;
}

}  // namespace trovsim::injected
