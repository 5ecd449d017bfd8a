// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * An error the application is asked to answer: an input error (locus {@link TrovConst#JPOS_EL_INPUT},
 * or {@link TrovConst#JPOS_EL_INPUT_DATA} when data events are still queued ahead of it) or a failed
 * asynchronous output ({@link TrovConst#JPOS_EL_OUTPUT}). The listener may set the response: clear
 * ({@link TrovConst#JPOS_ER_CLEAR}, the default), retry ({@link TrovConst#JPOS_ER_RETRY}) or continue
 * input ({@link TrovConst#JPOS_ER_CONTINUEINPUT}, locus 3 only). The event carries no card data.
 */
public final class ErrorEvent extends TrovEvent {

    private final int errorCode;
    private final int errorCodeExtended;
    private final int errorLocus;
    private volatile int errorResponse;

    /** The output an output-locus error ended, by its output id; 0 for an input error. */
    int outputId;

    /**
     * Creates an event whose response is {@link TrovConst#JPOS_ER_CLEAR}.
     *
     * @param errorCode         a result code, e.g. {@link TrovConst#JPOS_E_EXTENDED}
     * @param errorCodeExtended the extended code, e.g. {@link TrovConst#JPOS_EMSR_START}, or 0
     * @param errorLocus        where the error happened
     */
    public ErrorEvent(int errorCode, int errorCodeExtended, int errorLocus) {
        this.errorCode = errorCode;
        this.errorCodeExtended = errorCodeExtended;
        this.errorLocus = errorLocus;
        this.errorResponse = TrovConst.JPOS_ER_CLEAR;
    }

    /** @return the result code of the error */
    public int getErrorCode() {
        return errorCode;
    }

    /** @return the extended code (201 to 204 for the MSR), 0 when there is none */
    public int getErrorCodeExtended() {
        return errorCodeExtended;
    }

    /** @return {@link TrovConst#JPOS_EL_OUTPUT}, {@link TrovConst#JPOS_EL_INPUT} or {@link TrovConst#JPOS_EL_INPUT_DATA} */
    public int getErrorLocus() {
        return errorLocus;
    }

    /** @return the answer the service acts on once the listeners return */
    public int getErrorResponse() {
        return errorResponse;
    }

    /**
     * Sets the answer. A response not allowed for the locus acts as clear.
     *
     * @param response {@link TrovConst#JPOS_ER_CLEAR}, {@link TrovConst#JPOS_ER_RETRY} or
     *                 {@link TrovConst#JPOS_ER_CONTINUEINPUT}
     */
    public void setErrorResponse(int response) {
        this.errorResponse = response;
    }

    /**
     * Describes the event for logs; it holds no card data.
     *
     * @return a short description
     */
    @Override
    public String toString() {
        return "ErrorEvent[code=" + errorCode + ", extended=" + errorCodeExtended + ", locus=" + errorLocus
                + ", response=" + errorResponse + ", sequenceNumber=" + getSequenceNumber() + "]";
    }
}
