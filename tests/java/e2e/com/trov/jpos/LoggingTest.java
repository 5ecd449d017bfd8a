// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** What the Java classes log through the platform logger "com.trov.jpos" (java.util.logging here). */
@Tag("stand-in")
class LoggingTest {
    static {
        QuietLog.install();
    }


    @Test
    void normalOperationLogsAtDebugAndTheOutageAndAThrowingListenerWarn() throws Exception {
        LogCapture records = new LogCapture();
        StandInNativeLayer stand = new StandInNativeLayer();
        NativeLayer real = DeviceSession.useNativeLayer(stand);
        try {
            stand.openResult = TrovConst.JPOS_E_NOSERVICE;
            TrovMSRService msr = new TrovMSRService();
            assertThrows(TrovException.class, msr::open);
            assertEquals("closed {}", stand.counts(), "a failed open leaves nothing open");
            stand.openResult = 0;
            msr.addStatusUpdateListener(e -> {
                throw new IllegalStateException("listener failure");
            });
            msr.open();
            msr.claim(0);
            msr.setDeviceEnabled(true);
            KeyboardFixture.hearAll(msr);
            List<LogRecord> normal = records.all();
            stand.powerOffOnItsThread();
            SimulatedKeyboardFixture.awaitTrue(() -> records.all().stream().anyMatch(r -> r.getThrown() != null),
                    8000, "the listener's failure in the log");

            assertEquals(List.of(Level.INFO, Level.FINE, Level.FINE, Level.FINE, Level.FINE), levels(normal),
                    LogCapture.messages(normal)::toString);
            assertTrue(LogCapture.messages(normal).get(0).contains("hiddev nodes"), "the failed open's cause as Java sees it");
            List<LogRecord> warnings = records.all().stream().filter(r -> r.getLevel() == Level.WARNING).toList();
            assertEquals(2, warnings.size(), () -> LogCapture.messages(records.all()).toString());
            LogRecord shutdown = warnings.stream().filter(r -> r.getThrown() == null).findFirst().orElseThrow();
            assertTrue(LogCapture.messages(List.of(shutdown)).get(0).contains("power off/offline (2004)"));
            assertTrue(LogCapture.messages(List.of(shutdown)).get(0).contains(msr.toString()), "names the object it closed");
            LogRecord failure = warnings.stream().filter(r -> r.getThrown() != null).findFirst().orElseThrow();
            assertEquals("listener failure", failure.getThrown().getMessage());
            msr.close();  // ends the search for the keyboard, which would otherwise try the real library
        } finally {
            DeviceSession.useNativeLayer(real);
            records.close();
        }
    }

    private static List<Level> levels(List<LogRecord> records) {
        return records.stream().map(LogRecord::getLevel).toList();
    }
}
