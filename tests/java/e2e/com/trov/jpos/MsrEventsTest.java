// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Card swipes: the tracks the application receives, and the arrays the library hands to Java. */
class MsrEventsTest extends KeyboardFixture {

    private static final byte[] TRACK1 = "B4111111111111111^DOE/JANE^2512101".getBytes(StandardCharsets.US_ASCII);

    @Test
    void threeTracksArriveWholeAnEmptyOneEmptyAndA255ByteOneWhole() throws Exception {
        TrovMSRService msr = msr();
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        ready(msr);

        byte[] track2 = "4111111111111111=2512101".getBytes(StandardCharsets.US_ASCII);
        byte[] track3 = filled(255, '3');
        KEYBOARD.swipe(TRACK1, track2, track3);
        MsrDataEvent swipe = swipes.next(EVENT_WAIT_MS);
        assertArrayEquals(TRACK1, swipe.getTrack1());
        assertArrayEquals(track2, swipe.getTrack2());
        assertArrayEquals(track3, swipe.getTrack3());

        KEYBOARD.swipe(null, track2, null);
        swipe = swipes.next(EVENT_WAIT_MS);
        assertEquals(0, swipe.getTrack1().length);
        assertArrayEquals(track2, swipe.getTrack2());
        assertEquals(0, swipe.getTrack3().length, "nothing of the earlier swipe's track 3 is left");
    }

    @Test
    void aSwipeWhileDisabledDeliversNothing() throws Exception {
        TrovMSRService msr = msr();
        Recorder<MsrDataEvent> swipes = Recorder.swipesOf(msr);
        msr.open();
        msr.claim(0);
        TrovKeylockService keylock = keylock();
        Recorder<Integer> positions = Recorder.statusesOf(keylock);
        keylock.open();
        keylock.setDeviceEnabled(true);
        positions.next(EVENT_WAIT_MS);

        KEYBOARD.swipe("DISABLED", "DISABLED", "DISABLED");
        // Input is decoded in order: once this turn arrives, the swipe before it has been decoded.
        KEYBOARD.turnKeylock(5);
        assertEquals(6, positions.next(EVENT_WAIT_MS));
        msr.setDeviceEnabled(true);
        KeyboardFixture.hearAll(msr);
        KEYBOARD.swipe(TRACK1, null, null);

        MsrDataEvent swipe = swipes.next(EVENT_WAIT_MS);
        assertArrayEquals(TRACK1, swipe.getTrack1());
        assertEquals(List.of(swipe), swipes.all());
    }

    /**
     * The listener method gets each track as its bytes and one terminating 0 byte, an empty track as a
     * single 0 byte; a swipe of three empty tracks likewise.
     */
    @Test
    void theListenerMethodGetsEachTrackWithOneTerminatingZeroByteOnTheSimulator() throws Exception {
        assumeSimulator("a child JVM binds the library to a probe class, with the simulator preloaded");
        String output = ChildJvm.run(NativeTrackProbe.class.getName());
        String[] lines = output.lines().filter(l -> !l.isBlank()).toArray(String[]::new);
        String hex1 = java.util.HexFormat.of().formatHex(NativeTrackProbe.TRACK1) + "00";
        String hex3 = "37".repeat(255) + "00";
        assertEquals(List.of("open 0", "event " + hex1 + " 00 " + hex3, "event 00 00 00", "handles 0"),
                List.of(lines), output);
    }
}
