// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** The keyboard unplugged: back within 10 s it goes on quietly; away longer, every service is shut down. */
class OutageTest extends KeyboardFixture {

    @Test
    void aShortOutageIsHeardBothWaysAtOnceTheKeylockIsAskedAgainAndNoSwipeIsMadeUp() throws Exception {
        KEYBOARD.setKeylock(2);
        TrovKeylockService keylock = keylock();
        TrovPOSKeyboardService keyboard = keyboard();
        TrovMSRService msr = msr();
        Recorder<Integer> statuses = Recorder.statusesOf(msr);
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        keylock.open();
        keylock.setDeviceEnabled(true);
        ready(keyboard);
        ready(msr);
        awaitTrue(() -> keylock.getKeylockPosition() == 3, EVENT_WAIT_MS, "the position at enabling");
        KEYBOARD.swipe("TRACK1", "TRACK2", "TRACK3");
        swipes.next(EVENT_WAIT_MS);

        KEYBOARD.unplug();
        // Well within the 10 s grace: the old road said nothing before the shutdown.
        awaitTrue(() -> statuses.all().contains(TrovConst.SUE_POWER_OFF), 5000, "the outage's 2002");
        assertEquals(TrovConst.SUE_POWER_OFF, msr.powerState(), () -> "heard " + statuses.all());
        assertEquals(3, keylock.getKeylockPosition(), "a power state is no key position");
        KEYBOARD.setKeylock(0);  // the key turned while the cable is out
        KEYBOARD.replug();
        awaitTrue(() -> statuses.all().lastIndexOf(TrovConst.SUE_POWER_ONLINE)
                > statuses.all().indexOf(TrovConst.SUE_POWER_OFF), EVENT_WAIT_MS, "the return's 2001");
        awaitTrue(() -> keylock.getKeylockPosition() == 1, EVENT_WAIT_MS, "the position asked for again");
        assertEquals(TrovConst.SUE_POWER_ONLINE, keyboard.powerState());
        KEYBOARD.press(0x31);
        assertEquals(new KeyboardDataEvent(0x31, TrovConst.KBD_KET_KEYDOWN), keys.next(EVENT_WAIT_MS));
        assertEquals(1, swipes.all().size(), "no swipe made up of the emptied tracks");
        for (TrovService service : List.of(keylock, keyboard, msr)) {
            assertTrue(service.getDeviceEnabled());
        }
        assertEquals(1, KEYBOARD.openHandles());
    }

    @Test
    void anOutageOfMoreThanTenSecondsShutsEverythingDownOnceAndALaterOpenWorks() throws Exception {
        Set<Thread> before = Thread.getAllStackTraces().keySet();
        TrovKeylockService keylock = keylock();
        TrovPOSKeyboardService keyboard = keyboard();
        TrovMSRService msr = msr();
        TrovToneIndicatorService tone = tone();
        List<TrovService> all = List.of(keylock, keyboard, msr, tone);
        Recorder<Integer> statuses = new Recorder<>();
        Recorder<Integer> stateSeenByListener = new Recorder<>();
        keyboard.addStatusUpdateListener(e -> {
            if (e.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE) {
                stateSeenByListener.add(keyboard.getState());
            }
            statuses.add(e.getStatus());
        });
        for (TrovService service : all) {
            ready(service);
        }

        long unplugged = System.nanoTime();
        KEYBOARD.unplug();
        awaitTrue(() -> statuses.all().contains(TrovConst.SUE_POWER_OFF_OFFLINE), 10_000 + 3 * EVENT_WAIT_MS,
                "the power-off report");
        long waitedMs = (System.nanoTime() - unplugged) / 1_000_000;
        assertTrue(waitedMs >= 9_500, "the services were shut down " + waitedMs + " ms after the unplug, before the 10 s grace");
        assertEquals(TrovConst.JPOS_S_CLOSED, stateSeenByListener.next(EVENT_WAIT_MS), "closed when the event arrives");
        for (TrovService service : all) {
            assertEquals(TrovConst.JPOS_S_CLOSED, service.getState(), service.getClass().getSimpleName());
        }
        // The library reports the power-off and then shuts down on the same thread, so the release of the
        // device follows the event by a moment.
        awaitTrue(() -> released() && newThreads(before).isEmpty(), EVENT_WAIT_MS,
                "the device, the claim table, the FIFO and the threads to go");
        assertEquals(0, KEYBOARD.openHandles());
        assertFalse(ClaimSegment.exists());
        assertEquals(Set.of(), newThreads(before));
        List<Integer> reported = statuses.all();
        assertEquals(1, Collections.frequency(reported, TrovConst.SUE_POWER_OFF_OFFLINE), reported.toString());
        assertEquals(TrovConst.SUE_POWER_OFF_OFFLINE, reported.get(reported.size() - 1), "nothing after it");

        KEYBOARD.replug();
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
        ready(keyboard);
        KEYBOARD.press(0x20);
        assertEquals(new KeyboardDataEvent(0x20, TrovConst.KBD_KET_KEYDOWN), keys.next(EVENT_WAIT_MS));
    }

    private static boolean released() {
        try {
            return KEYBOARD.openHandles() == 0 && !ClaimSegment.exists() && !Files.exists(Path.of("InputFifo"));
        } catch (java.io.IOException e) {
            throw new java.io.UncheckedIOException(e);
        }
    }

    /** Live threads that did not exist before: threads the library attached, or dispatchers left running. */
    private static Set<String> newThreads(Set<Thread> before) {
        return Thread.getAllStackTraces().keySet().stream().filter(t -> !before.contains(t) && t.isAlive())
                .map(Thread::getName).collect(Collectors.toSet());
    }
}
