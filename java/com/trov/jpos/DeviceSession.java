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
 * still holds its own lifecycle lock, just before it shuts every service down natively. The session
 * does not end: it goes off-line and keeps its members, their claims and their enabled state; every
 * member hears the 2004, calls that need the device fail with 108, and no native call is made for it
 * until a thread of the session, {@code TrovJPOS-outage}, finds the keyboard again. That thread tries
 * one native open of the keyboard a second; once one succeeds it opens the members' services,
 * claims what the members held (a claim another process took meanwhile is dropped), enables what
 * they had enabled, which asks for the key position, and reports 2001 to every member. The last
 * close during the outage ends the session and wakes the thread, which then ends too.
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

    /**
     * Set under this session's monitor by the keyboard's power-off, cleared under OPENINGS and the
     * monitor when the keyboard is back and opened again: while set, nothing native is called for the
     * session, calls that need the device fail with 108, and no library event is routed.
     */
    private volatile boolean offline;

    /**
     * Set when the session reported the keyboard's return itself (2001) after an outage; the library's
     * own 2001 that may follow the reopen is then no news. Cleared by the next status the library
     * reports. Guarded by this session's monitor.
     */
    private boolean returnReported;

    /** How long the search for the keyboard waits between two native opens during an outage. */
    private static volatile long searchPeriodMillis = 1000;

    /** The keyboard's power state as last reported: 2001, 2002, or 2004 from a power-off until the return. */
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
            if (ended || offline || current != this) {
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
        if (ended || offline || current != this || keylockChecks > 0) {
            // ended: its native services are closed, and a later opening is not this one's to touch;
            // off-line: nothing is open natively, and the reopen sets the keylock as its objects want it
            return;
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

    /** Whether this opening is off-line: the keyboard's power-off came and the keyboard is not back yet. */
    boolean offline() {
        return offline;
    }

    /**
     * Checks that the device can be used in this opening: the precondition of the calls that need it.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_OFFLINE} while the opening is off-line
     */
    void requireOnline(ServiceKind kind) throws TrovException {
        if (offline) {
            throw new TrovException(TrovConst.JPOS_E_OFFLINE, "The " + kind.label + " service is off-line: the"
                    + " keyboard has been away for more than 10 seconds; it is taken up again when it is back");
        }
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
                if (kind != ServiceKind.KEYBOARD && !session.nativelyOpen.contains(kind) && !session.offline) {
                    int result;
                    try {
                        result = openNatively(kind, service);
                    } catch (TrovException | RuntimeException | Error e) {
                        session.endIfUnused();
                        throw e;
                    }
                    if (result != 0 && !session.offline) {
                        session.endIfUnused();
                        throw openFailure(service, result);
                    }
                    if (result == 0 && session.offline) {
                        // A power-off came before this open, which then opened the device anew for
                        // this service alone: close it again; the reopen opens it with the rest.
                        layer.close(kind);
                    } else if (result == 0) {
                        session.nativelyOpen.add(kind);
                    }
                }
                synchronized (session) {
                    if (!session.ended) {
                        // Off-line, also since a power-off during the open above: the reopen opens
                        // this service natively once the keyboard is back.
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
            boolean online;
            synchronized (session) {
                if (session.ended) {
                    return;
                }
                online = !session.offline;
                List<TrovService> ofKind = session.members.get(kind);
                ofKind.remove(service);
                lastOfKind = ofKind.isEmpty();
                otherEnabled = ofKind.stream().anyMatch(member -> member.enabled);
                lastOfAll = session.members.values().stream().allMatch(List::isEmpty);
                if (lastOfAll) {
                    session.ended = true;
                }
            }
            // A power-off may come from here on. The native calls below then meet a closed device, which
            // the library ignores, and the reopen cannot begin while OPENINGS is held. Off-line already,
            // nothing is open natively: the session only forgets the object.
            Throwable failure = null;
            if (online && wasEnabled && !otherEnabled) {
                failure = attempt(failure, () -> layer.enable(kind, false));
            }
            if (session.claimers.compareAndSet(kind.ordinal(), service, null) && online) {
                failure = attempt(failure, () -> layer.claim(kind, false));
            }
            if (lastOfKind && kind != ServiceKind.KEYBOARD) {
                if (session.nativelyOpen.remove(kind) && online) {
                    failure = attempt(failure, () -> layer.close(kind));
                }
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
                    if (each != ServiceKind.KEYBOARD && online) {
                        failure = attempt(failure, () -> layer.close(each));
                    }
                }
                session.nativelyOpen.clear();
                if (online) {
                    failure = attempt(failure, () -> layer.close(ServiceKind.KEYBOARD));
                }
                session.finish();
                synchronized (session) {
                    session.notifyAll();  // ends the search for the keyboard of an outage at once
                }
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
     *                       {@link TrovConst#JPOS_E_OFFLINE} while it is off-line;
     *                       {@link TrovConst#JPOS_E_CLAIMED} when another object, of this process or
     *                       another, holds the claim
     */
    static boolean claim(TrovService service, DeviceSession session, long nanosLeft) throws TrovException {
        ServiceKind kind = service.kind;
        // Off-line is said at once, not after a wait for the lock that the search for the keyboard
        // takes at each of its tries; it is checked again under the lock.
        session.requireOnline(kind);
        if (!lockWithin(OPENINGS, nanosLeft)) {
            return false;
        }
        try {
            session.requireOpen(service);
            session.requireOnline(kind);
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
            if (service.enabled && kind.exclusive) {
                // It stayed enabled through an outage in which another process took its claim: its
                // input flows again with the claim.
                layer.enable(kind, true);
            }
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
            if (session.offline) {
                // Nothing is open natively: the reopen will not claim it again, nor enable it.
                if (kind.exclusive && wasEnabled) {
                    service.enabled = false;
                }
                session.claimers.set(kind.ordinal(), null);
                return;
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
     *                       {@link TrovConst#JPOS_E_OFFLINE} when enabling while it is off-line;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when enabling an exclusive service
     *                       that {@code service} has not claimed
     */
    static void enable(TrovService service, DeviceSession session, boolean enable) throws TrovException {
        OPENINGS.lock();
        try {
            session.requireOpen(service);
            if (session.offline) {
                if (enable) {
                    session.requireOnline(service.kind);
                }
                service.enabled = false;  // the reopen leaves it disabled; nothing is open natively
                return;
            }
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
            if (!session.ended && !session.offline) {
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
     * goes off-line: every member hears the 2004 and stays open, claimed and enabled as it was, and the
     * search for the keyboard begins on a thread of the session. Statuses of the library while the
     * session is off-line belong to the opening it is shutting down and are dropped.
     */
    static void powerState(int status) {
        DeviceSession session = LIVE.get();
        if (session == null) {
            return;
        }
        boolean off = status == TrovConst.SUE_POWER_OFF_OFFLINE;
        List<TrovService> told = new ArrayList<>();
        synchronized (session) {
            if (session.ended || session.offline) {
                return;
            }
            boolean repeated = session.returnReported && status == TrovConst.SUE_POWER_ONLINE;
            session.returnReported = false;
            if (repeated) {
                return;  // the session reported this return itself when it opened the keyboard again
            }
            session.powerState = status;
            session.offline = off;
            for (List<TrovService> ofKind : session.members.values()) {
                told.addAll(ofKind);
            }
            EventDispatcher.queueToAll(session.members.values(), new StatusUpdateEvent(status));
        }
        powerStateToStatistics(status);
        if (off) {
            ServiceLog.log(System.Logger.Level.WARNING, "The POS keyboard reported power off/offline (2004): it was"
                    + " unplugged or without power for more than 10 seconds, and the library shut its services"
                    + " down. The objects stay open, off-line (calls that need the device fail with 108): {0}."
                    + " Looking for the keyboard once a second, to open, claim and enable them again.", told);
            Thread search = new Thread(session::searchForKeyboard, "TrovJPOS-outage");
            search.setDaemon(true);
            search.start();
        } else {
            ServiceLog.log(System.Logger.Level.DEBUG, "The POS keyboard reported power state {0} to {1}", status, told);
        }
    }

    private static void powerStateToStatistics(int status) {
        for (ServiceKind kind : ServiceKind.values()) {
            DeviceStatistics statistics = DeviceStatistics.of(kind);
            if (status == TrovConst.SUE_POWER_ONLINE) {
                statistics.deviceOnline();
            } else if (statistics.isOnline()) {
                statistics.deviceOutage();
            }
            DeviceMBean.of(kind).setPowerState(status);
        }
    }

    /**
     * The search for the keyboard during an outage, on its own daemon thread: one native open a
     * second until one succeeds or the session ends. Each wait is on this session's monitor, which the
     * last close notifies, so a close ends the search at once. Logs nothing per try.
     */
    private void searchForKeyboard() {
        try {
            while (true) {
                synchronized (this) {
                    long start = System.nanoTime();
                    for (long left = searchPeriodMillis; !ended && left > 0;
                            left = searchPeriodMillis - TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start)) {
                        wait(left);
                    }
                    if (ended) {
                        return;
                    }
                }
                if (reopened()) {
                    return;
                }
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();  // nobody interrupts it; ends the search
        }
    }

    /**
     * One try of the search: opens the keyboard natively and, when that worked, the members' services,
     * claims and enables what the members held and reports 2001. True when the search is over: the
     * keyboard is back, or the session ended meanwhile.
     */
    private boolean reopened() {
        OPENINGS.lock();
        try {
            if (ended || !offline || current != this) {
                return true;
            }
            nativelyOpen.clear();  // the library's shutdown closed everything
            int result;
            try {
                result = layer.open(ServiceKind.KEYBOARD);
            } catch (RuntimeException | LinkageError e) {
                result = TrovConst.JPOS_E_FAILURE;
            }
            if (result != 0) {
                return false;
            }
            Map<ServiceKind, List<TrovService>> held = new EnumMap<>(ServiceKind.class);
            synchronized (this) {
                members.forEach((kind, ofKind) -> held.put(kind, new ArrayList<>(ofKind)));
            }
            List<TrovService> lostClaims = new ArrayList<>();
            for (ServiceKind kind : ServiceKind.values()) {
                if (kind != ServiceKind.KEYBOARD && !held.get(kind).isEmpty() && layer.open(kind) == 0) {
                    nativelyOpen.add(kind);
                }
                TrovService holder = claimers.get(kind.ordinal());
                if (holder == null) {
                    continue;
                }
                if (layer.isClaimed(kind)) {  // another process claimed it during the outage
                    claimers.compareAndSet(kind.ordinal(), holder, null);
                    lostClaims.add(holder);
                } else {
                    layer.claim(kind, true);
                }
            }
            // Input is enabled before the return is reported, so that a key pressed once the 2001 is
            // heard is taken; the keylock after it, so that its position (the answer to its enable)
            // comes after the 2001.
            enableWhatWasEnabled(held, false);
            List<TrovService> told = new ArrayList<>();
            synchronized (this) {
                offline = false;
                powerState = TrovConst.SUE_POWER_ONLINE;
                returnReported = true;
                for (List<TrovService> ofKind : members.values()) {
                    told.addAll(ofKind);
                }
                StatusUpdateEvent back = new StatusUpdateEvent(TrovConst.SUE_POWER_ONLINE);
                back.endsOutage = true;
                EventDispatcher.queueToAll(members.values(), back);
            }
            enableWhatWasEnabled(held, true);
            powerStateToStatistics(TrovConst.SUE_POWER_ONLINE);
            ServiceLog.log(System.Logger.Level.INFO, "The POS keyboard is back after its power-off: opened,"
                    + " claimed and enabled again for {0}. Claims another process took meanwhile: {1}.",
                    told, lostClaims.isEmpty() ? "none" : lostClaims);
            return true;
        } finally {
            OPENINGS.unlock();
        }
    }

    /**
     * After an outage, enables natively the services the members had enabled: the keylock's alone
     * ({@code keylock} true) or every other one's. Under OPENINGS.
     */
    private void enableWhatWasEnabled(Map<ServiceKind, List<TrovService>> held, boolean keylock) {
        for (ServiceKind kind : ServiceKind.values()) {
            if ((kind == ServiceKind.KEYLOCK) != keylock) {
                continue;
            }
            TrovService holder = claimers.get(kind.ordinal());
            boolean wanted = kind.exclusive ? holder != null && holder.enabled
                    : held.get(kind).stream().anyMatch(member -> member.enabled);
            if (wanted) {
                layer.enable(kind, true);
            }
        }
    }

    /**
     * Sets the wait between two tries of the search for the keyboard and has a search under way take
     * it at once; for tests.
     */
    static void searchEvery(long millis) {
        searchPeriodMillis = millis;
        DeviceSession session = LIVE.get();
        if (session != null) {
            synchronized (session) {
                session.notifyAll();
            }
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
