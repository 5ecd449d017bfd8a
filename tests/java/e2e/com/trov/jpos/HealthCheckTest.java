// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** checkHealth's results and texts over given checks, and the library's state as /proc shows it. */
class HealthCheckTest {

    @Test
    void levelsGiveTheirTexts() throws Exception {
        AtomicInteger trips = new AtomicInteger();
        HealthCheck sound = new HealthCheck(() -> null, timeout -> trips.incrementAndGet() > 0);
        HealthCheck silent = new HealthCheck(() -> null, timeout -> false);
        HealthCheck broken = new HealthCheck(() -> "the claim table is not attached",
                timeout -> trips.incrementAndGet() > 0);
        int internal = TrovConst.JPOS_CH_INTERNAL;
        int external = TrovConst.JPOS_CH_EXTERNAL;

        assertEquals(new HealthCheck.Result(1, true, "Internal HCheck: Successful"), sound.check(internal));
        assertEquals(0, trips.get(), "the internal check leaves the keyboard alone");
        assertEquals(new HealthCheck.Result(2, true, "External HCheck: Successful"), sound.check(external));
        assertEquals(1, trips.get());
        assertEquals(new HealthCheck.Result(2, false, "External HCheck: no answer from the keyboard within 2000 ms"),
                silent.check(external));
        assertEquals(new HealthCheck.Result(1, false, "Internal HCheck: the claim table is not attached"),
                broken.check(internal));
        assertEquals("External HCheck: the claim table is not attached", broken.check(external).text());
        assertEquals(1, trips.get(), "no round trip when the service's own side is broken");
        for (int level : new int[] {TrovConst.JPOS_CH_INTERACTIVE, 0, 4}) {
            TrovException e = assertThrows(TrovException.class, () -> sound.check(level));
            assertEquals(TrovConst.JPOS_E_ILLEGAL, e.getErrorCode());
        }
    }

    @Test
    void answersCountOnlyAfterTheMark() throws Exception {
        HealthCheck.Answers answers = new HealthCheck.Answers();
        answers.answered();
        long mark = answers.mark();
        assertFalse(answers.awaitAfter(mark, 10), "an answer before the mark does not count");
        Thread answer = new Thread(answers::answered);
        answer.start();
        assertTrue(answers.awaitAfter(mark, 60_000));
        answer.join();
    }

    @Test
    void libraryViewFindsTheClaimTable(@TempDir Path proc) throws Exception {
        String segment = "f7f00000-f7f01000 rw-s 00000000 00:01 32769  /SYSV000000%x (deleted)\n";
        Files.writeString(proc.resolve("maps"), String.format(segment, 100));
        LibraryView view = new LibraryView(proc);
        assertEquals(null, view.fault());

        Files.writeString(proc.resolve("maps"), String.format(segment, 101));
        assertEquals("the claim table is not attached", view.fault());
        assertEquals("the claim table is not attached", new LibraryView(proc.resolve("gone")).fault());
    }
}
