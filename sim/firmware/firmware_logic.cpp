// SPDX-License-Identifier: Apache-2.0
#include "sim/firmware/firmware_logic.h"

#include <charconv>

namespace trovfw {

namespace {

std::vector<std::string_view> words_of(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = line.find_first_of(" \t\r", start);
        words.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        at = end == std::string_view::npos ? line.size() : end;
    }
    return words;
}

// A byte in hex, one or two digits.
bool parse_byte(std::string_view word, std::uint8_t *byte)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (error != std::errc{} || end != word.data() + word.size() || word.size() > 2) {
        return false;
    }
    *byte = static_cast<std::uint8_t>(value);
    return true;
}

bool parse_digit(std::string_view word, int *digit)
{
    if (word.size() != 1 || word[0] < '0' || word[0] > '9') {
        return false;
    }
    *digit = word[0] - '0';
    return true;
}

Bytes track_of(std::string_view word)
{
    return word == "-" ? Bytes{} : Bytes(word.begin(), word.end());
}

bool fail(std::string *error, std::string why)
{
    *error = std::move(why);
    return false;
}

bool parse_key(const std::vector<std::string_view> &words, Command *command, std::string *error)
{
    std::uint8_t key = 0;
    const bool extended = words.size() == 3 && words[2] == "ext";
    if (words.size() < 2 || words.size() > 3 || (words.size() == 3 && !extended) || !parse_byte(words[1], &key)) {
        return fail(error, "expected: " + std::string(words[0]) + " KEY [ext]");
    }
    command->kind = Command::SEND;
    command->input = words[0] == "press" ? trovkbd::key_press(key, extended) : trovkbd::key_release(key, extended);
    return true;
}

}  // namespace

bool parse_command(std::string_view line, Command *command, std::string *error)
{
    *command = Command{};
    const std::vector<std::string_view> words = words_of(line);
    if (words.empty() || words[0][0] == '#') {
        return true;
    }
    const std::string_view verb = words[0];
    const std::size_t arguments = words.size() - 1;
    if ((verb == "reset" || verb == "unplug" || verb == "replug") && arguments == 0) {
        command->kind = verb == "reset" ? Command::RESET : verb == "unplug" ? Command::UNPLUG : Command::REPLUG;
        return true;
    }
    if (verb == "keylock" || verb == "turn") {
        if (arguments != 1 || !parse_digit(words[1], &command->number)) {
            return fail(error, "expected: " + std::string(verb) + " DIGIT");
        }
        command->kind = verb == "keylock" ? Command::KEYLOCK : Command::TURN;
        return true;
    }
    if (verb == "silent") {
        if (arguments != 1 || (words[1] != "0" && words[1] != "1")) {
            return fail(error, "expected: silent 0|1");
        }
        command->kind = Command::SILENT;
        command->number = words[1] == "1" ? 1 : 0;
        return true;
    }
    if (verb == "tco") {
        std::uint8_t index = 0;
        if (arguments != 2 || !parse_byte(words[1], &index)) {
            return fail(error, "expected: tco INDEX DIGITS");
        }
        command->kind = Command::TCO;
        command->number = index;
        command->digits = words[2] == "-" ? std::string() : std::string(words[2]);
        return true;
    }
    if (verb == "press" || verb == "release") {
        return parse_key(words, command, error);
    }
    if (verb == "swipe") {
        if (arguments != 3) {
            return fail(error, "expected: swipe T1 T2 T3");
        }
        command->kind = Command::SEND;
        command->input = trovkbd::card_swipe(track_of(words[1]), track_of(words[2]), track_of(words[3]));
        return true;
    }
    if (verb == "raw") {
        if (arguments == 0) {
            return fail(error, "expected: raw XX...");
        }
        command->kind = Command::SEND;
        for (std::size_t i = 1; i < words.size(); ++i) {
            std::uint8_t byte = 0;
            if (!parse_byte(words[i], &byte)) {
                return fail(error, "not a hex byte: " + std::string(words[i]));
            }
            command->input.push_back(byte);
        }
        return true;
    }
    return fail(error, "unknown command: " + std::string(verb));
}

Bytes command_bytes(const std::uint8_t *report, std::size_t length)
{
    if (length < 2 || report[0] != REPORT_ID) {
        return {};
    }
    return Bytes(report + 1, report + length);
}

std::vector<Bytes> input_reports(const Bytes &bytes)
{
    std::vector<Bytes> reports;
    for (const trovkbd::Report &packed : trovkbd::pack_reports(bytes)) {
        Bytes report{REPORT_ID};
        report.insert(report.end(), packed.begin(), packed.end());
        reports.push_back(std::move(report));
    }
    return reports;
}

std::string hex(const std::uint8_t *bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

Bytes Keyboard::apply(const Command &command)
{
    switch (command.kind) {
    case Command::RESET:
        settings_ = trovkbd::Settings{};
        parser_.restart();
        return {};
    case Command::KEYLOCK:
        settings_.keylock = command.number;
        return {};
    case Command::TCO:
        if (command.digits.empty()) {
            settings_.tco.erase(command.number);
        } else {
            settings_.tco[command.number] = command.digits;
        }
        return {};
    case Command::SILENT:
        settings_.silent = command.number != 0;
        return {};
    case Command::TURN:
        settings_.keylock = command.number;
        return trovkbd::keylock_position(command.number);
    case Command::SEND:
        return command.input;
    default:
        return {};
    }
}

}  // namespace trovfw
