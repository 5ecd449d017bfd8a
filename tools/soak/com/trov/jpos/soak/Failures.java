// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicLong;

/**
 * The failures of a run, each under a category, and the watch over calls that take too long. A category
 * named in the tolerated set is still printed but does not fail the run: that is how a run is judged
 * while a known fault is still being fixed elsewhere.
 */
final class Failures {
    /** Longest a call may take before the run fails. */
    static final long CALL_LIMIT_NS = 5_000_000_000L;
    /** A call this long is taken as never returning: the run ends there, whatever is tolerated. */
    static final long HANG_LIMIT_NS = 60_000_000_000L;

    private final Set<String> tolerated;
    private final Map<String, AtomicLong> counts = new ConcurrentHashMap<>();
    private final Map<String, String> firstSeen = new ConcurrentHashMap<>();

    Failures(Set<String> tolerated) {
        this.tolerated = tolerated;
    }

    /** Records a failure; the first of each category is printed at once with its detail. */
    void fail(String category, String detail) {
        long n = counts.computeIfAbsent(category, c -> new AtomicLong()).incrementAndGet();
        if (n == 1) {
            firstSeen.put(category, detail);
            System.out.println("FAILURE " + category + (tolerated.contains(category) ? " (tolerated)" : "") + ": " + detail);
            System.out.flush();
        }
    }

    /** True when a failure of a category that is not tolerated was recorded. */
    boolean failed() {
        return counts.keySet().stream().anyMatch(c -> !tolerated.contains(c));
    }

    void print() {
        if (counts.isEmpty()) {
            System.out.println("failures: none");
            return;
        }
        for (Map.Entry<String, AtomicLong> e : new TreeMap<>(counts).entrySet()) {
            System.out.printf("failures: %-20s %6d%s  first: %s%n", e.getKey(), e.getValue().get(),
                    tolerated.contains(e.getKey()) ? " (tolerated)" : "", firstSeen.get(e.getKey()));
        }
    }

    /** Every Java thread's stack, as the record of a hang. */
    static void dumpStacks() {
        StringBuilder out = new StringBuilder("---- stacks of every thread\n");
        for (Map.Entry<Thread, StackTraceElement[]> e : Thread.getAllStackTraces().entrySet()) {
            Thread t = e.getKey();
            out.append('"').append(t.getName()).append("\" ").append(t.getState()).append('\n');
            for (StackTraceElement frame : e.getValue()) {
                out.append("    at ").append(frame).append('\n');
            }
        }
        System.out.print(out.append("---- end of stacks\n"));
        System.out.flush();
    }

    /** One thread's current call, watched by {@link #watch}. */
    static final class Slot {
        final String owner;
        volatile String call;
        volatile long since;
        volatile boolean reported;

        Slot(String owner) {
            this.owner = owner;
        }

        void begin(String what) {
            call = what;
            reported = false;
            since = System.nanoTime();
        }

        void end() {
            call = null;
        }
    }

    private final Set<Slot> slots = ConcurrentHashMap.newKeySet();

    Slot slot(String owner) {
        Slot s = new Slot(owner);
        slots.add(s);
        return s;
    }

    /**
     * Starts the watchdog: a call that takes longer than 5 s dumps every stack and is a "slow-call"
     * failure; unless that category is tolerated the run ends there with exit status 1. A call that has
     * not returned in 60 s is a "hang", which always ends the run.
     */
    void watch(Runnable summary) {
        Thread dog = new Thread(() -> {
            while (true) {
                try {
                    Thread.sleep(200);
                } catch (InterruptedException e) {
                    return;
                }
                long now = System.nanoTime();
                for (Slot s : slots) {
                    String call = s.call;
                    if (call != null && now - s.since > HANG_LIMIT_NS) {
                        fail("hang", s.owner + ": " + call + " has not returned in 60 s");
                        dumpStacks();
                        summary.run();
                        Runtime.getRuntime().halt(1);
                    }
                    if (call != null && !s.reported && now - s.since > CALL_LIMIT_NS) {
                        s.reported = true;
                        fail("slow-call", s.owner + ": " + call + " has taken more than 5 s");
                        if (counts.get("slow-call").get() <= 3) {
                            dumpStacks();  // the first few show where such calls wait
                        }
                        if (!tolerated.contains("slow-call")) {
                            summary.run();
                            Runtime.getRuntime().halt(1);
                        }
                    }
                }
            }
        }, "soak-watchdog");
        dog.setDaemon(true);
        dog.start();
    }
}
