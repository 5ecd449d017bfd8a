// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.EnumMap;
import java.util.Map;

/**
 * The real native layer, reached through one internal object of each service class. The library
 * registers the object a native open was called on and calls its listener methods; those methods
 * hand every event to {@link DeviceSession}, which passes it on to the application's objects. So the
 * library's one registration per service always points at the internal object, whichever
 * application objects come and go.
 */
final class JniLayer implements NativeLayer {

    // Written once under DeviceSession's lock, which every caller holds.
    private Map<ServiceKind, TrovService> endpoints;

    @Override
    public void load() throws TrovException {
        NativeLibrary.ensureLoaded();
        if (endpoints == null) {
            Map<ServiceKind, TrovService> made = new EnumMap<>(ServiceKind.class);
            made.put(ServiceKind.KEYLOCK, new TrovKeylockService());
            made.put(ServiceKind.MSR, new TrovMSRService());
            made.put(ServiceKind.KEYBOARD, new TrovPOSKeyboardService());
            made.put(ServiceKind.TONE, new TrovToneIndicatorService());
            endpoints = made;
        }
    }

    @Override
    public int open(ServiceKind kind) {
        return endpoints.get(kind).nativeOpen();
    }

    @Override
    public void close(ServiceKind kind) {
        endpoints.get(kind).nativeClose();
    }

    @Override
    public void enable(ServiceKind kind, boolean enable) {
        endpoints.get(kind).nativeEnable(enable);
    }

    @Override
    public void claim(ServiceKind kind, boolean claim) {
        endpoints.get(kind).nativeClaim(claim);
    }

    @Override
    public boolean isClaimed(ServiceKind kind) {
        return endpoints.get(kind).nativeIsClaimed();
    }
}
