// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

import com.trov.jpos.TrovConst;

/**
 * Whether a swipe is a good read for the tracks the application wants, and the result codes of the
 * error event when it is not, for either {@code ErrorReportingType}.
 *
 * <p>A card need not carry every wanted track: most payment cards carry tracks 1 and 2 only, and a
 * wanted track the card does not carry is simply empty. A swipe is a good read when every wanted track
 * it carries is sound and at least one wanted track was read. Each wanted track has a status:
 * {@link TrovConst#JPOS_SUCCESS} when it is sound or absent, its framing fault
 * ({@link TrovConst#JPOS_EMSR_START} to {@link TrovConst#JPOS_EMSR_LRC}) when it is present and faulty;
 * when no wanted track was read at all (an unreadable card), every wanted track has the status
 * {@link TrovConst#JPOS_E_FAILURE}. A track that is not wanted has the status
 * {@link TrovConst#JPOS_SUCCESS} whatever it holds. With no track wanted (TracksToRead 0) every swipe is
 * a good read.
 *
 * <ul>
 *   <li>{@link TrovConst#MSR_ERT_CARD}: one error for the card: the first wanted track that failed
 *       gives it; its framing fault as {@link TrovConst#JPOS_E_EXTENDED} with that extended code, an
 *       unreadable card as {@link TrovConst#JPOS_E_FAILURE} with 0.</li>
 *   <li>{@link TrovConst#MSR_ERT_TRACK}: {@link TrovConst#JPOS_E_EXTENDED}, the extended code holding
 *       every track's status in a byte of its own: track 1 in the low byte, then track 2, track 3.</li>
 * </ul>
 * Immutable.
 */
public final class SwipeStatus {

    private final int[] status = new int[3];

    private SwipeStatus(Track[] tracks, int tracksToRead) {
        boolean anyWantedRead = false;
        for (int i = 0; i < 3; i++) {
            anyWantedRead |= (tracksToRead & (1 << i)) != 0 && !tracks[i].isEmpty();
        }
        for (int i = 0; i < 3; i++) {
            if ((tracksToRead & (1 << i)) == 0) {
                status[i] = TrovConst.JPOS_SUCCESS;
            } else if (!anyWantedRead) {
                status[i] = TrovConst.JPOS_E_FAILURE;
            } else {
                status[i] = tracks[i].getStatus();
            }
        }
    }

    /**
     * Checks a swipe.
     *
     * @param track1       track 1 (number 1)
     * @param track2       track 2 (number 2)
     * @param track3       track 3 (number 3)
     * @param tracksToRead the wanted tracks, a bit set of {@link TrovConst#MSR_TR_1},
     *                     {@link TrovConst#MSR_TR_2} and {@link TrovConst#MSR_TR_3}
     * @return the swipe's status
     * @throws IllegalArgumentException when a track has the wrong number
     */
    public static SwipeStatus of(Track track1, Track track2, Track track3, int tracksToRead) {
        if (track1.getNumber() != 1 || track2.getNumber() != 2 || track3.getNumber() != 3) {
            throw new IllegalArgumentException("tracks 1, 2 and 3 expected");
        }
        return new SwipeStatus(new Track[] {track1, track2, track3}, tracksToRead);
    }

    /**
     * Tells whether every wanted track the card carries is sound and at least one was read.
     *
     * @return whether the swipe is a good read
     */
    public boolean isGood() {
        return status[0] == TrovConst.JPOS_SUCCESS && status[1] == TrovConst.JPOS_SUCCESS
                && status[2] == TrovConst.JPOS_SUCCESS;
    }

    /**
     * Returns a track's status.
     *
     * @param track 1, 2 or 3
     * @return {@link TrovConst#JPOS_SUCCESS}, a framing fault, or {@link TrovConst#JPOS_E_FAILURE}
     *         for a wanted track of a swipe in which no wanted track was read
     */
    public int getTrackStatus(int track) {
        return status[track - 1];
    }

    /**
     * Returns the error event's result code.
     *
     * @param errorReportingType {@link TrovConst#MSR_ERT_CARD} or {@link TrovConst#MSR_ERT_TRACK}
     * @return {@link TrovConst#JPOS_SUCCESS} for a good read; otherwise as the class describes
     */
    public int getErrorCode(int errorReportingType) {
        if (isGood()) {
            return TrovConst.JPOS_SUCCESS;
        }
        return errorReportingType == TrovConst.MSR_ERT_TRACK || firstFailure() != TrovConst.JPOS_E_FAILURE
                ? TrovConst.JPOS_E_EXTENDED : TrovConst.JPOS_E_FAILURE;
    }

    /**
     * Returns the error event's extended result code.
     *
     * @param errorReportingType {@link TrovConst#MSR_ERT_CARD} or {@link TrovConst#MSR_ERT_TRACK}
     * @return 0 for a good read; otherwise as the class describes
     */
    public int getErrorCodeExtended(int errorReportingType) {
        if (isGood()) {
            return 0;
        }
        if (errorReportingType == TrovConst.MSR_ERT_TRACK) {
            return status[0] | status[1] << 8 | status[2] << 16;
        }
        int first = firstFailure();
        return first == TrovConst.JPOS_E_FAILURE ? 0 : first;
    }

    private int firstFailure() {
        for (int s : status) {
            if (s != TrovConst.JPOS_SUCCESS) {
                return s;
            }
        }
        return TrovConst.JPOS_SUCCESS;
    }

    /**
     * Describes the statuses, which hold no card data.
     *
     * @return for example "SwipeStatus[0, 204, 0]"
     */
    @Override
    public String toString() {
        return "SwipeStatus[" + status[0] + ", " + status[1] + ", " + status[2] + "]";
    }
}
