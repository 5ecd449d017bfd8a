// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static com.trov.jpos.Waiter.failure;
import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

/** The keylock service's position and its waitForKeylockChange over the keyboard's reports. */
class KeylockChangeTest extends KeyboardFixture {

    /** A wait on {@code keylock} on a thread of its own; its outcome is the position it ended at. */
    private static Waiter waitFor(TrovKeylockService keylock, int position, int timeout) throws InterruptedException {
        return new Waiter(() -> {
            keylock.waitForKeylockChange(position, timeout);
            return keylock.getKeyPosition();
        });
    }

    @Test
    void aWaitEndsAtOnceWhenThereAndOtherwiseWithTheTurnItWaitsFor() throws Exception {
        KEYBOARD.setKeylock(1);
        TrovKeylockService keylock = keylock();
        keylock.open();
        assertEquals(0, keylock.getKeyPosition(), "nothing reported yet");
        Waiter anyChange = waitFor(keylock, TrovConst.LOCK_KP_ANY, (int) EVENT_WAIT_MS);
        keylock.setDeviceEnabled(true);
        awaitTrue(() -> keylock.getKeyPosition() == TrovConst.LOCK_KP_NORM, EVENT_WAIT_MS, "the position at enabling");
        keylock.waitForKeylockChange(TrovConst.LOCK_KP_NORM, 0);

        Waiter supervisor = waitFor(keylock, TrovConst.LOCK_KP_SUPR, TrovConst.JPOS_FOREVER);
        KEYBOARD.turnKeylock(2);
        assertEquals("returned 3", supervisor.outcome());
        assertEquals("returned 3", anyChange.outcome(), "the first report at enabling was no change, the turn was");
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> keylock.waitForKeylockChange(TrovConst.LOCK_KP_ANY, 20)));
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> keylock.waitForKeylockChange(TrovConst.LOCK_KP_LOCK, 0)));
    }

    @Test
    void positionsBeyondTheCountAreRefusedAndCloseEndsEveryWait() throws Exception {
        TrovKeylockService keylock = keylock();
        assertEquals(TrovConst.JPOS_E_CLOSED, failure(() -> keylock.waitForKeylockChange(1, 0)), "not open");
        keylock.open();
        assertEquals(3, keylock.getPositionCount());
        assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(() -> keylock.waitForKeylockChange(4, 0)));
        keylock.setPositionCount(TrovKeylockService.MAX_POSITION_COUNT);
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> keylock.waitForKeylockChange(10, 0)));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(() -> keylock.setPositionCount(11)));

        Waiter forever = waitFor(keylock, TrovConst.LOCK_KP_ANY, TrovConst.JPOS_FOREVER);
        keylock.close();
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, forever.outcome());
    }
}
