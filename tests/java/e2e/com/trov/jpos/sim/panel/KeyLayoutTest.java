// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The layout file of the simulated keyboard's window, and the splitting of what the keyboard received. */
class KeyLayoutTest {
    @Test
    void readsRowsExtendedKeysAndKeylockPositions() throws LayoutException {
        KeyLayout layout = KeyLayout.parse("till.layout", List.of(
                "# a comment", "title Till", "key 41 A  b", "", "row", "row", "key e0:48 Up", "keylock 3 Manager"));
        assertEquals("Till", layout.getTitle());
        assertEquals(List.of(List.of(new KeyLayout.Key(0x41, false, "A  b")), List.of(new KeyLayout.Key(0x48, true, "Up"))),
                layout.getRows());
        assertEquals(List.of(new KeyLayout.Position(3, "Manager")), layout.getPositions());
        assertEquals(5, KeyLayout.defaults().getRows().size());
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "key 84 Lock     | 0x84 is reserved",
        "key 00 Nul      | 0x00 is reserved",
        "key FE Up       | 0xFE is reserved",
        "key E0:E0 Twice | 0xE0 is reserved",
        "key E0:93 End   | 0x93 is reserved",
        "key 4 Four      | '4' is not a key code",
        "key 41          | a key needs a code and a label",
        "key 31 One      | key 31 is given twice",
        "keylock 10 Ten  | a keylock position needs a digit 0 to 9",
        "keylock 1 Again | keylock digit 1 is given twice",
        "row 2           | 'row' takes nothing after it",
        "button 41 A     | unknown word 'button'",
    })
    void refusesABadLineNamingIt(String line, String reason) {
        LayoutException e = assertThrows(LayoutException.class,
                () -> KeyLayout.parse("till.layout", List.of("key 31 One", "keylock 1 Register", "", line)));
        assertEquals(4, e.getLine());
        assertTrue(e.getMessage().startsWith("till.layout line 4: " + reason), e.getMessage());
        assertTrue(e.getMessage().endsWith("(\"" + line + "\")"), e.getMessage());
    }

    @Test
    void refusesALayoutWithoutKeys() {
        LayoutException e = assertThrows(LayoutException.class, () -> KeyLayout.parse("empty", List.of("keylock 0 Off")));
        assertEquals("empty: no key is given", e.getMessage());
    }

    @Test
    void splitsABurstIntoTheKeyboardsCommandsAndToneCommands() {
        byte[] burst = {0x07, 0x31, (byte) 0xEF, 0x07, (byte) 0xEF, 0x50, (byte) 0xEF, 0x49, 0x31, 0x01, 0x07, (byte) 0xEF};
        List<String> described = ReceivedCommands.split(burst).stream().map(ReceivedCommands.Command::describe).toList();
        assertEquals(List.of("07 31 (tone command)", "EF 07 (keylock position request)",
                "EF 50 EF 49 31 01 (TCO query for index 0x01)", "07 EF (tone command)"), described);
    }
}
