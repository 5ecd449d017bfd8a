package com.trov.jpos;

import java.util.concurrent.atomic.AtomicInteger;

/**
 * Counts the times the native layer shut every service down on its own, which it does when the
 * keyboard reports power-off ({@link TrovConst#SUE_POWER_OFF_OFFLINE}). A service object remembers
 * the count when it opens; a different count later means its native service is already closed, so
 * the object moves to {@link ServiceState#CLOSED} without calling the native close again.
 *
 * <p>Lock-free, because the count is raised from a native event thread.
 */
final class DeviceShutdowns {

    private static final AtomicInteger COUNT = new AtomicInteger();

    private DeviceShutdowns() {
    }

    /** Returns the number of shutdowns so far. */
    static int current() {
        return COUNT.get();
    }

    /** Records that the native layer has shut every service down. */
    static void record() {
        COUNT.incrementAndGet();
    }
}
