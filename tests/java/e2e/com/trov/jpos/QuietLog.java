// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.logging.Logger;

/**
 * Keeps the library's log records (power-off warnings, failing listeners the tests provoke) off the
 * console of the test run, whose warnings must come from the JNI checker alone. Tests that look at
 * the records attach a handler of their own.
 */
final class QuietLog {
    /** Held, because java.util.logging keeps its loggers only weakly. */
    private static final Logger LIBRARY = Logger.getLogger("com.trov.jpos");

    static {
        LIBRARY.setUseParentHandlers(false);
    }

    private QuietLog() {
    }

    /** Takes effect once this class is initialised. */
    static void install() {
    }
}
