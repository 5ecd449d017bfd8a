// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;

/** Tests of the Java classes over {@link StandInNativeLayer} in place of the library, for each test. */
@Tag("stand-in")
abstract class StandInFixture {
    static {
        QuietLog.install();
    }

    static final long WAIT_MS = 8000;
    final StandInNativeLayer stand = new StandInNativeLayer();
    private NativeLayer real;

    @BeforeEach
    void standIn() {
        real = DeviceSession.useNativeLayer(stand);
    }

    @AfterEach
    void backToTheLibrary() {
        DeviceSession.useNativeLayer(real);
    }
}
