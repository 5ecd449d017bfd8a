package com.trov.jpos;

/**
 * The UnifiedPOS values that the input model, the keylock wait, the claim wait and the tone output
 * use and that {@link TrovConst} does not hold yet. Kept package-private until the public constants
 * carry them; the values are UnifiedPOS's own.
 */
final class UposValues {

    /** Timeout of a wait that has no limit. */
    static final int FOREVER = -1;

    /** Result code: the wait ran out of time. */
    static final int JPOS_E_TIMEOUT = 112;

    /** Result code: an output is under way. */
    static final int JPOS_E_BUSY = 113;

    /** Error locus: an asynchronous output failed. */
    static final int JPOS_EL_OUTPUT = 1;

    /** Error locus: input failed, and no data event was queued. */
    static final int JPOS_EL_INPUT = 2;

    /** Error locus: input failed while data events were queued; they may still be delivered. */
    static final int JPOS_EL_INPUT_DATA = 3;

    /** Error response: try again. */
    static final int JPOS_ER_RETRY = 11;

    /** Error response: drop the queued input (the default). */
    static final int JPOS_ER_CLEAR = 12;

    /** Error response: deliver the queued data first (locus 3 only). */
    static final int JPOS_ER_CONTINUEINPUT = 13;

    private UposValues() {
    }
}
