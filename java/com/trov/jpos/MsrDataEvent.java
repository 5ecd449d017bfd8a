// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.Arrays;

/**
 * The immutable track data of one card swipe. Each track holds the bytes the reader returned for it,
 * without any terminator; a track the reader did not read is empty. Getters return copies, so an
 * application may change the arrays it gets without affecting the event or other listeners.
 */
public final class MsrDataEvent extends TrovEvent {

    private final byte[] track1;
    private final byte[] track2;
    private final byte[] track3;

    /** The card parsed from this swipe when parsing was asked; set on the event thread before it queues. */
    com.trov.jpos.msr.CardData parsedCard;

    /**
     * Creates an event from the track bytes, copying them. A {@code null} track counts as empty.
     *
     * @param track1 the bytes of track 1, without terminator
     * @param track2 the bytes of track 2, without terminator
     * @param track3 the bytes of track 3, without terminator
     */
    public MsrDataEvent(byte[] track1, byte[] track2, byte[] track3) {
        this.track1 = copy(track1);
        this.track2 = copy(track2);
        this.track3 = copy(track3);
    }

    /**
     * Creates an event from tracks as the native layer hands them over: each array holds the track
     * bytes followed by one terminating 0 byte, which is dropped here.
     */
    static MsrDataEvent fromTerminated(byte[] track1, byte[] track2, byte[] track3) {
        return new MsrDataEvent(stripTerminator(track1), stripTerminator(track2), stripTerminator(track3));
    }

    /** Returns the track without its final 0 byte; an array not ending in 0 is kept whole. */
    static byte[] stripTerminator(byte[] terminated) {
        if (terminated == null || terminated.length == 0) {
            return new byte[0];
        }
        int length = terminated.length;
        if (terminated[length - 1] == 0) {
            length--;
        }
        return Arrays.copyOf(terminated, length);
    }

    private static byte[] copy(byte[] track) {
        return track == null ? new byte[0] : track.clone();
    }

    /**
     * Returns the data of track 1.
     *
     * @return a copy of the track bytes, empty when the track was not read
     */
    public byte[] getTrack1() {
        return track1.clone();
    }

    /**
     * Returns the data of track 2.
     *
     * @return a copy of the track bytes, empty when the track was not read
     */
    public byte[] getTrack2() {
        return track2.clone();
    }

    /**
     * Returns the data of track 3.
     *
     * @return a copy of the track bytes, empty when the track was not read
     */
    public byte[] getTrack3() {
        return track3.clone();
    }

    /**
     * Two swipe events are equal when all three tracks hold the same bytes.
     *
     * @param other the object to compare with
     * @return whether {@code other} is an equal swipe event
     */
    @Override
    public boolean equals(Object other) {
        if (!(other instanceof MsrDataEvent)) {
            return false;
        }
        MsrDataEvent that = (MsrDataEvent) other;
        return Arrays.equals(track1, that.track1) && Arrays.equals(track2, that.track2)
                && Arrays.equals(track3, that.track3);
    }

    /**
     * Returns a hash code consistent with {@link #equals(Object)}.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return 31 * (31 * Arrays.hashCode(track1) + Arrays.hashCode(track2)) + Arrays.hashCode(track3);
    }

    /**
     * Returns the data event's status in the UnifiedPOS sense: the track lengths, track 1 in the low
     * byte, then track 2 and track 3 (each capped at 255).
     *
     * @return the packed lengths
     */
    public int getStatus() {
        return Math.min(track1.length, 255) | Math.min(track2.length, 255) << 8 | Math.min(track3.length, 255) << 16;
    }

    /**
     * Describes the event for logs. Only the track lengths are shown, since card data must not end
     * up in log files.
     *
     * @return a short description
     */
    @Override
    public String toString() {
        return "MsrDataEvent[track1=" + track1.length + " bytes, track2=" + track2.length
                + " bytes, track3=" + track3.length + " bytes]";
    }
}
