// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/** The simulator's key methods keep to the keyboard's input contract and can wait until input is taken. */
class SimulatorInputTest extends SimulatedKeyboardFixture {

    @Test
    void aReservedByteIsRefusedAsAKeyCodeByNameAndEveryOtherIsDelivered() throws Exception {
        List<Integer> reserved = IntStream.range(0, 256).filter(SimKeyboard::isReservedKeyCode).boxed().toList();
        assertEquals(List.of(0x00, 0x81, 0x82, 0x83, 0x84, 0x86, 0x91, 0x92, 0x93, 0x94, 0x96, 0xE0, 0xFE), reserved);
        TrovPOSKeyboardService keyboard = ready(keyboard());
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
        for (int code : reserved) {
            IllegalArgumentException refused = assertThrows(IllegalArgumentException.class,
                    () -> SimKeyboard.pressKey(NODE, code, 0));
            assertTrue(refused.getMessage().startsWith(String.format("0x%02X ", code)), refused.getMessage());
            assertThrows(IllegalArgumentException.class, () -> SimKeyboard.releaseKey(NODE, code, 1));
        }
        // A burst of every key code, each sent once the keyboard took the one before.
        List<KeyboardDataEvent> expected = new ArrayList<>();
        for (int code = 1; code < 256; ++code) {
            if (!SimKeyboard.isReservedKeyCode(code)) {
                assertEquals(1, SimKeyboard.pressKeyAndWait(NODE, code, false, (int) EVENT_WAIT_MS));
                expected.add(new KeyboardDataEvent(code, TrovConst.KBD_KET_KEYDOWN));
            }
        }
        assertEquals(expected, keys.next(expected.size(), EVENT_WAIT_MS), "nothing vanished into a frame");
    }
}
