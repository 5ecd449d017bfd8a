// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * The result and text logic of {@code checkHealth}, given the checks to run.
 *
 * <ul>
 *   <li>Internal ({@link TrovConst#JPOS_CH_INTERNAL}): the service's own side, without touching the
 *       device's function: the {@link Internal} check, for example the library's input pipeline and
 *       claim table as {@link LibraryView} sees them, and the service's session.</li>
 *   <li>External ({@link TrovConst#JPOS_CH_EXTERNAL}): the internal check, then a real round trip to
 *       the keyboard ({@link RoundTrip}) that must be answered within {@link #EXTERNAL_BOUND_MILLIS}.</li>
 *   <li>Interactive ({@link TrovConst#JPOS_CH_INTERACTIVE}): not supported. It would ask the person at
 *       the till to act through a dialog, and a device service here has no user interface of its own;
 *       the call fails with {@link TrovConst#JPOS_E_ILLEGAL} and the text is left as it was.</li>
 * </ul>
 * The text follows the form "Internal HCheck: Successful" or "External HCheck: no answer from the
 * keyboard within 2000 ms". An unhealthy device is a result, not an exception: the service sets
 * {@code CheckHealthText} from {@link Result#text()} either way.
 *
 * <p>Immutable; {@link #check(int)} may run on several threads at once if the checks allow it.
 */
final class HealthCheck {

    /** How long the external check waits for the keyboard's answer. */
    static final long EXTERNAL_BOUND_MILLIS = 2000;

    /** The service's own side. */
    @FunctionalInterface
    interface Internal {
        /** Returns null when sound, otherwise what is wrong, in a few words for the check's text. */
        String fault();
    }

    /** A request to the keyboard and the wait for its answer. */
    @FunctionalInterface
    interface RoundTrip {
        /**
         * Sends a request the keyboard answers and waits for the answer.
         *
         * @param timeoutMillis the longest wait
         * @return whether the answer came in time
         */
        boolean answered(long timeoutMillis) throws InterruptedException;
    }

    /**
     * The outcome of one check.
     *
     * @param level   the level checked
     * @param healthy whether every check passed
     * @param text    the text for {@code CheckHealthText}
     */
    record Result(int level, boolean healthy, String text) {
    }

    private final Internal internal;
    private final RoundTrip roundTrip;

    HealthCheck(Internal internal, RoundTrip roundTrip) {
        this.internal = internal;
        this.roundTrip = roundTrip;
    }

    /**
     * Runs the check of {@code level}.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for the interactive level or an unknown
     *                       one; {@link TrovConst#JPOS_E_FAILURE} when the wait was interrupted (the
     *                       thread's interrupt flag is set again)
     */
    Result check(int level) throws TrovException {
        switch (level) {
            case TrovConst.JPOS_CH_INTERNAL:
                return result(level, "Internal", internal.fault());
            case TrovConst.JPOS_CH_EXTERNAL:
                String fault = internal.fault();
                if (fault == null) {
                    fault = roundTripFault();
                }
                return result(level, "External", fault);
            case TrovConst.JPOS_CH_INTERACTIVE:
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The interactive health check is not supported:"
                        + " the service has no dialog in which to ask the person at the till");
            default:
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "No health check of level " + level
                        + " (internal 1, external 2)");
        }
    }

    private String roundTripFault() throws TrovException {
        try {
            return roundTrip.answered(EXTERNAL_BOUND_MILLIS) ? null
                    : "no answer from the keyboard within " + EXTERNAL_BOUND_MILLIS + " ms";
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "The external health check was interrupted", e);
        }
    }

    private static Result result(int level, String name, String fault) {
        return new Result(level, fault == null, name + " HCheck: " + (fault == null ? "Successful" : fault));
    }

    /**
     * Counts the keyboard's answers of one kind, so that a round trip can wait for the first answer
     * after its request: the listener of the answer calls {@link #answered()}, the round trip takes
     * {@link #mark()} before it sends the request and then {@link #awaitAfter(long, long)}. Thread-safe.
     */
    static final class Answers {
        // Guarded by this.
        private long count;

        /** One more answer came. */
        synchronized void answered() {
            count++;
            notifyAll();
        }

        /** The answers so far, to be passed to {@link #awaitAfter(long, long)}. */
        synchronized long mark() {
            return count;
        }

        /** Waits until an answer came after {@code mark}, at most {@code timeoutMillis}; returns whether one did. */
        synchronized boolean awaitAfter(long mark, long timeoutMillis) throws InterruptedException {
            long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
            while (count == mark) {
                long left = deadline - System.nanoTime();
                if (left <= 0) {
                    return false;
                }
                wait(Math.max(1, left / 1_000_000L));
            }
            return true;
        }
    }
}
