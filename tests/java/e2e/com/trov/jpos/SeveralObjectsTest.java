// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Several objects of one service in one process, as modules of a till open them. */
class SeveralObjectsTest extends KeyboardFixture {
    private static final int MSR_CLAIM = 1;
    private static final int KEYBOARD_CLAIM = 2;

    @Test
    void aSecondMsrObjectThatOnlyLooksNeitherTakesNorEndsTheClaimersSwipes() throws Exception {
        TrovMSRService checkout = msr();
        TrovMSRService looker = msr();
        Recorder<MsrDataEvent> checkoutSwipes = new Recorder<>();
        Recorder<MsrDataEvent> lookerSwipes = new Recorder<>();
        checkout.addDataListener(checkoutSwipes::add);
        looker.addDataListener(lookerSwipes::add);
        ready(checkout);
        looker.open();
        assertFailsWith(TrovConst.JPOS_E_TIMEOUT, () -> looker.claim(0));
        assertFailsWith(TrovConst.JPOS_E_ILLEGAL, checkout::open);
        assertTrue(checkout.isClaimed());
        assertFalse(looker.isClaimed());

        KEYBOARD.swipe("FIRST", null, null);
        assertArrayEquals(ascii("FIRST"), checkoutSwipes.next(EVENT_WAIT_MS).getTrack1());
        looker.close();
        KEYBOARD.swipe("SECOND", null, null);
        assertArrayEquals(ascii("SECOND"), checkoutSwipes.next(EVENT_WAIT_MS).getTrack1());
        assertEquals(List.of(), lookerSwipes.all());
        assertEquals(1, ClaimTableReader.at(MSR_CLAIM));

        checkout.close();
        assertEquals(0, KEYBOARD.openHandles(), "the last object's close closes the device");
        assertFalse(ClaimSegment.exists());
    }

    @Test
    void everyEnabledKeylockObjectGetsThePositionsUntilItIsDisabledOrClosed() throws Exception {
        KEYBOARD.setKeylock(3);
        TrovKeylockService first = keylock();
        TrovKeylockService second = keylock();
        Recorder<Integer> firstHeard = positions(first);
        Recorder<Integer> secondHeard = positions(second);
        first.open();
        first.setDeviceEnabled(true);
        assertEquals(4, firstHeard.next(EVENT_WAIT_MS));
        second.open();
        second.setDeviceEnabled(true);  // asks for the position again: only the new object is told it
        assertEquals(4, secondHeard.next(EVENT_WAIT_MS));

        KEYBOARD.turnKeylock(1);
        assertEquals(2, firstHeard.next(EVENT_WAIT_MS));
        assertEquals(2, secondHeard.next(EVENT_WAIT_MS));
        second.setDeviceEnabled(false);
        KEYBOARD.turnKeylock(2);
        assertEquals(3, firstHeard.next(EVENT_WAIT_MS), "the other's disable leaves this one enabled");
        second.close();
        KEYBOARD.turnKeylock(5);
        assertEquals(6, firstHeard.next(EVENT_WAIT_MS), "the other's close leaves this one enabled");
        assertEquals(List.of(4, 2), secondHeard.all());
        assertEquals(List.of(4, 2, 3, 6), firstHeard.all(), "the unchanged position was not told again");
        assertTrue(first.getDeviceEnabled());
    }

    @Test
    void oneKeyboardObjectHoldsTheClaimWhileOthersComeAndGo() throws Exception {
        TrovPOSKeyboardService till = keyboard();
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(till);
        ready(till);
        TrovPOSKeyboardService passing = keyboard();
        passing.open();
        passing.close();
        TrovPOSKeyboardService intruder = keyboard();
        intruder.open();
        assertFailsWith(TrovConst.JPOS_E_TIMEOUT, () -> intruder.claim(0));
        assertTrue(till.isClaimed());
        assertFalse(intruder.isClaimed());
        assertEquals(1, ClaimTableReader.at(KEYBOARD_CLAIM));

        int mark = KEYBOARD.received();
        till.writeCommand(bytes(0x1B, 0x41));
        assertArrayEquals(bytes(0x1B, 0x41), KEYBOARD.receivedSince(mark, 2));
        KEYBOARD.press(0x33);
        assertEquals(0x33, keys.next(EVENT_WAIT_MS).getKeyCode());
    }

    /** readTco waits for the reply (2 s from a silent keyboard) without the object's lock. */
    @Test
    void aTcoQueryLeavesItsObjectsOtherCallsFree() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        KEYBOARD.setSilent(true);
        AtomicBoolean answered = new AtomicBoolean();
        Thread query = new Thread(() -> {
            try {
                keyboard.readTco(7);
            } catch (TrovException e) {
                throw new AssertionError(e);
            }
            answered.set(true);
        });
        query.start();
        receivedAtLeast(6);  // the query went out; the wait for its reply begins

        keyboard.claim(0);
        keyboard.setDeviceEnabled(true);
        assertTrue(keyboard.isClaimed());
        assertTrue(keyboard.getDeviceEnabled());
        assertFalse(answered.get(), "the claim and enable waited for the query");
        query.join();
    }

    private static Recorder<Integer> positions(TrovKeylockService keylock) {
        Recorder<Integer> heard = new Recorder<>();
        keylock.addStatusUpdateListener(e -> {
            if (e.getStatus() < TrovConst.SUE_POWER_ONLINE) {
                heard.add(e.getStatus());
            }
        });
        return heard;
    }

    private static void assertFailsWith(int code, Executable call) {
        assertEquals(code, assertThrows(TrovException.class, call).getErrorCode());
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }
}
