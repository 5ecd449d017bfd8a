// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Reports a call that the Trov POS services could not carry out. {@link #getErrorCode()} tells the
 * application why, as one of the {@code JPOS_E_*} codes of {@link TrovConst}.
 */
public class TrovException extends Exception {

    private static final long serialVersionUID = 1L;

    /** Why the call failed: one of the {@code JPOS_E_*} codes of {@link TrovConst}. */
    private final int errorCode;

    /**
     * Creates an exception.
     *
     * @param errorCode one of the {@code JPOS_E_*} codes of {@link TrovConst}
     * @param message   what went wrong, for a person to read
     */
    public TrovException(int errorCode, String message) {
        super(message);
        this.errorCode = errorCode;
    }

    /**
     * Creates an exception caused by another throwable.
     *
     * @param errorCode one of the {@code JPOS_E_*} codes of {@link TrovConst}
     * @param message   what went wrong, for a person to read
     * @param cause     the underlying problem
     */
    public TrovException(int errorCode, String message, Throwable cause) {
        super(message, cause);
        this.errorCode = errorCode;
    }

    /**
     * Returns why the call failed.
     *
     * @return one of the {@code JPOS_E_*} codes of {@link TrovConst}
     */
    public int getErrorCode() {
        return errorCode;
    }
}
