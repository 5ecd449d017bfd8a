package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import java.util.ArrayList;
import java.util.List;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/**
 * A simulated keyboard at node 0 for each test, and every service a test made closed after it, so that
 * the process-wide native state is back at rest for the next test.
 */
abstract class SimulatedKeyboardFixture {
    static {
        QuietLog.install();
    }

    static final int NODE = 0;
    /** Longest wait for an event that should come; generous for the emulated 32-bit JVM. */
    static final long EVENT_WAIT_MS = 8000;

    private final List<TrovService> services = new ArrayList<>();

    @BeforeEach
    void plugTheKeyboard() throws Exception {
        SimKeyboard.reset();
        assertFalse(ClaimSegment.exists(), "a claim segment is left over from an earlier test");
        SimKeyboard.plugKeyboard(NODE);
    }

    @AfterEach
    void closeEverything() {
        services.forEach(TrovService::close);
        SimKeyboard.reset();
    }

    TrovKeylockService keylock() {
        return closedAfterTest(new TrovKeylockService());
    }

    TrovPOSKeyboardService keyboard() {
        return closedAfterTest(new TrovPOSKeyboardService());
    }

    TrovMSRService msr() {
        return closedAfterTest(new TrovMSRService());
    }

    TrovToneIndicatorService tone() {
        return closedAfterTest(new TrovToneIndicatorService());
    }

    private <S extends TrovService> S closedAfterTest(S service) {
        services.add(service);
        return service;
    }

    /** Opens, claims and enables. */
    static <S extends TrovService> S ready(S service) throws TrovException {
        service.open();
        service.claim();
        service.setDeviceEnabled(true);
        return service;
    }

    /** Presence tests the keyboard got so far; the power-status poller makes one a second. */
    static long presenceTests() {
        return SimKeyboard.count(NODE, SimKeyboard.REQ_GDEVINFO);
    }

    /** Waits until the poller has tested the keyboard's presence {@code polls} more times. */
    static void awaitPolls(int polls) throws InterruptedException {
        long target = presenceTests() + polls;
        awaitTrue(() -> presenceTests() >= target, 1000L * polls + EVENT_WAIT_MS, "the poller to test the keyboard");
    }

    static void awaitTrue(BooleanSupplier condition, long timeoutMs, String what) throws InterruptedException {
        long deadline = System.nanoTime() + timeoutMs * 1_000_000;
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < deadline, "waited " + timeoutMs + " ms for " + what);
            Thread.sleep(20);
        }
    }

    /** The command bytes the keyboard received, once at least {@code count} arrived. */
    static byte[] receivedAtLeast(int count) {
        SimKeyboard.waitReceived(NODE, count, (int) EVENT_WAIT_MS);
        return SimKeyboard.received(NODE);
    }

    static byte[] bytes(int... values) {
        byte[] out = new byte[values.length];
        for (int i = 0; i < values.length; ++i) {
            out[i] = (byte) values[i];
        }
        return out;
    }

    static byte[] filled(int length, int value) {
        byte[] out = new byte[length];
        java.util.Arrays.fill(out, (byte) value);
        return out;
    }
}
