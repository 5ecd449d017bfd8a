package com.trov.jpos;

import java.util.ArrayDeque;
import java.util.List;
import java.util.function.BiConsumer;

/**
 * Hands the events of one service object to its application listeners, in the order they were
 * queued, on a Java daemon thread of its own.
 *
 * <p>Native threads only {@linkplain #submit(Runnable) queue} an event here: that takes this
 * dispatcher's monitor for a moment, never a service lock, and never waits for a listener. The
 * thread runs while its object is open and ends by itself once the object is closed and the events
 * queued before have been delivered; nobody ever waits for it. One dispatcher serves its object
 * through all of its openings, so the events of an earlier opening are always delivered before
 * those of a later one, even when the object is opened again from one of its own listeners.
 *
 * <p>A throwable from a listener is logged as a warning and handed to the default uncaught exception
 * handler when there is one, and the remaining listeners and events are still delivered.
 */
final class EventDispatcher {

    private static final System.Logger LOGGER = System.getLogger("com.trov.jpos");

    private final String threadName;

    // Guarded by this monitor, which is held only to move tasks in and out, never while a task runs.
    private final ArrayDeque<Runnable> queue = new ArrayDeque<>();
    private Thread thread;
    private boolean open;

    /** @param threadName name of the dispatcher thread, e.g. {@code TrovJPOS-keylock-events} */
    EventDispatcher(String threadName) {
        this.threadName = threadName;
    }

    /** Keeps the thread running (starting it when none runs) until {@link #close()}. */
    synchronized void open() {
        open = true;
        startIfIdle();
    }

    /** Lets the thread end once the tasks queued so far have run. Returns at once. */
    synchronized void close() {
        open = false;
        notifyAll();
    }

    /** Queues a task for the thread. Never waits for the thread. */
    synchronized void submit(Runnable task) {
        queue.add(task);
        startIfIdle();
        notifyAll();
    }

    /** The dispatcher thread, or null when none runs; for tests and diagnostics. */
    synchronized Thread thread() {
        return thread;
    }

    private void startIfIdle() {
        if (thread == null) {
            thread = new Thread(this::run, threadName);
            thread.setDaemon(true);
            thread.start();
        }
    }

    private void run() {
        while (true) {
            Runnable task;
            synchronized (this) {
                while (queue.isEmpty() && open) {
                    try {
                        wait();
                    } catch (InterruptedException e) {
                        // Only close() ends the dispatcher, so that no queued event is lost.
                    }
                }
                task = queue.poll();
                if (task == null) {
                    thread = null;
                    return;
                }
            }
            try {
                task.run();
            } catch (Throwable t) {
                report(t);
            }
        }
    }

    /**
     * Calls {@code call} for each listener in {@code listeners}, reporting and otherwise ignoring any
     * throwable, so that one failing listener does not keep the event from the others.
     */
    static <L, E> void deliver(List<L> listeners, E event, BiConsumer<L, E> call) {
        for (L listener : listeners) {
            try {
                call.accept(listener, event);
            } catch (Throwable t) {
                report(t);
            }
        }
    }

    /**
     * Logs a throwable from an application listener as a warning with its stack, and hands it to the
     * default uncaught exception handler when there is one.
     */
    static void report(Throwable t) {
        LOGGER.log(System.Logger.Level.WARNING, "A listener on " + Thread.currentThread().getName()
                + " threw; the other listeners and later events are still delivered", t);
        Thread.UncaughtExceptionHandler handler = Thread.getDefaultUncaughtExceptionHandler();
        if (handler != null) {
            try {
                handler.uncaughtException(Thread.currentThread(), t);
            } catch (Throwable handlerFailure) {
                LOGGER.log(System.Logger.Level.WARNING, "The default uncaught exception handler threw", handlerFailure);
            }
        }
    }
}
