// SPDX-License-Identifier: Apache-2.0
// The keyboard firmware's logic without a gadget: its script, the command bytes it takes from output
// reports, the input reports it writes, and how script commands change its answers.
#include <gtest/gtest.h>

#include "sim/firmware/firmware_logic.h"

using trovfw::Bytes;
using trovfw::Command;

namespace {

Command parsed(const std::string &line)
{
    Command command;
    std::string error;
    EXPECT_TRUE(trovfw::parse_command(line, &command, &error)) << line << ": " << error;
    return command;
}

std::string refusal(const std::string &line)
{
    Command command;
    std::string error;
    EXPECT_FALSE(trovfw::parse_command(line, &command, &error)) << line;
    return error;
}

Bytes feed(trovfw::Keyboard &keyboard, const Bytes &bytes)
{
    Bytes answers;
    for (const std::uint8_t byte : bytes) {
        const Bytes answer = keyboard.receive(byte);
        answers.insert(answers.end(), answer.begin(), answer.end());
    }
    return answers;
}

const Bytes KEYLOCK_REQUEST{0xEF, 0x07};

}  // namespace

TEST(FirmwareScript, InputCommandsBuildTheKeyboardsFraming)
{
    EXPECT_EQ((Bytes{0x41}), parsed("press 41").input);
    EXPECT_EQ((Bytes{0xE0, 0x4B}), parsed("press 4b ext").input);
    EXPECT_EQ((Bytes{0xFE, 0xE0, 0xC8}), parsed("  release C8 ext\r").input);
    EXPECT_EQ((Bytes{0xFE, 0x05}), parsed("release 5").input);
    EXPECT_EQ((Bytes{0x81, 'A', '1', 0x91, 0x82, 0x92, 0x83, ';', 0x93}), parsed("swipe A1 - ;").input);
    EXPECT_EQ((Bytes{0x00, 0x42, 0xFF}), parsed("raw 00 42 ff").input);
    const Command turn = parsed("turn 7");
    EXPECT_EQ(Command::TURN, turn.kind);
    EXPECT_EQ(7, turn.number);
    const Command tco = parsed("tco 1f 0A2b");
    EXPECT_EQ(Command::TCO, tco.kind);
    EXPECT_EQ(0x1F, tco.number);
    EXPECT_EQ("0A2b", tco.digits);
    EXPECT_EQ("", parsed("tco 02 -").digits);
    EXPECT_EQ(Command::UNPLUG, parsed("unplug").kind);
    EXPECT_EQ(Command::NONE, parsed("   ").kind);
    EXPECT_EQ(Command::NONE, parsed("# press 41").kind);
}

TEST(FirmwareScript, BadLinesAreRefusedWithAReason)
{
    EXPECT_EQ("unknown command: presss", refusal("presss 41"));
    EXPECT_EQ("not a hex byte: 4g", refusal("raw 41 4g"));
    EXPECT_EQ("not a hex byte: 100", refusal("raw 100"));
    EXPECT_EQ("expected: press KEY [ext]", refusal("press 41 extended"));
    EXPECT_EQ("expected: press KEY [ext]", refusal("press"));
    EXPECT_EQ("expected: turn DIGIT", refusal("turn 10"));
    EXPECT_EQ("expected: silent 0|1", refusal("silent yes"));
    EXPECT_EQ("expected: swipe T1 T2 T3", refusal("swipe only-one"));
    EXPECT_EQ("unknown command: unplug", refusal("unplug now"));
}

TEST(FirmwareReports, CommandBytesComeFromReportsOfTheKeyboardsIdOnly)
{
    const std::uint8_t ours[] = {0x04, 0x81};
    EXPECT_EQ((Bytes{0x81}), trovfw::command_bytes(ours, sizeof ours));
    const std::uint8_t other[] = {0x05, 0x81};
    EXPECT_TRUE(trovfw::command_bytes(other, sizeof other).empty());
    EXPECT_TRUE(trovfw::command_bytes(ours, 1).empty()) << "a report without payload carries no byte";

    const std::vector<Bytes> reports = trovfw::input_reports({0x84, 0x33, 0x94, 0x41, 0x42});
    EXPECT_EQ((std::vector<Bytes>{{0x04, 0x84, 0x33, 0x94, 0x41}, {0x04, 0x42, 0x00, 0x00, 0x00}}), reports);
    EXPECT_TRUE(trovfw::input_reports({}).empty());
    EXPECT_EQ("", trovfw::hex(reports[0].data(), 0));
    const std::uint8_t dump[] = {0x04, 0x0A, 0xFF};
    EXPECT_EQ("04 0a ff", trovfw::hex(dump, sizeof dump));
}

TEST(FirmwareKeyboard, ScriptSettingsChangeTheAnswers)
{
    trovfw::Keyboard keyboard;
    EXPECT_EQ((Bytes{0x84, '0', 0x94}), feed(keyboard, KEYLOCK_REQUEST));

    EXPECT_EQ((Bytes{0x84, '3', 0x94}), keyboard.apply(parsed("turn 3")));
    EXPECT_EQ((Bytes{0x84, '3', 0x94}), feed(keyboard, KEYLOCK_REQUEST)) << "a turn moves the key for good";

    keyboard.apply(parsed("tco 02 1A2B"));
    const Bytes query{0xEF, 0x50, 0xEF, 0x49, 0x31, 0x02};
    EXPECT_EQ((Bytes{0x86, '1', 'A', '2', 'B', 0x96}), feed(keyboard, query));
    keyboard.apply(parsed("tco 02 -"));
    EXPECT_EQ((Bytes{0x86, 0x96}), feed(keyboard, query));

    keyboard.apply(parsed("silent 1"));
    EXPECT_TRUE(feed(keyboard, KEYLOCK_REQUEST).empty());
    EXPECT_EQ((Bytes{0x41}), keyboard.apply(parsed("press 41"))) << "a silent keyboard still has keys";

    keyboard.apply(parsed("keylock 6"));
    keyboard.apply(parsed("reset"));
    EXPECT_FALSE(keyboard.settings().silent);
    EXPECT_EQ((Bytes{0x84, '0', 0x94}), feed(keyboard, KEYLOCK_REQUEST));
}

TEST(FirmwareKeyboard, PowerUpForgetsAHalfReceivedQuery)
{
    trovfw::Keyboard keyboard;
    keyboard.apply(parsed("tco 07 5"));
    EXPECT_TRUE(feed(keyboard, {0xEF, 0x50, 0xEF, 0x49, 0x31}).empty());
    keyboard.power_up();
    EXPECT_TRUE(feed(keyboard, {0x07}).empty()) << "the index byte of a cut query is no query";
    EXPECT_EQ((Bytes{0x86, '5', 0x96}), feed(keyboard, {0xEF, 0x50, 0xEF, 0x49, 0x31, 0x07}));
}
