// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.logging.Handler;
import java.util.logging.LogRecord;
import java.util.logging.Logger;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The terminal's settings file, named by the system property, behind sound() and the keylock's count. */
class TerminalSettingsTest extends KeyboardFixture {

    @TempDir
    Path dir;

    private final Recorder<String> records = new Recorder<>();
    private final Handler handler = new Handler() {
        @Override
        public void publish(LogRecord record) {
            if (record.getMessage().startsWith("Terminal settings")) {
                records.add(record.getMessage());
            }
        }

        @Override
        public void flush() {
        }

        @Override
        public void close() {
        }
    };
    private static final Logger LIBRARY = Logger.getLogger("com.trov.jpos");

    @BeforeEach
    void listen() {
        LIBRARY.addHandler(handler);
    }

    @AfterEach
    void forget() {
        LIBRARY.removeHandler(handler);
        System.clearProperty(TerminalSettings.PATH_PROPERTY);
    }

    private Path settings(String... lines) throws Exception {
        Path file = dir.resolve("trovjpos.properties");
        Files.write(file, List.of(lines));
        System.setProperty(TerminalSettings.PATH_PROPERTY, file.toString());
        return file;
    }

    @Test
    void aGoodFileBeepsWithNoCodeAndSetsThePositionCount() throws Exception {
        settings("# the terminal", "tone1.command = 07 31 32", "tone1.duration: 20", "keylock.positions=4");
        TrovToneIndicatorService tone = ready(tone());
        tone.sound(1, 0);
        assertArrayEquals(bytes(7, 0x31, 0x32), receivedAtLeast(3));
        assertEquals(4, keylock().getPositionCount());
        assertEquals(20, tone().getTone1Duration());
        assertEquals(List.of(), records.all(), "a good file says nothing");
    }

    @Test
    void aMissingOrUnreadableFileLeavesTheDefaultsAndTheRefusedSoundSaysWhereTheCommandBelongs() throws Exception {
        Path missing = dir.resolve("none.properties");
        System.setProperty(TerminalSettings.PATH_PROPERTY, missing.toString());
        TrovToneIndicatorService tone = ready(tone());
        TrovException refused = assertThrows(TrovException.class, () -> tone.sound(1, 0));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, refused.getErrorCode());
        assertTrue(refused.getMessage().contains("set tone1.command in " + missing), refused.getMessage());
        assertEquals(TrovKeylockService.DEFAULT_POSITION_COUNT, keylock().getPositionCount());
        assertEquals(1, records.all().size(), () -> records.all().toString());

        System.setProperty(TerminalSettings.PATH_PROPERTY, dir.toString());  // a directory: unreadable
        ready(keylock()).close();
        assertEquals(2, records.all().size(), () -> records.all().toString());
        assertTrue(records.all().get(1).contains(dir + " cannot be read"), records.all().get(1));
    }

    @Test
    void badLinesAreNamedInOneRecordAndKeepTheirDefaultsWhileTheGoodOnesApply() throws Exception {
        Path file = settings("tone1.command = 07 3G", "keylock.positions = 11", "tone2.duration = 30",
                "tone1.comand = 07");
        TrovKeylockService keylock = ready(keylock());
        TrovToneIndicatorService tone = ready(tone());
        assertEquals(TrovKeylockService.DEFAULT_POSITION_COUNT, keylock.getPositionCount());
        assertEquals(null, tone.getTone1Command());
        assertEquals(30, tone.getTone2Duration());
        List<String> logged = records.all();
        assertEquals(1, logged.size(), logged::toString);
        for (String named : List.of(file.toString(), "line 1 ", "line 2 ", "line 4 ")) {
            assertTrue(logged.get(0).contains(named), named + " in " + logged.get(0));
        }
    }
}
