// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.IntSupplier;

/**
 * What the four Trov POS services have in common: opening and closing, claiming and releasing,
 * enabling and disabling, power status events and the delivery of events.
 *
 * <p>The life of a service object is: {@link #open()}, {@link #claim(int)},
 * {@link #setDeviceEnabled(boolean) setDeviceEnabled(true)}, use, then {@link #close()}, which
 * disables, releases and closes in one go. A closed object can be opened again.
 *
 * <p>Several objects of one service may be open at once in a process. Keylock events reach every
 * enabled keylock object; the events of the other services reach the object that claimed and enabled
 * the service. A claim is held by one object: {@link #claim(int)} of another object, in this process
 * or another, fails with {@link TrovConst#JPOS_E_TIMEOUT} (112) once its timeout ran out, never with
 * {@link TrovConst#JPOS_E_CLAIMED} (102); nor with {@link TrovConst#JPOS_E_BUSY} (113): this service's
 * claim waits for a busy device within its timeout rather than refusing at once. Closing, disabling or releasing one object never
 * affects another. The device itself is opened by the first open of any object and closed by the
 * last close.
 *
 * <p>The keyboard's power states ({@link TrovConst#SUE_POWER_ONLINE},
 * {@link TrovConst#SUE_POWER_OFF}, {@link TrovConst#SUE_POWER_OFF_OFFLINE}) reach the
 * {@link StatusUpdateListener}s of every open object of every service. 2002 comes within about a
 * second of the keyboard going away, 2001 when it is back; 2004 comes when it stayed away for 10
 * seconds. After that power-off the library has closed the device, but the objects stay open, claimed
 * and enabled, off-line: calls that need the device fail with {@link TrovConst#JPOS_E_OFFLINE} (108),
 * and the service looks for the keyboard once a second. When it is back, the service opens, claims and
 * enables it again for the objects, asks for the key position and reports 2001; input flows with no
 * call of the application. A claim that another process took meanwhile is lost: {@link #getClaimed()}
 * is then false. The 2004 and the 2001 that ends it are heard whatever PowerNotify says.
 * {@link #close()} during the outage ends it at once.
 *
 * <p>Events. All events of the process reach the listeners on one thread, {@code TrovJPOS-events}, in
 * the order the library decoded them, across services; each carries its place in that order and the
 * time it was decoded ({@link TrovEvent}). A listener that takes long delays every later event of the
 * process, never the keyboard. No event reaches an object after its {@link #close()} returned, nor
 * after it was opened again. After {@link #setDeviceEnabled(boolean) setDeviceEnabled(false)}
 * returned, no new key or swipe is queued for it and no keylock position reaches it; the data and
 * input error events it had queued already stay queued and are delivered under the UnifiedPOS input
 * model ({@link TrovInputService}), as UnifiedPOS wants, until {@link TrovInputService#clearInput()}
 * drops them. A listener running at that moment may still be running; one that closes its object is
 * the last of that object's listeners to hear the event.
 *
 * <p>For this package: every event meets its object in {@link #deliver(QueuedEvent)}, on the event
 * thread, one at a time in the order of the process; one rule, {@link #mayReach(QueuedEvent)}, decides
 * there, and again when a held event is let go, whether the event still belongs to the object. Holding events back (frozen events, data events while not
 * wanted) belongs in that step: keep the {@link QueuedEvent} and deliver it later on the same thread.
 *
 * <p>All public methods are thread-safe and may be called from listeners. The queries
 * ({@link #getState()}, {@link #isClaimed()}, {@link #getDeviceEnabled()}) never wait for a lock; the
 * other methods serialise on a lock private to the object and never wait for the event thread.
 * {@link #claim(int)} and {@link #checkHealth(int)} return within their bound plus a few
 * milliseconds whatever other threads do. Logging and JMX never make a call fail after it acted.
 */
public abstract class TrovService implements AutoCloseable {


    /** Serialises this object's open, close, claim, release, enable and writes; taken before DeviceSession's lock. */
    private final java.util.concurrent.locks.ReentrantLock lock = new java.util.concurrent.locks.ReentrantLock();

    final ServiceKind kind;
    final CopyOnWriteArrayList<StatusUpdateListener> statusListeners = new CopyOnWriteArrayList<>();
    final CopyOnWriteArrayList<ErrorListener> errorListeners = new CopyOnWriteArrayList<>();

    /** One per service kind and process: claim(timeout) waits on it, every release and close wakes it. */
    private static final ClaimWait[] CLAIM_WAITS = new ClaimWait[ServiceKind.values().length];

    static {
        for (int i = 0; i < CLAIM_WAITS.length; ++i) {
            CLAIM_WAITS[i] = new ClaimWait();
        }
    }

    /** The opening this object belongs to; null once closed by {@link #close()}. */
    private volatile DeviceSession session;

    /**
     * Whether enabled in its session. Set under the session's monitor when it goes false, so that event
     * routing, which reads it under that monitor, queues nothing for the object after a disable.
     */
    volatile boolean enabled;

    /**
     * Changes at each open and close, under the session's monitor at a close. An event is delivered
     * only while it is the value it had when the event was queued: nothing reaches an object after it
     * was closed or opened again.
     */
    volatile int opening;

    /**
     * Changes at each open, close and disable. An event that needs an enabled object (key, swipe,
     * keylock position) is delivered only while it is the value it had when queued.
     */
    volatile int epoch;

    /**
     * Changes at each clearInput: a key or swipe queued in the process before it is dropped at delivery.
     */
    volatile int inputClears;

    /**
     * The id of the last output a clearOutput or a close ended: output complete and output error
     * events of outputs up to it are dropped at delivery.
     */
    volatile int outputsClearedThrough;

    /** Whether this object keeps the event thread alive; guarded by EventDispatcher's lock. */
    boolean holdsDispatcher;

    /**
     * The UnifiedPOS input model of this object: its queue of held events, FreezeEvents, and for the
     * POS keyboard and the MSR DataEventEnabled, AutoDisable, the data count and input errors.
     */
    final InputModel<TrovEvent> input;

    /** PowerNotify: {@link TrovConst#JPOS_PN_DISABLED} when the object is made, kept across openings. */
    private volatile int powerNotify = TrovConst.JPOS_PN_DISABLED;

    private volatile String checkHealthText = "";

    /** @param kind which service this is */
    TrovService(ServiceKind kind) {
        this.kind = kind;
        this.input = new InputModel<>(task -> EventDispatcher.task(this, task), new InputModel.Owner<>() {
            @Override
            public void fillProperties(TrovEvent data) {
                TrovService.this.fillProperties(data);
            }

            @Override
            public void deliverData(TrovEvent data) {
                TrovService.this.deliverData(data);
            }

            @Override
            public int deliverError(int errorCode, int errorCodeExtended, int locus) {
                return TrovService.this.deliverInputError(errorCode, errorCodeExtended, locus, null);
            }

            @Override
            public int deliverError(int errorCode, int errorCodeExtended, int locus, TrovEvent cause) {
                return TrovService.this.deliverInputError(errorCode, errorCodeExtended, locus, cause);
            }

            @Override
            public void autoDisable() {
                TrovService.this.autoDisable();
            }

            @Override
            public boolean readAgain() {
                return false;
            }
        });
    }

    /**
     * Adds a listener for status updates: the keyboard's power states for every service, and the key
     * positions for the keylock. Adding a listener that is already registered does nothing.
     *
     * @param listener the listener
     * @throws NullPointerException when {@code listener} is null
     */
    public void addStatusUpdateListener(StatusUpdateListener listener) {
        statusListeners.addIfAbsent(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added by {@link #addStatusUpdateListener(StatusUpdateListener)}; does nothing
     * when it is not registered.
     *
     * @param listener the listener
     */
    public void removeStatusUpdateListener(StatusUpdateListener listener) {
        statusListeners.remove(listener);
    }

    /**
     * Adds a listener for error events: input errors of the POS keyboard and the MSR, failed
     * asynchronous output of the tone indicator. The keylock raises none. Adding a listener that is
     * already registered does nothing.
     *
     * @param listener the listener
     * @throws NullPointerException when {@code listener} is null
     */
    public void addErrorListener(ErrorListener listener) {
        errorListeners.addIfAbsent(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added by {@link #addErrorListener(ErrorListener)}; does nothing when it is
     * not registered.
     *
     * @param listener the listener
     */
    public void removeErrorListener(ErrorListener listener) {
        errorListeners.remove(listener);
    }

    // Native operations of the concrete service.

    /** Opens the native service: 0 on success, {@link TrovConst#JPOS_E_NOSERVICE} otherwise. */
    abstract int nativeOpen();

    /** Closes the native service. */
    abstract void nativeClose();

    /** Enables or disables the native service. */
    abstract void nativeEnable(boolean enable);

    /** Sets or clears the process-wide native claim flag of the service. */
    abstract void nativeClaim(boolean claim);

    /** Reads the process-wide native claim flag of the service. */
    abstract boolean nativeIsClaimed();

    /** Called under the lock just before joining a session, to reset state reported by events. */
    void beforeOpen() {
    }

    /**
     * Opens the service. The first open of any service in the process searches for the POS keyboard
     * and sets it up; later opens share it. Events may arrive from now on, so listeners should be
     * added before opening.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_NOSERVICE} when no POS keyboard was found or it
     *                       could not be set up, or the native library could not be loaded;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} when this object is already open
     */
    public final void open() throws TrovException {
        lock.lock();
        try {
            DeviceSession current = session;
            if (current != null && !current.ended()) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The " + kind.label + " service is already open");
            }
            // Events still queued for an earlier opening of this object are dropped from here on.
            session = null;
            enabled = false;
            opening++;
            epoch++;
            input.reset();
            checkHealthText = "";
            beforeOpen();
            // The event thread runs before the join: events may come at once.
            EventDispatcher.hold(this);
            try {
                session = DeviceSession.join(this);
                DeviceMBean.of(kind).register();
            } catch (TrovException | RuntimeException | Error e) {
                EventDispatcher.release(this);
                ServiceLog.log(System.Logger.Level.INFO, "Opening {0} failed: {1}", this, e.getMessage());
                throw e;
            }
            ServiceLog.log(System.Logger.Level.DEBUG, "Opened {0}", this);
        } finally {
            lock.unlock();
        }
    }

    /**
     * Closes the service: disables it if enabled, releases it if claimed by this object, and leaves
     * the device, which the last close of the process closes. Events not yet delivered to it are
     * dropped, a power-off among them; a listener running at that moment may still be running when
     * this method returns. It never waits for the event thread, so it may be called from any listener.
     * Closing a closed object does nothing; closing one while the keyboard is off-line after its
     * power-off makes no native call, and the last such close ends the search for the keyboard.
     */
    @Override
    public final void close() {
        lock.lock();
        try {
            DeviceSession current = session;
            if (current == null) {
                return;
            }
            boolean wasEnabled;
            // At once, under the monitor that event routing holds: nothing is queued for this object
            // from here on, and what was queued is dropped, whatever locks the native close waits for.
            synchronized (current) {
                wasEnabled = enabled;
                enabled = false;
                session = null;
                opening++;
                epoch++;
            }
            input.reset();
            try {
                DeviceSession.leave(this, current, wasEnabled);
            } finally {
                EventDispatcher.release(this);
                CLAIM_WAITS[kind.ordinal()].released();
                ended();
            }
            ServiceLog.log(System.Logger.Level.DEBUG, "Closed {0}", this);
        } finally {
            lock.unlock();
        }
    }

    /**
     * Claims the service for this object, waiting up to {@code timeout} milliseconds for a claim held
     * by another object, in this process or another, to be released. A release in this process ends
     * the wait at once; one in another process is noticed within about 50 ms, since the claim table is
     * shared memory that raises no event. Claiming a service this object already holds does nothing.
     * The wait holds none of this object's locks, so another thread may close the object meanwhile,
     * which ends the wait with {@link TrovConst#JPOS_E_CLOSED}, also when the object is opened again
     * at once. The call returns within {@code timeout} plus a few milliseconds whatever other threads
     * do: an open or close of another object that holds the process's openings lock only makes it
     * time out. A claim held elsewhere fails with 112, never with {@link TrovConst#JPOS_E_CLAIMED} (102).
     *
     * @param timeout milliseconds to wait; {@link TrovConst#JPOS_FOREVER} (−1) for no limit, 0 to try once
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_OFFLINE} while the keyboard is off-line after its
     *                       power-off;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} for a timeout below −1;
     *                       {@link TrovConst#JPOS_E_TIMEOUT} when the claim is still held elsewhere
     *                       when the time runs out; {@link TrovConst#JPOS_E_FAILURE} when the waiting
     *                       thread was interrupted
     */
    public final void claim(int timeout) throws TrovException {
        int at = opening;  // read first: a close and open after it end the claim rather than carry it over
        DeviceSession opened = openSession();
        try {
            CLAIM_WAITS[kind.ordinal()].claim(timeout, nanosLeft -> tryClaim(opened, at, nanosLeft));
        } catch (TrovException e) {
            ServiceLog.log(System.Logger.Level.DEBUG, "Claim of {0} refused: {1}", this, e.getMessage());
            throw e;
        }
        ServiceLog.log(System.Logger.Level.DEBUG, "Claimed {0}", this);
    }

    /**
     * One attempt of {@link #claim(int)} in the opening it began in: true when taken, false when held
     * elsewhere or when another thread held this object's lock or the openings lock for the
     * {@code nanosLeft} the claim has left (without limit when negative). A close, also one followed
     * at once by an open, ends the claim with {@link TrovConst#JPOS_E_CLOSED}.
     */
    private boolean tryClaim(DeviceSession opened, int at, long nanosLeft) throws TrovException {
        long start = System.nanoTime();
        if (!DeviceSession.lockWithin(lock, nanosLeft)) {
            return false;
        }
        try {
            if (opening != at || session != opened || opened.ended()) {
                throw new TrovException(TrovConst.JPOS_E_CLOSED, "The " + kind.label + " service was closed");
            }
            try {
                return DeviceSession.claim(this, opened,
                        nanosLeft < 0 ? -1 : Math.max(0, nanosLeft - (System.nanoTime() - start)));
            } catch (TrovException e) {
                if (e.getErrorCode() == TrovConst.JPOS_E_CLAIMED) {
                    return false;
                }
                throw e;
            }
        } finally {
            lock.unlock();
        }
    }

    /**
     * Gives up the claim of this object. An exclusive service (all but the keylock) that is enabled
     * is disabled first.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when this object does not hold the claim
     */
    public final void release() throws TrovException {
        lock.lock();
        try {
            DeviceSession current = openSession();
            boolean wasEnabled = enabled;
            if (wasEnabled && kind.exclusive && current.isClaimer(this)) {
                stopEvents(current);
            }
            DeviceSession.release(this, current, wasEnabled);
            if (wasEnabled && kind.exclusive) {
                input.deviceEnabled(false);
            }
            ServiceLog.log(System.Logger.Level.DEBUG, "Released {0}", this);
        } finally {
            lock.unlock();
        }
        CLAIM_WAITS[kind.ordinal()].released();
    }

    /**
     * Tells whether this object holds the claim of the service. Never waits.
     *
     * @return whether this object is open and has claimed the service
     */
    public final boolean isClaimed() {
        DeviceSession current = session;
        return current != null && current.isClaimer(this);
    }

    /**
     * Enables or disables the device. Enabled, it takes input, delivers events and accepts writes.
     * Setting the value it already has does nothing. Disabling stops new input from being queued;
     * data and input error events already queued in the object stay queued and are delivered under
     * the input model's rules (DataEventEnabled, FreezeEvents), as UnifiedPOS wants and AutoDisable
     * needs; {@link TrovInputService#clearInput()} drops them. No keylock position reaches the object
     * after the disable returned.
     *
     * @param enable whether to enable
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_OFFLINE} when enabling while the keyboard is
     *                       off-line after its power-off (disabling works and is kept);
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when enabling an exclusive service
     *                       (all but the keylock) that this object has not claimed
     */
    public final void setDeviceEnabled(boolean enable) throws TrovException {
        lock.lock();
        try {
            DeviceSession current = openSession();
            if (enable == enabled) {
                return;
            }
            if (!enable) {
                stopEvents(current);
                DeviceSession.enable(this, current, false);
                input.deviceEnabled(false);
            } else {
                // The input model takes input before the object is routed any: a key or swipe that
                // comes while the device is being enabled is queued, not dropped.
                input.deviceEnabled(true);
                boolean done = false;
                try {
                    DeviceSession.enable(this, current, true);
                    done = true;
                } finally {
                    if (!done) {
                        input.deviceEnabled(false);
                    }
                }
            }
            ServiceLog.log(System.Logger.Level.DEBUG, enable ? "Enabled {0}" : "Disabled {0}", this);
        } finally {
            lock.unlock();
        }
    }

    /**
     * Marks this object disabled at once, under the monitor that event routing holds, so that no key,
     * swipe or keylock position is queued for it from here on and none queued reaches it; the native
     * disable follows.
     */
    private void stopEvents(DeviceSession current) {
        synchronized (current) {
            enabled = false;
            epoch++;
        }
    }

    /**
     * Tells whether the device is enabled. Never waits.
     *
     * @return whether the service is open and enabled; {@code false} when closed
     */
    public final boolean getDeviceEnabled() {
        DeviceSession current = session;
        return current != null && !current.ended() && enabled;
    }

    /**
     * Tells whether this object holds the claim of the service, under its JavaPOS name. Never waits.
     *
     * @return whether this object is open and has claimed the service
     */
    public final boolean getClaimed() {
        return isClaimed();
    }

    /**
     * Returns the UnifiedPOS state of this object: {@link TrovConst#JPOS_S_CLOSED} when not open (the
     * keyboard's power-off leaves it open), {@link TrovConst#JPOS_S_ERROR} while an input error waits for
     * the application's answer, {@link TrovConst#JPOS_S_BUSY} while an asynchronous output is under
     * way, {@link TrovConst#JPOS_S_IDLE} otherwise, enabled or not. Never waits.
     *
     * @return the state
     */
    public final int getState() {
        DeviceSession current = session;
        if (current == null || current.ended()) {
            return TrovConst.JPOS_S_CLOSED;
        }
        if (input.inErrorState()) {
            return TrovConst.JPOS_S_ERROR;
        }
        return outputBusy() ? TrovConst.JPOS_S_BUSY : TrovConst.JPOS_S_IDLE;
    }

    // Description, version and capabilities.

    /** The version of this device service in the UnifiedPOS form: major * 1000000 + minor * 1000 + build. */
    public static final int DEVICE_SERVICE_VERSION = 1_014_001;

    /**
     * Describes the device service.
     *
     * @return e.g. "Trov POS keyboard service, Trov JPOS 0.2"
     */
    public final String getDeviceServiceDescription() {
        return "Trov " + kind.label + " service, Trov JPOS";
    }

    /**
     * Returns the version of the device service: UnifiedPOS 1.14, build 1 ({@link #DEVICE_SERVICE_VERSION}).
     *
     * @return the version as major * 1000000 + minor * 1000 + build
     */
    public final int getDeviceServiceVersion() {
        return DEVICE_SERVICE_VERSION;
    }

    /**
     * Names the physical device: from the keyboard's USB identity while open and known, otherwise
     * "Trov POS keyboard".
     *
     * @return the name
     */
    public final String getPhysicalDeviceName() {
        return identity().map(UsbIdentity::physicalDeviceName).orElse(UsbIdentity.UNKNOWN_NAME);
    }

    /**
     * Describes the physical device: from the keyboard's USB identity (vendor and product ids,
     * release, serial number) while open and known, otherwise a fixed text.
     *
     * @return the description
     */
    public final String getPhysicalDeviceDescription() {
        return identity().map(UsbIdentity::physicalDeviceDescription).orElse(UsbIdentity.UNKNOWN_DESCRIPTION);
    }

    private java.util.Optional<UsbIdentity> identity() {
        DeviceSession current = session;
        return current == null || current.ended() ? java.util.Optional.empty() : current.identity();
    }

    /**
     * Power reporting: {@link TrovConst#JPOS_PR_ADVANCED}, since the service tells the keyboard away
     * (2002) from the keyboard away for more than 10 seconds, off-line (2004).
     *
     * @return {@link TrovConst#JPOS_PR_ADVANCED}
     */
    public final int getCapPowerReporting() {
        return TrovConst.JPOS_PR_ADVANCED;
    }

    /** @return true: {@link #retrieveStatistics} reports counts */
    public final boolean getCapStatisticsReporting() {
        return true;
    }

    /** @return true: {@link #resetStatistics} sets counts to 0 */
    public final boolean getCapUpdateStatistics() {
        return true;
    }

    /** @return false: the keyboard's firmware cannot be read or compared */
    public final boolean getCapCompareFirmwareVersion() {
        return false;
    }

    /** @return false: the keyboard's firmware cannot be updated through the service */
    public final boolean getCapUpdateFirmware() {
        return false;
    }

    // Power.

    /**
     * Returns PowerNotify.
     *
     * @return {@link TrovConst#JPOS_PN_DISABLED} (the value of a new object) or {@link TrovConst#JPOS_PN_ENABLED}
     */
    public final int getPowerNotify() {
        return powerNotify;
    }

    /**
     * Sets PowerNotify: while enabled, the keyboard's power states 2001 and 2002 reach the status
     * listeners and {@link #getPowerState()} reports them. The power-off 2004, which leaves every
     * object off-line, and the 2001 that ends it are heard whatever PowerNotify says. It may be set while the object is closed, so that the
     * events of the first opening are heard, and is kept from one opening to the next.
     *
     * @param notify {@link TrovConst#JPOS_PN_DISABLED} or {@link TrovConst#JPOS_PN_ENABLED}
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} while the device is enabled, or for another value
     */
    public final void setPowerNotify(int notify) throws TrovException {
        lock.lock();
        try {
            if (getDeviceEnabled()) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "PowerNotify can be set only while the "
                        + kind.label + " service is disabled");
            }
            if (notify != TrovConst.JPOS_PN_DISABLED && notify != TrovConst.JPOS_PN_ENABLED) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "No PowerNotify value " + notify);
            }
            powerNotify = notify;
        } finally {
            lock.unlock();
        }
    }

    /**
     * Returns the keyboard's power state: {@link TrovConst#JPOS_PS_UNKNOWN} while PowerNotify is
     * disabled or the object closed by {@link #close()}; otherwise {@link TrovConst#JPOS_PS_ONLINE},
     * {@link TrovConst#JPOS_PS_OFF} while the keyboard is away, {@link TrovConst#JPOS_PS_OFF_OFFLINE}
     * from its power-off (10 seconds away) until it is back. Never waits.
     *
     * @return the power state
     */
    public final int getPowerState() {
        int state = powerState();
        return powerNotify == TrovConst.JPOS_PN_ENABLED && state != 0 ? state : TrovConst.JPOS_PS_UNKNOWN;
    }

    // Events held or queued.

    /**
     * Returns FreezeEvents.
     *
     * @return whether events are held
     */
    public final boolean getFreezeEvents() {
        return input.getFreezeEvents();
    }

    /**
     * Sets FreezeEvents: while true every event for this object (data, error, status, output complete)
     * is held in its queue; set false, they are delivered in their own order on the event thread, the
     * power-off 2004 and the return 2001 among them. Closing drops what is held.
     *
     * @param freeze whether to hold events
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public final void setFreezeEvents(boolean freeze) throws TrovException {
        openSession();
        input.setFreezeEvents(freeze);
    }

    // Health.

    /**
     * Checks the health of the device and the service; the text is then in {@link #getCheckHealthText()}
     * and in the device's JMX bean. Internal ({@link TrovConst#JPOS_CH_INTERNAL}): the library's claim
     * table is attached, the object's opening is live and the keyboard is there. External
     * ({@link TrovConst#JPOS_CH_EXTERNAL}): the same, then a keylock position request that the keyboard
     * must answer within 2 seconds. Interactive is not supported: the service has no dialog.
     *
     * @param level {@link TrovConst#JPOS_CH_INTERNAL} or {@link TrovConst#JPOS_CH_EXTERNAL}
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} when not open, claimed (all but the
     *                       keylock) and enabled; {@link TrovConst#JPOS_E_OFFLINE} for the external
     *                       check while the keyboard is off-line; {@link TrovConst#JPOS_E_ILLEGAL} for the interactive
     *                       or an unknown level; {@link TrovConst#JPOS_E_FAILURE} when interrupted.
     *                       A failed check is no exception: its text says what is wrong.
     */
    public final void checkHealth(int level) throws TrovException {
        DeviceSession current = level == TrovConst.JPOS_CH_EXTERNAL ? onlineSession() : openSession();
        if (kind.exclusive && !current.isClaimer(this)) {
            throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED, "The " + kind.label + " service must be claimed");
        }
        if (!enabled) {
            throw new TrovException(TrovConst.JPOS_E_DISABLED, "The " + kind.label + " service must be enabled");
        }
        int at = opening;
        HealthCheck check = new HealthCheck(() -> internalFault(current, at), current::keylockAnswered);
        HealthCheck.Result result = check.check(level);
        if (opening == at) {  // a check that outlived its opening leaves the next one's text alone
            checkHealthText = result.text();
        }
        DeviceMBean.of(kind).setHealth(result);
    }

    private String internalFault(DeviceSession current, int at) {
        if (current.ended() || session != current || opening != at) {
            return "the service was closed during the check";
        }
        String fault = LibraryView.ofThisProcess().fault();
        if (fault != null) {
            return fault;
        }
        int power = current.powerState();
        return power == TrovConst.SUE_POWER_ONLINE ? null : "the keyboard is away (power state " + power + ")";
    }

    /**
     * Returns the text of the last {@link #checkHealth(int)} of this opening, e.g.
     * "Internal HCheck: Successful"; empty before the first.
     *
     * @return the text
     */
    public final String getCheckHealthText() {
        return checkHealthText;
    }

    // Statistics.

    /**
     * Retrieves statistics as a UnifiedPOS {@code UPOSStat} XML document into {@code statisticsBuffer[0]}.
     * The counts belong to the device category and the process: every object of the category sees the
     * same counts, which last from the first open until reset.
     *
     * @param statisticsBuffer on entry element 0 holds "" for all, "U_" for the UnifiedPOS statistics,
     *                         "M_" for ours, or a comma-separated list of names; on return the XML
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open; {@link TrovConst#JPOS_E_ILLEGAL}
     *                       for an unknown name or a buffer without an element
     */
    public final void retrieveStatistics(String[] statisticsBuffer) throws TrovException {
        openSession();
        if (statisticsBuffer == null || statisticsBuffer.length == 0) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The statistics buffer needs one element");
        }
        DeviceStatistics.of(kind).retrieveStatistics(statisticsBuffer);
    }

    /**
     * Sets the named statistics to 0.
     *
     * @param statisticsBuffer "" for all resettable ones, or a comma-separated list of names
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open; {@link TrovConst#JPOS_E_ILLEGAL}
     *                       for an unknown name
     */
    public final void resetStatistics(String statisticsBuffer) throws TrovException {
        openSession();
        DeviceStatistics.of(kind).resetStatistics(statisticsBuffer == null ? "" : statisticsBuffer);
    }

    /**
     * The session of this open object.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the object is closed
     */
    final DeviceSession openSession() throws TrovException {
        DeviceSession current = session;
        if (current == null || current.ended()) {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "The " + kind.label + " service is not open");
        }
        return current;
    }

    /**
     * The session of this open object, for a call that needs the device.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the object is closed;
     *                       {@link TrovConst#JPOS_E_OFFLINE} while the keyboard is away after its
     *                       power-off (2004)
     */
    final DeviceSession onlineSession() throws TrovException {
        DeviceSession current = openSession();
        current.requireOnline(kind);
        return current;
    }

    /**
     * Runs a native write under the lock once the service is open, claimed by this object and
     * enabled, and turns its result into an exception when it did not write all {@code count} bytes.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_OFFLINE},
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} or {@link TrovConst#JPOS_E_DISABLED} in
     *                       the wrong state;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} when the native layer refused the write
     *                       (-1, e.g. more bytes than its buffer holds);
     *                       {@link TrovConst#JPOS_E_FAILURE} when the device write failed
     */
    final void write(int count, IntSupplier call) throws TrovException {
        lock.lock();
        try {
            DeviceSession current = onlineSession();
            if (!current.isClaimer(this)) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + kind.label + " service must be claimed before writing");
            }
            if (!enabled) {
                throw new TrovException(TrovConst.JPOS_E_DISABLED,
                        "The " + kind.label + " service must be enabled before writing");
            }
            int result = call.getAsInt();
            if (result == count) {
                return;
            }
            if (result < 0) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The " + kind.label
                        + " service refused to write " + count + " bytes (too many, or the service is not open)");
            }
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "Writing " + count + " bytes to the "
                    + kind.label + " device failed (native result " + result + ")");
        } finally {
            lock.unlock();
        }
    }

    /**
     * The keyboard's power state as this object last heard it: {@link TrovConst#SUE_POWER_ONLINE}
     * while the keyboard is there, {@link TrovConst#SUE_POWER_OFF} while it is away (for up to 10
     * seconds), {@link TrovConst#SUE_POWER_OFF_OFFLINE} from its power-off until it is back;
     * 0 when the object was closed by {@link #close()} or never opened. Never waits.
     */
    final int powerState() {
        DeviceSession current = session;
        return current == null ? 0 : current.powerState();
    }

    /**
     * The one rule that decides whether an event may still reach this object, asked at every step of
     * its way: when the event thread takes it from the process's queue, and again at the moment its
     * listeners would be called when this object held it (FreezeEvents). Nothing reaches the object
     * <ul>
     *   <li>after it was closed or opened again since the event was queued (every event);</li>
     *   <li>a key or a swipe, after the object was disabled, or its input cleared, since it was queued
     *       in the process (what the object's input queue holds already stays there until delivered or
     *       cleared: the input model's own rules);</li>
     *   <li>a keylock position, after the object was disabled since it was queued;</li>
     *   <li>an output complete or an output error event, after a clearOutput or a close ended its output.</li>
     * </ul>
     * Event thread only.
     */
    final boolean mayReach(QueuedEvent queued) {
        if (queued.opening != opening) {
            return false;
        }
        TrovEvent event = queued.event;
        if (queued.enabledOnly && queued.epoch != epoch) {
            return false;
        }
        if (event instanceof KeyboardDataEvent || event instanceof MsrDataEvent) {
            return queued.inputClears == inputClears;
        }
        if (event instanceof OutputCompleteEvent) {
            return ((OutputCompleteEvent) event).getOutputID() > outputsClearedThrough;
        }
        if (event instanceof ErrorEvent) {
            int outputId = ((ErrorEvent) event).outputId;
            return outputId == 0 || outputId > outputsClearedThrough;  // 0: an input error, no output's
        }
        return true;
    }

    /**
     * Hands a queued event to this object on the event thread: to its input model, which holds it or
     * delivers it, or to its listeners. Every event meets its object here and passes
     * {@link #mayReach(QueuedEvent)} here and again when held events are let go.
     */
    void deliver(QueuedEvent queued) {
        if (!mayReach(queued)) {
            return;
        }
        TrovEvent event = queued.event;
        if (event instanceof StatusUpdateEvent) {
            StatusUpdateEvent status = (StatusUpdateEvent) event;
            // The power-off and the return that ends it are heard whatever PowerNotify says: they tell
            // why calls fail with 108, and when they work again.
            boolean outage = status.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE || status.endsOutage;
            if (outage || status.getStatus() < TrovConst.JPOS_PS_UNKNOWN || powerNotify == TrovConst.JPOS_PN_ENABLED) {
                input.offerStatus(() -> {
                    if (mayReach(queued) && isNews(status)) {
                        toListeners(statusListeners, status, StatusUpdateListener::statusUpdateOccurred);
                    }
                });
            }
        } else if (event instanceof OutputCompleteEvent) {
            input.offerOutputComplete(() -> {
                if (mayReach(queued)) {
                    deliverOutputComplete((OutputCompleteEvent) event);
                }
            });
        } else if (event instanceof ErrorEvent) {
            input.offerOutputComplete(() -> {
                if (mayReach(queued)) {
                    toListeners(errorListeners, (ErrorEvent) event, ErrorListener::errorOccurred);
                }
            });
        } else {
            offerInput(event);
        }
    }

    /**
     * Whether a status update still tells this object something, at the moment it would be delivered;
     * the keylock drops a position it was told already. Event thread only.
     */
    boolean isNews(StatusUpdateEvent status) {
        return true;
    }

    /**
     * Calls {@code listeners} with {@code event}, on the event thread, and stops when one of them
     * closed this object: the others of a closed object hear nothing more.
     */
    final <L, E> void toListeners(java.util.List<L> listeners, E event, java.util.function.BiConsumer<L, E> call) {
        int at = opening;
        EventDispatcher.deliver(listeners, event, call, () -> opening == at);
    }

    /**
     * Offers a key or a swipe to the input model, on the event thread; the MSR turns a bad swipe into
     * an input error here.
     */
    void offerInput(TrovEvent event) {
        input.offerData(event);
    }

    /** Sets the data properties from {@code event} just before it is delivered; on the event thread. */
    void fillProperties(TrovEvent event) {
    }

    /**
     * Calls the error listeners with an input error and returns their answer; on the event thread.
     * The error takes the place in the process's order of the swipe it was found in ({@code cause});
     * one without a cause gets the next place.
     */
    private int deliverInputError(int errorCode, int errorCodeExtended, int locus, TrovEvent cause) {
        ErrorEvent error = new ErrorEvent(errorCode, errorCodeExtended, locus);
        if (cause != null && cause.getSequenceNumber() != 0) {
            error.stamp(cause.getSequenceNumber(), cause.getWhenNanos());
        } else {
            EventDispatcher.stamp(error);
        }
        toListeners(errorListeners, error, ErrorListener::errorOccurred);
        return error.getErrorResponse();
    }

    /**
     * AutoDisable: disables the device after the data event that was queued; on the event thread. The
     * object's lock is never held while waiting for that thread, so this cannot deadlock.
     */
    private void autoDisable() {
        try {
            setDeviceEnabled(false);
        } catch (TrovException e) {
            ServiceLog.log(System.Logger.Level.DEBUG, "AutoDisable of {0} found it closed", this);
        }
    }

    /**
     * Whether an asynchronous output of this object is under way: the BUSY state. The tone indicator
     * overrides it. Never waits.
     */
    boolean outputBusy() {
        return false;
    }

    /**
     * Queues an output complete event for this object onto the process's ordered stream, from any
     * thread; it reaches {@link #deliverOutputComplete} on the event thread (FreezeEvents holds it).
     * Does nothing once the object is closed. Never blocks beyond the queue's lock.
     */
    final void postOutputComplete(int outputId) {
        post(new OutputCompleteEvent(outputId));
    }

    /**
     * Queues an error event with the output locus for this object onto the ordered stream, as
     * {@link #postOutputComplete}; the error listeners get it (FreezeEvents holds it), and the
     * application's answer is not acted on: the output is over.
     */
    final void postOutputError(int errorCode, int errorCodeExtended, int outputId) {
        ErrorEvent error = new ErrorEvent(errorCode, errorCodeExtended, TrovConst.JPOS_EL_OUTPUT);
        error.outputId = outputId;
        post(error);
    }

    /** Queues an event that needs no enabled object for this object alone. */
    private void post(TrovEvent event) {
        DeviceSession current = session;
        if (current == null || current.ended()) {
            return;
        }
        synchronized (current) {
            if (session == current && !current.ended()) {
                EventDispatcher.queue(java.util.List.of(this), event, false);
            }
        }
    }

    /** Calls the output complete listeners of the concrete service; on the event thread. */
    void deliverOutputComplete(OutputCompleteEvent event) {
    }

    /** The object was closed by {@link #close()}, under its lock: ends waits on it. Must not block. */
    void ended() {
    }

    /** Calls the data listeners of the concrete service with {@code event}; on the event thread. */
    void deliverData(TrovEvent event) {
    }

    /**
     * Called as a key, swipe or keylock position is queued for this enabled object (not for power
     * states), on a library thread under the session's monitor: for state that a query must show at
     * once (the keylock position). Must not block.
     */
    void routed(TrovEvent event) {
    }

    /** The class and identity of this object, e.g. {@code TrovMSRService@1b6d3586}; used in log messages. */
    @Override
    public String toString() {
        return getClass().getSimpleName() + "@" + Integer.toHexString(System.identityHashCode(this));
    }

    /** The event thread, or null when none runs; for tests and diagnostics. */
    static Thread dispatcherThread() {
        return EventDispatcher.thread();
    }

    // ---- Hooks for the keylock and the tone indicator ----
}
