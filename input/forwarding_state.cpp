// SPDX-License-Identifier: Apache-2.0
#include "input/forwarding_state.h"

#include <atomic>
#include <poll.h>

#include "core/trovjpos.h"
#include "input/iofunctions.h"

namespace {

// Set while the reader holds bytes it has read from the device and not yet written into the pipe.
uint8_t bReaderPass;

}  // namespace

void vReaderPassBegins()
{
    std::atomic_ref<uint8_t>(bReaderPass).store(1, std::memory_order_seq_cst);
}

void vReaderPassEnds()
{
    std::atomic_ref<uint8_t>(bReaderPass).store(0, std::memory_order_seq_cst);
}

bool bInputCaughtUp(int device, uint32_t &mark)
{
    // In this order: input still queued in the device shows first; input the reader took from the queue
    // before that look shows as a pass under way, or, once the pass has ended, in the count read last.
    // Input that reaches the queue after the look arrived after the moment asked about.
    if (device >= 0) {
        struct pollfd queued = {device, POLLIN, 0};
        const int ready = poll(&queued, 1, 0);
        if (ready < 0 || (ready > 0 && (queued.revents & POLLIN) != 0)) {
            return false;  // input waiting, or the poll interrupted: look again
        }
    }
    if (std::atomic_ref<uint8_t>(bReaderPass).load(std::memory_order_seq_cst) != 0) {
        return false;
    }
    mark = IOFifo.uiWritten();
    return true;
}
