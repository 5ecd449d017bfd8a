// SPDX-License-Identifier: Apache-2.0
// The POS keyboard's byte protocol, independent of how the bytes travel (hiddev reports here, a USB
// gadget's endpoints elsewhere): what the host sends as command bytes, what the keyboard answers, and
// how its own input (keys, card swipes, keylock turns) is framed and packed into input reports.
#ifndef TROVSIM_KEYBOARD_PROTOCOL_H
#define TROVSIM_KEYBOARD_PROTOCOL_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trovkbd {

using Bytes = std::vector<std::uint8_t>;

// Framing bytes of the keyboard's input.
inline constexpr std::uint8_t EXTENDED_PREFIX = 0xE0;
inline constexpr std::uint8_t RELEASE_PREFIX = 0xFE;
inline constexpr std::uint8_t TRACK_START[3] = {0x81, 0x82, 0x83};
inline constexpr std::uint8_t TRACK_END[3] = {0x91, 0x92, 0x93};
inline constexpr std::uint8_t KEYLOCK_START = 0x84;
inline constexpr std::uint8_t KEYLOCK_END = 0x94;
inline constexpr std::uint8_t TCO_START = 0x86;
inline constexpr std::uint8_t TCO_END = 0x96;

// Command bytes the keyboard answers.
inline constexpr std::uint8_t COMMAND_ESCAPE = 0xEF;
inline constexpr std::uint8_t KEYLOCK_REQUEST = 0x07;              // 0xEF 0x07
inline constexpr std::uint8_t TCO_QUERY[5] = {0xEF, 0x50, 0xEF, 0x49, 0x31};  // followed by the index byte

// Bytes per input report; a short report is zero padded.
inline constexpr std::size_t REPORT_BYTES = 4;
using Report = std::array<std::uint8_t, REPORT_BYTES>;

std::vector<Report> pack_reports(const Bytes &bytes);

// Whether the protocol reserves the byte, so that it cannot be a key code: zero (never sent), the frame
// markers, the extended prefix and the release prefix. Sent as a key it would open a frame or prefix
// the next key instead.
bool is_reserved_key(int byte);

Bytes key_press(std::uint8_t key, bool extended);
Bytes key_release(std::uint8_t key, bool extended);
Bytes keylock_position(int digit);  // 0x84 '0'+digit 0x94
Bytes card_swipe(const Bytes &track1, const Bytes &track2, const Bytes &track3);

// What the keyboard answers with, as set by the host program's test set-up.
struct Settings {
    int keylock = 0;                        // 0..9
    std::map<int, std::string> tco;         // index byte -> reply digits
    bool silent = false;                    // answers nothing
};

// Reads the command stream one byte at a time and produces the keyboard's answers. Bytes that are not
// part of a request it knows (raw keyboard commands, tone commands) produce nothing.
class CommandParser {
public:
    // Consumes one command byte; returns the answer it completes (empty for most bytes).
    Bytes feed(std::uint8_t byte, const Settings &settings);
    void restart() { matched_ = 0; }

private:
    Bytes answer_keylock(const Settings &settings) const;
    Bytes answer_tco(std::uint8_t index, const Settings &settings) const;

    // Bytes of the TCO query matched so far; 5 waits for the index byte. A value whose last matched
    // byte is 0xEF (1 or 3) also lets 0x07 complete a keylock request.
    int matched_ = 0;
};

}  // namespace trovkbd

#endif
