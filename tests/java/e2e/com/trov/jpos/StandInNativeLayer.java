// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.EnumMap;
import java.util.Map;

/**
 * A native layer in plain Java for tests that need thousands of openings and power-offs: one lock
 * for every open, close, claim and enable, one count per service, and a power-off that, like the
 * library, calls the keyboard's status listener with that lock held and then zeroes every count; from
 * then on the keyboard is away, and an open of the keyboard service fails, until {@link #replug()}.
 * Events are raised through the service classes' own listener methods, as the library raises them.
 */
final class StandInNativeLayer implements NativeLayer {
    private final Map<ServiceKind, Integer> counts = new EnumMap<>(ServiceKind.class);
    private final boolean[] claimed = new boolean[ServiceKind.values().length];
    private final TrovPOSKeyboardService keyboardEndpoint = new TrovPOSKeyboardService();
    private final TrovKeylockService keylockEndpoint = new TrovKeylockService();
    private final TrovMSRService msrEndpoint = new TrovMSRService();
    /** The next native disable throws this, once. */
    final java.util.concurrent.atomic.AtomicReference<RuntimeException> nextDisableThrows =
            new java.util.concurrent.atomic.AtomicReference<>();
    private boolean deviceOpen;
    /** What the next opens return; anything but 0 opens nothing, as when no keyboard is found. */
    volatile int openResult;
    /** Set by a power-off, cleared by {@link #replug()}: opens of the keyboard service then fail. */
    private volatile boolean away;
    /** How many opens of the keyboard service failed because it was away. */
    final java.util.concurrent.atomic.AtomicInteger awayOpens = new java.util.concurrent.atomic.AtomicInteger();
    private final java.util.concurrent.atomic.AtomicReference<Runnable> beforeNextOpen = new java.util.concurrent.atomic.AtomicReference<>();
    private final java.util.concurrent.atomic.AtomicReference<Runnable> afterNextOpen = new java.util.concurrent.atomic.AtomicReference<>();

    @Override
    public void load() {
    }

    @Override
    public int open(ServiceKind kind) {
        runOnce(beforeNextOpen);
        if (openResult != 0) {
            return openResult;
        }
        if (away && kind == ServiceKind.KEYBOARD) {
            awayOpens.incrementAndGet();
            return TrovConst.JPOS_E_NOSERVICE;
        }
        synchronized (this) {
            deviceOpen = true;
            counts.merge(kind, 1, Integer::sum);
        }
        runOnce(afterNextOpen);
        return 0;
    }

    /** Has the next native open run {@code hook} just before (or just after) it opens. */
    void aroundNextOpen(boolean before, Runnable hook) {
        (before ? beforeNextOpen : afterNextOpen).set(hook);
    }

    private static void runOnce(java.util.concurrent.atomic.AtomicReference<Runnable> hook) {
        Runnable taken = hook.getAndSet(null);
        if (taken != null) {
            taken.run();
        }
    }

    @Override
    public synchronized void close(ServiceKind kind) {
        counts.computeIfPresent(kind, (k, n) -> n > 1 ? n - 1 : null);
        if (counts.isEmpty()) {
            deviceOpen = false;
            java.util.Arrays.fill(claimed, false);
        }
    }

    private final java.util.concurrent.atomic.AtomicReference<Runnable> duringNextEnable = new java.util.concurrent.atomic.AtomicReference<>();

    /** Has the next native enable (not disable) run {@code hook} before it returns. */
    void duringNextEnable(Runnable hook) {
        duringNextEnable.set(hook);
    }

    @Override
    public void enable(ServiceKind kind, boolean enable) {
        if (enable) {
            runOnce(duringNextEnable);
        }
        enableChecked(enable);
    }

    private synchronized void enableChecked(boolean enable) {
        RuntimeException failure = enable ? null : nextDisableThrows.getAndSet(null);
        if (failure != null) {
            throw failure;
        }
    }

    @Override
    public synchronized void claim(ServiceKind kind, boolean claim) {
        claimed[kind.ordinal()] = deviceOpen && claim;
    }

    @Override
    public synchronized boolean isClaimed(ServiceKind kind) {
        return claimed[kind.ordinal()];
    }

    /** The open counts, e.g. {@code {KEYBOARD=1, KEYLOCK=1}}; empty once the device is closed. */
    synchronized String counts() {
        return (deviceOpen ? "open " : "closed ") + counts;
    }

    /** The keyboard's power-off, with an event of the dying opening raised after the report. */
    synchronized void powerOff(Runnable lateEvent) {
        keyboardEndpoint.keyboardStatusUpdateEvent(TrovConst.SUE_POWER_OFF_OFFLINE);
        lateEvent.run();
        counts.clear();
        deviceOpen = false;
        java.util.Arrays.fill(claimed, false);
        away = true;
    }

    /** The keyboard is back: the next open of the keyboard service works. */
    void replug() {
        away = false;
    }

    /** Another process claims {@code kind} in the shared table. */
    synchronized void claimElsewhere(ServiceKind kind) {
        claimed[kind.ordinal()] = true;
    }

    /** A power-off raised on a thread of its own, as the library raises it, waited for. */
    void powerOffOnItsThread() {
        Thread raise = new Thread(() -> powerOff(() -> { }));
        raise.start();
        try {
            raise.join();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    void status(int status) {
        keyboardEndpoint.keyboardStatusUpdateEvent(status);
    }

    void key(int code) {
        keyboardEndpoint.keyboardDataEvent(code, TrovConst.KBD_KET_KEYDOWN);
    }

    void keylock(int position) {
        keylockEndpoint.keylockStatusUpdateEvent(position);
    }

    /** A swipe of which no track could be read: an input error. */
    void unreadableSwipe() {
        msrEndpoint.msrDataEvent(new byte[] {0}, new byte[] {0}, new byte[] {0});
    }

    /** A swipe with track 1 "A" and two empty tracks, as the library passes it. */
    void swipe() {
        msrEndpoint.msrDataEvent(new byte[] {'A', 0}, new byte[] {0}, new byte[] {0});
    }
}
