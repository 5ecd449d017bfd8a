// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.concurrent.TimeUnit;

/**
 * {@code waitForKeylockChange(keyPosition, timeout)} of one keylock object, built on the positions
 * the keyboard reports. The keylock service feeds it every position it records
 * ({@link #position(int)}) and ends it at close ({@link #end()}); applications
 * wait in {@link #await(int, int)}.
 *
 * <p>"Any change" ({@code keyPosition} 0) means a reported position that differs from the last one
 * known. The first report after an opening (the answer to the request that enabling sends) tells
 * where the key is, not that it moved, so it ends no wait for any change; a wait for a given
 * position ends with it when the key is there. A report after a reconnect that differs from the
 * position known before the outage is a change: the key was turned while the cable was out. A
 * position the key passed through counts: a wait for position 2 ends when the key goes 1, 2, 3,
 * also when the waiter wakes only after the 3.
 *
 * <p>A wait belongs to the opening it began in: a close ends it, also when the object is opened
 * again before the waiting thread wakes.
 *
 * <p>Threads: {@link #position(int)}, {@link #end()} and {@link #reset()} may be called on any
 * thread and never wait for a waiter; any number of application threads may wait at once. The
 * object's monitor serialises the position and the wake-ups.
 */
final class KeylockWait {

    private int position;
    /** Counts the changes of position, so that a waiter for any change sees one that came and went. */
    private long changes;
    /** Counts the positions recorded in this object's life, first ones of an opening included. */
    private long reports;
    /** For each position, the value of {@link #reports} when the key last reached it. */
    private final long[] reachedAt = new long[TrovKeylockService.MAX_POSITION_COUNT + 1];
    private boolean ended = true;
    /** Counts the openings, so that a wait of an earlier one ends though the object is open again. */
    private long openings;

    /** Starts an opening: no position known, waits allowed. */
    synchronized void reset() {
        position = 0;
        ended = false;
        openings++;
        notifyAll();
    }

    /** Records a reported position (from 1) and wakes the waiters it concerns. */
    synchronized void position(int newPosition) {
        if (newPosition != position) {
            if (position != 0) {
                changes++;
            }
            position = newPosition;
            reports++;
            if (newPosition > 0 && newPosition < reachedAt.length) {
                reachedAt[newPosition] = reports;
            }
            notifyAll();
        }
    }

    /** The last position reported in this opening, or 0 when none was. */
    synchronized int position() {
        return position;
    }

    /** The object was closed or powered off: every wait ends with {@link TrovConst#JPOS_E_CLOSED}. */
    synchronized void end() {
        ended = true;
        notifyAll();
    }

    /**
     * Waits until the keylock is at {@code keyPosition}, or for the next change when it is 0.
     *
     * @param keyPosition the position to wait for (from 1), or 0 for any change; the caller checks the upper bound
     * @param timeout     milliseconds; {@link TrovConst#JPOS_FOREVER} for no limit, 0 to look once without waiting
     * @return the position the keylock is at
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for a negative position or a timeout below
     *                       {@link TrovConst#JPOS_FOREVER}; {@link TrovConst#JPOS_E_CLOSED} when not open, or
     *                       closed or powered off during the wait; {@link TrovConst#JPOS_E_TIMEOUT} when
     *                       the time ran out; {@link TrovConst#JPOS_E_FAILURE} when the thread was
     *                       interrupted (its interrupt status is set again)
     */
    synchronized int await(int keyPosition, int timeout) throws TrovException {
        if (keyPosition < 0 || timeout < TrovConst.JPOS_FOREVER) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL,
                    "Bad keylock wait: position " + keyPosition + ", timeout " + timeout + " ms");
        }
        long changesAtStart = changes;
        long reportsAtStart = reports;
        long opening = openings;
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(Math.max(timeout, 0));
        while (true) {
            if (ended || opening != openings) {
                throw new TrovException(TrovConst.JPOS_E_CLOSED, "The keylock is not open");
            }
            if (keyPosition == 0 ? changes != changesAtStart : position == keyPosition) {
                return position;
            }
            if (keyPosition > 0 && keyPosition < reachedAt.length && reachedAt[keyPosition] > reportsAtStart) {
                return keyPosition;  // reached and left again before this thread woke
            }
            long left = deadline - System.nanoTime();
            if (timeout != TrovConst.JPOS_FOREVER && left <= 0) {
                throw new TrovException(TrovConst.JPOS_E_TIMEOUT, keyPosition == 0
                        ? "The keylock did not change within " + timeout + " ms"
                        : "The keylock did not reach position " + keyPosition + " within " + timeout + " ms");
            }
            try {
                if (timeout == TrovConst.JPOS_FOREVER) {
                    wait();
                } else {
                    TimeUnit.NANOSECONDS.timedWait(this, left);
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new TrovException(TrovConst.JPOS_E_FAILURE, "The keylock wait was interrupted", e);
            }
        }
    }
}
