// SPDX-License-Identifier: Apache-2.0
#include "input/decoder_thread.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>

#include "core/lifecycle.h"
#include "core/shared_access.h"
#include "core/stop_signal.h"
#include "core/trovjpos.h"
#include "input/iofunctions.h"
#include "input/stream_decoder.h"
#include "jni/callbacks.h"

void *fifo_thread(void *opening)
{
    const auto mine = static_cast<unsigned>(reinterpret_cast<uintptr_t>(opening));
    DecoderState state = FRESH_DECODER;
    // Attached to the VM at the first byte after the opening recorded its VM, and then for the thread's
    // life: an attach and a detach per event would cost more than the rest of a key's way together.
    JavaVM *attached = nullptr;
    while (bThreadGoesOn(bTerminateFifoThread, mine)) {
        char byte = 0;
        if (IOFifo.iRead(&byte, 1) == 1) {
            // Input still queued when the opening ends is dropped, the shutdown's wake-up byte with it.
            if (bThreadGoesOn(bTerminateFifoThread, mine)) {
                if (attached == nullptr) {
                    attached = pStayAttached();
                }
                vDecodeByte(static_cast<uint8_t>(byte), state, mine);
            }
            continue;
        }
        if (errno != EINTR) {
            // The FIFO is empty (it does not block): wait for a byte or for the stop signal.
            eWaitForMs(tLoad(IOFifo.iReadFd), POLLIN, DECODER_WAIT_MS);
        }
    }
    vLeaveVm(attached);
    return nullptr;
}
