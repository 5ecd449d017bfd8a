// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The services' log and their reports of what they do for themselves (logging, JMX): a failure there
 * never reaches the call or the event that was being logged. A failure of each kind is told once on
 * the standard error stream, since the log itself may be what fails, and otherwise ignored.
 */
final class ServiceLog {

    private static final System.Logger LOG = System.getLogger("com.trov.jpos");

    /** Whether a failure of the log was told already. */
    private static final AtomicBoolean LOG_FAILED = new AtomicBoolean();

    /** Whether a failure of the JMX registration was told already. */
    private static final AtomicBoolean JMX_FAILED = new AtomicBoolean();

    private ServiceLog() {
    }

    /** Logs a message with {@link java.text.MessageFormat} parameters; never throws. */
    static void log(System.Logger.Level level, String format, Object... parameters) {
        try {
            LOG.log(level, format, parameters);
        } catch (Throwable t) {
            tellOnce(LOG_FAILED, "Logging", t);
        }
    }

    /** Logs a message with a throwable and its stack; never throws. */
    static void log(System.Logger.Level level, String message, Throwable thrown) {
        try {
            LOG.log(level, message, thrown);
        } catch (Throwable t) {
            tellOnce(LOG_FAILED, "Logging", t);
        }
    }

    /** A JMX registration or unregistration failed: told once, otherwise ignored. Never throws. */
    static void jmxFailed(Throwable t) {
        tellOnce(JMX_FAILED, "Registering the services' MBeans", t);
    }

    private static void tellOnce(AtomicBoolean told, String what, Throwable t) {
        if (told.compareAndSet(false, true)) {
            try {
                System.err.println("TrovJPOS: " + what + " failed (" + t
                        + "); the services go on without it and say no more about it");
            } catch (Throwable ignored) {
                // Nowhere left to say it.
            }
        }
    }
}
