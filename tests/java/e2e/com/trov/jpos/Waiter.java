// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;

/** Runs one blocking call on a thread of its own, for a test to see it block, wake it and read how it ended. */
final class Waiter {
    interface Call {
        Object call() throws TrovException;
    }

    interface Step {
        void run() throws TrovException;
    }

    private final Thread thread;
    private final FutureTask<String> outcome;

    /** Starts {@code call} and returns once its thread waits (or the call has ended). */
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
        while (!outcome.isDone() && thread.getState() != Thread.State.WAITING
                && thread.getState() != Thread.State.TIMED_WAITING) {
            Thread.sleep(1);
        }
    }

    /** The result code {@code step} fails with. */
    static int failure(Step step) {
        return assertThrows(TrovException.class, step::run).getErrorCode();
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
