// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/** TCO queries: the query on the wire, the reply read as a 32-bit hexadecimal number, the bounded wait. */
class TcoTest extends KeyboardFixture {

    @Test
    void repliesAreReadAsThirtyTwoBitHexadecimalNumbers() throws Exception {
        KEYBOARD.setTco(1, "1F");
        KEYBOARD.setTco(2, "FF");
        KEYBOARD.setTco(3, "ff");
        KEYBOARD.setTco(4, "80000000");
        KEYBOARD.setTco(5, "");
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();  // a query needs the open service only

        assertEquals(31, keyboard.readTco(1));
        assertEquals(255, keyboard.readTco(2));
        assertEquals(255, keyboard.readTco(3));
        assertEquals(-2147483648, keyboard.readTco(4));
        assertEquals(0, keyboard.readTco(5), "an empty reply");
        assertEquals(31, keyboard.readTco(1), "a later query is not confused by the earlier replies");
    }

    @Test
    void theQueryCarriesTheIndexLowByte() throws Exception {
        KEYBOARD.setTco(0x34, "2A");
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        int mark = KEYBOARD.received();

        assertEquals(42, keyboard.readTco(0x1234));
        assertArrayEquals(bytes(0xEF, 0x50, 0xEF, 0x49, 0x31, 0x34), KEYBOARD.receivedSince(mark, 6));
    }

    @Test
    void aSilentKeyboardGivesZeroAfterABoundedWait() throws Exception {
        KEYBOARD.setTco(7, "1F");
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        KEYBOARD.setSilent(true);

        long start = System.nanoTime();
        assertEquals(0, keyboard.readTco(7));
        long waitedMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(waitedMs >= 1900 && waitedMs < 10_000, "waited " + waitedMs + " ms");

        KEYBOARD.setSilent(false);
        assertEquals(31, keyboard.readTco(7), "the next query after the time-out gets its own reply");
    }
}
