// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/**
 * The scenarios' keyboard ({@link KeyboardControl#selected()}: the simulator, or the firmware behind the
 * real driver), as at power-up and plugged in for each test, and every service a test made closed after
 * it, so that the process-wide native state is back at rest for the next test.
 *
 * <p>A scenario that needs what only one keyboard offers ends its name in {@code OnTheSimulator} or
 * {@code OnTheRealDriver} and is skipped on the other with the reason ({@link #assumeSimulator}).
 */
abstract class KeyboardFixture {
    static {
        QuietLog.install();
    }

    static final KeyboardControl KEYBOARD = KeyboardControl.selected();
    /** Longest wait for an event that should come; generous for a JVM in an emulated machine. */
    static final long EVENT_WAIT_MS = 8000;

    private final List<TrovService> services = new ArrayList<>();
    private static int receivedAtStart;

    @BeforeEach
    void plugTheKeyboard() throws Exception {
        KEYBOARD.reset();
        assertFalse(ClaimSegment.exists(), "a claim segment is left over from an earlier test");
        receivedAtStart = KEYBOARD.received();
    }

    @AfterEach
    void closeEverything() {
        services.forEach(TrovService::close);
    }

    /** Skips the test unless the keyboard is the simulator, saying why. */
    static void assumeSimulator(String why) {
        assumeTrue(KEYBOARD.simulated(), () -> "runs on the simulator only: " + why);
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

    /**
     * Opens, claims and enables; an input service also hears every key down and up, or every swipe,
     * whichever tracks it has (with a listener from {@link Recorder} that sets DataEventEnabled again).
     */
    static <S extends TrovService> S ready(S service) throws TrovException {
        if (!service.getDeviceEnabled()) {
            service.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
        }
        service.open();
        service.claim(0);
        service.setDeviceEnabled(true);
        hearAll(service);
        return service;
    }

    /** For an input service: DataEventEnabled, key ups too, no track required. */
    static void hearAll(TrovService service) throws TrovException {
        if (service instanceof TrovPOSKeyboardService) {
            TrovPOSKeyboardService keyboard = (TrovPOSKeyboardService) service;
            keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
            keyboard.addDataListener(e -> Recorder.rearm(keyboard));
        }
        if (service instanceof TrovMSRService) {
            TrovMSRService msr = (TrovMSRService) service;
            msr.setTracksToRead(0);
            msr.addDataListener(e -> Recorder.rearm(msr));
        }
        if (service instanceof TrovInputService) {
            ((TrovInputService) service).setDataEventEnabled(true);
        }
    }

    /** Returns once the power-status poller has had {@code polls} more chances to test the keyboard. */
    static void awaitPolls(int polls) throws InterruptedException {
        KEYBOARD.awaitPolls(polls);
    }

    static void awaitTrue(BooleanSupplier condition, long timeoutMs, String what) throws InterruptedException {
        long deadline = System.nanoTime() + timeoutMs * 1_000_000;
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < deadline, "waited " + timeoutMs + " ms for " + what);
            Thread.sleep(20);
        }
    }

    /** The command bytes the keyboard received in this test, once at least {@code count} arrived. */
    static byte[] receivedAtLeast(int count) {
        return KEYBOARD.receivedSince(receivedAtStart, count);
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
