// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * The native calls that open, close, claim and enable a service, as {@link DeviceSession} makes them.
 * The library keeps one open count, one registered Java object and one claim flag per service for
 * the whole process; the session decides when the process's Java objects need a native call.
 * {@link JniLayer} is the real library; a test may put a stand-in in its place.
 */
interface NativeLayer {

    /**
     * Loads the library if needed.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_NOSERVICE} when it cannot be loaded
     */
    void load() throws TrovException;

    /** Opens the service natively: 0 on success, {@link TrovConst#JPOS_E_NOSERVICE} otherwise. */
    int open(ServiceKind kind);

    void close(ServiceKind kind);

    void enable(ServiceKind kind, boolean enable);

    void claim(ServiceKind kind, boolean claim);

    /** Reads the claim flag that every process using the library shares. */
    boolean isClaimed(ServiceKind kind);
}
