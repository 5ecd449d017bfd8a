// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import com.trov.jpos.sim.SimKeyboard;
import org.junit.jupiter.api.BeforeEach;

/**
 * For tests written against the simulator's own control API ({@link SimKeyboard} at {@link #NODE}):
 * they run on the simulator only and are skipped behind the real driver.
 * A new test drives the keyboard through {@link KeyboardFixture#KEYBOARD} instead, so that it runs on both.
 */
abstract class SimulatedKeyboardFixture extends KeyboardFixture {
    static final int NODE = SimulatorKeyboard.NODE;

    @BeforeEach
    void simulatorOnly() {
        assumeSimulator(getClass().getSimpleName() + " drives SimKeyboard directly");
    }

    /** Presence tests the keyboard got so far; the power-status poller makes one a second. */
    static long presenceTests() {
        return SimulatorKeyboard.presenceTests();
    }
}
