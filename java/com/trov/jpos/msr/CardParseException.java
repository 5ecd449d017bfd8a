// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

import com.trov.jpos.TrovConst;

/**
 * Reports a swipe that {@link CardParser} could not parse. The result codes follow the MSR error
 * event: {@link #getErrorCode()} is {@link TrovConst#JPOS_E_EXTENDED} when a track's framing failed,
 * with {@link #getErrorCodeExtended()} naming how (start or end sentinel, parity, check character), and
 * {@link TrovConst#JPOS_E_FAILURE} when the characters are sound but not a card layout this parser
 * knows. The message says which track and which field, never the card's data.
 */
public final class CardParseException extends Exception {

    private static final long serialVersionUID = 1L;

    /** The result code: {@link TrovConst#JPOS_E_EXTENDED} or {@link TrovConst#JPOS_E_FAILURE}. */
    private final int errorCode;

    /** The extended MSR code with {@link TrovConst#JPOS_E_EXTENDED}, otherwise 0. */
    private final int errorCodeExtended;

    /** The track that failed: 1 or 2, or 0 for the card as a whole. */
    private final int track;

    CardParseException(int errorCode, int errorCodeExtended, int track, String message) {
        super(message);
        this.errorCode = errorCode;
        this.errorCodeExtended = errorCodeExtended;
        this.track = track;
    }

    /**
     * Returns the result code.
     *
     * @return {@link TrovConst#JPOS_E_EXTENDED} or {@link TrovConst#JPOS_E_FAILURE}
     */
    public int getErrorCode() {
        return errorCode;
    }

    /**
     * Returns the extended result code.
     *
     * @return one of {@link TrovConst#JPOS_EMSR_START}, {@link TrovConst#JPOS_EMSR_END},
     *         {@link TrovConst#JPOS_EMSR_PARITY} and {@link TrovConst#JPOS_EMSR_LRC} with
     *         {@link TrovConst#JPOS_E_EXTENDED}; 0 with {@link TrovConst#JPOS_E_FAILURE}
     */
    public int getErrorCodeExtended() {
        return errorCodeExtended;
    }

    /**
     * Returns the track that failed.
     *
     * @return 1 or 2; 0 when the failure concerns the card as a whole (no track read, or the two
     *         tracks disagree)
     */
    public int getTrack() {
        return track;
    }
}
