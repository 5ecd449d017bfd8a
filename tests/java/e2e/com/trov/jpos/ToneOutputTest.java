// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static com.trov.jpos.Waiter.failure;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** sound, soundImmediate, clearOutput and output ids over a stand-in tone write. */
@Tag("stand-in")
class ToneOutputTest {
    private static final int HOUR = 3_600_000;
    private final List<Integer> written = new CopyOnWriteArrayList<>();
    private final List<String> heard = new CopyOnWriteArrayList<>();
    private final ToneOutput tone = new ToneOutput("tone-test", command -> {
        if (command[0] == 9) {
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "write failed");
        }
        written.add((int) command[0]);
    }, new ToneOutput.Events() {
        public void outputComplete(int outputId) {
            heard.add("complete " + outputId);
        }

        public void outputFailed(int outputId, TrovException cause) {
            heard.add("failed " + outputId + " " + cause.getErrorCode());
        }
    });

    private static ToneOutput.Cycle cycle(int tone1, int duration1, int tone2, int duration2) throws TrovException {
        return new ToneOutput.Cycle(new byte[] {(byte) tone1}, duration1, 1, new byte[] {(byte) tone2}, duration2);
    }

    /** Waits, bounded, until the worker has ended: every output done or dropped. */
    private void workerEnds() throws InterruptedException {
        Thread worker = tone.worker();
        if (worker != null) {
            worker.join(TimeUnit.SECONDS.toMillis(10));
            assertFalse(worker.isAlive(), "the worker still runs");
        }
    }

    @Test
    void outputsSoundTheirCyclesInOrderAndEachCompletesWithItsId() throws Exception {
        int first = tone.sound(cycle(1, 1, 2, 1), 2, 1);
        int second = tone.sound(cycle(3, 1, 4, 0), 1, 0);
        assertEquals(second, tone.getOutputID());
        assertEquals(first + 1, second);
        workerEnds();
        assertEquals(List.of(1, 2, 1, 2, 3), written, "tone 2 sounds only with a duration");
        assertEquals(List.of("complete " + first, "complete " + second), heard);
        assertFalse(tone.isBusy());

        ToneOutput.Cycle good = cycle(1, 1, 2, 1);
        for (Waiter.Step bad : List.<Waiter.Step>of(
                () -> cycle(1, 0, 2, 0), () -> cycle(0, 1, 2, 0), () -> cycle(1, 1, 0, 1),
                () -> new ToneOutput.Cycle(new byte[17], 1, 0, null, 0), () -> new ToneOutput.Cycle(null, 1, 0, null, 0),
                () -> new ToneOutput.Cycle(new byte[] {1}, 1, -1, new byte[] {2}, 1),
                () -> tone.sound(good, 0, 0), () -> tone.sound(good, -2, 0), () -> tone.sound(good, 1, -1))) {
            assertEquals(TrovConst.JPOS_E_ILLEGAL, failure(bad));
        }
    }

    @Test
    void clearOutputEndsALongToneAtOnceWithoutEventsAndImmediateWaitsForNoOne() throws Exception {
        tone.sound(cycle(1, HOUR, 2, HOUR), TrovConst.JPOS_FOREVER, 0);
        tone.sound(cycle(3, 1, 4, 1), 1, 0);
        assertTrue(tone.isBusy());
        assertEquals(TrovConst.JPOS_E_BUSY, failure(() -> tone.soundImmediate(cycle(5, 1, 6, 1))));
        tone.clearOutput();
        workerEnds();
        assertFalse(tone.isBusy());
        assertEquals(List.of(), heard, "no event for a dropped output");
        assertTrue(written.equals(List.of()) || written.equals(List.of(1)), "nothing after tone 1: " + written);

        written.clear();
        tone.soundImmediate(cycle(5, 1, 6, 1));
        assertEquals(List.of(5, 6), written, "on the caller's thread, done when it returns");
        Waiter immediate = new Waiter(() -> {
            tone.soundImmediate(cycle(7, HOUR, 8, 1));
            return null;
        });
        tone.close();
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, immediate.outcome());
    }

    @Test
    void aFailedWriteEndsItsOutputAndDropsTheOnesBehind() throws Exception {
        int failing;
        synchronized (tone) {  // both queued before the worker takes the first
            failing = tone.sound(cycle(9, 1, 2, 0), 1, 0);
            tone.sound(cycle(3, 1, 4, 0), 1, 0);
        }
        workerEnds();
        assertEquals(List.of("failed " + failing + " " + TrovConst.JPOS_E_FAILURE), heard);
        assertEquals(List.of(), written);
    }
}
