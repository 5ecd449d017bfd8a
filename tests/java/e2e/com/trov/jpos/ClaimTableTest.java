// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import org.junit.jupiter.api.Test;

/** The claim table as another process sees it: byte 0 keylock, 1 MSR, 2 POS keyboard, 3 tone. */
class ClaimTableTest extends KeyboardFixture {
    private static final int KEYBOARD = 2;

    @Test
    void eachClaimSetsItsOwnByteAndTheLastCloseRemovesTheTable() throws Exception {
        TrovMSRService msr = msr();
        TrovPOSKeyboardService keyboard = keyboard();
        TrovToneIndicatorService tone = tone();
        msr.open();
        keyboard.open();
        tone.open();
        assertArrayEquals(new int[] {0, 0, 0, 0, 0}, ClaimTableReader.read());

        msr.claim(0);
        keyboard.claim(0);
        tone.claim(0);
        assertArrayEquals(new int[] {0, 1, 1, 1, 0}, ClaimTableReader.read());

        keyboard.release();
        assertArrayEquals(new int[] {0, 1, 0, 1, 0}, ClaimTableReader.read());

        msr.close();
        keyboard.close();
        assertArrayEquals(new int[] {0, 0, 0, 1, 0}, ClaimTableReader.read(), "close releases the claim");
        tone.close();
        assertNull(ClaimTableReader.read(), "the last close removes the table");
    }

    @Test
    void aClosedKeyboardServiceCanOnlyReleaseItsClaim() throws Exception {
        // A native open of the keylock alone keeps the device and the table while the keyboard service
        // comes and goes (an open() would keep the keyboard service open as well).
        TrovKeylockService keylock = keylock();
        assertEquals(0, keylock.OpenKeylock());
        try {
            keyboardClaimsAfterItsClose();
        } finally {
            keylock.CloseKeylock();
        }
    }

    private void keyboardClaimsAfterItsClose() throws Exception {
        TrovPOSKeyboardService never = keyboard();
        never.claimPOSKeyboard(true);
        assertEquals(0, ClaimTableReader.at(KEYBOARD), "a claim by a keyboard service never opened");
        assertFalse(never.isPOSKeyboardClaimed());

        TrovPOSKeyboardService keyboard = keyboard();
        keyboard.open();
        keyboard.claim(0);
        keyboard.close();
        assertEquals(0, ClaimTableReader.at(KEYBOARD), "closed while the keylock stays open");

        // A claim the service object does not know of survives its close.
        keyboard.open();
        keyboard.claimPOSKeyboard(true);
        keyboard.close();
        assumeTrue(ClaimTableReader.at(KEYBOARD) == 1, "the native close keeps the claim byte");

        TrovPOSKeyboardService fresh = keyboard();
        fresh.claimPOSKeyboard(true);
        assertArrayEquals(new int[] {0, 0, 0, 0, 0}, ClaimTableReader.read(),
                "the claim of a closed keyboard service is released");
    }
}
