// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.exampletest;

import com.trov.jpos.example.KeyboardExample;
import com.trov.jpos.sim.SimKeyboard;

/**
 * Runs the example application against the simulated keyboard of node 0 and, once the example has
 * enabled its services (the keyboard received the keylock position request EF 07), presses and
 * releases a key and turns the keylock, so that the test sees the example print what it receives.
 */
public final class ExampleDriver {

    private ExampleDriver() {
    }

    public static void main(String[] args) throws Exception {
        Thread typist = new Thread(ExampleDriver::type, "example-typist");
        typist.setDaemon(true);
        typist.start();
        KeyboardExample.main(args);
    }

    private static void type() {
        try {
            long deadline = System.nanoTime() + 120_000_000_000L;
            while (!positionRequested()) {
                if (System.nanoTime() > deadline) {
                    System.err.println("driver: the example never enabled the keylock");
                    return;
                }
                Thread.sleep(20);
            }
            SimKeyboard.pressKey(0, 0x41);
            SimKeyboard.releaseKey(0, 0x41);
            SimKeyboard.turnKeylock(0, 3);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static boolean positionRequested() {
        byte[] got = SimKeyboard.received(0);
        for (int i = 0; i + 1 < got.length; i++) {
            if ((got[i] & 0xFF) == 0xEF && got[i + 1] == 0x07) {
                return true;
            }
        }
        return false;
    }
}
