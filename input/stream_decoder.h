// SPDX-License-Identifier: Apache-2.0
// The framing state machine over the device's input bytes: marker bytes open and close the frames of
// the three MSR tracks, the keylock position and the TCO reply; bytes inside a frame are collected;
// bytes outside any frame are key codes, with a release prefix (0xFE) and an extended prefix (0xE0).
// The state lives in JposData and in the caller's DecoderState.
//
// The keyboard's input holds zero bytes (the padding of a short report), but the reader drops them on
// their way to the input pipe, so that there a zero byte can mark a break in the stream, which the reader
// puts there when it has lost the keyboard and again when it has reopened it: whatever was cut off by the
// outage (a partial frame, a release or extended prefix) is dropped, the next byte is framed afresh, and
// the loss (2002) or return (2001) is reported to the status listener.
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

// How far the swipe being received has come. A swipe is the frames 0x81 t1 0x91, 0x82 t2 0x92,
// 0x83 t3 0x93 in this order; it advances one step per marker, only while every byte of it finds the
// MSR enabled, and falls back to None at any marker out of order, at a track byte while the MSR
// is disabled, at another frame cutting into one of its tracks, and at a break in the stream.
enum class SwipeStage : uint8_t {
    None,         // no swipe open: an end marker 0x93 now is dropped
    InTrack1,     // 0x81 came while enabled
    Track1Whole,  // 0x91 closed track 1
    InTrack2,
    Track2Whole,
    InTrack3,     // 0x93 now delivers the swipe
};

// What the decoder keeps from byte to byte besides JposData.
struct DecoderState {
    KBDATA pending;      // the next key's record: cType 2 after a release prefix
    bool bKeylockTaken;  // the open keylock frame holds a position taken while the keylock was enabled
    SwipeStage eSwipe;   // the swipe being received
};
inline constexpr DecoderState FRESH_DECODER = {{1, 0, 0}, false, SwipeStage::None};

// One rule for every frame: an end marker completes only the frame that is open when it comes, opened by
// its own start marker and not cut by another marker since; any other end marker is dropped. So a swipe
// whose frames did not all arrive whole while the MSR was enabled, a keylock frame without its digit, and
// a TCO reply cut by another frame or by a break raise nothing. The tracks of a swipe are emptied at its
// end marker, delivered or not, so that no card is delivered twice.
//
// Handles one byte read from the FIFO. Events are raised on the calling thread, which belongs to the
// given opening.
void vDecodeByte(uint8_t byte, DecoderState &state, unsigned opening);

#endif
