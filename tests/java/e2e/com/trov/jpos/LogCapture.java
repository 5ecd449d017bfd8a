// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.List;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;

/**
 * Takes every record the library logs (logger "com.trov.jpos", all levels) until closed: records it, or
 * ({@link #failing(String)}) throws at each, as a log that is full or broken does.
 */
final class LogCapture implements AutoCloseable {

    private final Logger logger = Logger.getLogger("com.trov.jpos");
    private final Level previousLevel = logger.getLevel();
    private final Recorder<LogRecord> records = new Recorder<>();
    private final String failure;
    private final Handler handler = new Handler() {
        @Override
        public void publish(LogRecord record) {
            if (failure != null) {
                throw new IllegalStateException(failure);
            }
            records.add(record);
        }

        @Override
        public void flush() {
        }

        @Override
        public void close() {
        }
    };

    LogCapture() {
        this(null);
    }

    private LogCapture(String failure) {
        this.failure = failure;
        logger.setLevel(Level.ALL);
        logger.addHandler(handler);
    }

    /** A log whose every record throws an {@link IllegalStateException} saying {@code failure}. */
    static LogCapture failing(String failure) {
        return new LogCapture(failure);
    }

    /** The records so far, oldest first. */
    List<LogRecord> all() {
        return records.all();
    }

    /** The records' messages with their parameters filled in. */
    static List<String> messages(List<LogRecord> records) {
        return records.stream().map(r -> java.text.MessageFormat.format(r.getMessage(),
                r.getParameters() == null ? new Object[0] : r.getParameters())).toList();
    }

    @Override
    public void close() {
        logger.removeHandler(handler);
        logger.setLevel(previousLevel);
    }
}
