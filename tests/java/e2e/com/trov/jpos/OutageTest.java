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
    void aShortOutageEmptiesTheTracksOnceAndKeysFlowAgainWithoutAPowerEvent() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        TrovMSRService msr = msr();
        Recorder<Integer> statuses = new Recorder<>();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        Recorder<MsrDataEvent> swipes = new Recorder<>();
        keyboard.addStatusUpdateListener(e -> statuses.add(e.getStatus()));
        keyboard.addDataListener(keys::add);
        msr.addDataListener(swipes::add);
        ready(keyboard);
        ready(msr);
        KEYBOARD.swipe("TRACK1", "TRACK2", "TRACK3");
        swipes.next(EVENT_WAIT_MS);
        awaitPolls(2);
        List<Integer> statusesBefore = statuses.all();  // the first enable's online report

        KEYBOARD.unplug();
        Thread.sleep(1000);  // the reader meanwhile fails to reopen the device, again and again
        KEYBOARD.replug();

        MsrDataEvent emptied = swipes.next(EVENT_WAIT_MS);
        assertEquals(new MsrDataEvent(new byte[0], new byte[0], new byte[0]), emptied);
        KEYBOARD.press(0x31);
        assertEquals(new KeyboardDataEvent(0x31, TrovConst.KBD_ET_DOWN), keys.next(EVENT_WAIT_MS));
        awaitPolls(2);
        assertEquals(statusesBefore, statuses.all(), "no power status for a short outage");
        assertEquals(2, swipes.all().size(), "one report of the emptied tracks");
        assertEquals(ServiceState.ENABLED, keyboard.getState());
        assertEquals(ServiceState.ENABLED, msr.getState());
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
        Recorder<ServiceState> stateSeenByListener = new Recorder<>();
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
        assertEquals(ServiceState.CLOSED, stateSeenByListener.next(EVENT_WAIT_MS), "closed when the event arrives");
        for (TrovService service : all) {
            assertEquals(ServiceState.CLOSED, service.getState(), service.getClass().getSimpleName());
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
        assertEquals(new KeyboardDataEvent(0x20, TrovConst.KBD_ET_DOWN), keys.next(EVENT_WAIT_MS));
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
