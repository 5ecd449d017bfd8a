// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

import com.trov.jpos.TrovConst;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * One track of a card swipe as the keyboard delivered it, with what its framing says: whether the
 * start and end sentinels and the check character came with it, and whether they are sound.
 *
 * <p>The keyboard sends each track as the characters its reader decoded, one byte per character
 * (track 1 in the range 0x20 to 0x5F, tracks 2 and 3 in 0x30 to 0x3F), between the library's own
 * frame bytes, which are not part of the track. Whether the start sentinel ({@code %} on track 1,
 * {@code ;} on tracks 2 and 3), the end sentinel ({@code ?}) and the longitudinal check character
 * (LRC) that follows it are among those characters depends on the keyboard's reader. This class takes
 * both forms:
 * <ul>
 *   <li>with sentinels: the track must begin with the start sentinel and hold an end sentinel, which
 *       may be followed by the check character and nothing else; a check character, when present, is
 *       verified;</li>
 *   <li>without sentinels (neither start nor end sentinel present): the whole track is data, and
 *       there is nothing to verify beyond the character set.</li>
 * </ul>
 * {@link #getStatus()} names the first fault found, as an extended MSR result code:
 * {@link TrovConst#JPOS_EMSR_START} (an end sentinel without the start sentinel before it),
 * {@link TrovConst#JPOS_EMSR_END} (a start sentinel without an end sentinel, or more than one
 * character after it), {@link TrovConst#JPOS_EMSR_PARITY} (a data character the track cannot carry:
 * the keyboard delivers decoded characters, not bits with their parity, so a misread character shows
 * as one outside the track's character set, or as a sentinel in the middle of the data) and
 * {@link TrovConst#JPOS_EMSR_LRC} (the check character does not match the data).
 *
 * <p>Instances are immutable. {@link #toString()} tells the length and status only, never the data.
 */
public final class Track {

    /** The end sentinel of every track. */
    static final byte END_SENTINEL = '?';

    private final int number;
    private final byte[] delivered;
    /** Index of the first data byte and one past the last, within {@link #delivered}. */
    private final int dataStart;
    private final int dataEnd;
    private final boolean sentinels;
    private final int status;

    private Track(int number, byte[] delivered) {
        this.number = number;
        this.delivered = delivered;
        byte start = startSentinel(number);
        boolean hasStart = delivered.length > 0 && delivered[0] == start;
        int end = indexOf(delivered, END_SENTINEL);
        this.sentinels = hasStart || end >= 0;
        this.dataStart = hasStart ? 1 : 0;
        this.dataEnd = end >= 0 ? end : delivered.length;
        this.status = check(number, delivered, hasStart, end);
    }

    /**
     * Takes a track as the keyboard delivered it.
     *
     * @param number    the track number, 1 to 3
     * @param delivered the track's bytes as delivered, without the library's frame bytes and without
     *                  a terminating 0 byte; {@code null} or empty for a track that was not read. The
     *                  array is copied.
     * @return the track
     * @throws IllegalArgumentException when {@code number} is not 1, 2 or 3
     */
    public static Track of(int number, byte[] delivered) {
        if (number < 1 || number > 3) {
            throw new IllegalArgumentException("track number " + number + " is not 1, 2 or 3");
        }
        return new Track(number, delivered == null ? new byte[0] : delivered.clone());
    }

    /**
     * Returns the track's number.
     *
     * @return 1, 2 or 3
     */
    public int getNumber() {
        return number;
    }

    /**
     * Tells whether the track is empty, that is, was not read.
     *
     * @return whether the keyboard delivered no byte for this track
     */
    public boolean isEmpty() {
        return delivered.length == 0;
    }

    /**
     * Tells whether the keyboard delivered the track with its sentinels (either of them).
     *
     * @return whether a start or an end sentinel is present
     */
    public boolean hasSentinels() {
        return sentinels;
    }

    /**
     * Returns the outcome of the framing checks.
     *
     * @return {@link TrovConst#JPOS_SUCCESS} for a sound or empty track, otherwise the first fault
     *         found: {@link TrovConst#JPOS_EMSR_START}, {@link TrovConst#JPOS_EMSR_END},
     *         {@link TrovConst#JPOS_EMSR_PARITY} or {@link TrovConst#JPOS_EMSR_LRC}
     */
    public int getStatus() {
        return status;
    }

    /**
     * Returns the track data as the track data properties hold it.
     *
     * @param transmitSentinels {@code true}: the bytes as delivered, with the sentinels and check
     *                          character the keyboard sent (none are made up when it sent none);
     *                          {@code false}: the data alone, without a leading start sentinel and
     *                          without the end sentinel and what follows it
     * @return a new array
     */
    public byte[] getData(boolean transmitSentinels) {
        return transmitSentinels ? delivered.clone() : Arrays.copyOfRange(delivered, dataStart, dataEnd);
    }

    /** The data characters, without sentinels and check character, for the parser. */
    String dataText() {
        return new String(delivered, dataStart, dataEnd - dataStart, StandardCharsets.ISO_8859_1);
    }

    /**
     * Describes the track without its data, for logs.
     *
     * @return for example "Track[2: 38 bytes, with sentinels, status 0]"
     */
    @Override
    public String toString() {
        return "Track[" + number + ": " + delivered.length + " bytes, " + (sentinels ? "with" : "without")
                + " sentinels, status " + status + "]";
    }

    private static byte startSentinel(int number) {
        return number == 1 ? (byte) '%' : (byte) ';';
    }

    /** The lowest character of the track's set; the set spans 64 characters on track 1, 16 on 2 and 3. */
    private static int base(int number) {
        return number == 1 ? 0x20 : 0x30;
    }

    private static int span(int number) {
        return number == 1 ? 64 : 16;
    }

    private static int check(int number, byte[] bytes, boolean hasStart, int end) {
        if (bytes.length == 0) {
            return TrovConst.JPOS_SUCCESS;
        }
        if (end >= 0 && !hasStart) {
            return TrovConst.JPOS_EMSR_START;
        }
        if (hasStart && (end < 0 || bytes.length - end > 2)) {
            return TrovConst.JPOS_EMSR_END;
        }
        int from = hasStart ? 1 : 0;
        int to = end >= 0 ? end : bytes.length;
        for (int i = from; i < to; i++) {
            if (!carried(number, bytes[i]) || bytes[i] == startSentinel(number)) {
                return TrovConst.JPOS_EMSR_PARITY;
            }
        }
        if (end >= 0 && bytes.length - end == 2) {
            // The check character makes every bit of the character values, from the start sentinel to
            // itself, add up to an even count: their exclusive or is zero.
            byte lrc = bytes[end + 1];
            if (!carried(number, lrc)) {
                return TrovConst.JPOS_EMSR_LRC;
            }
            int sum = 0;
            for (int i = 0; i <= end + 1; i++) {
                sum ^= (bytes[i] & 0xFF) - base(number);
            }
            if (sum != 0) {
                return TrovConst.JPOS_EMSR_LRC;
            }
        }
        return TrovConst.JPOS_SUCCESS;
    }

    private static boolean carried(int number, byte b) {
        int value = (b & 0xFF) - base(number);
        return value >= 0 && value < span(number);
    }

    private static int indexOf(byte[] bytes, byte wanted) {
        for (int i = 0; i < bytes.length; i++) {
            if (bytes[i] == wanted) {
                return i;
            }
        }
        return -1;
    }
}
