// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/** The keylock service's life: finding the keyboard, the claim table, the input pipe and the device's descriptor. */
class KeylockServiceTest extends KeyboardFixture {

    private static boolean fifoExists() {
        return Files.exists(Path.of("InputFifo"));
    }

    @Test
    void theKeyboardIsFoundOnlyWhilePluggedIn() throws Exception {
        KEYBOARD.unplug();
        TrovKeylockService service = keylock();
        TrovException e = assertThrows(TrovException.class, service::open);
        assertEquals(TrovConst.JPOS_E_NOSERVICE, e.getErrorCode());
        assertTrue(e.getMessage().contains("no POS keyboard was found"), e.getMessage());
        assertEquals(TrovConst.JPOS_S_CLOSED, service.getState());
        assertEquals(TrovConst.JPOS_E_NOSERVICE, service.OpenKeylock(), "the native result itself");
        assertFalse(ClaimSegment.exists(), "a failed open leaves no claim table");

        KEYBOARD.replug();
        service.open();
        assertEquals(TrovConst.JPOS_S_IDLE, service.getState());
    }

    @Test
    void openClaimEnableSendsThePositionRequestAndCloseReleasesEverything() throws Exception {
        TrovKeylockService service = keylock();
        service.open();
        assertTrue(ClaimSegment.exists(), "the first open creates the claim table");
        assertFalse(fifoExists(), "the library makes no file in the working directory");
        service.claim(0);
        assertTrue(service.isKeylockClaimed(), "the claim reaches the shared table");
        service.setDeviceEnabled(true);
        assertArrayEquals(bytes(0xEF, 0x07), receivedAtLeast(2));

        service.close();
        assertEquals(TrovConst.JPOS_S_CLOSED, service.getState());
        // On a freshly booted kernel the claim table is System V segment 0, which "no segment" must not mean.
        assertFalse(ClaimSegment.exists(), "the last close removes the claim table");
        assertEquals(0, KEYBOARD.openHandles(), "the last close closes the device");
        assertFalse(service.isKeylockClaimed());
    }

    @Test
    void aClaimHeldByOneServiceObjectIsRefusedToAnother() throws Exception {
        TrovKeylockService first = keylock();
        TrovKeylockService second = keylock();
        first.open();
        second.open();
        assertEquals(1, KEYBOARD.openHandles(), "the device is opened once for both");
        first.claim(0);
        TrovException e = assertThrows(TrovException.class, () -> second.claim(0));
        assertEquals(TrovConst.JPOS_E_TIMEOUT, e.getErrorCode());
        first.release();
        second.claim(0);
        assertTrue(second.isClaimed());

        first.close();
        assertEquals(1, KEYBOARD.openHandles(), "the device stays open for the second object");
        second.close();
        assertEquals(0, KEYBOARD.openHandles());
    }

    @Test
    void closeCompletesWhenTheKeyboardIsSilentAndStillSendsTheWakeUpRequest() throws Exception {
        TrovKeylockService service = keylock();
        service.open();
        KEYBOARD.setSilent(true);
        int mark = KEYBOARD.received();
        service.close();
        assertEquals(0, KEYBOARD.openHandles());
        assertFalse(ClaimSegment.exists());
        assertFalse(fifoExists());
        assertArrayEquals(bytes(0xEF, 0x07), KEYBOARD.receivedSince(mark, 2), "the shutdown's wake-up request");
    }

    @Test
    void aServiceCanBeOpenedAgainAfterClose() throws Exception {
        TrovKeylockService service = keylock();
        service.open();
        service.close();
        service.open();
        assertEquals(TrovConst.JPOS_S_IDLE, service.getState());
        assertEquals(1, KEYBOARD.openHandles());
        assertTrue(ClaimSegment.exists());
    }
}
