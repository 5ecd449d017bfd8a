// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.ArrayList;
import java.util.EnumMap;
import java.util.EnumSet;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.concurrent.atomic.AtomicReferenceArray;

/**
 * One opening of the device as the Java side holds it: from the first open of any service object of
 * the process to the last close, or to the keyboard's power-off. It keeps the open objects of each
 * service, decides when a native call is needed, and passes the library's events on to the objects.
 *
 * <p>Counts. The library keeps one open count and one registered object per service. A session opens
 * the keyboard service natively when it starts, through the keyboard's internal object, and closes it
 * when it ends; the keylock, MSR and tone indicator are opened natively by the first object of the
 * service and closed by the last. So each native count is 1 while Java holds an object of the
 * service (the keyboard's while Java holds any object), the device is closed exactly when the last
 * Java object closes, and the library's registrations point at the internal objects for good.
 *
 * <p>Power-off. With the keyboard service always open, the library's power-off report (status 2004)
 * always reaches Java, whichever services the application opened. The library reports it while it
 * still holds its own lifecycle lock, just before it shuts every service down; the session then ends:
 * every member is CLOSED at once and gets the 2004 as its last event, and the session lets go of its
 * members and claimers, so that an ended session keeps no object alive. Objects of an ended session never call the library again, so their close() cannot touch a later
 * opening.
 *
 * <p>Locks, in nesting order: a service object's lock, then {@link #OPENINGS}, then the library's own
 * lifecycle lock (inside native calls), then a session's monitor, then the event queue's lock. The
 * library's threads take only the last two, so a native close that waits for those threads cannot
 * wait for a Java lock.
 */
final class DeviceSession {


    /**
     * Serialises the sessions' starts and ends and every native open, close, claim and enable. Held
     * across those native calls; never taken on the library's threads.
     */
    private static final java.util.concurrent.locks.ReentrantLock OPENINGS =
            new java.util.concurrent.locks.ReentrantLock();

    /** How often a join retries when power-offs keep ending the sessions it joins. */
    private static final int JOIN_ATTEMPTS = 3;

    // Guarded by OPENINGS.
    private static NativeLayer layer = new JniLayer();
    private static DeviceSession current;

    /** The session the library's events belong to; null while none is open. */
    private static final AtomicReference<DeviceSession> LIVE = new AtomicReference<>();

    // Guarded by this session's monitor, which is held only for moments: the open objects per service.
    private final Map<ServiceKind, List<TrovService>> members = new EnumMap<>(ServiceKind.class);

    /** Set under this session's monitor; once set, the session takes no member and routes no event. */
    private volatile boolean ended;

    /** Set with {@link #ended} when the keyboard's power-off ended the session. */
    private volatile boolean poweredOff;

    /** The keyboard's power state as last reported: 2001, 2002, or 2004 once a power-off ended it. */
    private volatile int powerState = TrovConst.SUE_POWER_ONLINE;

    // Guarded by OPENINGS: the services this session opened natively.
    private final EnumSet<ServiceKind> nativelyOpen = EnumSet.noneOf(ServiceKind.class);

    /** The object holding each service's claim; written under OPENINGS, read anywhere. */
    private final AtomicReferenceArray<TrovService> claimers =
            new AtomicReferenceArray<>(ServiceKind.values().length);

    /** The keyboard's USB identity, read once after the device was opened; empty under the simulated driver. */
    private volatile java.util.Optional<UsbIdentity> identity = java.util.Optional.empty();

    /** How long the end of a health check waits for the openings lock before it leaves its clean-up to a thread. */
    private static final long CLEAN_UP_WAIT_MILLIS = 5;

    /** External health checks under way in this opening; guarded by OPENINGS. */
    private int keylockChecks;

    /** The keyboard's answers to keylock position requests, for the external health check. */
    private static final HealthCheck.Answers KEYLOCK_ANSWERS = new HealthCheck.Answers();

    private DeviceSession() {
        for (ServiceKind kind : ServiceKind.values()) {
            members.put(kind, new ArrayList<>());
        }
    }

    /** The keyboard's USB identity, when known. */
    java.util.Optional<UsbIdentity> identity() {
        return identity;
    }

    /**
     * The external health check's round trip in this opening: asks the keyboard for the keylock
     * position and waits up to {@code timeoutMillis} in all for the answer, the wait for the openings
     * lock included. Opens the keylock natively for the check when no keylock object is open, as a
     * native open of this opening (a keylock object that joins meanwhile shares it, the opening's end
     * closes it), and afterwards leaves the keylock as this opening's keylock objects want it. Acts on
     * this opening only: once it has ended, by a close or a power-off, the clean-up does nothing.
     */
    boolean keylockAnswered(long timeoutMillis) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMillis);
        long mark;
        if (!OPENINGS.tryLock(timeoutMillis, TimeUnit.MILLISECONDS)) {
            return false;
        }
        try {
            if (ended || current != this) {
                return false;
            }
            if (!nativelyOpen.contains(ServiceKind.KEYLOCK)) {
                if (layer.open(ServiceKind.KEYLOCK) != 0) {
                    return false;
                }
                nativelyOpen.add(ServiceKind.KEYLOCK);
            }
            keylockChecks++;
            mark = KEYLOCK_ANSWERS.mark();
            layer.enable(ServiceKind.KEYLOCK, true);
        } finally {
            OPENINGS.unlock();
        }
        try {
            long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
            return KEYLOCK_ANSWERS.awaitAfter(mark, Math.max(0, left));
        } finally {
            afterKeylockCheck();
        }
    }

    /**
     * Ends a keylock check of this opening. The openings lock is waited for a few milliseconds at
     * most, so that the check stays within its bound; when another thread holds it longer (a slow
     * native open), a thread of its own finishes the clean-up once it can.
     */
    private void afterKeylockCheck() {
        boolean locked = false;
        try {
            locked = OPENINGS.tryLock(CLEAN_UP_WAIT_MILLIS, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        if (locked) {
            try {
                restoreKeylock();
            } finally {
                OPENINGS.unlock();
            }
            return;
        }
        Thread later = new Thread(() -> {
            OPENINGS.lock();
            try {
                restoreKeylock();
            } finally {
                OPENINGS.unlock();
            }
        }, "TrovJPOS-health-clean-up");
        later.setDaemon(true);
        later.start();
    }

    /**
     * Leaves the keylock as this opening's keylock objects want it once no check is under way. Caller
     * holds OPENINGS.
     */
    private void restoreKeylock() {
        keylockChecks--;
        if (ended || current != this || keylockChecks > 0) {
            return;  // ended: its native services are closed, and a later opening is not this one's to touch
        }
        boolean member;
        boolean enabledMember;
        synchronized (this) {
            List<TrovService> keylocks = members.get(ServiceKind.KEYLOCK);
            member = !keylocks.isEmpty();
            enabledMember = keylocks.stream().anyMatch(m -> m.enabled);
        }
        if (!enabledMember) {
            layer.enable(ServiceKind.KEYLOCK, false);
        }
        if (!member && nativelyOpen.remove(ServiceKind.KEYLOCK)) {
            layer.close(ServiceKind.KEYLOCK);
        }
    }

    /** Whether this opening is over, by the last close or by a power-off. */
    boolean ended() {
        return ended;
    }

    /** Whether the keyboard's power-off ended this opening. */
    boolean endedByPowerOff() {
        return poweredOff;
    }

    /** The keyboard's power state as last reported in this opening. */
    int powerState() {
        return powerState;
    }

    /** Whether {@code service} holds the claim of its service in this opening. */
    boolean isClaimer(TrovService service) {
        return !ended && claimers.get(service.kind.ordinal()) == service;
    }

    /**
     * Makes {@code service} an open member of the current session, starting one when none is open.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_NOSERVICE} when the device cannot be opened
     */
    static DeviceSession join(TrovService service) throws TrovException {
        ServiceKind kind = service.kind;
        OPENINGS.lock();
        try {
            for (int attempt = 1; ; ++attempt) {
                DeviceSession session = current;
                if (session == null || session.ended) {
                    current = null;
                    session = start(service);
                    current = session;
                }
                if (kind != ServiceKind.KEYBOARD && !session.nativelyOpen.contains(kind)) {
                    int result;
                    try {
                        result = openNatively(kind, service);
                    } catch (TrovException | RuntimeException | Error e) {
                        session.endIfUnused();
                        throw e;
                    }
                    if (result != 0) {
                        session.endIfUnused();
                        throw openFailure(service, result);
                    }
                    session.nativelyOpen.add(kind);
                }
                synchronized (session) {
                    if (!session.ended) {
                        session.members.get(kind).add(service);
                        return session;
                    }
                }
                // A power-off ended the session during this join. If it came before the native open
                // above, that open has opened the device anew for this service alone: close it again.
                // Otherwise the power-off has zeroed the count and this close does nothing.
                if (kind != ServiceKind.KEYBOARD) {
                    layer.close(kind);
                }
                if (attempt == JOIN_ATTEMPTS) {
                    throw new TrovException(TrovConst.JPOS_E_NOSERVICE, "The " + kind.label
                            + " service could not be opened: the keyboard reported power-off while it was opened");
                }
            }
        } finally {
            OPENINGS.unlock();
        }
    }

    /** Opens the device through the keyboard's internal object; events may come at once. */
    private static DeviceSession start(TrovService service) throws TrovException {
        layer.load();
        DeviceSession session = new DeviceSession();
        LIVE.set(session);
        int result;
        try {
            result = openNatively(ServiceKind.KEYBOARD, service);
        } catch (TrovException | RuntimeException | Error e) {
            session.ended = true;
            LIVE.compareAndSet(session, null);
            throw e;
        }
        if (result != 0) {
            session.ended = true;
            LIVE.compareAndSet(session, null);
            throw openFailure(service, result);
        }
        session.identity = UsbIdentity.ofOpenKeyboard();
        for (ServiceKind kind : ServiceKind.values()) {
            DeviceStatistics statistics = DeviceStatistics.of(kind);
            session.identity.ifPresent(found -> statistics.setEquipment(found.equipment()));
            statistics.deviceOnline();
            DeviceMBean.of(kind).setPowerState(TrovConst.JPOS_PS_ONLINE);
        }
        ServiceLog.log(System.Logger.Level.DEBUG, "Opened the POS keyboard device for {0}", service);
        return session;
    }

    private static int openNatively(ServiceKind kind, TrovService service) throws TrovException {
        try {
            return layer.open(kind);
        } catch (LinkageError e) {
            // The library could not find a listener method (or a native method is missing): the library
            // and these classes do not belong together.
            throw new TrovException(TrovConst.JPOS_E_NOSERVICE, "The " + service.kind.label
                    + " service could not be set up: the native library does not match these classes (" + e + ")",
                    e);
        }
    }

    private static TrovException openFailure(TrovService service, int result) {
        TrovException failure;
        if (result == TrovConst.JPOS_E_NOSERVICE) {
            failure = new TrovException(TrovConst.JPOS_E_NOSERVICE, "The " + service.kind.label
                    + " service could not be opened: no POS keyboard was found or it could not be set up."
                    + " Check that the keyboard is connected and that this process may read and write"
                    + " its HID device node (/dev/usb/hid/hiddev*); trovjpos-diag tells more."
                    + " Seen from Java: " + OpenFailureCause.describe());
        } else {
            failure = new TrovException(TrovConst.JPOS_E_FAILURE,
                    "The " + service.kind.label + " service could not be opened (native result " + result + ")");
        }
        return failure;
    }

    /** Ends this session and closes the device when no object is open in it. Caller holds OPENINGS. */
    private void endIfUnused() {
        synchronized (this) {
            if (ended || members.values().stream().anyMatch(list -> !list.isEmpty())) {
                return;
            }
            ended = true;
        }
        for (ServiceKind kind : nativelyOpen) {
            layer.close(kind);
        }
        nativelyOpen.clear();
        layer.close(ServiceKind.KEYBOARD);
        finish();
    }

    /** Forgets this session as the open one. Caller holds OPENINGS. */
    private void finish() {
        LIVE.compareAndSet(this, null);
        if (current == this) {
            current = null;
        }
    }

    /**
     * Takes {@code service} out of its session: disables it natively when {@code wasEnabled} and no
     * other object of its service is enabled, releases it natively, closes its service natively when it
     * was the last object of it, and the device when it was the last object of all. Each step is made
     * even when an earlier one threw, so that no native count stays behind; the first throwable is
     * passed on afterwards. Does nothing when the session has ended: its native services are closed
     * already.
     */
    static void leave(TrovService service, DeviceSession session, boolean wasEnabled) {
        ServiceKind kind = service.kind;
        OPENINGS.lock();
        try {
            boolean lastOfKind;
            boolean lastOfAll;
            boolean otherEnabled;
            synchronized (session) {
                if (session.ended) {
                    return;
                }
                List<TrovService> ofKind = session.members.get(kind);
                ofKind.remove(service);
                lastOfKind = ofKind.isEmpty();
                otherEnabled = ofKind.stream().anyMatch(member -> member.enabled);
                lastOfAll = session.members.values().stream().allMatch(List::isEmpty);
                if (lastOfAll) {
                    session.ended = true;
                }
            }
            // A power-off may end the session from here on. The native calls below then meet a closed
            // device, which the library ignores, and no later opening can begin while OPENINGS is held.
            Throwable failure = null;
            if (wasEnabled && !otherEnabled) {
                failure = attempt(failure, () -> layer.enable(kind, false));
            }
            if (session.claimers.compareAndSet(kind.ordinal(), service, null)) {
                failure = attempt(failure, () -> layer.claim(kind, false));
            }
            if (lastOfKind && kind != ServiceKind.KEYBOARD) {
                failure = attempt(failure, () -> layer.close(kind));
                session.nativelyOpen.remove(kind);
            }
            if (lastOfKind) {
                DeviceMBean.of(kind).unregister();
            }
            if (lastOfAll) {
                for (ServiceKind each : ServiceKind.values()) {
                    DeviceStatistics.of(each).deviceClosed();
                }
                // What the opening holds natively without a member: the keylock a health check under
                // way opened, which that check, finding the opening ended, leaves alone.
                for (ServiceKind each : EnumSet.copyOf(session.nativelyOpen)) {
                    if (each != ServiceKind.KEYBOARD) {
                        failure = attempt(failure, () -> layer.close(each));
                    }
                }
                session.nativelyOpen.clear();
                failure = attempt(failure, () -> layer.close(ServiceKind.KEYBOARD));
                session.finish();
                ServiceLog.log(System.Logger.Level.DEBUG, "Closed the POS keyboard device: {0} was its last open object",
                        service);
            }
            if (failure instanceof RuntimeException) {
                throw (RuntimeException) failure;
            }
            if (failure != null) {
                throw (Error) failure;
            }
        } finally {
            OPENINGS.unlock();
        }
    }

    /** Runs {@code step}; returns {@code failure}, or what the step threw when {@code failure} is null. */
    private static Throwable attempt(Throwable failure, Runnable step) {
        try {
            step.run();
        } catch (RuntimeException | Error e) {
            return failure != null ? failure : e;
        }
        return failure;
    }

    /**
     * Takes {@code lock} within {@code nanosLeft} nanoseconds, or without limit when it is negative.
     *
     * @return whether it was taken
     * @throws TrovException {@link TrovConst#JPOS_E_FAILURE} when the thread was interrupted (its
     *                       interrupt status is set again)
     */
    static boolean lockWithin(java.util.concurrent.locks.ReentrantLock lock, long nanosLeft) throws TrovException {
        if (nanosLeft < 0) {
            lock.lock();
            return true;
        }
        try {
            return lock.tryLock(nanosLeft, TimeUnit.NANOSECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "The wait was interrupted", e);
        }
    }

    /**
     * Claims the service for {@code service}, waiting up to {@code nanosLeft} nanoseconds (without
     * limit when negative) for another thread's open, close or claim.
     *
     * @return true when claimed, false when the time ran out before the openings lock was had
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the session has ended;
     *                       {@link TrovConst#JPOS_E_CLAIMED} when another object, of this process or
     *                       another, holds the claim
     */
    static boolean claim(TrovService service, DeviceSession session, long nanosLeft) throws TrovException {
        ServiceKind kind = service.kind;
        if (!lockWithin(OPENINGS, nanosLeft)) {
            return false;
        }
        try {
            session.requireOpen(service);
            TrovService holder = session.claimers.get(kind.ordinal());
            if (holder == service) {
                return true;
            }
            if (holder != null) {
                throw new TrovException(TrovConst.JPOS_E_CLAIMED,
                        "The " + kind.label + " service is claimed by another service object of this process");
            }
            if (layer.isClaimed(kind)) {
                throw new TrovException(TrovConst.JPOS_E_CLAIMED,
                        "The " + kind.label + " service is claimed by another process");
            }
            layer.claim(kind, true);
            session.claimers.set(kind.ordinal(), service);
            return true;
        } finally {
            OPENINGS.unlock();
        }
    }

    /**
     * Gives up the claim of {@code service}, disabling it first when its service is exclusive.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the session has ended;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when it does not hold the claim
     */
    static void release(TrovService service, DeviceSession session, boolean wasEnabled) throws TrovException {
        ServiceKind kind = service.kind;
        OPENINGS.lock();
        try {
            session.requireOpen(service);
            if (session.claimers.get(kind.ordinal()) != service) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + kind.label + " service is not claimed by this object");
            }
            if (kind.exclusive && wasEnabled) {
                setEnabled(service, session, false);
            }
            layer.claim(kind, false);
            session.claimers.set(kind.ordinal(), null);
        } finally {
            OPENINGS.unlock();
        }
    }

    /**
     * Enables or disables {@code service}. The keylock is enabled natively while any of its objects is
     * enabled; each enable asks the keyboard for the key position, which then reaches every enabled
     * keylock object.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the session has ended;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when enabling an exclusive service
     *                       that {@code service} has not claimed
     */
    static void enable(TrovService service, DeviceSession session, boolean enable) throws TrovException {
        OPENINGS.lock();
        try {
            session.requireOpen(service);
            if (enable && service.kind.exclusive && session.claimers.get(service.kind.ordinal()) != service) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + service.kind.label + " service must be claimed before it is enabled");
            }
            setEnabled(service, session, enable);
        } finally {
            OPENINGS.unlock();
        }
    }

    private static void setEnabled(TrovService service, DeviceSession session, boolean enable) {
        ServiceKind kind = service.kind;
        if (enable) {
            // Set first, so that what the enable brings (the key position) reaches this object.
            service.enabled = true;
            layer.enable(kind, true);
            return;
        }
        service.enabled = false;
        boolean otherEnabled;
        synchronized (session) {
            otherEnabled = session.members.get(kind).stream().anyMatch(member -> member.enabled);
        }
        if (!otherEnabled) {
            layer.enable(kind, false);
        }
    }

    private void requireOpen(TrovService service) throws TrovException {
        if (ended) {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "The " + service.kind.label + " service is not open");
        }
    }

    // Events, called on the library's threads. They take a session's monitor for a moment and queue.

    /** Queues a keylock position, swipe or key for every enabled object of {@code kind}. */
    static void toEnabled(ServiceKind kind, TrovEvent event) {
        count(kind, event);
        DeviceSession session = LIVE.get();
        if (session == null) {
            return;  // an event of an opening that is over
        }
        synchronized (session) {
            if (!session.ended) {
                EventDispatcher.queue(session.members.get(kind), event, true);
            }
        }
    }

    /** Counts a keylock position, key or swipe in the statistics of its category. */
    private static void count(ServiceKind kind, TrovEvent event) {
        switch (kind) {
            case KEYLOCK:
                KEYLOCK_ANSWERS.answered();
                DeviceStatistics.of(kind).count(DeviceStatistics.Statistic.KEY_POSITION_CHANGES);
                break;
            case KEYBOARD:
                DeviceStatistics.of(kind).count(((KeyboardDataEvent) event).isKeyDown()
                        ? DeviceStatistics.Statistic.KEYS_PRESSED : DeviceStatistics.Statistic.KEYS_RELEASED);
                break;
            case MSR:
                DeviceStatistics.of(kind).count(DeviceStatistics.Statistic.SWIPES);
                break;
            default:
                break;
        }
    }

    /**
     * Hands the keyboard's power state to every open object of every service. On power-off the session
     * ends first: every member is CLOSED before its listeners hear of it, the 2004 is the last event of
     * the opening that any member gets, and the session lets go of every object, also when queueing
     * failed half-way.
     */
    static void powerState(int status) {
        DeviceSession session = LIVE.get();
        if (session == null) {
            return;
        }
        boolean off = status == TrovConst.SUE_POWER_OFF_OFFLINE;
        for (ServiceKind kind : ServiceKind.values()) {
            DeviceStatistics statistics = DeviceStatistics.of(kind);
            if (status == TrovConst.SUE_POWER_ONLINE) {
                statistics.deviceOnline();
            } else if (statistics.isOnline()) {
                statistics.deviceOutage();
            }
            DeviceMBean.of(kind).setPowerState(status);
            if (off) {
                DeviceMBean.of(kind).unregister();
            }
        }
        List<TrovService> told = new ArrayList<>();
        synchronized (session) {
            if (session.ended) {
                return;
            }
            session.powerState = status;
            if (off) {
                session.poweredOff = true;
                session.ended = true;
            }
            try {
                for (List<TrovService> ofKind : session.members.values()) {
                    told.addAll(ofKind);
                }
                EventDispatcher.queueToAll(session.members.values(), new StatusUpdateEvent(status));
            } finally {
                if (off) {
                    for (List<TrovService> ofKind : session.members.values()) {
                        ofKind.forEach(TrovService::poweredOff);
                        ofKind.clear();  // an ended session keeps no object alive
                    }
                    for (int i = 0; i < session.claimers.length(); ++i) {
                        session.claimers.set(i, null);
                    }
                }
            }
        }
        if (off) {
            LIVE.compareAndSet(session, null);
            ServiceLog.log(System.Logger.Level.WARNING, "The POS keyboard reported power off/offline (2004): it was"
                    + " unplugged or without power for more than 10 seconds, and every service was shut down."
                    + " Closed: {0}. Open the services again once the keyboard is back.", told);
        } else {
            ServiceLog.log(System.Logger.Level.DEBUG, "The POS keyboard reported power state {0} to {1}", status, told);
        }
    }

    /** Puts {@code replacement} in place of the native layer and returns the one it replaces; for tests. */
    static NativeLayer useNativeLayer(NativeLayer replacement) {
        OPENINGS.lock();
        try {
            NativeLayer previous = layer;
            layer = replacement;
            return previous;
        } finally {
            OPENINGS.unlock();
        }
    }
}
