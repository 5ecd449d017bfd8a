// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static com.trov.jpos.Waiter.failure;

import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** claim(timeout) over a stand-in claim table: polling for another process's release, waking at one of this process. */
@Tag("stand-in")
class ClaimWaitTest {

    @Test
    void pollsUntilTheClaimIsFreeAndTimesOutOtherwise() throws Exception {
        ClaimWait wait = new ClaimWait(1);
        AtomicInteger tries = new AtomicInteger();
        wait.claim(TrovConst.JPOS_FOREVER, left -> tries.incrementAndGet() == 5);  // released elsewhere meanwhile
        assertEquals(5, tries.get());

        tries.set(0);
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> wait.claim(0, left -> tries.incrementAndGet() < 0)));
        assertEquals(1, tries.get(), "timeout 0 tries once");
        assertEquals(TrovConst.JPOS_E_TIMEOUT, failure(() -> wait.claim(20, left -> false)));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(() -> wait.claim(-2, left -> true)));
        assertEquals(TrovConst.JPOS_E_CLOSED, failure(() -> wait.claim(TrovConst.JPOS_FOREVER, left -> {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "closed while waiting");
        })), "what waiting cannot mend ends the wait");
    }

    @Test
    void aReleaseInThisProcessEndsThePauseAndAnInterruptEndsTheWait() throws Exception {
        ClaimWait wait = new ClaimWait(TimeUnit.HOURS.toMillis(1));
        AtomicBoolean free = new AtomicBoolean();
        Waiter claimer = new Waiter(() -> {
            wait.claim(TrovConst.JPOS_FOREVER, left -> free.get());
            return "the claim";
        });
        free.set(true);
        wait.released();
        assertEquals("returned the claim", claimer.outcome(), "not after the hour's poll interval");

        Waiter interrupted = new Waiter(() -> {
            wait.claim(TrovConst.JPOS_FOREVER, left -> false);
            return null;
        });
        interrupted.interrupt();
        assertEquals("failed " + TrovConst.JPOS_E_FAILURE + " interrupted", interrupted.outcome());
    }
}
