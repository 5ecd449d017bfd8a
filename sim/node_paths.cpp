// SPDX-License-Identifier: Apache-2.0
#include "sim/node_paths.h"

#include <cstring>

#include "sim/trovsim.h"

namespace trovsim {

int node_of_path(const char *path)
{
    static constexpr char prefix[] = "/dev/usb/hid/hiddev";
    constexpr std::size_t prefix_length = sizeof prefix - 1;
    if (path == nullptr || std::strncmp(path, prefix, prefix_length) != 0) {
        return -1;
    }
    const char *digits = path + prefix_length;
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!is_digit(digits[0])) {
        return -1;
    }
    if (digits[1] == '\0') {
        return digits[0] - '0';
    }
    // Two digits without a leading zero: 10 to 15.
    if (digits[0] != '0' && is_digit(digits[1]) && digits[2] == '\0') {
        const int node = (digits[0] - '0') * 10 + (digits[1] - '0');
        return node < TROVSIM_NODES ? node : -1;
    }
    return -1;
}

}  // namespace trovsim
