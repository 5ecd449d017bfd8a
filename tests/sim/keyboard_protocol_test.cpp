// SPDX-License-Identifier: Apache-2.0
// The keyboard's byte protocol on its own: answers to the command stream and the framing of its input.
#include <gtest/gtest.h>

#include "sim/keyboard_protocol.h"

using trovkbd::Bytes;

namespace {

Bytes feed_all(trovkbd::CommandParser &parser, const Bytes &bytes, const trovkbd::Settings &settings)
{
    Bytes answers;
    for (const std::uint8_t byte : bytes) {
        const Bytes answer = parser.feed(byte, settings);
        answers.insert(answers.end(), answer.begin(), answer.end());
    }
    return answers;
}

}  // namespace

TEST(KeyboardCommands, AnswersKeylockRequestWithPositionDigit)
{
    trovkbd::CommandParser parser;
    trovkbd::Settings settings;
    settings.keylock = 3;
    EXPECT_EQ((Bytes{0x84, '3', 0x94}), feed_all(parser, {0xEF, 0x07}, settings));
    // Bytes around the request, and an escape repeated before it, change nothing.
    EXPECT_EQ((Bytes{0x84, '3', 0x94}), feed_all(parser, {0x07, 0xA1, 0xEF, 0xEF, 0x07, 0x07}, settings));
}

TEST(KeyboardCommands, AnswersTcoQueryFromTable)
{
    trovkbd::CommandParser parser;
    trovkbd::Settings settings;
    settings.tco[2] = "0417";
    EXPECT_EQ((Bytes{0x86, '0', '4', '1', '7', 0x96}), feed_all(parser, {0xEF, 0x50, 0xEF, 0x49, 0x31, 2}, settings));
    EXPECT_EQ((Bytes{0x86, 0x96}), feed_all(parser, {0xEF, 0x50, 0xEF, 0x49, 0x31, 9}, settings));
}

TEST(KeyboardCommands, IndexByteOfTcoQueryStartsNothing)
{
    // The index byte belongs to the query even when it is 0xEF: a following 0x07 is no keylock request.
    trovkbd::CommandParser parser;
    trovkbd::Settings settings;
    EXPECT_EQ((Bytes{0x86, 0x96}), feed_all(parser, {0xEF, 0x50, 0xEF, 0x49, 0x31, 0xEF, 0x07}, settings));
}

TEST(KeyboardCommands, BrokenTcoQueryAnswersNothingButLeavesParserUsable)
{
    trovkbd::CommandParser parser;
    trovkbd::Settings settings;
    EXPECT_TRUE(feed_all(parser, {0xEF, 0x50, 0xEF, 0x48, 0x31, 0x01, 0x31, 0x02}, settings).empty());
    EXPECT_EQ((Bytes{0x84, '0', 0x94}), feed_all(parser, {0xEF, 0x50, 0xEF, 0x07}, settings));
}

TEST(KeyboardCommands, SilentKeyboardAnswersNothing)
{
    trovkbd::CommandParser parser;
    trovkbd::Settings settings;
    settings.silent = true;
    settings.tco[1] = "12";
    EXPECT_TRUE(feed_all(parser, {0xEF, 0x07, 0xEF, 0x50, 0xEF, 0x49, 0x31, 1}, settings).empty());
    settings.silent = false;
    EXPECT_EQ((Bytes{0x84, '0', 0x94}), feed_all(parser, {0xEF, 0x07}, settings));
}

TEST(KeyboardInput, FramesKeysSwipesAndKeylock)
{
    EXPECT_EQ((Bytes{0x1C}), trovkbd::key_press(0x1C, false));
    EXPECT_EQ((Bytes{0xE0, 0x75}), trovkbd::key_press(0x75, true));
    EXPECT_EQ((Bytes{0xFE, 0x1C}), trovkbd::key_release(0x1C, false));
    EXPECT_EQ((Bytes{0xFE, 0xE0, 0x75}), trovkbd::key_release(0x75, true));
    EXPECT_EQ((Bytes{0x84, '7', 0x94}), trovkbd::keylock_position(7));
    EXPECT_EQ((Bytes{0x81, 'A', 0x91, 0x82, 0x92, 0x83, '1', '2', 0x93}),
              trovkbd::card_swipe({'A'}, {}, {'1', '2'}));
}

TEST(KeyboardInput, PacksFourBytesPerReportZeroPadded)
{
    const auto reports = trovkbd::pack_reports({1, 2, 3, 4, 5});
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ((trovkbd::Report{1, 2, 3, 4}), reports[0]);
    EXPECT_EQ((trovkbd::Report{5, 0, 0, 0}), reports[1]);
    EXPECT_TRUE(trovkbd::pack_reports({}).empty());
}
