// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Test;

/** Keys, keylock turns and the keyboard's power status as the application's listeners receive them. */
class KeyboardEventsTest extends KeyboardFixture {

    @Test
    void keysArriveWithUnsignedCodesTheirEventTypesAndTheExtendedFlagAndZeroBytesCarryNone() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        Recorder<Thread> threads = new Recorder<>();
        keyboard.addDataListener(e -> {
            threads.add(Thread.currentThread());
            keys.add(e);
        });
        ready(keyboard);

        KEYBOARD.press(0x41);
        KEYBOARD.release(0x41);
        KEYBOARD.press(0xC8, true);
        KEYBOARD.release(0xC8, true);
        KEYBOARD.press(0xA0);
        // The driver reports the zero bytes of an input report as events too; they carry no key.
        KEYBOARD.sendRaw(bytes(0x00, 0x42, 0x00, 0x00, 0x00, 0x43));

        int down = TrovConst.KBD_KET_KEYDOWN;
        int up = TrovConst.KBD_KET_KEYUP;
        assertEquals(List.of(new KeyboardDataEvent(0x41, down), new KeyboardDataEvent(0x41, up),
                new KeyboardDataEvent(200, down, true), new KeyboardDataEvent(200, up, true), new KeyboardDataEvent(0xA0, down),
                new KeyboardDataEvent(0x42, down), new KeyboardDataEvent(0x43, down)), keys.next(7, EVENT_WAIT_MS));
        assertEquals(TrovService.dispatcherThread(), threads.next(EVENT_WAIT_MS), "delivered on the event thread");
    }

    @Test
    void keylockPositionsCountFromOneAndEnablingAsksForTheCurrentOne() throws Exception {
        KEYBOARD.setKeylock(3);
        TrovKeylockService keylock = keylock();
        Recorder<Integer> positions = Recorder.statusesOf(keylock);
        keylock.open();
        keylock.setDeviceEnabled(true);  // shared: no claim needed

        assertArrayEquals(bytes(0xEF, 0x07), receivedAtLeast(2), "the position request");
        assertEquals(4, positions.next(EVENT_WAIT_MS), "digit 3, answered to the request");

        KEYBOARD.turnKeylock(0);
        assertEquals(1, positions.next(EVENT_WAIT_MS), "digit 0 is position 1");
        assertEquals(1, keylock.getKeylockPosition());
        KEYBOARD.turnKeylock(9);
        assertEquals(10, positions.next(EVENT_WAIT_MS));
    }

    /**
     * Each opening of the keyboard reports it online at the first enable after the claim, once: the
     * first opening here may not be the process's first, the second one never is.
     */
    @Test
    void everyOpeningReportsPowerOnlineOnceAtItsFirstEnable() throws Exception {
        TrovPOSKeyboardService earlier = ready(keyboard());
        awaitPolls(1);
        earlier.close();

        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<Integer> statuses = Recorder.statusesOf(keyboard);
        ready(keyboard);
        assertEquals(TrovConst.SUE_POWER_ONLINE, statuses.next(EVENT_WAIT_MS));

        keyboard.setDeviceEnabled(false);
        keyboard.setDeviceEnabled(true);
        awaitPolls(2);
        assertEquals(List.of(TrovConst.SUE_POWER_ONLINE), statuses.all(), "reported once");
    }

    @Test
    void aThrowingListenerNeitherStopsLaterEventsNorOtherListeners() throws Exception {
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Recorder<Throwable> reported = new Recorder<>();
        Thread.setDefaultUncaughtExceptionHandler((thread, e) -> reported.add(e));
        try {
            TrovPOSKeyboardService keyboard = keyboard();
            AtomicBoolean thrown = new AtomicBoolean();
            Recorder<Integer> first = new Recorder<>();
            Recorder<Integer> second = new Recorder<>();
            keyboard.addDataListener(e -> {
                first.add(e.getKeyCode());
                if (thrown.compareAndSet(false, true)) {
                    throw new IllegalStateException("listener failure");
                }
            });
            keyboard.addDataListener(e -> second.add(e.getKeyCode()));
            ready(keyboard);

            KEYBOARD.press(0x10);
            KEYBOARD.press(0x11);

            assertEquals(List.of(0x10, 0x11), first.next(2, EVENT_WAIT_MS));
            assertEquals(List.of(0x10, 0x11), second.next(2, EVENT_WAIT_MS));
            Throwable failure = reported.next(EVENT_WAIT_MS);
            assertTrue(failure instanceof IllegalStateException, failure.toString());
        } finally {
            Thread.setDefaultUncaughtExceptionHandler(previous);
        }
    }
}
