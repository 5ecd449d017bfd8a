// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * An immutable status update. From the keylock service the status is the key position, counted
 * from 1, or a power state; from the other services it is a power state:
 * {@link TrovConst#SUE_POWER_ONLINE}, {@link TrovConst#SUE_POWER_OFF} or
 * {@link TrovConst#SUE_POWER_OFF_OFFLINE}.
 */
public final class StatusUpdateEvent extends TrovEvent {

    private final int status;

    /**
     * Whether this is the return of the keyboard after a power-off (2004), which every open object
     * hears as it heard the 2004, whatever its PowerNotify.
     */
    transient boolean endsOutage;

    /**
     * Creates an event.
     *
     * @param status the status code or keylock position
     */
    public StatusUpdateEvent(int status) {
        this.status = status;
    }

    /**
     * Returns the reported status.
     *
     * @return the keylock position (from 1) or a keyboard power status code
     */
    public int getStatus() {
        return status;
    }

    /**
     * Two status events are equal when they carry the same status.
     *
     * @param other the object to compare with
     * @return whether {@code other} is a status event with the same status
     */
    @Override
    public boolean equals(Object other) {
        return other instanceof StatusUpdateEvent && ((StatusUpdateEvent) other).status == status;
    }

    /**
     * Returns a hash code consistent with {@link #equals(Object)}.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return Integer.hashCode(status);
    }

    /**
     * Describes the event for logs.
     *
     * @return a short description
     */
    @Override
    public String toString() {
        return "StatusUpdateEvent[status=" + status + ", sequenceNumber=" + getSequenceNumber() + "]";
    }
}
