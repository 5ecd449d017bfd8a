// SPDX-License-Identifier: Apache-2.0
// The keyboard firmware's logic, free of any I/O: the script commands a test sends it, how the command
// bytes are taken from the output reports the host sends, and how the keyboard's input is cut into the
// input reports it writes. The byte protocol itself (answers, framing) is sim/keyboard_protocol.h, the
// same code the simulator answers with.
#ifndef TROVKBD_FIRMWARE_LOGIC_H
#define TROVKBD_FIRMWARE_LOGIC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/keyboard_protocol.h"

namespace trovfw {

using trovkbd::Bytes;

// Report id of the keyboard's vendor reports, input and output alike.
inline constexpr std::uint8_t REPORT_ID = 4;

// One line of the firmware's script.
//   reset                      answers as at start: keylock position 0, no TCO values, not silent;
//                              and the cable plugged in again if it was pulled
//   keylock D                  position (0..9) answered to the keylock request
//   tco INDEX DIGITS           reply digits for a TCO query with that index byte (hex); "-" for none
//   silent 0|1                 answer nothing (command bytes are still recorded)
//   turn D                     sets the position and sends the keylock frame
//   press KEY [ext]            key press, KEY in hex, "ext" for the extended prefix
//   release KEY [ext]          key release
//   swipe T1 T2 T3             card swipe, each track as text without blanks, "-" for an empty track
//   raw XX...                  input bytes as they are (hex)
//   unplug | replug            pull the USB cable, plug it in again
// Blank lines and lines starting with '#' are no commands.
struct Command {
    enum Kind { NONE, RESET, KEYLOCK, TCO, SILENT, TURN, SEND, UNPLUG, REPLUG };
    Kind kind = NONE;
    int number = 0;      // KEYLOCK and TURN: the position; TCO: the index; SILENT: 0 or 1
    std::string digits;  // TCO: the reply digits
    Bytes input;         // SEND: the bytes to send (TURN builds its own)
};

// Parses one script line. On a bad line returns false and says why in *error.
bool parse_command(std::string_view line, Command *command, std::string *error);

// The command bytes an output report carries: the bytes after the report id, for a report of the
// keyboard's id; nothing for any other report.
Bytes command_bytes(const std::uint8_t *report, std::size_t length);

// The input reports, report id first, that carry the bytes (four per report, zero padded).
std::vector<Bytes> input_reports(const Bytes &bytes);

// Hex dump "ab 01 ..." of the bytes, for the firmware's log.
std::string hex(const std::uint8_t *bytes, std::size_t length);

// The firmware's answers: feeds each command byte to the shared protocol parser under the current
// settings, and applies the script commands that change those settings.
class Keyboard {
public:
    // Consumes one command byte received from the host; returns the input bytes that answer it.
    Bytes receive(std::uint8_t byte) { return parser_.feed(byte, settings_); }

    // Applies a settings command (RESET, KEYLOCK, TCO, SILENT, TURN); returns the input bytes to send
    // (TURN's frame, or for SEND its bytes). Plugging commands are for the caller and return nothing.
    Bytes apply(const Command &command);

    // A command sequence cut by a power loss does not go on after the next power-up.
    void power_up() { parser_.restart(); }

    const trovkbd::Settings &settings() const { return settings_; }

private:
    trovkbd::Settings settings_;
    trovkbd::CommandParser parser_;
};

}  // namespace trovfw

#endif
