package com.trov.jpos.hil;

import static org.junit.jupiter.api.Assertions.fail;

import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

/** Events a listener received, in order, for a test to wait for. */
final class EventQueue<E> {
    private final LinkedBlockingQueue<E> queue = new LinkedBlockingQueue<>();

    void add(E event) {
        queue.add(event);
    }

    /** The next event, failing the test when none comes within the limit. */
    E next(Duration limit, String what) {
        try {
            E event = queue.poll(limit.toMillis(), TimeUnit.MILLISECONDS);
            if (event == null) {
                fail("no " + what + " within " + limit.toMillis() + " ms");
            }
            return event;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted", e);
        }
    }

    /** Waits for an event that matches, dropping the ones before it; fails the test when none comes. */
    E awaitMatching(Predicate<E> wanted, Duration limit, String what) {
        long end = System.nanoTime() + limit.toNanos();
        List<E> skipped = new ArrayList<>();
        while (true) {
            long left = end - System.nanoTime();
            E event = null;
            try {
                event = left > 0 ? queue.poll(left, TimeUnit.NANOSECONDS) : null;
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new IllegalStateException("interrupted", e);
            }
            if (event == null) {
                fail("no " + what + " within " + limit.toMillis() + " ms; got " + skipped);
            }
            if (wanted.test(event)) {
                return event;
            }
            skipped.add(event);
        }
    }

    /** The events that arrive within the given time. */
    List<E> collect(Duration during) {
        FirmwareLink.pause(during.toMillis());
        List<E> events = new ArrayList<>();
        queue.drainTo(events);
        return events;
    }
}
