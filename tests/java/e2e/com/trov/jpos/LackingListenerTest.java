// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;

/**
 * A keylock service class that lacks one of its listener methods, loaded with the library in a JVM of
 * its own (the library can be bound to one class of that name per JVM).
 */
class LackingListenerTest {
    @Test
    void openFailsWithTheLookupExceptionAndReleasesTheDeviceOnTheSimulator() throws Exception {
        KeyboardFixture.assumeSimulator("the child JVM binds the library to a class of its own, with the simulator preloaded");
        String output = ChildJvm.run("LackingListenerMain", "lacking-listener.jar", "trovsim.jar");
        assertTrue(output.contains("thrown: java.lang.NoSuchMethodError: keylockDirectIOEvent"), output);
        assertTrue(output.contains("device handles after the failed open: 0"), output);
        assertTrue(output.contains("second open: java.lang.NoSuchMethodError"), output);
    }
}
