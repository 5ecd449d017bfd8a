// The framing state machine over the device's input bytes: marker bytes open and close the frames of
// the three MSR tracks, the keylock position and the TCO reply; bytes inside a frame are collected;
// bytes outside any frame are key codes, with a release prefix (0xFE) and an extended prefix (0xE0).
// The state lives in JposData; the pending key record is the caller's.
#ifndef TROV_INPUT_STREAM_DECODER_H
#define TROV_INPUT_STREAM_DECODER_H

#include <cstdint>

#include "jni/callbacks.h"

// Frame markers.
inline constexpr uint8_t MARK_TRACK1 = 0x81;
inline constexpr uint8_t MARK_TRACK2 = 0x82;
inline constexpr uint8_t MARK_TRACK3 = 0x83;
inline constexpr uint8_t MARK_KEYLOCK = 0x84;
inline constexpr uint8_t MARK_TCO = 0x86;
inline constexpr uint8_t MARK_TRACK1_END = 0x91;
inline constexpr uint8_t MARK_TRACK2_END = 0x92;
inline constexpr uint8_t MARK_SWIPE_END = 0x93;
inline constexpr uint8_t MARK_KEYLOCK_END = 0x94;
inline constexpr uint8_t MARK_TCO_END = 0x96;
// Key prefixes.
inline constexpr uint8_t KEY_RELEASE_PREFIX = 0xFE;
inline constexpr uint8_t KEY_EXTENDED_PREFIX = 0xE0;
inline constexpr int32_t EXTENDED_KEY_BIT = 0x1000000;

// Handles one byte read from the FIFO; a zero byte changes nothing. Events are raised on the calling
// thread, which belongs to the given opening.
void vDecodeByte(uint8_t byte, KBDATA &pending, unsigned opening);

#endif
