// SPDX-License-Identifier: Apache-2.0
#include "input/iofunctions.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "core/shared_access.h"

namespace {

// A write that the kernel interrupts or cuts short is repeated; a write that makes no progress this many
// times in a row is given up.
constexpr int WRITE_ATTEMPTS = 100;

void vAdd(uint32_t &count, uint32_t amount)
{
    std::atomic_ref<uint32_t>(count).fetch_add(amount, std::memory_order_acq_rel);
}

}  // namespace

IOFunctions::IOFunctions()
{
    iReadFd = -1;
    iWriteFd = -1;
    uiWrittenCount = 0;
    uiReadCount = 0;
}

int IOFunctions::iCreateFIFO()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    vStore(uiWrittenCount, 0);
    vStore(uiReadCount, 0);
    vStore(iReadFd, ends[0]);
    vStore(iWriteFd, ends[1]);
    return 0;
}

int IOFunctions::iWrite(const char *data, int count)
{
    const int fd = tLoad(iWriteFd);
    int written = 0;
    int stalled = 0;
    while (written < count && stalled < WRITE_ATTEMPTS) {
        const ssize_t rc = ::write(fd, data + written, static_cast<size_t>(count - written));
        if (rc > 0) {
            written += static_cast<int>(rc);
            vAdd(uiWrittenCount, static_cast<uint32_t>(rc));
            stalled = 0;
        } else if (rc == 0 || errno == EINTR) {
            ++stalled;
        } else {
            break;
        }
    }
    return written > 0 || count == 0 ? written : -1;
}

int IOFunctions::iRead(char *buffer, int count)
{
    const ssize_t rc = ::read(tLoad(iReadFd), buffer, static_cast<size_t>(count));
    if (rc > 0) {
        vAdd(uiReadCount, static_cast<uint32_t>(rc));
    }
    return static_cast<int>(rc);
}

int IOFunctions::iClose()
{
    const int readEnd = tExchange(iReadFd, -1);
    const int writeEnd = tExchange(iWriteFd, -1);
    if (readEnd != -1) {
        ::close(readEnd);
    }
    if (writeEnd != -1) {
        ::close(writeEnd);
    }
    return 0;
}

uint32_t IOFunctions::uiWritten()
{
    return tLoad(uiWrittenCount);
}

uint32_t IOFunctions::uiRead()
{
    return tLoad(uiReadCount);
}
