// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * What reaches an object, and when, over the stand-in native layer: the review's reproductions of a
 * queued event acting on a later opening, of events after a disable or close, of a delivery thread
 * ended by a failing log, of a half-done close, and of objects an ended opening kept alive.
 */
class EventDeliveryTest extends StandInFixture {
    private final List<TrovService> opened = new ArrayList<>();

    @AfterEach
    void closeWhatWasOpened() {
        opened.forEach(TrovService::close);
    }

    @Test
    void aPowerOffQueuedForAnEarlierOpeningNeverActsOnTheReopenedObject() throws Exception {
        TrovPOSKeyboardService keyboard = open(new TrovPOSKeyboardService());
        CountDownLatch inSlow = new CountDownLatch(1);
        CountDownLatch slow = new CountDownLatch(1);
        Recorder<Integer> heard = Recorder.statusesOf(keyboard);
        keyboard.addStatusUpdateListener(e -> {
            if (e.getStatus() == TrovConst.SUE_POWER_ONLINE) {
                inSlow.countDown();
                await(slow);
            } else if (e.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE) {
                keyboard.close();  // of the opening it was queued for: must not close the next one
            }
        });
        stand.status(TrovConst.SUE_POWER_ONLINE);  // its listener holds the 2004 behind it
        await(inSlow);  // a power-off before the 2001 is under way would drop the 2001 with its opening
        stand.powerOffOnItsThread();
        keyboard.close();
        stand.replug();
        keyboard.open();
        slow.countDown();
        stand.status(TrovConst.SUE_POWER_OFF);
        assertEquals(List.of(TrovConst.SUE_POWER_ONLINE, TrovConst.SUE_POWER_OFF), heard.next(2, WAIT_MS));
        assertEquals(TrovConst.JPOS_S_IDLE, keyboard.getState(), "the new opening stays open");
        assertEquals("open {KEYBOARD=1}", stand.counts());
    }

    @Test
    void nothingReachesAnObjectOnceItsDisableOrCloseBegan() throws Exception {
        TrovMSRService msr = ready(open(new TrovMSRService()));
        TrovKeylockService slowOne = open(new TrovKeylockService());
        TrovKeylockService closing = open(new TrovKeylockService());
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        Recorder<Integer> slowHeard = Recorder.statusesOf(slowOne);
        Recorder<Integer> closingHeard = Recorder.statusesOf(closing);

        // The disable waits (parked) for the openings lock, which another object's native open holds; a swipe
        // comes meanwhile.
        CountDownLatch inOpen = new CountDownLatch(1);
        CountDownLatch openGoesOn = new CountDownLatch(1);
        stand.aroundNextOpen(true, () -> {
            inOpen.countDown();
            await(openGoesOn);
        });
        Thread opener = new Thread(() -> open(new TrovToneIndicatorService()));
        opener.start();
        await(inOpen);
        Thread disabler = new Thread(() -> {
            try {
                msr.setDeviceEnabled(false);
            } catch (TrovException e) {
                throw new IllegalStateException(e);
            }
        });
        disabler.start();
        KeyboardFixture.awaitTrue(() -> disabler.getState() == Thread.State.WAITING, WAIT_MS, "the disable to wait");
        stand.swipe();
        openGoesOn.countDown();
        disabler.join();
        opener.join();

        // A 2001 queued for an object behind a slow listener, then the object closed.
        CountDownLatch slow = new CountDownLatch(1);
        slowOne.addStatusUpdateListener(e -> await(slow));
        stand.status(TrovConst.SUE_POWER_ONLINE);
        closing.close();
        slow.countDown();
        stand.status(TrovConst.SUE_POWER_OFF);
        assertEquals(List.of(TrovConst.SUE_POWER_ONLINE, TrovConst.SUE_POWER_OFF), slowHeard.next(2, WAIT_MS));
        assertEquals(List.of(), swipes.all(), "no swipe after the disable began");
        assertEquals(List.of(), closingHeard.all(), "no status after the close returned");
    }

    @Test
    void aListenerWhoseFailureCannotEvenBeLoggedStopsNoLaterEvent() throws Exception {
        LogCapture failingLog = LogCapture.failing("the log handler fails");
        try {
            TrovPOSKeyboardService keyboard = ready(open(new TrovPOSKeyboardService()));
            Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
            keyboard.addDataListener(e -> {
                throw new IllegalStateException("the listener fails");
            });
            stand.key(1);
            stand.key(2);
            assertEquals(List.of(1, 2), keys.next(2, WAIT_MS).stream().map(KeyboardDataEvent::getKeyCode).toList());
            keyboard.close();
            keyboard.open();
            ready(keyboard);
            stand.key(3);
            assertEquals(3, keys.next(WAIT_MS).getKeyCode(), "and after a close and an open");
        } finally {
            failingLog.close();
        }
    }

    @Test
    void aNativeCallThatThrowsWhileTheLastObjectLeavesStillClosesTheDevice() throws Exception {
        TrovPOSKeyboardService keyboard = ready(open(new TrovPOSKeyboardService()));
        stand.nextDisableThrows.set(new IllegalStateException("the native disable fails"));
        assertThrows(IllegalStateException.class, keyboard::close);
        assertEquals(TrovConst.JPOS_S_CLOSED, keyboard.getState());
        assertEquals("closed {}", stand.counts());
    }

    @Test
    void anOutageEndedByTheLastCloseKeepsNoObjectAliveAndEndsTheSearch() throws Exception {
        List<WeakReference<TrovService>> refs = new ArrayList<>();
        List<TrovService> services = new ArrayList<>(List.of(new TrovKeylockService(), new TrovMSRService(),
                new TrovPOSKeyboardService(), new TrovToneIndicatorService()));
        for (TrovService service : services) {
            refs.add(new WeakReference<>(KeyboardFixture.ready(service)));
        }
        stand.powerOffOnItsThread();
        SimulatedKeyboardFixture.awaitTrue(() -> stand.awayOpens.get() > 0 || searchRuns(), WAIT_MS, "the search");
        services.forEach(TrovService::close);
        services.clear();
        SimulatedKeyboardFixture.awaitTrue(() -> !searchRuns(), WAIT_MS, "the search to end at the close");
        for (int attempt = 0; attempt < 100 && refs.stream().anyMatch(r -> r.get() != null); ++attempt) {
            System.gc();
            Thread.sleep(20);
        }
        for (WeakReference<TrovService> ref : refs) {
            assertNull(ref.get(), "still reachable after the power-off");
        }
    }

    private static boolean searchRuns() {
        return Thread.getAllStackTraces().keySet().stream().anyMatch(t -> t.getName().equals("TrovJPOS-outage"));
    }

    private static <S extends TrovService> S ready(S service) throws TrovException {
        service.claim(0);
        service.setDeviceEnabled(true);
        KeyboardFixture.hearAll(service);
        return service;
    }

    private <S extends TrovService> S open(S service) {
        try {
            service.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            service.open();
        } catch (TrovException e) {
            throw new IllegalStateException(e);
        }
        opened.add(service);
        return service;
    }

    private static void await(CountDownLatch latch) {
        try {
            latch.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
