package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Test;

/** Keys, keylock turns and the keyboard's power status as the application's listeners receive them. */
class KeyboardEventsTest extends SimulatedKeyboardFixture {

    @Test
    void pressesAndReleasesArriveWithUnsignedKeyCodesAndTheirEventTypes() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        Recorder<Thread> threads = new Recorder<>();
        keyboard.addDataListener(e -> {
            threads.add(Thread.currentThread());
            keys.add(e);
        });
        ready(keyboard);

        SimKeyboard.pressKey(NODE, 0x41);
        SimKeyboard.releaseKey(NODE, 0x41);
        SimKeyboard.pressKey(NODE, 0xC8, true);
        SimKeyboard.releaseKey(NODE, 0xC8, true);

        assertEquals(List.of(new KeyboardDataEvent(0x41, TrovConst.KBD_ET_DOWN),
                new KeyboardDataEvent(0x41, TrovConst.KBD_ET_UP),
                new KeyboardDataEvent(200, TrovConst.KBD_ET_DOWN),
                new KeyboardDataEvent(200, TrovConst.KBD_ET_UP)), keys.next(4, EVENT_WAIT_MS));
        assertEquals(keyboard.dispatcherThread(), threads.next(EVENT_WAIT_MS), "delivered on the dispatcher thread");
    }

    @Test
    void keylockPositionsCountFromOneAndEnablingAsksForTheCurrentOne() throws Exception {
        SimKeyboard.setKeylock(NODE, 3);
        TrovKeylockService keylock = keylock();
        Recorder<Integer> positions = new Recorder<>();
        keylock.addStatusUpdateListener(e -> positions.add(e.getStatus()));
        keylock.open();
        keylock.setDeviceEnabled(true);  // shared: no claim needed

        assertArrayEquals(bytes(0xEF, 0x07), receivedAtLeast(2), "the position request");
        assertEquals(4, positions.next(EVENT_WAIT_MS), "digit 3, answered to the request");

        SimKeyboard.turnKeylock(NODE, 0);
        assertEquals(1, positions.next(EVENT_WAIT_MS), "digit 0 is position 1");
        assertEquals(1, keylock.getKeylockPosition());
        SimKeyboard.turnKeylock(NODE, 9);
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
        Recorder<Integer> statuses = new Recorder<>();
        keyboard.addStatusUpdateListener(e -> statuses.add(e.getStatus()));
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

            SimKeyboard.pressKey(NODE, 0x10);
            SimKeyboard.pressKey(NODE, 0x11);

            assertEquals(List.of(0x10, 0x11), first.next(2, EVENT_WAIT_MS));
            assertEquals(List.of(0x10, 0x11), second.next(2, EVENT_WAIT_MS));
            Throwable failure = reported.next(EVENT_WAIT_MS);
            assertTrue(failure instanceof IllegalStateException, failure.toString());
        } finally {
            Thread.setDefaultUncaughtExceptionHandler(previous);
        }
    }
}
