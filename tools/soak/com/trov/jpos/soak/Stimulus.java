// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import com.trov.jpos.sim.SimKeyboard;
import java.util.Random;

/** What a person at the counter does, at random: key presses and releases, keylock turns, swipes. */
final class Stimulus {
    private static final int[] MARKERS = {0x81, 0x82, 0x83, 0x84, 0x86, 0x91, 0x92, 0x93, 0x94, 0x96};
    private static final int RELEASE = 0xFE;
    private static final int EXTENDED = 0xE0;

    private final Random random;

    Stimulus(Random random) {
        this.random = random;
    }

    static boolean isMarker(int b) {
        for (int m : MARKERS) {
            if (m == b) {
                return true;
            }
        }
        return false;
    }

    /** A key code the keyboard sends: not 0, a marker or a prefix. */
    static boolean isKey(int b) {
        return b > 0 && b < 256 && !isMarker(b) && b != RELEASE && b != EXTENDED;
    }

    /** A byte a track may carry: not 0 and not a marker. */
    static boolean isTrackByte(int b) {
        return b > 0 && b < 256 && !isMarker(b);
    }

    int key() {
        int b;
        do {
            b = 1 + random.nextInt(255);
        } while (!isKey(b));
        return b;
    }

    byte[] track(int maxLength) {
        byte[] t = new byte[random.nextInt(maxLength + 1)];
        for (int i = 0; i < t.length; ++i) {
            int b;
            do {
                b = 1 + random.nextInt(255);
            } while (!isTrackByte(b));
            t[i] = (byte) b;
        }
        return t;
    }

    /** Sends one random input; false when the keyboard did not take it (nobody has it open, or full). */
    boolean sendOne(int node) {
        int what = random.nextInt(100);
        int queued;
        if (what < 45) {
            queued = SimKeyboard.pressKey(node, key(), random.nextInt(4) == 0 ? 1 : 0);
        } else if (what < 90) {
            queued = SimKeyboard.releaseKey(node, key(), random.nextInt(4) == 0 ? 1 : 0);
        } else if (what < 95) {
            queued = SimKeyboard.turnKeylock(node, random.nextInt(10));
        } else {
            queued = SimKeyboard.swipe(node, track(40), track(40), track(40));
        }
        return queued > 0;
    }

    /** A byte stream as the keyboard frames it. */
    static final class Bytes {
        private final java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();

        Bytes swipe(byte[][] tracks) {
            for (int t = 0; t < 3; ++t) {
                out.write(0x81 + t);
                out.write(tracks[t], 0, tracks[t].length);
                out.write(t < 2 ? 0x91 + t : 0x93);
            }
            return this;
        }

        Bytes key(int code) {
            out.write(code);
            return this;
        }

        byte[] toArray() {
            return out.toByteArray();
        }
    }
}
