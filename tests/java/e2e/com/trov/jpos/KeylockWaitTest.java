// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static com.trov.jpos.Waiter.failure;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** waitForKeylockChange over positions fed by hand. */
@Tag("stand-in")
class KeylockWaitTest {
    private final KeylockWait keylock = new KeylockWait();

    @Test
    void aWaitEndsAtThePositionOrAtARealChangeOrAtTheTimeout() throws Exception {
        assertEquals(TrovConst.JPOS_E_CLOSED, failure(() -> keylock.await(2, 0)), "not open");
        keylock.reset();
        assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(() -> keylock.await(-1, 0)));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(() -> keylock.await(1, -2)));
        Waiter anyChange = new Waiter(() -> keylock.await(0, TrovConst.JPOS_FOREVER));
        keylock.position(2);
        assertFalse(anyChange.isDone(), "the first report says where the key is, not that it moved");
        assertEquals(2, keylock.await(2, 0), "already there: at once, also with timeout 0");
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> keylock.await(3, 0)));
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> keylock.await(0, 5)));

        Waiter toSupervisor = new Waiter(() -> keylock.await(3, TrovConst.JPOS_FOREVER));
        keylock.position(2);
        assertFalse(anyChange.isDone(), "the same position again is no change");
        keylock.position(1);
        assertEquals("returned 1", anyChange.outcome());
        assertFalse(toSupervisor.isDone());
        keylock.position(3);
        assertEquals("returned 3", toSupervisor.outcome());
    }

    @Test
    void closingOrInterruptingEndsAWait() throws Exception {
        keylock.reset();
        Waiter closed = new Waiter(() -> keylock.await(3, TrovConst.JPOS_FOREVER));
        Waiter timed = new Waiter(() -> keylock.await(0, 3_600_000));
        keylock.end();
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, closed.outcome());
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, timed.outcome());

        keylock.reset();
        Waiter interrupted = new Waiter(() -> keylock.await(3, TrovConst.JPOS_FOREVER));
        interrupted.interrupt();
        assertEquals("failed " + TrovConst.JPOS_E_FAILURE + " interrupted", interrupted.outcome());
    }
}
