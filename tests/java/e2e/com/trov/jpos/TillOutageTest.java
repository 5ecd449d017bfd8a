// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.Test;

/** A till that opened no keyboard object lives through an outage of more than 10 s without a reopen. */
class TillOutageTest extends KeyboardFixture {

    @Test
    void everyObjectHearsThePowerOffStaysOpenAndIsTakenUpAgainWhenTheKeyboardIsBack() throws Exception {
        TrovKeylockService keylock = keylock();
        TrovKeylockService looker = keylock();
        TrovMSRService msr = msr();
        List<TrovService> stale = List.of(keylock, looker, msr);
        List<Recorder<Integer>> heard = stale.stream().map(Recorder::statusesOf).toList();
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        keylock.open();
        keylock.setDeviceEnabled(true);
        looker.open();
        ready(msr);

        KEYBOARD.unplug();
        for (Recorder<Integer> statuses : heard) {
            awaitTrue(() -> statuses.all().contains(TrovConst.SUE_POWER_OFF_OFFLINE), 10_000 + 3 * EVENT_WAIT_MS,
                    "the power-off at every object");
        }
        for (TrovService service : stale) {
            assertEquals(TrovConst.JPOS_S_IDLE, service.getState());
        }
        assertEquals(0, KEYBOARD.openHandles(), "closed natively");

        KEYBOARD.replug();
        for (Recorder<Integer> statuses : heard) {
            awaitTrue(() -> statuses.all().lastIndexOf(TrovConst.SUE_POWER_ONLINE)
                    > statuses.all().indexOf(TrovConst.SUE_POWER_OFF_OFFLINE), EVENT_WAIT_MS,
                    "the return at every object, PowerNotify or not");
        }
        assertTrue(msr.isClaimed());
        assertEquals(1, ClaimTableReader.at(1), "the claim taken again in the table");
        assertEquals(1, KEYBOARD.openHandles());
        KEYBOARD.swipe("AFTER", null, null);
        assertArrayEquals("AFTER".getBytes(StandardCharsets.US_ASCII), swipes.next(EVENT_WAIT_MS).getTrack1());
        assertTrue(keylock.getDeviceEnabled() && !looker.getDeviceEnabled(), "each as it was");
    }
}
