// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/** The UnifiedPOS device model on the real services: the input model, errors, health, statistics. */
class UposModelTest extends KeyboardFixture {

    // No blank in the name: the firmware keyboard's script takes tracks of printable text without blanks.
    private static final int EXTENDED = 1 << 16;  // getPOSKeyExtended() in the recorded key
    private static final String CARD = "%B4111111111111111^DOE/JOHN^2512101000?";

    @Test
    void keysQueueUntilWantedAndFreezeClearAndAutoDisableActOnTheQueue() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        List<Integer> heard = new ArrayList<>();
        Recorder<Integer> keys = new Recorder<>();
        keyboard.addDataListener(e -> keys.add(keyboard.getPOSKeyData() << 8 | keyboard.getPOSKeyEventType()
                | (keyboard.getPOSKeyExtended() ? EXTENDED : 0)));
        keyboard.open();
        keyboard.claim(0);
        keyboard.setDeviceEnabled(true);

        KEYBOARD.press(0x10);
        KEYBOARD.release(0x10);
        KEYBOARD.press(0x11, true);
        awaitTrue(() -> keyboard.getDataCount() == 2, EVENT_WAIT_MS, "two key downs queued, the release dropped");
        keyboard.setDataEventEnabled(true);
        heard.add(keys.next(EVENT_WAIT_MS));
        assertFalse(keyboard.getDataEventEnabled(), "a delivery turns DataEventEnabled off");
        assertEquals(1, keyboard.getDataCount());
        keyboard.setDataEventEnabled(true);
        heard.add(keys.next(EVENT_WAIT_MS));
        assertEquals(List.of(0x10 << 8 | TrovConst.KBD_KET_KEYDOWN, EXTENDED | 0x11 << 8 | TrovConst.KBD_KET_KEYDOWN), heard);

        keyboard.setFreezeEvents(true);
        keyboard.setDataEventEnabled(true);
        KEYBOARD.press(0x12);
        KEYBOARD.press(0x13);
        awaitTrue(() -> keyboard.getDataCount() == 2, EVENT_WAIT_MS, "frozen: both held");
        keyboard.clearInput();
        assertEquals(0, keyboard.getDataCount());
        KEYBOARD.press(0x14);
        awaitTrue(() -> keyboard.getDataCount() == 1, EVENT_WAIT_MS, "frozen: held");
        keyboard.setFreezeEvents(false);
        assertEquals(0x14 << 8 | TrovConst.KBD_KET_KEYDOWN, keys.next(EVENT_WAIT_MS), "released once thawed");

        keyboard.setAutoDisable(true);
        keyboard.setDataEventEnabled(true);
        KEYBOARD.press(0x15, true);
        assertEquals(EXTENDED | 0x15 << 8 | TrovConst.KBD_KET_KEYDOWN, keys.next(EVENT_WAIT_MS));
        assertFalse(keyboard.getDeviceEnabled(), "AutoDisable disabled the device after the key");
        keyboard.clearInputProperties();
        assertEquals(0, keyboard.getPOSKeyData() << 8 | keyboard.getPOSKeyEventType(), "the key's properties cleared");
        assertFalse(keyboard.getPOSKeyExtended(), "the extended flag too");
    }

    @Test
    void aSwipeWithABadlyFramedWantedTrackIsAnErrorAndAParsedOneFillsTheCardFields() throws Exception {
        TrovMSRService msr = msr();
        Recorder<String> heard = new Recorder<>();
        msr.addErrorListener(e -> heard.add("error " + e.getErrorCode() + " " + Integer.toHexString(e.getErrorCodeExtended())
                + " locus " + e.getErrorLocus() + " state " + msr.getState()));
        msr.addDataListener(e -> heard.add("data " + Integer.toHexString(e.getStatus()) + " " + msr.getSurname() + ","
                + msr.getFirstName() + "," + msr.getMiddleInitial() + " " + msr.getMaskedAccountNumber() + " "
                + msr.getExpirationDate() + " " + msr.getServiceCode()));
        ready(msr);
        msr.setTracksToRead(TrovConst.MSR_TR_1_2);
        KEYBOARD.swipe(CARD, "4111?", null);
        assertEquals("error 114 c900 locus 2 state " + TrovConst.JPOS_S_ERROR, heard.next(EVENT_WAIT_MS),
                "track 2 without its start sentinel: its byte holds 201, track 1's byte 0");
        awaitTrue(() -> msr.getState() == TrovConst.JPOS_S_IDLE, EVENT_WAIT_MS,
                "the answer (clear), given once the listener returns, ends the ERROR state");

        msr.setTracksToRead(TrovConst.MSR_TR_1);
        msr.setParseDecodeData(true);
        msr.setDataEventEnabled(true);
        KEYBOARD.swipe(CARD, null, null);
        assertEquals("data " + Integer.toHexString(CARD.length()) + " DOE,JOHN, 411111******1111 2512 101",
                heard.next(EVENT_WAIT_MS));
        assertEquals("4111111111111111", msr.getAccountNumber());

        msr.setDataEventEnabled(true);
        KEYBOARD.swipe("%B41111^NOSEPARATOR?", null, null);
        assertTrue(heard.next(EVENT_WAIT_MS).startsWith("error "), "a card that does not parse is an error");
    }

    @Test
    void healthStatisticsAndTheJmxBeanReportTheRealDevice() throws Exception {
        TrovPOSKeyboardService keyboard = ready(keyboard());
        keyboard.checkHealth(TrovConst.JPOS_CH_INTERNAL);
        assertEquals("Internal HCheck: Successful", keyboard.getCheckHealthText());
        keyboard.checkHealth(TrovConst.JPOS_CH_EXTERNAL);
        assertEquals("External HCheck: Successful", keyboard.getCheckHealthText(), "the keylock request was answered");
        TrovException interactive = assertThrows(TrovException.class, () -> keyboard.checkHealth(TrovConst.JPOS_CH_INTERACTIVE));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, interactive.getErrorCode());

        keyboard.resetStatistics("");
        KEYBOARD.press(0x10);
        KEYBOARD.release(0x10);
        awaitTrue(() -> pressed(keyboard) == 1, EVENT_WAIT_MS, "the key counted");
        javax.management.ObjectName name = DeviceMBean.of(ServiceKind.KEYBOARD).objectName();
        assertTrue(ManagementFactory.getPlatformMBeanServer().isRegistered(name), "the bean is there while open");
        keyboard.resetStatistics("KeyPressedCount");
        assertEquals(0, pressed(keyboard));
        keyboard.close();
        assertFalse(ManagementFactory.getPlatformMBeanServer().isRegistered(name), "and gone after the last close");
    }

    @Test
    void aClaimWithATimeoutWaitsForTheReleaseInAnotherProcess() throws Exception {
        assumeSimulator("the child JVM brings its own simulated keyboard");
        java.util.concurrent.CompletableFuture<String> child = java.util.concurrent.CompletableFuture.supplyAsync(() -> {
            try {
                return ChildJvm.runWith(ClaimHolder.class.getName(), List.of("3000"), "trov-tests.jar", "trovsim.jar",
                        "TrovJPOS.jar");
            } catch (Exception e) {
                throw new IllegalStateException(e);
            }
        });
        awaitTrue(() -> claimedElsewhere(), 60_000, "the child's claim");
        TrovMSRService msr = msr();
        msr.open();
        TrovException refused = assertThrows(TrovException.class, () -> msr.claim(0));
        assertEquals(TrovConst.JPOS_E_TIMEOUT, refused.getErrorCode());
        msr.claim(60_000);
        assertTrue(msr.getClaimed(), "taken once the other process released it");
        assertTrue(child.get().contains("released"), "the child released, it was not taken from it");
    }

    private static boolean claimedElsewhere() {
        try {
            return ClaimTableReader.at(1) == 1;
        } catch (Exception | AssertionError e) {
            return false;  // no table yet: the child has not opened
        }
    }

    private static long pressed(TrovPOSKeyboardService keyboard) {
        String[] buffer = {"KeyPressedCount"};
        try {
            keyboard.retrieveStatistics(buffer);
        } catch (TrovException e) {
            throw new AssertionError(e);
        }
        assertTrue(buffer[0].startsWith("<?xml") && buffer[0].contains("<UPOSStat"), buffer[0]);
        Matcher value = Pattern.compile("<Name>KeyPressedCount</Name>\\s*<Value>(\\d+)</Value>").matcher(buffer[0]);
        assertTrue(value.find(), buffer[0]);
        return Long.parseLong(value.group(1));
    }
}
