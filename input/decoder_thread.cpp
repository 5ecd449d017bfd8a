#include "input/decoder_thread.h"

#include <cstdint>

#include "core/lifecycle.h"
#include "core/trovjpos.h"
#include "input/iofunctions.h"
#include "input/stream_decoder.h"

void *fifo_thread(void *opening)
{
    const auto mine = static_cast<unsigned>(reinterpret_cast<uintptr_t>(opening));
    KBDATA pending{1, 0};
    while (bThreadGoesOn(bTerminateFifoThread, mine)) {
        char byte = 0;
        if (IOFifo.iRead(&byte, 1) <= 0) {
            continue;
        }
        vDecodeByte(static_cast<uint8_t>(byte), pending, mine);
    }
    return nullptr;
}
