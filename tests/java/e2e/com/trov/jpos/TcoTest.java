package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import org.junit.jupiter.api.Test;

/** TCO queries: the query on the wire, the reply read as a 32-bit hexadecimal number, the bounded wait. */
class TcoTest extends SimulatedKeyboardFixture {

    @Test
    void repliesAreReadAsThirtyTwoBitHexadecimalNumbers() throws Exception {
        SimKeyboard.setTco(NODE, 1, "1F");
        SimKeyboard.setTco(NODE, 2, "FF");
        SimKeyboard.setTco(NODE, 3, "ff");
        SimKeyboard.setTco(NODE, 4, "80000000");
        SimKeyboard.setTco(NODE, 5, "");
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
        SimKeyboard.setTco(NODE, 0x34, "2A");
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        SimKeyboard.clearReceived(NODE);

        assertEquals(42, keyboard.readTco(0x1234));
        assertArrayEquals(bytes(0xEF, 0x50, 0xEF, 0x49, 0x31, 0x34), SimKeyboard.received(NODE));
    }

    @Test
    void aSilentKeyboardGivesZeroAfterABoundedWait() throws Exception {
        SimKeyboard.setTco(NODE, 7, "1F");
        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        SimKeyboard.setSilent(NODE, true);

        long start = System.nanoTime();
        assertEquals(0, keyboard.readTco(7));
        long waitedMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(waitedMs >= 2900 && waitedMs < 10_000, "waited " + waitedMs + " ms");

        SimKeyboard.setSilent(NODE, false);
        assertEquals(31, keyboard.readTco(7), "the next query after the time-out gets its own reply");
    }
}
