// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * Disable, clear and close against events that are on their way or held, over the stand-in native
 * layer: what may still reach an object is decided when the event would reach it. Each case ends with
 * a marker event behind the one that must not come, so that "nothing came" is seen, not waited for.
 */
class QueuedEventsTest extends StandInFixture {
    private final List<TrovService> opened = new ArrayList<>();

    @AfterEach
    void closeWhatWasOpened() {
        opened.forEach(TrovService::close);
    }

    @Test
    void clearInputDropsSwipesStillInTheProcessQueue() throws Exception {
        TrovMSRService msr = ready(new TrovMSRService());
        msr.setTracksToRead(TrovConst.MSR_TR_1);
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        Recorder<Integer> errors = new Recorder<>();
        msr.addErrorListener(e -> errors.add(e.getErrorCode()));
        CountDownLatch slow = holdTheEventThread();
        stand.swipe();
        stand.unreadableSwipe();
        assertEquals(0, msr.getDataCount(), "both wait in the process's queue");
        msr.clearInput();
        slow.countDown();
        stand.swipe();  // the marker
        swipes.next(StandInFixture.WAIT_MS);
        assertEquals(List.of(), errors.all(), "the bad swipe was cleared");
        assertEquals(1, swipes.all().size(), "only the swipe after the clear");
        assertEquals(TrovConst.JPOS_S_IDLE, msr.getState());
    }

    @Test
    void aSwipeWhileTheDeviceIsBeingEnabledIsQueued() throws Exception {
        TrovMSRService msr = open(new TrovMSRService());
        msr.claim(0);
        msr.setTracksToRead(TrovConst.MSR_TR_1);
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        TrovPOSKeyboardService other = open(new TrovPOSKeyboardService());
        CountDownLatch offered = new CountDownLatch(1);
        other.addStatusUpdateListener(e -> offered.countDown());
        stand.duringNextEnable(() -> {
            stand.swipe();
            stand.status(TrovConst.SUE_POWER_ONLINE);  // behind the swipe: the swipe was offered once it is heard
            await(offered);
        });
        msr.setDeviceEnabled(true);
        msr.setDataEventEnabled(true);
        swipes.next(StandInFixture.WAIT_MS);
    }

    @Test
    void aFrozenKeylockPositionDoesNotComeAfterTheDisable() throws Exception {
        TrovKeylockService keylock = open(new TrovKeylockService());
        Recorder<Integer> heard = Recorder.statusesOf(keylock);
        keylock.setDeviceEnabled(true);
        keylock.setFreezeEvents(true);
        stand.keylock(2);
        TrovPOSKeyboardService marker = open(new TrovPOSKeyboardService());
        Recorder<Integer> markers = Recorder.statusesOf(marker);
        stand.status(TrovConst.SUE_POWER_OFF);
        markers.next(StandInFixture.WAIT_MS);  // the position is held in the keylock object by now
        keylock.setDeviceEnabled(false);
        keylock.setFreezeEvents(false);
        stand.status(TrovConst.SUE_POWER_ONLINE);
        assertEquals(List.of(TrovConst.SUE_POWER_OFF, TrovConst.SUE_POWER_ONLINE), heard.next(2, StandInFixture.WAIT_MS));
    }

    @Test
    void clearOutputDropsAHeldOutputError() throws Exception {
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        Recorder<Integer> heard = Recorder.statusesOf(tone);
        ready(tone);
        tone.setTone1Command(new byte[] {7});
        Recorder<Integer> errors = new Recorder<>();
        tone.addErrorListener(e -> errors.add(e.getErrorLocus()));
        tone.setFreezeEvents(true);
        tone.sound(1, 0);  // no device under the stand-in: the write fails
        KeyboardFixture.awaitTrue(() -> tone.getState() == TrovConst.JPOS_S_IDLE, StandInFixture.WAIT_MS,
                "the failed output's end");
        tone.clearOutput();
        tone.setFreezeEvents(false);
        stand.status(TrovConst.SUE_POWER_OFF);
        heard.next(StandInFixture.WAIT_MS);
        assertEquals(List.of(), errors.all());

        tone.sound(1, 0);
        assertEquals(TrovConst.JPOS_EL_OUTPUT, errors.next(StandInFixture.WAIT_MS), "one not cleared still comes");
    }

    @Test
    void anInputErrorTakesItsPlaceInTheOrder() throws Exception {
        TrovMSRService msr = ready(new TrovMSRService());
        msr.setTracksToRead(TrovConst.MSR_TR_1);
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        Recorder<Long> errors = new Recorder<>();
        msr.addErrorListener(e -> errors.add(e.getSequenceNumber()));
        stand.swipe();
        long before = swipes.next(StandInFixture.WAIT_MS).getSequenceNumber();
        stand.unreadableSwipe();
        long error = errors.next(StandInFixture.WAIT_MS);
        msr.setDataEventEnabled(true);
        stand.swipe();
        long after = swipes.next(StandInFixture.WAIT_MS).getSequenceNumber();
        assertTrue(before < error && error < after, before + " < " + error + " < " + after);
    }

    @Test
    void aKeylockPositionComesOnlyWhenItChanged() throws Exception {
        TrovKeylockService keylock = open(new TrovKeylockService());
        Recorder<Integer> heard = Recorder.statusesOf(keylock);
        keylock.setDeviceEnabled(true);
        for (int position : new int[] {2, 2, 3, 3, 2}) {
            stand.keylock(position);
        }
        stand.status(TrovConst.SUE_POWER_OFF);
        assertEquals(List.of(2, 3, 2, TrovConst.SUE_POWER_OFF), heard.next(4, StandInFixture.WAIT_MS));
        keylock.close();
        keylock.open();
        keylock.setDeviceEnabled(true);
        stand.keylock(2);
        assertEquals(2, heard.next(StandInFixture.WAIT_MS), "the first position of an opening always comes");
    }

    /** Holds the event thread in another object's listener until the returned latch is counted down. */
    private CountDownLatch holdTheEventThread() throws TrovException {
        TrovPOSKeyboardService holder = open(new TrovPOSKeyboardService());
        CountDownLatch inListener = new CountDownLatch(1);
        CountDownLatch goOn = new CountDownLatch(1);
        holder.addStatusUpdateListener(e -> {
            inListener.countDown();
            await(goOn);
        });
        stand.status(TrovConst.SUE_POWER_ONLINE);
        await(inListener);
        return goOn;
    }

    private <S extends TrovService> S ready(S service) throws TrovException {
        open(service);
        service.claim(0);
        service.setDeviceEnabled(true);
        KeyboardFixture.hearAll(service);
        return service;
    }

    private <S extends TrovService> S open(S service) throws TrovException {
        service.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
        service.open();
        opened.add(service);
        return service;
    }

    static void await(CountDownLatch latch) {
        try {
            latch.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
