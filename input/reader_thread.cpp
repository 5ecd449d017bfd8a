#include "input/reader_thread.h"

#include <unistd.h>

#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"

namespace {

// Pause after a failed read, so that a lost device does not make the loop spin.
constexpr useconds_t FAILED_READ_PAUSE_US = 200;

}  // namespace

void *thread_function(void *)
{
    unsigned char input[2 * TROV_READ_MAX_BYTES];
    while (!tLoad(bTerminateThread)) {
        if (!hidfunc.bWaitForInput(READER_WAIT_MS)) {
            continue;
        }
        const int received = hidfunc.Read(input);
        if (received < 0) {
            usleep(FAILED_READ_PAUSE_US);
        }
    }
    return nullptr;
}
