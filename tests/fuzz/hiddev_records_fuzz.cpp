// SPDX-License-Identifier: Apache-2.0
// Fuzzes the reader's handling of hiddev records: reads of any size holding any records (usages and
// values of every kind, more records than one read takes) must yield exactly the low bytes of the
// vendor input usages, in order, and never more than one read can store. Each read of the fuzz input
// reaches the device channel as one packet of a sequenced-packet socket, as one read of the driver.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/hiddev.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "core/shared_access.h"
#include "device/hidfunctions.h"

// A broken fact names itself before the fuzzer records the input.
#define CHECK(fact) \
    ((fact) ? void(0) : (std::fprintf(stderr, "broken: %s (line %d)\n", #fact, __LINE__), std::abort()))

namespace {

unsigned uiUsage(FuzzedDataProvider &in)
{
    static const unsigned interesting[] = {TROV_FIRST_INPUT_USAGE, TROV_FIRST_INPUT_USAGE + 1,
                                           TROV_FIRST_INPUT_USAGE + 2, TROV_LAST_INPUT_USAGE,
                                           TROV_FIRST_INPUT_USAGE - 1, TROV_LAST_INPUT_USAGE + 1,
                                           TROV_APPLICATION_USAGE, TROV_OUTPUT_USAGE, 0, 0xFFFFFFFFu};
    const unsigned pick = in.ConsumeIntegralInRange<unsigned>(0, std::size(interesting));
    return pick < std::size(interesting) ? interesting[pick] : in.ConsumeIntegral<unsigned>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int ends[2];
    CHECK(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0);
    HidFunctions channel;
    vStore(channel.iFd, ends[0]);
    while (in.remaining_bytes() > 0) {
        // Up to 80 records, more than the 64 one read takes: the rest of the packet is cut off.
        std::vector<hiddev_event> records(in.ConsumeIntegralInRange<size_t>(0, 80));
        std::vector<unsigned char> expected;
        for (auto &record : records) {
            record.hid = uiUsage(in);
            record.value = in.ConsumeIntegral<int>();
            if (&record - records.data() < TROV_READ_MAX_BYTES && record.hid >= TROV_FIRST_INPUT_USAGE &&
                record.hid <= TROV_LAST_INPUT_USAGE) {
                expected.push_back(static_cast<unsigned char>(record.value & 0xFF));
            }
        }
        if (records.empty()) {
            continue;  // an empty packet would read as the end of the stream
        }
        CHECK(send(ends[1], records.data(), records.size() * sizeof records[0], 0) ==
               static_cast<ssize_t>(records.size() * sizeof records[0]));
        CHECK(channel.bWaitForInput(0));
        // The reader's buffer: room for two reads' worth, the second half must stay untouched.
        unsigned char out[2 * TROV_READ_MAX_BYTES];
        std::fill(std::begin(out), std::end(out), 0xA5);
        const int stored = channel.Read(out);
        CHECK(stored == static_cast<int>(expected.size()));
        CHECK(std::equal(expected.begin(), expected.end(), out));
        CHECK(std::all_of(out + TROV_READ_MAX_BYTES, std::end(out), [](unsigned char b) { return b == 0xA5; }));
    }
    // The other end gone: the read fails, as a read of an unplugged device does.
    close(ends[1]);
    unsigned char out[2 * TROV_READ_MAX_BYTES];
    CHECK(channel.Read(out) <= 0);
    channel.iCloseDevice();
    return 0;
}
