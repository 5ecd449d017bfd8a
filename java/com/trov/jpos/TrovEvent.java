// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * What every event of the Trov POS services carries besides its data: its place in the one order in
 * which the process hears the keyboard, and the time it was decoded.
 *
 * <p>The library decodes the keyboard's input on its own threads and hands each event to one queue
 * of the process. There it gets a sequence number, rising by one from event to event across all
 * services of the process, and the {@link System#nanoTime()} of that moment. Listeners get the events
 * in that order, also across services: a key pressed after a keylock turn reaches the key listeners
 * after the keylock listeners had the new position. One event delivered to several objects (a keylock
 * position to every enabled keylock object, a power state to every open object) carries one number.
 *
 * <p>An event made by an application with a public constructor has sequence number 0 and time 0.
 * Neither takes part in {@code equals}: two events are equal when their data is.
 */
public abstract class TrovEvent {

    // Written once, under the event queue's lock, before any listener can see the event.
    private long sequenceNumber;
    private long whenNanos;

    TrovEvent() {
    }

    /**
     * Returns the event's place in the order of the process.
     *
     * @return the sequence number, from 1 and rising by one for each event the library raised in this
     *         process; 0 for an event not raised by the library
     */
    public final long getSequenceNumber() {
        return sequenceNumber;
    }

    /**
     * Returns when the event was decoded: when the library handed it to the process's event queue.
     * The value is on the scale of {@link System#nanoTime()} (not wall-clock time): subtract it from a
     * later {@code System.nanoTime()} to learn how long the event took to reach a listener.
     *
     * @return the time in nanoseconds on the {@code System.nanoTime()} scale; 0 for an event not raised
     *         by the library
     */
    public final long getWhenNanos() {
        return whenNanos;
    }

    /** Gives the event its place in the order; called once, under the event queue's lock. */
    final void stamp(long sequence, long when) {
        this.sequenceNumber = sequence;
        this.whenNanos = when;
    }
}
