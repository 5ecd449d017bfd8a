// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.concurrent.TimeUnit;

/**
 * {@code claim(timeout)} of one service: tries to take the claim, and while another object or
 * another process holds it, tries again until {@code timeout} runs out. The claim table lives in
 * shared memory that every process using the library sees, and another process's release raises no
 * event here, so the wait polls the table every {@link #pollMillis} milliseconds; a release or a
 * close in this process calls {@link #released()} and ends the pause at once.
 *
 * <p>One instance per service, shared by all its objects in the process. Threads: any number of
 * threads may wait at once; {@link #released()} may be called from any thread and never waits. The
 * attempt runs on the waiting thread with no lock of this class held, so it may take the service's
 * own locks; the caller must hold none of them while it waits, or a release could never come. The
 * object's monitor only guards the release count.
 */
final class ClaimWait {

    /** One try to take the claim; it throws for what waiting cannot mend (e.g. the object is closed). */
    @FunctionalInterface
    interface Attempt {
        /**
         * @param nanosLeft how long the try may wait for a lock, in nanoseconds; negative for no limit
         * @return true when the claim was taken (or this object held it already), false when it is held
         *         elsewhere or a lock could not be had in time
         */
        boolean tryTake(long nanosLeft) throws TrovException;
    }

    /** How often the table is looked at while another process may release it. */
    static final long DEFAULT_POLL_MILLIS = 50;

    private final long pollMillis;
    /** Counts the releases in this process, so that one between a failed try and the pause is not missed. */
    private long releases;

    ClaimWait() {
        this(DEFAULT_POLL_MILLIS);
    }

    /** @param pollMillis the pause between two tries, at least 1 */
    ClaimWait(long pollMillis) {
        if (pollMillis < 1) {
            throw new IllegalArgumentException("poll interval " + pollMillis);
        }
        this.pollMillis = pollMillis;
    }

    /** A claim of the service was released, or an object of it closed, in this process: the waiters try again now. */
    synchronized void released() {
        releases++;
        notifyAll();
    }

    /**
     * Takes the claim with {@code attempt}, waiting up to {@code timeout} milliseconds for it.
     *
     * @param timeout milliseconds; {@link TrovConst#JPOS_FOREVER} for no limit, 0 to try once
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for a timeout below {@link TrovConst#JPOS_FOREVER};
     *                       {@link TrovConst#JPOS_E_TIMEOUT} when the claim is still held elsewhere when
     *                       the time runs out; {@link TrovConst#JPOS_E_FAILURE} when the thread was
     *                       interrupted (its interrupt status is set again); whatever {@code attempt} throws
     */
    void claim(int timeout, Attempt attempt) throws TrovException {
        if (timeout < TrovConst.JPOS_FOREVER) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "Bad claim timeout: " + timeout + " ms");
        }
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(Math.max(timeout, 0));
        while (true) {
            long releasesBefore;
            synchronized (this) {
                releasesBefore = releases;
            }
            long nanosLeft = timeout == TrovConst.JPOS_FOREVER ? -1 : Math.max(0, deadline - System.nanoTime());
            if (attempt.tryTake(nanosLeft)) {
                return;
            }
            long left = deadline - System.nanoTime();
            if (timeout != TrovConst.JPOS_FOREVER && left <= 0) {
                throw new TrovException(TrovConst.JPOS_E_TIMEOUT,
                        "The claim is held elsewhere and was not released within " + timeout + " ms");
            }
            long pause = TimeUnit.MILLISECONDS.toNanos(pollMillis);
            if (timeout != TrovConst.JPOS_FOREVER) {
                pause = Math.min(pause, left);
            }
            try {
                pauseUnlessReleased(releasesBefore, pause);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new TrovException(TrovConst.JPOS_E_FAILURE, "The wait for the claim was interrupted", e);
            }
        }
    }

    private synchronized void pauseUnlessReleased(long releasesBefore, long nanos) throws InterruptedException {
        long end = System.nanoTime() + nanos;
        long left = nanos;
        while (releases == releasesBefore && left > 0) {
            TimeUnit.NANOSECONDS.timedWait(this, left);
            left = end - System.nanoTime();
        }
    }
}
