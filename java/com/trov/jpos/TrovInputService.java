// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * The UnifiedPOS input model of the POS keyboard and the MSR: data events queue in the object and
 * reach its data listeners only while {@link #getDataEventEnabled() DataEventEnabled} is true and
 * {@link #getFreezeEvents() FreezeEvents} false; delivering one sets DataEventEnabled to false until
 * the application sets it again. {@link #getAutoDisable() AutoDisable} disables the device after each
 * data event queued; {@link #getDataCount()} counts the queued data events and {@link #clearInput()}
 * drops them. An input error reaches the {@link ErrorListener}s as an {@link ErrorEvent} under the same
 * rules, and the object is in {@link TrovConst#JPOS_S_ERROR} until the listeners answered it: clear
 * (the default) drops the queued input, continue input (locus "input with data" only) delivers the
 * queued data first and the error again afterwards; retry acts as clear, since the keyboard cannot be
 * made to read a card again.
 *
 * <p>Held events are delivered in their own order on the event thread once released, after what the
 * process's stream delivered meanwhile; see the application guide on how this meets the one order.
 */
public abstract class TrovInputService extends TrovService {

    TrovInputService(ServiceKind kind) {
        super(kind);
    }

    /**
     * Returns DataEventEnabled.
     *
     * @return whether the next queued data or input error event may be delivered
     */
    public final boolean getDataEventEnabled() {
        return input.getDataEventEnabled();
    }

    /**
     * Sets DataEventEnabled. Setting it true delivers the first queued event, if any, on the event
     * thread; false at each open.
     *
     * @param enabled whether data events may be delivered
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public final void setDataEventEnabled(boolean enabled) throws TrovException {
        openSession();
        input.setDataEventEnabled(enabled);
    }

    /**
     * Returns AutoDisable.
     *
     * @return whether the device is disabled after each data event queued
     */
    public final boolean getAutoDisable() {
        return input.getAutoDisable();
    }

    /**
     * Sets AutoDisable; false at each open.
     *
     * @param autoDisable whether to disable the device after each data event queued
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public final void setAutoDisable(boolean autoDisable) throws TrovException {
        openSession();
        input.setAutoDisable(autoDisable);
    }

    /**
     * Returns the number of data events queued and not yet delivered; error events are not counted.
     *
     * @return the count
     */
    public final int getDataCount() {
        return input.getDataCount();
    }

    /**
     * Drops every queued data and input error event, also those still on their way to this object
     * in the process's event queue; the ERROR state ends. An event a listener is handling at this
     * moment is not called back.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when this object has not claimed the service
     */
    public final void clearInput() throws TrovException {
        DeviceSession current = openSession();
        if (!current.isClaimer(this)) {
            throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED, "The " + kind.label + " service must be claimed");
        }
        inputClears++;  // two clears at once may count one: the count still changes, which is all that is asked
        input.clearInput();
    }
}
