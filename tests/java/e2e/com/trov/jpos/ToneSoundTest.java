// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static com.trov.jpos.Waiter.failure;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

/** The tone indicator's UnifiedPOS sound over the keyboard's own tone command bytes. */
class ToneSoundTest extends KeyboardFixture {
    private static final int HOUR = 3_600_000;

    private static TrovToneIndicatorService tones(TrovToneIndicatorService tone, int tone1, int duration1, int tone2,
                                                  int duration2) {
        tone.setTone1Command(bytes(0x07, tone1));
        tone.setTone1Duration(duration1);
        tone.setTone2Command(bytes(0x07, tone2));
        tone.setTone2Duration(duration2);
        return tone;
    }

    private static Recorder<Integer> completionsOf(TrovToneIndicatorService tone) {
        Recorder<Integer> heard = new Recorder<>();
        tone.addOutputCompleteListener(e -> heard.add(e.getOutputID()));
        return heard;
    }

    @Test
    void soundSendsBothTonesOfEveryCycleInOrderThenCompletesWithItsOutputId() throws Exception {
        TrovToneIndicatorService tone = tones(ready(tone()), 0x31, 1, 0x32, 1);
        Recorder<Integer> completions = completionsOf(tone);
        tone.setInterToneWait(1);
        tone.sound(3, 1);
        int id = tone.getOutputID();
        assertEquals(id, completions.next(EVENT_WAIT_MS));
        assertEquals(TrovConst.JPOS_S_IDLE, tone.getState(), "BUSY ends with the output");

        tone.setTone2Duration(0);
        tone.soundImmediate();
        assertArrayEquals(bytes(7, 0x31, 7, 0x32, 7, 0x31, 7, 0x32, 7, 0x31, 7, 0x32, 7, 0x31), receivedAtLeast(14),
                "three cycles of both tones, then soundImmediate's tone 1 alone");
    }

    @Test
    void clearOutputEndsTheBusyStateAndDropsTheOutputsAndTheirEvents() throws Exception {
        TrovToneIndicatorService tone = tones(ready(tone()), 0x31, HOUR, 0x32, HOUR);
        Recorder<Integer> completions = completionsOf(tone);
        tone.sound(TrovConst.JPOS_FOREVER, 0);
        tone.sound(1, 0);
        assertEquals(TrovConst.JPOS_S_BUSY, tone.getState(), "BUSY while under way");
        assertEquals(TrovConst.JPOS_E_BUSY, failure(tone::soundImmediate));
        assertArrayEquals(bytes(7, 0x31), receivedAtLeast(2), "the first tone sounds for an hour");

        tone.clearOutput();
        assertEquals(TrovConst.JPOS_S_IDLE, tone.getState(), "no longer BUSY");
        tones(tone, 0x33, 1, 0x34, 0).sound(1, 0);
        assertEquals(tone.getOutputID(), completions.next(EVENT_WAIT_MS), "the cleared outputs raised no event");
        assertArrayEquals(bytes(7, 0x31, 7, 0x33), receivedAtLeast(4), "nothing more of the cleared outputs");
    }

    @Test
    void aFailedWriteBecomesAnOutputErrorEvent() throws Exception {
        TrovToneIndicatorService tone = tones(ready(tone()), 0x31, 1, 0x32, 1);
        Recorder<ErrorEvent> errors = new Recorder<>();
        tone.addErrorListener(errors::add);
        KEYBOARD.unplug();
        tone.sound(2, 0);
        ErrorEvent error = errors.next(EVENT_WAIT_MS);
        assertEquals(TrovConst.JPOS_EL_OUTPUT, error.getErrorLocus());
        assertEquals(TrovConst.JPOS_E_FAILURE, error.getErrorCode());
        KEYBOARD.replug();
    }
}
