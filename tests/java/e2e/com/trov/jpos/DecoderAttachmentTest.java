// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** The library's decoder thread stays attached to the VM while its opening lasts, and no longer. */
class DecoderAttachmentTest extends KeyboardFixture {

    private static List<Thread> decoders() {
        return Thread.getAllStackTraces().keySet().stream()
                .filter(t -> t.getName().equals("TrovJPOS-decoder")).collect(Collectors.toList());
    }

    @Test
    void decoderIsOneDaemonThreadWhileOpenAndDetachedByTheLastClose() throws Exception {
        TrovPOSKeyboardService keyboard = keyboard();
        Recorder<KeyboardDataEvent> keys = new Recorder<>();
        keyboard.addDataListener(keys::add);
        ready(keyboard);
        for (int key : new int[] {0x41, 0x42}) {
            KEYBOARD.press(key);
            assertEquals(key, keys.next(EVENT_WAIT_MS).getKeyCode());
        }
        List<Thread> attached = decoders();
        assertEquals(1, attached.size(), "one attachment for both keys: " + attached);
        assertTrue(attached.get(0).isDaemon(), "a daemon never holds up the VM's exit");

        keyboard.close();
        assertEquals(List.of(), decoders(), "the last close ends the decoder, which detached itself");
    }
}
