// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.List;
import org.junit.jupiter.api.Test;

/** The bytes each write puts on the wire, and the writes and enables the native layer refuses. */
class WritesAndGatesTest extends KeyboardFixture {

    @Test
    void eachWriteSendsExactlyItsBytes() throws Exception {
        TrovKeylockService keylock = keylock();
        keylock.open();
        keylock.setDeviceEnabled(true);
        assertArrayEquals(bytes(0xEF, 0x07), receivedAtLeast(2), "enabling the keylock");

        TrovPOSKeyboardService keyboard = ready(keyboard());
        // Bytes from 0x80 up travel as negative usage values; a zero after the first byte is sent too.
        assertSent(bytes(0x1B, 0x81, 0x00, 0xFF, 0x7F, 0x80, 0x01), keyboard::writeCommand, "a raw keyboard command");
        assertSent(filled(80, 0x31), keyboard::writeCommand, "the longest keyboard command");

        TrovToneIndicatorService tone = ready(tone());
        assertSent(bytes(0x07, 0x90, 0x03), tone::sound, "a tone command");
        assertSent(filled(16, 0x07), tone::sound, "the longest tone command");
    }

    private interface Write {
        void send(byte[] bytes) throws TrovException;
    }

    private static void assertSent(byte[] bytes, Write write, String what) throws TrovException {
        int mark = KEYBOARD.received();
        write.send(bytes);
        assertArrayEquals(bytes, KEYBOARD.receivedSince(mark, bytes.length), what);
    }

    @Test
    void keyboardWritesNeedTheOpenKeyboardServiceAndACountThatFits() throws Exception {
        int mark = KEYBOARD.received();
        TrovPOSKeyboardService keyboard = keyboard();
        assertEquals(-1, keyboard.WritePOSKeyboard(bytes(0x1B), 1), "nothing open");
        TrovKeylockService keylock = keylock();
        assertEquals(0, keylock.OpenKeylock());  // natively: an open() would open the keyboard service too
        assertEquals(-1, keyboard.WritePOSKeyboard(bytes(0x1B), 1), "the device is open, the keyboard service not");

        keyboard.open();
        assertEquals(-1, keyboard.WritePOSKeyboard(bytes(0x1B, 0x1B, 0x1B), 4), "more than the array holds");
        assertEquals(-1, keyboard.WritePOSKeyboard(filled(81, 0x31), 81), "more than 80");
        assertEquals(-1, keyboard.WritePOSKeyboard(bytes(0x1B), -1), "negative");
        assertEquals(-1, keyboard.WritePOSKeyboard(null, 1), "no array");
        keyboard.claim(0);
        keyboard.setDeviceEnabled(true);
        TrovException refused = assertThrows(TrovException.class, () -> keyboard.writeCommand(filled(81, 0x31)));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, refused.getErrorCode());
        // The bytes of one write that goes through arrive after anything sent before them.
        keyboard.writeCommand(bytes(0x0D));
        assertArrayEquals(bytes(0x0D), KEYBOARD.receivedSince(mark, 1), "only the write that went through was sent");
        keylock.CloseKeylock();
    }

    @Test
    void toneWritesNeedTheEnabledToneIndicatorAndACountThatFits() throws Exception {
        int mark = KEYBOARD.received();
        TrovToneIndicatorService tone = tone();
        tone.open();
        tone.claim(0);
        assertEquals(0, tone.WriteToneIndicator(bytes(0x07), 1), "not enabled");
        tone.setDeviceEnabled(true);
        assertEquals(-1, tone.WriteToneIndicator(bytes(0x07, 0x07), 3), "more than the array holds");
        assertEquals(-1, tone.WriteToneIndicator(filled(17, 0x07), 17), "more than 16");
        assertEquals(0, tone.WriteToneIndicator(bytes(0x07), -1), "negative");
        assertEquals(-1, tone.WriteToneIndicator(null, 1), "no array");
        assertEquals(-1, tone.WriteToneIndicator(null, -1), "no array, negative count");
        tone.sound(bytes(0x0D));
        assertArrayEquals(bytes(0x0D), KEYBOARD.receivedSince(mark, 1), "only the write that went through was sent");
    }

    @Test
    void enablingTheKeyboardBeforeItsClaimStartsNothingOnTheSimulator() throws Exception {
        assumeSimulator("counts the presence tests of the power-status poller, which only the simulator sees");
        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<Integer> statuses = new Recorder<>();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        keyboard.addStatusUpdateListener(e -> statuses.add(e.getStatus()));
        keyboard.addDataListener(keys::add);
        TrovKeylockService keylock = keylock();
        Recorder<Integer> positions = Recorder.statusesOf(keylock);
        keyboard.open();
        keylock.open();
        keylock.setDeviceEnabled(true);
        positions.next(EVENT_WAIT_MS);

        long tests = SimulatorKeyboard.presenceTests();
        keyboard.enablePOSKeyboard(true);
        KEYBOARD.press(0x41);
        KEYBOARD.turnKeylock(1);  // decoded after the key
        positions.next(EVENT_WAIT_MS);
        Thread.sleep(1200);  // the poller would have tested the keyboard at once
        assertEquals(tests, SimulatorKeyboard.presenceTests(), "no power-status poller");
        assertEquals(List.of(), statuses.all());
        assertEquals(List.of(), keys.all());

        keyboard.claim(0);
        keyboard.setDeviceEnabled(true);
        KeyboardFixture.hearAll(keyboard);
        awaitPolls(1);
        KEYBOARD.press(0x42);
        assertEquals(0x42, keys.next(EVENT_WAIT_MS).getKeyCode());
    }
}
