package com.trov.jpos;

import java.util.List;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.function.BiConsumer;
import java.util.function.IntSupplier;

/**
 * What the four Trov POS services have in common: opening and closing, claiming and releasing,
 * enabling and disabling, power status events and the event dispatcher thread.
 *
 * <p>The life of a service object is: {@link #open()}, {@link #claim()},
 * {@link #setDeviceEnabled(boolean) setDeviceEnabled(true)}, use, then {@link #close()}, which
 * disables, releases and closes in one go. A closed object can be opened again.
 *
 * <p>Several objects of one service may be open at once in a process. Keylock events reach every
 * enabled keylock object; the events of the other services reach the object that claimed and enabled
 * the service. A claim is held by one object: another object's claim, in this process or another,
 * fails with {@link TrovConst#JPOS_E_CLAIMED}. Closing, disabling or releasing one object never
 * affects another. The device itself is opened by the first open of any object and closed by the
 * last close.
 *
 * <p>The keyboard's power states ({@link TrovConst#SUE_POWER_ONLINE},
 * {@link TrovConst#SUE_POWER_OFF_OFFLINE}) reach the {@link StatusUpdateListener}s of every open
 * object of every service. A power-off closes every object of the process: each is
 * {@link ServiceState#CLOSED} before its listeners hear of it, the 2004 is its last event, and it
 * holds no thread afterwards; a later {@link #close()} of it does nothing.
 *
 * <p>All public methods are thread-safe and may be called from listeners. The queries
 * ({@link #getState()}, {@link #isClaimed()}, {@link #getDeviceEnabled()}) never wait for a lock; the
 * other methods serialise on a lock private to the object and never wait for a dispatcher thread.
 */
public abstract class TrovService implements AutoCloseable {

    private static final System.Logger LOG = System.getLogger("com.trov.jpos");

    /** Serialises this object's open, close, claim, release, enable and writes; taken before DeviceSession's lock. */
    private final Object lock = new Object();

    final ServiceKind kind;
    private final EventDispatcher dispatcher;
    final CopyOnWriteArrayList<StatusUpdateListener> statusListeners = new CopyOnWriteArrayList<>();

    /** The opening this object belongs to; null once closed by {@link #close()}. */
    private volatile DeviceSession session;

    /** Whether enabled in its session; written under DeviceSession's lock, read by event routing. */
    volatile boolean enabled;

    /**
     * Changes at each close and disable. A data event is delivered only if it has not changed
     * since the event was queued, so that no data event reaches a listener after its object was
     * closed or disabled. Status events do not look at it: the power-off is always delivered.
     */
    private volatile int epoch;

    /** @param kind which service this is */
    TrovService(ServiceKind kind) {
        this.kind = kind;
        this.dispatcher = new EventDispatcher("TrovJPOS-" + kind.label + "-events");
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
        synchronized (lock) {
            DeviceSession current = session;
            if (current != null && !current.ended()) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The " + kind.label + " service is already open");
            }
            // The epoch stays: data events that a power-off left queued are still delivered, before the
            // power-off and before anything of this new opening.
            session = null;
            enabled = false;
            beforeOpen();
            // The dispatcher runs before the join: events may come at once.
            dispatcher.open();
            try {
                session = DeviceSession.join(this);
            } catch (TrovException | RuntimeException | Error e) {
                dispatcher.close();
                LOG.log(System.Logger.Level.INFO, "Opening {0} failed: {1}", this, e.getMessage());
                throw e;
            }
            LOG.log(System.Logger.Level.DEBUG, "Opened {0}", this);
        }
    }

    /**
     * Closes the service: disables it if enabled, releases it if claimed by this object, and leaves
     * the device, which the last close of the process closes. Events not yet delivered are dropped,
     * except a power-off already reported; a listener running at that moment may still be running
     * when this method returns. It never waits for a dispatcher thread, so it may be called from any
     * listener. Closing a closed object, or one that the keyboard's power-off closed, does nothing
     * native.
     */
    @Override
    public final void close() {
        synchronized (lock) {
            DeviceSession current = session;
            if (current == null) {
                return;
            }
            epoch++;
            try {
                DeviceSession.leave(this, current);
            } finally {
                session = null;
                enabled = false;
                dispatcher.close();
            }
            LOG.log(System.Logger.Level.DEBUG, current.ended() && current.endedByPowerOff()
                    ? "Closed {0}, which the keyboard''s power-off had closed already" : "Closed {0}", this);
        }
    }

    /**
     * Claims the service for this object. Claiming a service this object already holds does nothing.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_CLAIMED} when another object of this service, in
     *                       this process or another, holds the claim
     */
    public final void claim() throws TrovException {
        synchronized (lock) {
            try {
                DeviceSession.claim(this, openSession());
            } catch (TrovException e) {
                LOG.log(System.Logger.Level.DEBUG, "Claim of {0} refused: {1}", this, e.getMessage());
                throw e;
            }
            LOG.log(System.Logger.Level.DEBUG, "Claimed {0}", this);
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
        synchronized (lock) {
            DeviceSession current = openSession();
            boolean wasEnabled = enabled;
            DeviceSession.release(this, current);
            if (wasEnabled && !enabled) {
                epoch++;
            }
            LOG.log(System.Logger.Level.DEBUG, "Released {0}", this);
        }
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
     * Enables or disables the device. Enabled, it delivers events and accepts writes. Setting the
     * value it already has does nothing. Data events not yet delivered when it is disabled are dropped.
     *
     * @param enable whether to enable
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when enabling an exclusive service
     *                       (all but the keylock) that this object has not claimed
     */
    public final void setDeviceEnabled(boolean enable) throws TrovException {
        synchronized (lock) {
            DeviceSession current = openSession();
            if (enable == enabled) {
                return;
            }
            if (!enable) {
                epoch++;
            }
            DeviceSession.enable(this, current, enable);
            LOG.log(System.Logger.Level.DEBUG, enable ? "Enabled {0}" : "Disabled {0}", this);
        }
    }

    /**
     * Tells whether the device is enabled. Never waits.
     *
     * @return whether the service is open and enabled; {@code false} when closed
     */
    public final boolean getDeviceEnabled() {
        return getState() == ServiceState.ENABLED;
    }

    /**
     * Returns the state of this object. After the keyboard reported power-off this is
     * {@link ServiceState#CLOSED}. Never waits.
     *
     * @return the current state
     */
    public final ServiceState getState() {
        DeviceSession current = session;
        if (current == null || current.ended()) {
            return ServiceState.CLOSED;
        }
        return enabled ? ServiceState.ENABLED : ServiceState.IDLE;
    }

    /**
     * The session of this open object.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the object is closed, also by a power-off
     */
    final DeviceSession openSession() throws TrovException {
        DeviceSession current = session;
        if (current == null || current.ended()) {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "The " + kind.label + " service is not open");
        }
        return current;
    }

    /**
     * Runs a native write under the lock once the service is open, claimed by this object and
     * enabled, and turns its result into an exception when it did not write all {@code count} bytes.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} in the wrong state;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} when the native layer refused the write
     *                       (-1, e.g. more bytes than its buffer holds);
     *                       {@link TrovConst#JPOS_E_FAILURE} when the device write failed
     */
    final void write(int count, IntSupplier call) throws TrovException {
        synchronized (lock) {
            DeviceSession current = openSession();
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
        }
    }

    /**
     * Queues a data event for {@code listeners}; it is delivered unless this object is closed or
     * disabled before. Called by DeviceSession on the library's threads: never waits for a listener.
     */
    final <L, E> void postData(List<L> listeners, E event, BiConsumer<L, E> call) {
        int queuedAt = epoch;
        dispatcher.submit(() -> {
            if (epoch == queuedAt) {
                EventDispatcher.deliver(listeners, event, call);
            }
        });
    }

    /** Queues a status update for the status listeners; always delivered. */
    final void postStatus(int status) {
        StatusUpdateEvent event = new StatusUpdateEvent(status);
        dispatcher.submit(() -> EventDispatcher.deliver(statusListeners, event,
                StatusUpdateListener::statusUpdateOccurred));
    }

    /** The keyboard's power-off closed this object: the 2004 is its last event, then its thread ends. */
    final void poweredOff() {
        postStatus(TrovConst.SUE_POWER_OFF_OFFLINE);
        dispatcher.close();
    }

    /** The class and identity of this object, e.g. {@code TrovMSRService@1b6d3586}; used in log messages. */
    @Override
    public String toString() {
        return getClass().getSimpleName() + "@" + Integer.toHexString(System.identityHashCode(this));
    }

    /** The current dispatcher thread, or null when none runs; for tests and diagnostics. */
    final Thread dispatcherThread() {
        return dispatcher.thread();
    }
}
