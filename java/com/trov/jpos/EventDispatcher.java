package com.trov.jpos;

import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.function.BiConsumer;

/**
 * Hands device events to application listeners on one Java daemon thread per service object.
 *
 * <p>The native layer reports events on its own threads, and its close waits for those threads
 * while the application thread that called close holds the service lock. So the native threads
 * only {@linkplain #submit(Runnable) queue} an event here, which never blocks and never takes a
 * service lock; this thread then calls the listeners, in the order the events were queued. A slow
 * listener therefore delays later events but never stalls the device.
 *
 * <p>A throwable from a listener is reported to the default uncaught exception handler, or logged
 * when there is none, and the remaining listeners and events are still delivered.
 */
final class EventDispatcher {

    private static final System.Logger LOGGER = System.getLogger("com.trov.jpos");

    /** Queued by {@link #finish()}: the thread ends when it reaches it. */
    private static final Runnable END = () -> { };

    private final LinkedBlockingQueue<Runnable> queue = new LinkedBlockingQueue<>();
    private final Thread thread;
    private volatile boolean finishing;

    /**
     * Creates and starts a dispatcher.
     *
     * @param threadName name of the dispatcher thread, e.g. {@code TrovJPOS-keylock-events}
     */
    EventDispatcher(String threadName) {
        thread = new Thread(this::run, threadName);
        thread.setDaemon(true);
        thread.start();
    }

    /**
     * Queues a task for the dispatcher thread. Never blocks. A task queued after {@link #finish()}
     * is dropped.
     *
     * @return whether the task was queued
     */
    boolean submit(Runnable task) {
        if (finishing) {
            return false;
        }
        return queue.offer(task);
    }

    /**
     * Lets the tasks queued so far run, then ends the thread. Returns at once.
     */
    void finish() {
        finishing = true;
        queue.offer(END);
    }

    /**
     * {@linkplain #finish() Finishes} and waits until the thread has delivered the queued events and
     * ended. Called on the dispatcher thread itself (a listener closing its service), it does not
     * wait, since the thread cannot end while it runs that listener. An interrupt stops the waiting
     * and is kept set on the calling thread.
     */
    void finishAndAwait() {
        finish();
        if (isDispatcherThread()) {
            return;
        }
        try {
            thread.join();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** Tells whether the calling thread is this dispatcher's thread. */
    boolean isDispatcherThread() {
        return Thread.currentThread() == thread;
    }

    /** The dispatcher thread, for tests and diagnostics. */
    Thread thread() {
        return thread;
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

    private void run() {
        while (true) {
            Runnable task;
            try {
                task = queue.take();
            } catch (InterruptedException e) {
                // Only finish() ends the dispatcher, so that no queued event is lost.
                continue;
            }
            if (task == END) {
                return;
            }
            try {
                task.run();
            } catch (Throwable t) {
                report(t);
            }
        }
    }

    /** Reports a throwable from an application listener without printing to standard output. */
    static void report(Throwable t) {
        Thread.UncaughtExceptionHandler handler = Thread.getDefaultUncaughtExceptionHandler();
        try {
            if (handler != null) {
                handler.uncaughtException(Thread.currentThread(), t);
                return;
            }
        } catch (Throwable handlerFailure) {
            t.addSuppressed(handlerFailure);
        }
        LOGGER.log(System.Logger.Level.WARNING, "A TrovJPOS event listener threw an exception", t);
    }
}
