// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * One event on its way to one object: what {@link EventDispatcher} queues and
 * {@link TrovService#deliver(QueuedEvent)} hands over. It keeps the object's opening and epoch of the
 * moment it was queued, and its count of input clears, for {@link TrovService#mayReach(QueuedEvent)}.
 */
final class QueuedEvent {
    final TrovService target;
    final TrovEvent event;
    /** {@link TrovService#opening} when queued. */
    final int opening;
    /** {@link TrovService#epoch} when queued. */
    final int epoch;
    /** {@link TrovService#inputClears} when queued. */
    final int inputClears;
    /** Whether the event needs an enabled object (keys, swipes, keylock positions); power states do not. */
    final boolean enabledOnly;

    /** A step of the object's own (a release of held events) run in place of a delivery; null for an event. */
    final Runnable task;

    QueuedEvent(TrovService target, TrovEvent event, int opening, int epoch, int inputClears, boolean enabledOnly) {
        this.target = target;
        this.event = event;
        this.opening = opening;
        this.epoch = epoch;
        this.inputClears = inputClears;
        this.enabledOnly = enabledOnly;
        this.task = null;
    }

    QueuedEvent(TrovService target, Runnable task) {
        this.target = target;
        this.event = null;
        this.opening = 0;
        this.epoch = 0;
        this.inputClears = 0;
        this.enabledOnly = false;
        this.task = task;
    }
}
