// SPDX-License-Identifier: Apache-2.0
#include "input/stream_decoder.h"

#include <cstring>

#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "input/power_status.h"
#include "jni/tco_query.h"

namespace {

void vCloseFrames()
{
    JposRecord &d = JposData;
    vStore(d.bTrack1Frame, 0);
    vStore(d.bTrack2Frame, 0);
    vStore(d.bTrack3Frame, 0);
    vStore(d.bKeylockFrame, 0);
    vStore(d.bTcoFrame, 0);
}

// Every start marker opens its own frame and closes the others.
void vOpenFrame(uint8_t &frame)
{
    vCloseFrames();
    vStore(frame, 1);
}

void vStartTrack(uint8_t &frame, uint8_t &length, uint8_t (&buffer)[256])
{
    ScopedLock tracks(TrackLock);
    vOpenFrame(frame);
    vStore(length, 0);
    std::memset(buffer, 0, sizeof buffer);
}

void vTrackByte(uint8_t byte, uint8_t &length, uint8_t (&buffer)[256], DecoderState &state)
{
    ScopedLock tracks(TrackLock);
    if (tLoad(JposData.bMsrEnabled)) {
        buffer[length] = byte;
        vStore(length, static_cast<uint8_t>(length + 1));  // wraps after 256 bytes
    } else {
        buffer[0] = 0;  // a disabled MSR keeps nothing of the swipe, and the swipe is no longer whole
        vStore(length, 0);
        state.eSwipe = SwipeStage::None;
    }
}

void vKeyByte(uint8_t byte, KBDATA &pending, unsigned opening)
{
    JposRecord &d = JposData;
    if (!tLoad(d.bKeyboardEnabled)) {
        vStore(d.iKeyData, -1);
        return;
    }
    if (byte == KEY_RELEASE_PREFIX) {
        pending.cType = 2;
        return;
    }
    if (byte == KEY_EXTENDED_PREFIX) {
        vStore(d.bExtendedKey, 1);
        return;
    }
    pending.ucKey = byte;
    pending.ucExtended = tExchange(d.bExtendedKey, 0) ? 1 : 0;
    vStore(d.iKeyData, byte | (pending.ucExtended != 0 ? EXTENDED_KEY_BIT : 0));
    // A power-state change not reported yet is reported before the key. When it shuts the device down,
    // the key is not delivered: its opening has ended, and no later one gets it.
    const int status = getJPOSPowerStatus();
    if (status != 0) {
        CallbackJPOSStatusUpdate(status, opening);
    }
    CallbackJPOSKeyData(pending, opening);
    pending.cType = 1;
}

void vEmptyTracks()
{
    ScopedLock tracks(TrackLock);
    JposRecord &d = JposData;
    vStore(d.ucTrack1Len, 0);
    std::memset(d.ucTrack1, 0, sizeof d.ucTrack1);
    vStore(d.ucTrack2Len, 0);
    std::memset(d.ucTrack2, 0, sizeof d.ucTrack2);
    vStore(d.ucTrack3Len, 0);
    std::memset(d.ucTrack3, 0, sizeof d.ucTrack3);
}

// The stream broke off (the keyboard was lost, or reopened): drop the partial frame and the prefixes,
// empty the tracks, and report the change of the link (2002 lost, 2001 back) to the status listener.
// Done here, in stream order, so that input received before the outage is decoded as it came and
// reaches the application before the outage does. A partial swipe is dropped silently: an MSR data
// event always carries a swipe the keyboard completed.
void vStreamBreak(DecoderState &state, unsigned opening)
{
    vCloseFrames();
    vStore(JposData.bExtendedKey, 0);
    state = FRESH_DECODER;
    vEmptyTracks();
    for (int link = iUnreportedLinkChange(); link != 0; link = iUnreportedLinkChange()) {
        CallbackJPOSStatusUpdate(link, opening);
    }
}

// The swipe's next stage at a track marker: `from` is the stage the marker continues, `to` the one it
// leads to. A marker out of order, or one that finds the MSR disabled, drops the swipe.
SwipeStage eSwipeStep(const DecoderState &state, SwipeStage from, SwipeStage to)
{
    return state.eSwipe == from && tLoad(JposData.bMsrEnabled) ? to : SwipeStage::None;
}

bool bInsideTrack(SwipeStage stage)
{
    return stage == SwipeStage::InTrack1 || stage == SwipeStage::InTrack2 || stage == SwipeStage::InTrack3;
}

// 0x93: the swipe is delivered when all three frames came whole while the MSR was enabled and track 3
// is still open; in every case its tracks are emptied, so that a later end marker finds nothing.
void vEndSwipe(DecoderState &state, unsigned opening)
{
    const bool whole = tLoad(JposData.bTrack3Frame) && state.eSwipe == SwipeStage::InTrack3 &&
                       tLoad(JposData.bMsrEnabled);
    vCloseFrames();
    state.eSwipe = SwipeStage::None;
    if (whole) {
        CallbackMSR(opening);
    }
    vEmptyTracks();
}

}  // namespace

void vDecodeByte(uint8_t byte, DecoderState &state, unsigned opening)
{
    JposRecord &d = JposData;
    switch (byte) {
    case 0:
        vStreamBreak(state, opening);
        return;
    case MARK_TRACK1:
        state.eSwipe = tLoad(d.bMsrEnabled) ? SwipeStage::InTrack1 : SwipeStage::None;
        vStartTrack(d.bTrack1Frame, d.ucTrack1Len, d.ucTrack1);
        return;
    case MARK_TRACK2:
        state.eSwipe = eSwipeStep(state, SwipeStage::Track1Whole, SwipeStage::InTrack2);
        vStartTrack(d.bTrack2Frame, d.ucTrack2Len, d.ucTrack2);
        return;
    case MARK_TRACK3:
        state.eSwipe = eSwipeStep(state, SwipeStage::Track2Whole, SwipeStage::InTrack3);
        vStartTrack(d.bTrack3Frame, d.ucTrack3Len, d.ucTrack3);
        return;
    case MARK_KEYLOCK:
    case MARK_TCO:
    case MARK_KEYLOCK_END:
    case MARK_TCO_END:
        // Another frame cutting into a track drops the swipe; between two tracks it leaves it whole.
        if (bInsideTrack(state.eSwipe)) {
            state.eSwipe = SwipeStage::None;
        }
        break;
    default:
        break;
    }

    switch (byte) {
    case MARK_KEYLOCK:
        vOpenFrame(d.bKeylockFrame);
        state.bKeylockTaken = false;
        return;
    case MARK_TCO:
        vTcoFrameOpened();
        vOpenFrame(d.bTcoFrame);
        vStore(d.ucTcoLen, 0);
        std::memset(d.ucTcoData, 0, sizeof d.ucTcoData);
        return;
    case MARK_TRACK1_END: {
        ScopedLock tracks(TrackLock);
        state.eSwipe = tLoad(d.bTrack1Frame) ? eSwipeStep(state, SwipeStage::InTrack1, SwipeStage::Track1Whole)
                                             : SwipeStage::None;
        vCloseFrames();
        d.ucTrack1[d.ucTrack1Len] = 0;
        return;
    }
    case MARK_TRACK2_END:
        state.eSwipe = tLoad(d.bTrack2Frame) ? eSwipeStep(state, SwipeStage::InTrack2, SwipeStage::Track2Whole)
                                             : SwipeStage::None;
        vCloseFrames();
        return;
    case MARK_SWIPE_END:
        vEndSwipe(state, opening);
        return;
    case MARK_KEYLOCK_END: {
        // Only a position the keyboard sent in this very frame, while the keylock was enabled, is
        // reported: not an end marker whose frame start was lost, nor one whose digit came while the
        // keylock was disabled (the position is -1 then, which Java would see as position 0).
        const bool taken = tLoad(d.bKeylockFrame) && state.bKeylockTaken;
        vCloseFrames();
        state.bKeylockTaken = false;
        if (taken && tLoad(d.bKeylockEnabled)) {
            CallbackKeylock(tLoad(d.iKeylockPosition), opening);
        }
        return;
    }
    case MARK_TCO_END: {
        // Only a reply whose frame is still open is complete: not an end marker whose start was lost or
        // cut off by a break, nor one whose frame another frame interrupted (its digits are partial).
        const bool whole = tLoad(d.bTcoFrame) != 0;
        vCloseFrames();
        if (whole) {
            vTcoReplyComplete();
        }
        return;
    }
    default:
        break;
    }

    if (tLoad(d.bTrack1Frame)) {
        vTrackByte(byte, d.ucTrack1Len, d.ucTrack1, state);
    } else if (tLoad(d.bTrack2Frame)) {
        vTrackByte(byte, d.ucTrack2Len, d.ucTrack2, state);
    } else if (tLoad(d.bTrack3Frame)) {
        vTrackByte(byte, d.ucTrack3Len, d.ucTrack3, state);
    } else if (tLoad(d.bKeylockFrame)) {
        // The digit's value; -1 when the keylock is disabled.
        state.bKeylockTaken = tLoad(d.bKeylockEnabled) != 0;
        vStore(d.iKeylockPosition, state.bKeylockTaken ? static_cast<int8_t>(byte) - '0' : -1);
    } else if (tLoad(d.bTcoFrame)) {
        d.ucTcoData[d.ucTcoLen] = byte;
        vStore(d.ucTcoLen, static_cast<uint8_t>(d.ucTcoLen + 1));  // wraps after 256 bytes
    } else {
        vKeyByte(byte, state.pending, opening);
    }
}
