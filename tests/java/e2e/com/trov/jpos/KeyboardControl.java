// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.nio.charset.StandardCharsets;

/**
 * The POS keyboard the end-to-end scenarios drive: the in-process simulator ({@link SimulatorKeyboard}),
 * or the firmware at the device end of a USB cable behind the real Linux driver ({@link FirmwareKeyboard},
 * in the VM of the real-driver tier). Chosen by the system property {@code trov.test.keyboard}
 * ({@code simulator}, the default, or {@code firmware}).
 */
interface KeyboardControl {
    static KeyboardControl selected() {
        String name = System.getProperty("trov.test.keyboard", "simulator");
        switch (name) {
            case "simulator":
                return new SimulatorKeyboard();
            case "firmware":
                return FirmwareKeyboard.fromProperties();
            default:
                throw new IllegalArgumentException("trov.test.keyboard: no keyboard called " + name);
        }
    }

    /** Whether this is the simulator, which can also count driver requests and inject faults. */
    boolean simulated();

    /** As at power-up, plugged in: keylock position 0, no TCO values, answering. */
    void reset();

    /** The keylock position (0..9) answered to the position request, without sending input. */
    void setKeylock(int digit);

    /** The reply digits to a TCO query with this index byte; empty for a reply without digits. */
    void setTco(int index, String digits);

    /** A silent keyboard answers nothing, but still records what it receives. */
    void setSilent(boolean silent);

    /** A key going down, or up when {@code release}; returns once the keyboard took it. */
    void key(int key, boolean extended, boolean release);

    /** Sets the keylock position and sends its frame. */
    void turnKeylock(int digit);

    /** A card swipe; null or empty for an empty track. Tracks hold no blanks. */
    void swipe(byte[] track1, byte[] track2, byte[] track3);

    /** Input bytes as they are, four to an input report, zero padded. */
    void sendRaw(byte... bytes);

    /** Pulls the cable: the node goes, a blocked read fails. */
    void unplug();

    /** Plugs the cable in again; returns once the node is there. */
    void replug();

    /** The number of command bytes received so far: a mark for {@link #receivedSince}. */
    int received();

    /** The command bytes received since the mark, once at least {@code count} are there (or after 8 s). */
    byte[] receivedSince(int mark, int count);

    /** The descriptors this process holds open on the keyboard's node. */
    int openHandles();

    /** Returns once the power-status poller, if it runs, has tested the keyboard's presence {@code polls} more times. */
    void awaitPolls(int polls) throws InterruptedException;

    default void press(int key, boolean extended) {
        key(key, extended, false);
    }

    default void release(int key, boolean extended) {
        key(key, extended, true);
    }

    default void press(int key) {
        key(key, false, false);
    }

    default void release(int key) {
        key(key, false, true);
    }

    default void swipe(String track1, String track2, String track3) {
        swipe(latin1(track1), latin1(track2), latin1(track3));
    }

    private static byte[] latin1(String text) {
        return text == null ? null : text.getBytes(StandardCharsets.ISO_8859_1);
    }
}
