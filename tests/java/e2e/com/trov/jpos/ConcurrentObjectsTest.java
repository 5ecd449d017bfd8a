// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

/**
 * Races between power-offs, queries, opens and closes on many threads, over the stand-in native layer
 * so that a thousand openings take seconds. Every test runs under a watchdog that dumps the stacks of
 * all threads and fails when it hangs.
 */
class ConcurrentObjectsTest extends StandInFixture {
    private static final long WATCHDOG_MS = 300_000;

    /**
     * 1000 power-offs of a claimed keylock object that another thread queries all the time, each
     * while an MSR object is being opened: in a third of the trials the power-off comes just before
     * the MSR's native open, in a third just after it, in a third on another thread at the same time.
     * Every power-off is heard; the MSR object is either closed by it and hears it too, or open in the
     * next opening; a stale close leaves the counts alone.
     */
    @Test
    void noPowerOffIsLostToQueriesOrOpensAndStaleClosesLeaveTheCountsAlone() throws Exception {
        withWatchdog(() -> {
            AtomicReference<TrovService> polled = new AtomicReference<>();
            Thread hammer = new Thread(() -> {
                while (!Thread.currentThread().isInterrupted()) {
                    TrovService service = polled.get();
                    if (service != null) {
                        service.getState();
                        service.isClaimed();
                        Thread.yield();  // kind to an emulated JVM on shared cores
                    }
                }
            });
            hammer.start();
            List<TrovService> all = new ArrayList<>();
            try {
                for (int trial = 0; trial < 1000; ++trial) {
                    stand.replug();
                    TrovKeylockService keylock = new TrovKeylockService();
                    TrovMSRService msr = new TrovMSRService();
                    Recorder<Integer> keylockHeard = Recorder.statusesOf(keylock);
                    Recorder<Integer> msrHeard = Recorder.statusesOf(msr);
                    keylock.open();
                    keylock.claim(0);
                    polled.set(keylock);
                    Thread powerOff = new Thread(stand::powerOffOnItsThread);
                    if (trial % 3 == 2) {
                        powerOff.start();
                    } else {
                        stand.aroundNextOpen(trial % 3 == 0, stand::powerOffOnItsThread);
                    }
                    msr.open();
                    if (trial % 3 == 2) {
                        powerOff.join();
                    }

                    assertEquals(TrovConst.SUE_POWER_OFF_OFFLINE, keylockHeard.next(WAIT_MS), "trial " + trial);
                    // Off-line, whenever the power-off came: open, the claim kept, nothing open natively.
                    assertEquals(TrovConst.JPOS_S_IDLE, keylock.getState());
                    assertTrue(keylock.isClaimed(), "trial " + trial);
                    assertEquals(TrovConst.JPOS_S_IDLE, msr.getState(), "trial " + trial);
                    assertEquals("closed {}", stand.counts(), "trial " + trial);
                    keylock.close();
                    assertEquals("closed {}", stand.counts(), "trial " + trial);
                    msr.close();
                    assertEquals("closed {}", stand.counts());
                    assertTrue(msrHeard.all().stream().allMatch(s -> s == TrovConst.SUE_POWER_OFF_OFFLINE), "trial " + trial);
                    all.add(keylock);
                    all.add(msr);
                }
            } finally {
                hammer.interrupt();
                hammer.join();
            }
            awaitTrue(() -> TrovService.dispatcherThread() == null, "the event thread to end once every object is closed");
        });
    }

    /**
     * close() of every object from the listeners of two and of four services at once, 100 trials for
     * each count, with all listeners closing in the same order and with each closing the others first.
     */
    @Test
    void closeFromTheListenersOfSeveralServicesNeverHangs() throws Exception {
        withWatchdog(() -> {
            for (int count : new int[] {2, 4}) {
                for (boolean sameOrder : new boolean[] {true, false}) {
                    for (int trial = 0; trial < 100; ++trial) {
                        closeEachOtherFromListeners(count, sameOrder);
                    }
                }
            }
        });
    }

    private void closeEachOtherFromListeners(int count, boolean sameOrder) throws Exception {
        List<TrovService> services = List.<TrovService>of(new TrovKeylockService(), new TrovMSRService(),
                new TrovPOSKeyboardService(), new TrovToneIndicatorService()).subList(0, count);
        // The first listener closes every object: the events queued for the others are then dropped.
        CountDownLatch closed = new CountDownLatch(1);
        for (int i = 0; i < count; ++i) {
            List<TrovService> order = new ArrayList<>(services);
            if (!sameOrder) {
                Collections.rotate(order, -(i + 1));  // the others first, its own object last
            }
            services.get(i).addStatusUpdateListener(e -> {
                order.forEach(TrovService::close);
                closed.countDown();
            });
            services.get(i).setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            services.get(i).open();
        }
        Thread raise = new Thread(() -> stand.status(TrovConst.SUE_POWER_ONLINE));
        raise.start();
        closed.await();
        raise.join();
        for (TrovService service : services) {
            assertEquals(TrovConst.JPOS_S_CLOSED, service.getState());
        }
        assertEquals("closed {}", stand.counts());
    }

    /**
     * 200 times: the dying opening raises a key after its power-off, and the keyboard comes back at
     * once; the keyboard object, never reopened, hears the power-off, the return and then the next key.
     */
    @Test
    void anObjectKeptThroughAPowerOffGetsNothingOfTheOldOpeningAfterIt() throws Exception {
        DeviceSession.searchEvery(1);
        try {
            withWatchdog(() -> {
                for (int trial = 0; trial < 200; ++trial) {
                    stand.replug();
                    TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
                    Recorder<String> heard = new Recorder<>();
                    keyboard.addDataListener(e -> heard.add("key " + e.getKeyCode()));
                    keyboard.addStatusUpdateListener(e -> heard.add("status " + e.getStatus()));
                    SimulatedKeyboardFixture.ready(keyboard);
                    Thread powerOff = new Thread(() -> stand.powerOff(() -> stand.key(1)));
                    powerOff.start();
                    powerOff.join();
                    stand.replug();
                    assertEquals(List.of("status 2004", "status 2001"), heard.next(2, WAIT_MS), "trial " + trial);
                    stand.key(2);
                    assertEquals("key 2", heard.next(WAIT_MS), "trial " + trial);
                    assertEquals("open {KEYBOARD=1}", stand.counts(), "trial " + trial);
                    keyboard.close();
                    assertEquals(List.of("status 2004", "status 2001", "key 2"), heard.all(), "trial " + trial);
                    assertEquals("closed {}", stand.counts());
                }
            });
        } finally {
            DeviceSession.searchEvery(1000);
        }
    }


    private static void open(TrovService service) {
        try {
            service.open();
        } catch (TrovException e) {
            throw new AssertionError(e);
        }
    }

    private static void claimAndEnable(TrovService service) {
        try {
            service.claim(0);
            service.setDeviceEnabled(true);
            KeyboardFixture.hearAll(service);
        } catch (TrovException e) {
            throw new AssertionError(e);
        }
    }

    private static void awaitTrue(java.util.function.BooleanSupplier condition, String what) throws Exception {
        SimulatedKeyboardFixture.awaitTrue(condition, WAIT_MS, what);
    }

    interface Body {
        void run() throws Exception;
    }

    /** Runs {@code body} on a thread of its own; when it hangs, dumps every thread's stack and fails. */
    private static void withWatchdog(Body body) throws Exception {
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread runner = new Thread(() -> {
            try {
                body.run();
            } catch (Throwable t) {
                failure.set(t);
            }
        }, "watched-test-body");
        runner.start();
        runner.join(WATCHDOG_MS);
        if (runner.isAlive()) {
            StringBuilder dump = new StringBuilder("hung; the stacks of all threads:\n");
            for (Map.Entry<Thread, StackTraceElement[]> entry : Thread.getAllStackTraces().entrySet()) {
                dump.append('"').append(entry.getKey().getName()).append("\" ").append(entry.getKey().getState()).append('\n');
                for (StackTraceElement frame : entry.getValue()) {
                    dump.append("    at ").append(frame).append('\n');
                }
            }
            System.err.println(dump);
            fail(dump.toString());
        }
        if (failure.get() instanceof Exception e) {
            throw e;
        }
        if (failure.get() instanceof Error e) {
            throw e;
        }
        assertTrue(failure.get() == null, String.valueOf(failure.get()));
    }
}
