#include "sim/injected_faults.h"

#include <atomic>
#include <mutex>

#include "sim/trovsim.h"

namespace trovsim::injected {

namespace {

struct Armed {
    std::atomic<int> failing{0};  // calls still to fail; 0 when unarmed
    int skip = 0;                 // calls still to pass first, under the lock
    int error = 0;
    std::atomic<long> injected{0};
};

// Zero-initialised static storage: usable before any constructor ran (calls arrive during start-up).
Armed calls[TROVSIM_CALLS];
std::mutex lock;

}  // namespace

void arm(int call, int skip, int count, int error)
{
    std::lock_guard<std::mutex> guard(lock);
    calls[call].skip = skip;
    calls[call].error = error;
    calls[call].failing.store(count, std::memory_order_release);
}

void disarm_all()
{
    std::lock_guard<std::mutex> guard(lock);
    for (Armed &armed : calls) {
        armed.failing.store(0, std::memory_order_release);
        armed.skip = 0;
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
    if (armed.skip > 0) {
        --armed.skip;
        return false;
    }
    armed.failing.fetch_sub(1, std::memory_order_release);
    armed.injected.fetch_add(1, std::memory_order_release);
    *error = armed.error;
    return true;
}

}  // namespace trovsim::injected
