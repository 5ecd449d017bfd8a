// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import java.util.Arrays;

/** The simulated keyboard preloaded into this JVM (libtrovsim.so), at node 0. */
final class SimulatorKeyboard implements KeyboardControl {
    static final int NODE = 0;
    private static final int WAIT_MS = 8000;

    @Override
    public boolean simulated() {
        return true;
    }

    @Override
    public void reset() {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
    }

    @Override
    public void setKeylock(int digit) {
        SimKeyboard.setKeylock(NODE, digit);
    }

    @Override
    public void setTco(int index, String digits) {
        SimKeyboard.setTco(NODE, index, digits);
    }

    @Override
    public void setSilent(boolean silent) {
        SimKeyboard.setSilent(NODE, silent);
    }

    @Override
    public void key(int key, boolean extended, boolean release) {
        int taken = release ? SimKeyboard.releaseKeyAndWait(NODE, key, extended, WAIT_MS)
                : SimKeyboard.pressKeyAndWait(NODE, key, extended, WAIT_MS);
        assertTrue(taken > 0, "the keyboard did not take key " + key);
    }

    @Override
    public void turnKeylock(int digit) {
        assertTrue(SimKeyboard.turnKeylockAndWait(NODE, digit, WAIT_MS) > 0, "the keyboard did not take the turn");
    }

    @Override
    public void swipe(byte[] track1, byte[] track2, byte[] track3) {
        SimKeyboard.swipe(NODE, track1, track2, track3);
    }

    @Override
    public void sendRaw(byte... bytes) {
        SimKeyboard.sendRaw(NODE, bytes);
    }

    @Override
    public void unplug() {
        SimKeyboard.unplug(NODE);
    }

    @Override
    public void replug() {
        SimKeyboard.replug(NODE, 0);
    }

    @Override
    public int received() {
        return SimKeyboard.receivedInto(NODE, new byte[0]);
    }

    @Override
    public byte[] receivedSince(int mark, int count) {
        SimKeyboard.waitReceived(NODE, mark + count, WAIT_MS);
        byte[] all = SimKeyboard.received(NODE);
        return Arrays.copyOfRange(all, Math.min(mark, all.length), all.length);
    }

    @Override
    public int openHandles() {
        return SimKeyboard.openHandles(NODE);
    }

    @Override
    public void awaitPolls(int polls) throws InterruptedException {
        long target = presenceTests() + polls;
        long deadline = System.nanoTime() + (1000L * polls + WAIT_MS) * 1_000_000;
        while (presenceTests() < target) {
            assertTrue(System.nanoTime() < deadline, "the poller did not test the keyboard " + polls + " times");
            Thread.sleep(20);
        }
    }

    /** Presence tests the keyboard got so far; the power-status poller makes one a second. */
    static long presenceTests() {
        return SimKeyboard.count(NODE, SimKeyboard.REQ_GDEVINFO);
    }
}
