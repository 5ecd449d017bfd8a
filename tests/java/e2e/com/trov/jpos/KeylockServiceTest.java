package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.sim.SimKeyboard;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The keylock service in a real JVM, against the simulated keyboard preloaded into this process. */
class KeylockServiceTest {
    private final List<TrovService> opened = new ArrayList<>();

    @BeforeEach
    void absentKeyboard() throws Exception {
        SimKeyboard.reset();
        assertFalse(ClaimSegment.exists(), "a claim segment is left over from an earlier run");
    }

    @AfterEach
    void closeEverything() {
        opened.forEach(TrovService::close);
        SimKeyboard.reset();
    }

    private TrovKeylockService keylock() {
        TrovKeylockService service = new TrovKeylockService();
        opened.add(service);
        return service;
    }

    @Test
    void openWithoutKeyboardFailsWithNoService() {
        TrovKeylockService service = keylock();
        TrovException e = assertThrows(TrovException.class, service::open);
        assertEquals(TrovConst.JPOS_E_NOSERVICE, e.getErrorCode());
        assertTrue(e.getMessage().contains("no POS keyboard was found"), e.getMessage());
        assertEquals(ServiceState.CLOSED, service.getState());
        assertEquals(TrovConst.JPOS_E_NOSERVICE, service.OpenKeylock(), "the native result itself");
    }

    @Test
    void openClaimEnableSendsThePositionRequestAndCloseRemovesTheClaimTable() throws Exception {
        SimKeyboard.plugKeyboard(0);
        TrovKeylockService service = keylock();
        service.open();
        assertTrue(ClaimSegment.exists(), "the first open creates the claim table");
        service.claim();
        assertTrue(service.isKeylockClaimed(), "the claim reaches the shared table");
        service.setDeviceEnabled(true);

        SimKeyboard.waitReceived(0, 2, 2000);
        assertArrayEquals(new byte[] {(byte) 0xEF, 0x07}, SimKeyboard.received(0));

        service.close();
        assertEquals(ServiceState.CLOSED, service.getState());
        assertFalse(ClaimSegment.exists(), "the last close removes the claim table");
        assertEquals(0, SimKeyboard.openHandles(0), "the last close closes the device");
        assertFalse(service.isKeylockClaimed());
    }

    @Test
    void aClaimHeldByOneServiceObjectIsRefusedToAnother() throws Exception {
        SimKeyboard.plugKeyboard(0);
        TrovKeylockService first = keylock();
        TrovKeylockService second = keylock();
        first.open();
        second.open();
        assertEquals(1, SimKeyboard.count(0, SimKeyboard.REQ_OPEN), "the device is opened once for both");
        first.claim();
        TrovException e = assertThrows(TrovException.class, second::claim);
        assertEquals(TrovConst.JPOS_E_CLAIMED, e.getErrorCode());
        first.release();
        second.claim();
        assertTrue(second.isClaimed());

        first.close();
        assertEquals(1, SimKeyboard.openHandles(0), "the device stays open for the second object");
        second.close();
        assertEquals(0, SimKeyboard.openHandles(0));
    }

    @Test
    void closeCompletesWhenTheKeyboardIsSilent() throws Exception {
        SimKeyboard.plugKeyboard(0);
        TrovKeylockService service = keylock();
        service.open();
        SimKeyboard.setSilent(0, true);
        service.close();
        assertEquals(0, SimKeyboard.openHandles(0));
        assertFalse(ClaimSegment.exists());
    }

    @Test
    void aServiceCanBeOpenedAgainAfterClose() throws Exception {
        SimKeyboard.plugKeyboard(0);
        TrovKeylockService service = keylock();
        service.open();
        service.close();
        service.open();
        assertEquals(ServiceState.IDLE, service.getState());
        assertEquals(2, SimKeyboard.count(0, SimKeyboard.REQ_OPEN));
        assertTrue(ClaimSegment.exists());
    }
}
