// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.Optional;
import org.junit.jupiter.api.Test;

/** What Java sees of the library without asking it: its state in /proc and the keyboard's USB identity. */
class LibraryStateTest extends KeyboardFixture {

    private static final String NOT_SET_UP = "the claim table is not attached";

    @Test
    void theClaimTableShowsWhileTheDeviceIsOpen() throws Exception {
        LibraryView view = LibraryView.ofThisProcess();
        assertEquals(NOT_SET_UP, view.fault());
        TrovKeylockService service = keylock();
        service.open();
        assertEquals(null, view.fault());
        if (KEYBOARD.simulated()) {
            assertEquals(Optional.empty(), UsbIdentity.ofOpenKeyboard(), "the simulated node is no real file");
        } else {
            assertEquals("Trov POS keyboard (trovkbd-firmware)",
                    UsbIdentity.ofOpenKeyboard().orElseThrow().physicalDeviceName());
        }
        service.close();
        assertEquals(NOT_SET_UP, view.fault());
    }
}
