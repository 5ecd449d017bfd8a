// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import org.junit.jupiter.api.Test;

/**
 * The events of the process reach the listeners in the order the keyboard sent them, across services,
 * each with a rising sequence number. The first listener of each pair is slow (a millisecond), so that
 * a second delivery thread would overtake it.
 */
class EventOrderTest extends KeyboardFixture {
    private static final int TRIALS = 300;

    @Test
    void aKeyPressedAfterAKeylockTurnFindsTheKeylockListenersDoneIn300Trials() throws Exception {
        TrovKeylockService keylock = keylock();
        TrovPOSKeyboardService keyboard = keyboard();
        List<TrovEvent> all = new CopyOnWriteArrayList<>();
        int[] positionHeard = {0};
        keylock.addStatusUpdateListener(e -> {
            if (e.getStatus() >= TrovConst.SUE_POWER_ONLINE) {
                return;  // a power state, not a position
            }
            pause();
            positionHeard[0] = e.getStatus();
            all.add(e);
        });
        Recorder<String> keys = new Recorder<>();
        keyboard.addDataListener(e -> {
            all.add(e);
            keys.add(e.getKeyCode() + " after position " + positionHeard[0]);
        });
        keylock.open();
        keylock.setDeviceEnabled(true);
        ready(keyboard);
        awaitTrue(() -> keylock.getKeylockPosition() == 1, EVENT_WAIT_MS, "the position at enabling");

        List<String> expected = new ArrayList<>();
        for (int trial = 0; trial < TRIALS; ++trial) {
            int digit = 1 + trial % 9;  // never the position before
            KEYBOARD.turnKeylock(digit);
            KEYBOARD.press(0x20 + trial % 64);
            expected.add((0x20 + trial % 64) + " after position " + (digit + 1));
            KEYBOARD.turnKeylock(0);
        }
        assertEquals(expected, keys.next(TRIALS, EVENT_WAIT_MS));
        assertRising(all);
    }

    @Test
    void aSwipeAndTheEnterPressedAfterItArriveInThatOrder() throws Exception {
        TrovMSRService msr = msr();
        TrovPOSKeyboardService keyboard = keyboard();
        List<TrovEvent> all = new CopyOnWriteArrayList<>();
        Recorder<String> heard = new Recorder<>();
        msr.addDataListener(e -> {
            pause();
            all.add(e);
            heard.add("swipe");
        });
        keyboard.addDataListener(e -> {
            all.add(e);
            heard.add("enter");
        });
        ready(msr);
        ready(keyboard);
        List<String> expected = new ArrayList<>();
        for (int trial = 0; trial < 50; ++trial) {
            KEYBOARD.swipe("CARD" + trial, null, null);
            KEYBOARD.press(0x1C);
            expected.addAll(List.of("swipe", "enter"));
        }
        assertEquals(expected, heard.next(expected.size(), EVENT_WAIT_MS));
        assertRising(all);
    }

    private static void assertRising(List<TrovEvent> heard) {
        List<TrovEvent> events = List.copyOf(heard);
        long started = System.nanoTime();
        for (int i = 1; i < events.size(); ++i) {
            TrovEvent before = events.get(i - 1);
            TrovEvent after = events.get(i);
            assertTrue(before.getSequenceNumber() < after.getSequenceNumber(), before + " then " + after);
            assertTrue(before.getWhenNanos() <= after.getWhenNanos() && after.getWhenNanos() <= started,
                    "decoded in order, before now");
        }
    }

    private static void pause() {
        try {
            Thread.sleep(1);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
