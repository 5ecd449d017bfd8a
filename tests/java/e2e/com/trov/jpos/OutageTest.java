// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** The keyboard unplugged: back within 10 s it goes on quietly; away longer, the objects wait for it off-line. */
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

    /**
     * The one outage of more than 10 s: the library shuts down natively, the objects stay open, claimed
     * and enabled and hear keys again once the keyboard is back, with no call of the application. On
     * the simulator, a second JVM takes the MSR's claim meanwhile.
     */
    @Test
    void objectsOutliveAnOutageOfMoreThanTenSecondsAndAClaimTakenMeanwhileIsSaidSo() throws Exception {
        Set<Thread> before = Thread.getAllStackTraces().keySet();
        TrovKeylockService keylock = keylock();
        TrovPOSKeyboardService keyboard = keyboard();
        TrovMSRService msr = msr();
        List<TrovService> all = List.of(keylock, keyboard, msr);
        Recorder<Integer> statuses = Recorder.statusesOf(keyboard);
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        for (TrovService service : all) {
            ready(service);
        }
        DeviceSession.searchEvery(600_000);  // the keyboard is looked for when the test says so
        Thread child = null;
        try {
            long unplugged = System.nanoTime();
            KEYBOARD.unplug();
            awaitTrue(() -> statuses.all().contains(TrovConst.SUE_POWER_OFF_OFFLINE), 10_000 + 3 * EVENT_WAIT_MS,
                    "the power-off report");
            long waitedMs = (System.nanoTime() - unplugged) / 1_000_000;
            assertTrue(waitedMs >= 9_500, "the power-off came " + waitedMs + " ms after the unplug, before the 10 s grace");
            // The library shuts down natively on the thread that reported: the device and the table go.
            awaitTrue(OutageTest::released, EVENT_WAIT_MS, "the device and the claim table to go");
            for (TrovService service : all) {
                String name = service.getClass().getSimpleName();
                assertEquals(TrovConst.JPOS_S_IDLE, service.getState(), name);
                assertTrue(service.getClaimed() && service.getDeviceEnabled(), name);
                assertEquals(TrovConst.JPOS_PS_OFF_OFFLINE, service.getPowerState(), name);
            }
            TrovException offline = assertThrows(TrovException.class, () -> keyboard.checkHealth(TrovConst.JPOS_CH_EXTERNAL));
            assertEquals(TrovConst.JPOS_E_OFFLINE, offline.getErrorCode());

            if (KEYBOARD.simulated()) {
                // A second JVM, with a simulated keyboard of its own, claims the MSR before this one looks again.
                Thread holder = new Thread(() -> {
                    try {
                        ChildJvm.runWith("com.trov.jpos.ClaimHolder", List.of("3000"), "trov-tests.jar", "trovsim.jar",
                                "TrovJPOS.jar");
                    } catch (Exception e) {
                        throw new AssertionError(e);
                    }
                });
                child = holder;
                holder.start();
                awaitTrue(() -> claimedInTable(1), 60_000, "the second JVM's claim of the MSR");
            }
            KEYBOARD.replug();
            DeviceSession.searchEvery(1000);
            awaitTrue(() -> statuses.all().lastIndexOf(TrovConst.SUE_POWER_ONLINE)
                    > statuses.all().indexOf(TrovConst.SUE_POWER_OFF_OFFLINE), EVENT_WAIT_MS, "the return's 2001");
            assertEquals(TrovConst.JPOS_PS_ONLINE, keyboard.getPowerState());
            KEYBOARD.press(0x20);
            assertEquals(new KeyboardDataEvent(0x20, TrovConst.KBD_KET_KEYDOWN), keys.next(EVENT_WAIT_MS));
            assertTrue(keylock.getDeviceEnabled() && keyboard.getClaimed());
            if (child != null) {
                assertFalse(msr.getClaimed(), "the claim the second JVM took meanwhile");
                TrovException notClaimed = assertThrows(TrovException.class, () -> msr.checkHealth(TrovConst.JPOS_CH_INTERNAL));
                assertEquals(TrovConst.JPOS_E_NOTCLAIMED, notClaimed.getErrorCode());
                msr.claim(30_000);  // once the second JVM let go, the MSR is this object's again, still enabled
            }
            KEYBOARD.swipe("BACK", null, null);
            assertArrayEquals("BACK".getBytes(java.nio.charset.StandardCharsets.US_ASCII), swipes.next(EVENT_WAIT_MS).getTrack1());
            assertEquals(1, Collections.frequency(statuses.all(), TrovConst.SUE_POWER_OFF_OFFLINE), statuses.all().toString());
        } finally {
            DeviceSession.searchEvery(1000);
            if (child != null) {
                child.join(60_000);
            }
        }
        all.forEach(TrovService::close);
        awaitTrue(OutageTest::released, EVENT_WAIT_MS, "the device and the claim table to go at the close");
        // The JVM's own process reaper may outlive the second JVM for a while: the service's threads end.
        awaitTrue(() -> newThreads(before).stream().noneMatch(name -> name.startsWith("TrovJPOS")), EVENT_WAIT_MS,
                "the search and the event thread to end at the close");
    }

    private static boolean claimedInTable(int index) {
        try {
            return ClaimSegment.exists() && ClaimTableReader.at(index) == 1;
        } catch (Exception | AssertionError e) {
            return false;  // no table yet: the second JVM has not opened
        }
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
