// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/**
 * A keyboard service class with only the listener methods every keyboard class declares (not ours),
 * loaded with the library in a JVM of its own: keyboardDataEvent receives the key byte 0 to 255 and the
 * event type, for an extended key too.
 */
class PlainKeyboardClassTest {
    @Test
    void extendedKeysArriveAsTheirKeyByte() throws Exception {
        KeyboardFixture.assumeSimulator("the child JVM binds the library to a class of its own, with the simulator preloaded");
        String output = ChildJvm.run("PlainKeyboardMain", "plain-keyboard.jar", "trovsim.jar");
        assertTrue(output.contains("open returned 0"), output);
        assertTrue(output.contains("key 72 1\nkey 200 2\nkey 72 1\n"), output);
        assertFalse(output.contains("Exception occurred"), "the class lacks only our optional listener: " + output);
    }
}
