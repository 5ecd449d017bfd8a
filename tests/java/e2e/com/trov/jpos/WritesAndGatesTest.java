package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.trov.jpos.sim.SimKeyboard;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The bytes each write puts on the wire, and the writes and enables the native layer refuses. */
class WritesAndGatesTest extends SimulatedKeyboardFixture {

    @Test
    void eachWriteSendsExactlyItsBytes() throws Exception {
        TrovKeylockService keylock = keylock();
        keylock.open();
        keylock.setDeviceEnabled(true);
        assertArrayEquals(bytes(0xEF, 0x07), receivedAtLeast(2), "enabling the keylock");

        TrovPOSKeyboardService keyboard = ready(keyboard());
        SimKeyboard.clearReceived(NODE);
        keyboard.writeCommand(bytes(0x1B, 0x81, 0x7F, 0xFF));
        assertArrayEquals(bytes(0x1B, 0x81, 0x7F, 0xFF), SimKeyboard.received(NODE), "a raw keyboard command");

        SimKeyboard.clearReceived(NODE);
        keyboard.writeCommand(filled(80, 0x31));
        assertArrayEquals(filled(80, 0x31), SimKeyboard.received(NODE), "the longest keyboard command");

        TrovToneIndicatorService tone = ready(tone());
        SimKeyboard.clearReceived(NODE);
        tone.sound(bytes(0x07, 0x90, 0x03));
        assertArrayEquals(bytes(0x07, 0x90, 0x03), SimKeyboard.received(NODE), "a tone command");

        SimKeyboard.clearReceived(NODE);
        tone.sound(filled(16, 0x07));
        assertArrayEquals(filled(16, 0x07), SimKeyboard.received(NODE), "the longest tone command");
    }

    @Test
    void keyboardWritesNeedTheOpenKeyboardServiceAndACountThatFits() throws Exception {
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
        keyboard.claim();
        keyboard.setDeviceEnabled(true);
        TrovException refused = assertThrows(TrovException.class, () -> keyboard.writeCommand(filled(81, 0x31)));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, refused.getErrorCode());
        assertEquals(0, SimKeyboard.received(NODE).length, "nothing was sent");
        keylock.CloseKeylock();
    }

    @Test
    void toneWritesNeedTheEnabledToneIndicatorAndACountThatFits() throws Exception {
        TrovToneIndicatorService tone = tone();
        tone.open();
        tone.claim();
        assertEquals(0, tone.WriteToneIndicator(bytes(0x07), 1), "not enabled");
        tone.setDeviceEnabled(true);
        assertEquals(-1, tone.WriteToneIndicator(bytes(0x07, 0x07), 3), "more than the array holds");
        assertEquals(-1, tone.WriteToneIndicator(filled(17, 0x07), 17), "more than 16");
        assertEquals(0, tone.WriteToneIndicator(bytes(0x07), -1), "negative");
        assertEquals(-1, tone.WriteToneIndicator(null, 1), "no array");
        assertEquals(-1, tone.WriteToneIndicator(null, -1), "no array, negative count");
        assertEquals(0, SimKeyboard.received(NODE).length, "nothing was sent");
    }

    @Test
    void enablingTheKeyboardBeforeItsClaimStartsNothing() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<Integer> statuses = new Recorder<>();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        keyboard.addStatusUpdateListener(e -> statuses.add(e.getStatus()));
        keyboard.addDataListener(keys::add);
        TrovKeylockService keylock = keylock();
        Recorder<Integer> positions = new Recorder<>();
        keylock.addStatusUpdateListener(e -> positions.add(e.getStatus()));
        keyboard.open();
        keylock.open();
        keylock.setDeviceEnabled(true);
        positions.next(EVENT_WAIT_MS);

        long tests = presenceTests();
        keyboard.enablePOSKeyboard(true);
        SimKeyboard.pressKey(NODE, 0x41);
        SimKeyboard.turnKeylock(NODE, 1);  // decoded after the key
        positions.next(EVENT_WAIT_MS);
        Thread.sleep(1200);  // the poller would have tested the keyboard at once
        assertEquals(tests, presenceTests(), "no power-status poller");
        assertEquals(List.of(), statuses.all());
        assertEquals(List.of(), keys.all());

        keyboard.claim();
        keyboard.setDeviceEnabled(true);
        awaitPolls(1);
        SimKeyboard.pressKey(NODE, 0x42);
        assertEquals(0x42, keys.next(EVENT_WAIT_MS).getKeyCode());
    }
}
