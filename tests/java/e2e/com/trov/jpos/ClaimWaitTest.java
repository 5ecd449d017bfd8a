package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** claim(timeout) over a stand-in claim table: polling for another process's release, waking at one of this process. */
@Tag("stand-in")
class ClaimWaitTest {

    private static int code(Waiter.Call call) {
        return assertThrows(TrovException.class, call::call).getErrorCode();
    }

    @Test
    void pollsUntilTheClaimIsFreeAndTimesOutOtherwise() throws Exception {
        ClaimWait wait = new ClaimWait(1);
        AtomicInteger tries = new AtomicInteger();
        wait.claim(UposValues.FOREVER, () -> tries.incrementAndGet() == 5);  // released elsewhere meanwhile
        assertEquals(5, tries.get());

        tries.set(0);
        assertEquals(UposValues.JPOS_E_TIMEOUT, code(() -> {
            wait.claim(0, () -> tries.incrementAndGet() < 0);
            return null;
        }));
        assertEquals(1, tries.get(), "timeout 0 tries once");
        assertEquals(UposValues.JPOS_E_TIMEOUT, code(() -> {
            wait.claim(20, () -> false);
            return null;
        }));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, code(() -> {
            wait.claim(-2, () -> true);
            return null;
        }));
        assertEquals(TrovConst.JPOS_E_CLOSED, code(() -> {
            wait.claim(UposValues.FOREVER, () -> {
                throw new TrovException(TrovConst.JPOS_E_CLOSED, "closed while waiting");
            });
            return null;
        }), "what waiting cannot mend ends the wait");
    }

    @Test
    void aReleaseInThisProcessEndsThePauseAndAnInterruptEndsTheWait() throws Exception {
        ClaimWait wait = new ClaimWait(TimeUnit.HOURS.toMillis(1));
        AtomicBoolean free = new AtomicBoolean();
        Waiter claimer = new Waiter(() -> {
            wait.claim(UposValues.FOREVER, free::get);
            return "the claim";
        });
        free.set(true);
        wait.released();
        assertEquals("returned the claim", claimer.outcome(), "not after the hour's poll interval");

        Waiter interrupted = new Waiter(() -> {
            wait.claim(UposValues.FOREVER, () -> false);
            return null;
        });
        interrupted.interrupt();
        assertEquals("failed " + TrovConst.JPOS_E_FAILURE + " interrupted", interrupted.outcome());
    }
}
