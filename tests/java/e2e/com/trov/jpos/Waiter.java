package com.trov.jpos;

import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;

/** Runs one blocking call on a thread of its own, for a test to see it block, wake it and read how it ended. */
final class Waiter {

    /** A call that may fail with a result code. */
    @FunctionalInterface
    interface Call {
        Object call() throws TrovException;
    }

    private final Thread thread;
    private final FutureTask<String> outcome;

    /** Starts {@code call} and returns once its thread waits. */
    Waiter(Call call) throws InterruptedException {
        outcome = new FutureTask<>(() -> {
            try {
                return "returned " + call.call();
            } catch (TrovException e) {
                return "failed " + e.getErrorCode() + (Thread.currentThread().isInterrupted() ? " interrupted" : "");
            }
        });
        thread = new Thread(outcome, "waiter");
        thread.setDaemon(true);
        thread.start();
        while (thread.getState() != Thread.State.WAITING && thread.getState() != Thread.State.TIMED_WAITING) {
            if (outcome.isDone()) {
                break;
            }
            Thread.sleep(1);
        }
    }

    void interrupt() {
        thread.interrupt();
    }

    boolean isDone() {
        return outcome.isDone();
    }

    /** "returned X" or "failed CODE [interrupted]"; fails the test when the call has not ended within 10 s. */
    String outcome() throws Exception {
        return outcome.get(10, TimeUnit.SECONDS);
    }
}
