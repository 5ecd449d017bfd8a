// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.ArrayDeque;
import java.util.Collection;
import java.util.List;

/**
 * The one event queue of the process and its one delivery thread: every event the library raises, of
 * every service, is queued here in the order the library raised it and handed to its target objects
 * in that order, one at a time, on the daemon thread {@code TrovJPOS-events}.
 *
 * <p>Queueing. The library's threads call the service classes' listener methods, which route each
 * event through {@link DeviceSession} to {@link #queue}: under this queue's lock the event gets the
 * next sequence number of the process and the {@link System#nanoTime()} of that moment, and one
 * {@link QueuedEvent} per target object is appended. That is all a library thread does here: it never
 * waits for a listener, and a slow listener never stalls the device or the library. It delays every
 * later event of the process instead, since there is one order.
 *
 * <p>Delivery. The thread takes one queued event at a time and calls
 * {@link TrovService#deliver(QueuedEvent)} with no lock held. That method is the single step at which
 * an event meets its object: it drops an event whose object was closed, reopened or (for events that
 * need an enabled object) disabled since it was queued, and otherwise calls the object's listeners.
 * Anything that must hold events back or reorder them per object plugs in there, on this thread.
 *
 * <p>Life of the thread. It is started when an object opens or an event is queued and none runs, and
 * ends once no object holds it ({@link #hold}/{@link #release}) and the queue is empty. Nobody ever
 * waits for it. A throwable from a listener, or from logging it, never ends it.
 *
 * <p>Lock order: a session's monitor, then this queue's lock; no lock is held while a listener runs.
 */
final class EventDispatcher {


    static final String THREAD_NAME = "TrovJPOS-events";

    /** Guards everything below; held only to stamp, queue and take events, never while one is delivered. */
    private static final Object LOCK = new Object();
    private static final ArrayDeque<QueuedEvent> QUEUE = new ArrayDeque<>();
    private static Thread thread;
    private static long sequence;
    /** Open objects that keep the thread alive while idle. */
    private static int holders;

    private EventDispatcher() {
    }

    /** Keeps the thread running (starting it when none runs) until {@link #release} of {@code service}. */
    static void hold(TrovService service) {
        synchronized (LOCK) {
            if (!service.holdsDispatcher) {
                service.holdsDispatcher = true;
                holders++;
            }
            startIfIdle();
        }
    }

    /** Lets the thread end, once idle, as far as {@code service} goes. Returns at once. */
    static void release(TrovService service) {
        synchronized (LOCK) {
            if (service.holdsDispatcher) {
                service.holdsDispatcher = false;
                holders--;
                LOCK.notifyAll();
            }
        }
    }

    /**
     * Stamps {@code event} and queues it for each of {@code targets} (only the enabled ones when
     * {@code enabledOnly}). Called on the library's threads with the targets' session monitor held.
     */
    static void queue(List<TrovService> targets, TrovEvent event, boolean enabledOnly) {
        synchronized (LOCK) {
            event.stamp(++sequence, System.nanoTime());
            add(targets, event, enabledOnly);
            wake();
        }
    }

    /** Stamps {@code event} once and queues it for every object of every list; as {@link #queue}. */
    static void queueToAll(Collection<List<TrovService>> targets, TrovEvent event) {
        synchronized (LOCK) {
            event.stamp(++sequence, System.nanoTime());
            for (List<TrovService> list : targets) {
                add(list, event, false);
            }
            wake();
        }
    }

    /** Gives {@code event} the next place in the order of the process, without queueing it. Any thread. */
    static void stamp(TrovEvent event) {
        synchronized (LOCK) {
            event.stamp(++sequence, System.nanoTime());
        }
    }

    /**
     * Queues {@code task} to run on the event thread after what is queued now, with no sequence number:
     * how an object delivers the events it held back, in the one thread and after the stream so far.
     * Any thread; never waits.
     */
    static void task(TrovService target, Runnable task) {
        synchronized (LOCK) {
            QUEUE.add(new QueuedEvent(target, task));
            wake();
        }
    }

    private static void add(List<TrovService> targets, TrovEvent event, boolean enabledOnly) {
        for (TrovService target : targets) {
            if (!enabledOnly) {
                QUEUE.add(new QueuedEvent(target, event, target.opening, target.epoch, target.inputClears, false));
            } else if (target.enabled) {
                target.routed(event);
                QUEUE.add(new QueuedEvent(target, event, target.opening, target.epoch, target.inputClears, true));
            }
        }
    }

    private static void wake() {
        if (!QUEUE.isEmpty()) {
            startIfIdle();
            LOCK.notifyAll();
        }
    }

    /** The delivery thread, or null when none runs; for tests and diagnostics. */
    static Thread thread() {
        synchronized (LOCK) {
            return thread;
        }
    }

    private static void startIfIdle() {
        if (thread != null) {
            return;
        }
        Thread started = new Thread(EventDispatcher::run, THREAD_NAME);
        started.setDaemon(true);
        try {
            started.start();
        } catch (Throwable t) {
            // No thread now (the VM is out of threads): the events stay queued, the next event or open
            // tries again. Never thrown into a library thread.
            return;
        }
        thread = started;
    }

    private static void run() {
        try {
            while (true) {
                QueuedEvent next;
                synchronized (LOCK) {
                    while (QUEUE.isEmpty() && holders > 0) {
                        try {
                            LOCK.wait();
                        } catch (InterruptedException e) {
                            // Only an idle queue without holders ends the thread, so that no event is lost.
                        }
                    }
                    next = QUEUE.poll();
                    if (next == null) {
                        thread = null;
                        return;
                    }
                }
                try {
                    if (next.task != null) {
                        next.task.run();
                    } else {
                        next.target.deliver(next);
                    }
                } catch (Throwable t) {
                    report(t);
                }
            }
        } finally {
            // Reached by an error no catch could keep (report() itself never throws): make way for a
            // new thread, which the next event or open starts.
            synchronized (LOCK) {
                if (thread == Thread.currentThread()) {
                    thread = null;
                    if (!QUEUE.isEmpty()) {
                        startIfIdle();
                    }
                }
            }
        }
    }

    /**
     * Calls {@code call} for each listener in {@code listeners}, reporting and otherwise ignoring any
     * throwable, so that one failing listener does not keep the event from the others.
     */
    static <L, E> void deliver(List<L> listeners, E event, java.util.function.BiConsumer<L, E> call) {
        deliver(listeners, event, call, () -> true);
    }

    /** As {@link #deliver(List, Object, java.util.function.BiConsumer)}, asking {@code still} before each listener. */
    static <L, E> void deliver(List<L> listeners, E event, java.util.function.BiConsumer<L, E> call,
                               java.util.function.BooleanSupplier still) {
        for (L listener : listeners) {
            if (!still.getAsBoolean()) {
                return;
            }
            try {
                call.accept(listener, event);
            } catch (Throwable t) {
                report(t);
            }
        }
    }

    /**
     * Logs a throwable from an application listener as a warning with its stack, and hands it to the
     * default uncaught exception handler when there is one. Never throws: a log handler that fails, or
     * an OutOfMemoryError while the message is built, is swallowed, so that later events still come.
     */
    static void report(Throwable t) {
        try {
            ServiceLog.log(System.Logger.Level.WARNING, "A listener on " + Thread.currentThread().getName()
                    + " threw; the other listeners and later events are still delivered", t);
        } catch (Throwable logFailure) {
            // The message could not be built (out of memory): nothing more can be said about it.
        }
        try {
            Thread.UncaughtExceptionHandler handler = Thread.getDefaultUncaughtExceptionHandler();
            if (handler != null) {
                handler.uncaughtException(Thread.currentThread(), t);
            }
        } catch (Throwable handlerFailure) {
            // The application's handler failed; the events go on.
        }
    }
}
