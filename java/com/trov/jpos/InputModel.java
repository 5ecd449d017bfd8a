// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import java.util.concurrent.Executor;

/**
 * The UnifiedPOS input model of one service object: the queue of its data events and input error
 * events, {@code DataEventEnabled}, {@code FreezeEvents}, {@code AutoDisable}, {@code DataCount},
 * {@code clearInput()}, the application's answer to an input error and the ERROR state. The POS
 * keyboard and the MSR each own one; the keylock and the tone indicator own one too for
 * {@code FreezeEvents}, which holds their status and output complete events.
 *
 * <h2>Rules</h2>
 * <ul>
 *   <li>A data event or input error event is delivered only while {@code DataEventEnabled} is true
 *       and {@code FreezeEvents} false. Delivering one sets {@code DataEventEnabled} to false, so the
 *       application gets one each time it sets the property true again. The data properties are
 *       filled ({@link Owner#fillProperties}) just before a data event is delivered.</li>
 *   <li>{@code FreezeEvents} true holds every event: data, input error, status and output
 *       complete. Status and output complete events wait for nothing else.</li>
 *   <li>{@code AutoDisable}: as soon as one data event is queued the model stops taking input and
 *       asks the owner to disable the device ({@link Owner#autoDisable}); input is taken again once
 *       the owner reports the device enabled ({@link #deviceEnabled(boolean)}).</li>
 *   <li>An input error puts the object in the ERROR state until the application has answered it.
 *       With data events queued its locus is "input with data" (3) and it goes ahead of them, so
 *       the application hears of it first; otherwise its locus is "input" (2) and it queues behind
 *       what is there. The answer: clear (12, the default, also for any answer not allowed here)
 *       drops every queued data and error event; retry (11) asks the owner to read again
 *       ({@link Owner#readAgain}) and keeps the queued data, or acts as clear when the device cannot
 *       read again; continue input (13, locus 3 only) keeps the error state, delivers the queued
 *       data events and then the same error again with locus 2.</li>
 *   <li>{@link #clearInput()} drops every queued data and input error event; the ERROR state ends.</li>
 *   <li>Disabling the device stops new input but keeps what is queued: it is still delivered under
 *       the rules above. AutoDisable needs exactly that (the data event that disabled the device must
 *       still reach the application), and an application that wants the rest gone calls
 *       {@code clearInput()}. Closing drops everything ({@link #reset()}), as {@code clearInput()}
 *       does, and also the held status and output complete events.</li>
 * </ul>
 *
 * <h2>Order</h2>
 * The process's one dispatcher thread offers each event here in the keyboard's order, and the model
 * delivers on that thread. An event that nothing holds is delivered at once, in the order of the
 * stream. Held events wait in this object's queue and are delivered in their own order once
 * released, after whatever the stream delivered while they were held: the application's release
 * ({@link #setDataEventEnabled(boolean) setDataEventEnabled(true)},
 * {@link #setFreezeEvents(boolean) setFreezeEvents(false)}) only schedules a delivery step onto the
 * dispatcher, so held events never run concurrently with the stream, and they go before any event the
 * stream offers after the release. Within one kind the order never changes; a status event may
 * overtake a data event held by {@code DataEventEnabled}, as UnifiedPOS wants, and that data event
 * then carries an older sequence number than the status event delivered before it. The one
 * exception to queue order is the locus 3 error, which goes ahead of the data it concerns.
 *
 * <h2>Threads</h2>
 * {@code offer*} must be called on the dispatcher thread only, which is also the thread that
 * {@code dispatcher} runs its tasks on; the owner's callbacks and the deliveries run there, never
 * under the model's lock. The setters, getters, {@link #clearInput()}, {@link #deviceEnabled} and
 * {@link #reset()} may be called from any thread, also from a listener; they hold the model's lock
 * for a moment (it serialises the queue and the properties, and nothing is called under it, so it
 * nests inside any lock of the caller) and never wait for the dispatcher.
 *
 * @param <D> the data event as the dispatcher carries it
 */
final class InputModel<D> {

    /** What the model needs of the service object that owns it; each runs on the dispatcher thread. */
    interface Owner<D> {

        /** Fills the data properties from {@code data}, just before its delivery. */
        void fillProperties(D data);

        /** Calls the data listeners with {@code data}. */
        void deliverData(D data);

        /**
         * Calls the error listeners with an input error and returns the response they left:
         * {@link TrovConst#JPOS_ER_CLEAR} unless a listener changed it.
         */
        int deliverError(int errorCode, int errorCodeExtended, int locus);

        /**
         * As {@link #deliverError(int, int, int)}, with what was read when the error was found (the
         * swipe, whose place in the process's order the error takes), or null.
         */
        default int deliverError(int errorCode, int errorCodeExtended, int locus, D cause) {
            return deliverError(errorCode, errorCodeExtended, locus);
        }

        /** Disables the device because AutoDisable is on. Must not wait for the dispatcher. */
        void autoDisable();

        /** Makes the device read again after a retry answer; false when it cannot, and retry acts as clear. */
        boolean readAgain();
    }

    private enum Kind { DATA, ERROR, OTHER }

    /** One held event. */
    private static final class Entry<D> {
        final Kind kind;
        final D data;
        final Runnable delivery;
        final int errorCode;
        final int errorCodeExtended;
        int locus;

        Entry(Kind kind, D data, Runnable delivery, int errorCode, int errorCodeExtended, int locus) {
            this.kind = kind;
            this.data = data;
            this.delivery = delivery;
            this.errorCode = errorCode;
            this.errorCodeExtended = errorCodeExtended;
            this.locus = locus;
        }

        boolean isInput() {
            return kind != Kind.OTHER;
        }
    }

    private final Executor dispatcher;
    private final Owner<D> owner;
    private final Runnable release = this::releaseStep;

    /** Serialises the queue and the properties below; nothing is called while it is held. */
    private final Object lock = new Object();
    private final List<Entry<D>> queue = new ArrayList<>();
    private int dataCount;
    private boolean dataEventEnabled;
    private boolean freezeEvents;
    private boolean autoDisable;
    private boolean deviceEnabled;
    private boolean errorState;
    private boolean releaseScheduled;
    /** Changes whenever queued input is dropped, so that an answer to a dropped error is ignored. */
    private int inputGeneration;

    /**
     * @param dispatcher runs tasks on the dispatcher thread, in order, after the task it runs now
     * @param owner      the service object's side
     */
    InputModel(Executor dispatcher, Owner<D> owner) {
        this.dispatcher = Objects.requireNonNull(dispatcher, "dispatcher");
        this.owner = Objects.requireNonNull(owner, "owner");
    }

    // The stream: dispatcher thread only.

    /**
     * Queues a data event and delivers what the rules allow. Dispatcher thread only.
     *
     * @return false when the model takes no input (device disabled, also by AutoDisable) and dropped it
     */
    boolean offerData(D data) {
        boolean disableNow;
        synchronized (lock) {
            if (!deviceEnabled) {
                return false;
            }
            queue.add(new Entry<>(Kind.DATA, data, null, 0, 0, 0));
            dataCount++;
            disableNow = autoDisable;
            if (disableNow) {
                deviceEnabled = false;
            }
        }
        try {
            if (disableNow) {
                owner.autoDisable();
            }
        } finally {
            drain();  // the queued event is delivered whatever the disable did
        }
        return true;
    }

    /**
     * Queues an input error, enters the ERROR state and delivers what the rules allow. Dispatcher
     * thread only.
     *
     * @param partial what was read, for {@link Owner#fillProperties} before the error is delivered
     *                (e.g. the tracks of a swipe that lacked one); null for none
     * @return false when the model takes no input and dropped it
     */
    boolean offerError(int errorCode, int errorCodeExtended, D partial) {
        synchronized (lock) {
            if (!deviceEnabled) {
                return false;
            }
            errorState = true;
            if (dataCount > 0) {
                queue.add(indexOfFirst(Kind.DATA),
                        new Entry<>(Kind.ERROR, partial, null, errorCode, errorCodeExtended, TrovConst.JPOS_EL_INPUT_DATA));
            } else {
                queue.add(new Entry<>(Kind.ERROR, partial, null, errorCode, errorCodeExtended, TrovConst.JPOS_EL_INPUT));
            }
        }
        drain();
        return true;
    }

    /** Queues a status update event (only FreezeEvents holds it) and delivers what the rules allow. */
    void offerStatus(Runnable delivery) {
        offerOther(delivery);
    }

    /** Queues an output complete event (only FreezeEvents holds it) and delivers what the rules allow. */
    void offerOutputComplete(Runnable delivery) {
        offerOther(delivery);
    }

    private void offerOther(Runnable delivery) {
        Objects.requireNonNull(delivery, "delivery");
        synchronized (lock) {
            queue.add(new Entry<>(Kind.OTHER, null, delivery, 0, 0, 0));
        }
        drain();
    }

    // The application's side: any thread.

    void setDataEventEnabled(boolean enabled) {
        boolean schedule;
        synchronized (lock) {
            dataEventEnabled = enabled;
            schedule = enabled && releaseNeededLocked();
        }
        if (schedule) {
            scheduleRelease();
        }
    }

    boolean getDataEventEnabled() {
        synchronized (lock) {
            return dataEventEnabled;
        }
    }

    void setFreezeEvents(boolean freeze) {
        boolean schedule;
        synchronized (lock) {
            freezeEvents = freeze;
            schedule = !freeze && releaseNeededLocked();
        }
        if (schedule) {
            scheduleRelease();
        }
    }

    boolean getFreezeEvents() {
        synchronized (lock) {
            return freezeEvents;
        }
    }

    void setAutoDisable(boolean on) {
        synchronized (lock) {
            autoDisable = on;
        }
    }

    boolean getAutoDisable() {
        synchronized (lock) {
            return autoDisable;
        }
    }

    /** The number of data events queued; input error events are not counted. */
    int getDataCount() {
        synchronized (lock) {
            return dataCount;
        }
    }

    /** Whether an input error waits for, or is being handled by, the application: the ERROR state. */
    boolean inErrorState() {
        synchronized (lock) {
            return errorState;
        }
    }

    /** Drops every queued data and input error event; the ERROR state ends. */
    void clearInput() {
        synchronized (lock) {
            clearInputLocked();
        }
    }

    /** The owner reports that the device was enabled or disabled; input is taken only while enabled. */
    void deviceEnabled(boolean enabled) {
        synchronized (lock) {
            deviceEnabled = enabled;
        }
    }

    /**
     * Back to the state of a fresh opening, for open and close: every held event dropped, the
     * properties false, the device disabled. A delivery already handed to a listener runs on.
     */
    void reset() {
        synchronized (lock) {
            clearInputLocked();
            queue.clear();
            dataEventEnabled = false;
            freezeEvents = false;
            autoDisable = false;
            deviceEnabled = false;
        }
    }

    // Delivery: dispatcher thread only.

    private void releaseStep() {
        synchronized (lock) {
            releaseScheduled = false;
        }
        drain();
    }

    /** Delivers, one at a time and in queue order, every event the rules let go now. */
    private void drain() {
        while (true) {
            Entry<D> entry;
            int generation;
            synchronized (lock) {
                entry = takeDeliverableLocked();
                generation = inputGeneration;
            }
            if (entry == null) {
                return;
            }
            boolean delivered = false;
            try {
                deliver(entry, generation);
                delivered = true;
            } finally {
                if (!delivered) {
                    // The rest of the queue must not wait for the next event because this one threw.
                    scheduleRelease();
                }
            }
        }
    }

    private void deliver(Entry<D> entry, int generation) {
        switch (entry.kind) {
            case OTHER:
                entry.delivery.run();
                break;
            case DATA:
                owner.fillProperties(entry.data);
                owner.deliverData(entry.data);
                break;
            default:
                if (entry.data != null) {
                    owner.fillProperties(entry.data);
                }
                int response = TrovConst.JPOS_ER_CLEAR;
                try {
                    response = owner.deliverError(entry.errorCode, entry.errorCodeExtended, entry.locus, entry.data);
                } finally {
                    answer(entry, response, generation);
                }
                break;
        }
    }

    /** Carries out the application's answer to the input error {@code entry}. */
    private void answer(Entry<D> entry, int response, int generation) {
        boolean continueInput = response == TrovConst.JPOS_ER_CONTINUEINPUT
                && entry.locus == TrovConst.JPOS_EL_INPUT_DATA;
        boolean retried = response == TrovConst.JPOS_ER_RETRY && owner.readAgain();
        synchronized (lock) {
            if (generation != inputGeneration) {
                return;  // the application cleared the input meanwhile
            }
            if (continueInput) {
                entry.locus = TrovConst.JPOS_EL_INPUT;
                queue.add(indexAfterLastData(), entry);
            } else if (retried) {
                errorState = indexOfFirst(Kind.ERROR) < queue.size();
            } else {
                clearInputLocked();
            }
        }
    }

    private Entry<D> takeDeliverableLocked() {
        if (freezeEvents) {
            return null;
        }
        for (int i = 0; i < queue.size(); ++i) {
            Entry<D> entry = queue.get(i);
            if (!entry.isInput()) {
                return queue.remove(i);
            }
            if (dataEventEnabled) {
                dataEventEnabled = false;
                if (entry.kind == Kind.DATA) {
                    dataCount--;
                }
                return queue.remove(i);
            }
        }
        return null;
    }

    private boolean releaseNeededLocked() {
        if (releaseScheduled || freezeEvents || queue.isEmpty()) {
            return false;
        }
        releaseScheduled = true;
        return true;
    }

    private void scheduleRelease() {
        synchronized (lock) {
            releaseScheduled = true;
        }
        try {
            dispatcher.execute(release);
        } catch (RuntimeException | Error e) {
            synchronized (lock) {
                releaseScheduled = false;
            }
            throw e;
        }
    }

    private void clearInputLocked() {
        queue.removeIf(Entry::isInput);
        dataCount = 0;
        errorState = false;
        inputGeneration++;
    }

    /** The index of the first entry of {@code kind}, or the queue's size when there is none. */
    private int indexOfFirst(Kind kind) {
        for (int i = 0; i < queue.size(); ++i) {
            if (queue.get(i).kind == kind) {
                return i;
            }
        }
        return queue.size();
    }

    /** The index just after the last data entry, or the queue's size when there is none. */
    private int indexAfterLastData() {
        for (int i = queue.size() - 1; i >= 0; --i) {
            if (queue.get(i).kind == Kind.DATA) {
                return i + 1;
            }
        }
        return queue.size();
    }
}
