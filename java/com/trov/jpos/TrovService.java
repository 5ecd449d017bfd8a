package com.trov.jpos;

import java.util.List;
import java.util.function.BiConsumer;
import java.util.function.IntSupplier;

/**
 * What the four Trov POS services have in common: opening and closing, claiming and releasing,
 * enabling and disabling, and the event dispatcher thread.
 *
 * <p>The life of a service object is: {@link #open()}, {@link #claim()},
 * {@link #setDeviceEnabled(boolean) setDeviceEnabled(true)}, use, then {@link #close()}, which
 * disables, releases and closes in one go. A closed object can be opened again.
 *
 * <p>All public methods are thread-safe. They serialise on a lock private to the object; the
 * methods the native layer calls on its own threads never take that lock.
 *
 * <p>The native layer keeps the state of each service once per process, and the device behind
 * all four services is opened by the first open of any of them and closed by the last close.
 * A claim is therefore exclusive within the process: a second object of the same service cannot
 * claim while the first holds the claim.
 */
public abstract class TrovService implements AutoCloseable {

    /** Serialises the check-and-claim of the process-wide native claim flags. */
    private static final Object CLAIM_LOCK = new Object();

    private final Object lock = new Object();
    private final String serviceName;
    private final boolean exclusive;

    // Guarded by lock.
    private ServiceState state = ServiceState.CLOSED;
    private boolean claimed;
    private int shutdownsAtOpen;

    /**
     * Read by native event threads without the lock. Null once closed by {@link #close()}; after a
     * native shutdown it is kept, finished, until close() waits for it or open() replaces it.
     */
    private volatile EventDispatcher dispatcher;

    /**
     * @param serviceName short name used in messages and in the dispatcher thread's name
     * @param exclusive   whether enabling needs a claim
     */
    TrovService(String serviceName, boolean exclusive) {
        this.serviceName = serviceName;
        this.exclusive = exclusive;
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

    /**
     * Makes sure the native library is loaded before the native open. A test double of a service,
     * which has no native layer, overrides this to do nothing.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_NOSERVICE} when the library cannot be loaded
     */
    void loadNativeLibrary() throws TrovException {
        NativeLibrary.ensureLoaded();
    }

    /** Called under the lock just before the native open, to reset state reported by events. */
    void beforeOpen() {
    }

    /**
     * Opens the service. When this is the first open service of the process, the native layer
     * searches for the POS keyboard and sets it up. Events may arrive from now on, so listeners
     * should be added before opening.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_NOSERVICE} when no POS keyboard was found or it
     *                       could not be set up, or the native library could not be loaded;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} when this object is already open
     */
    public final void open() throws TrovException {
        synchronized (lock) {
            syncWithNativeShutdown();
            if (state != ServiceState.CLOSED) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The " + serviceName + " service is already open");
            }
            loadNativeLibrary();
            beforeOpen();
            // The dispatcher must exist before the native open: events may come at once. A dispatcher
            // left finished by a native shutdown drains its queue on its own.
            EventDispatcher newDispatcher = new EventDispatcher("TrovJPOS-" + serviceName + "-events");
            dispatcher = newDispatcher;
            int result;
            try {
                result = nativeOpen();
            } catch (LinkageError e) {
                // The native layer could not find a listener method of this class (or a native
                // method is missing): the library and these classes do not belong together.
                dropDispatcher(newDispatcher);
                throw new TrovException(TrovConst.JPOS_E_NOSERVICE, "The " + serviceName
                        + " service could not be set up: the native library does not match these classes ("
                        + e + ")", e);
            } catch (RuntimeException | Error e) {
                dropDispatcher(newDispatcher);
                throw e;
            }
            if (result != 0) {
                dropDispatcher(newDispatcher);
                if (result == TrovConst.JPOS_E_NOSERVICE) {
                    throw new TrovException(TrovConst.JPOS_E_NOSERVICE, "The " + serviceName
                            + " service could not be opened: no POS keyboard was found or it could not be set up."
                            + " Check that the keyboard is connected, that this process may read and write"
                            + " its HID device node (/dev/usb/hid/hiddev*), and that the working directory is"
                            + " writable (the library makes its input FIFO there); trovjpos-diag tells more.");
                }
                throw new TrovException(TrovConst.JPOS_E_FAILURE,
                        "The " + serviceName + " service could not be opened (native result " + result + ")");
            }
            // The native layer reports a power-off and shuts down as one step, and an open waits for
            // that step to end: a power-off counted by now belonged to an earlier opening of the
            // device, never to the one this open joined.
            shutdownsAtOpen = DeviceShutdowns.current();
            claimed = false;
            state = ServiceState.IDLE;
        }
    }

    private void dropDispatcher(EventDispatcher failed) {
        dispatcher = null;
        failed.finish();
    }

    /**
     * Closes the service: disables it if enabled, releases it if claimed by this object, closes the
     * native service and then ends the event dispatcher. Events already queued are still delivered
     * before this method returns; when called from a listener on this service's own dispatcher
     * thread, it returns without waiting for them. Closing a closed service does nothing, and when
     * the keyboard's power-off has already shut the native service down, the native close is not
     * called again.
     */
    @Override
    public final void close() {
        EventDispatcher ending;
        synchronized (lock) {
            syncWithNativeShutdown();
            ending = dispatcher;
            if (state != ServiceState.CLOSED) {
                try {
                    if (state == ServiceState.ENABLED) {
                        nativeEnable(false);
                    }
                    if (claimed) {
                        synchronized (CLAIM_LOCK) {
                            nativeClaim(false);
                        }
                    }
                    // Joins the native event threads; they never take this lock, so this cannot deadlock.
                    nativeClose();
                } finally {
                    claimed = false;
                    state = ServiceState.CLOSED;
                }
            }
            dispatcher = null;
        }
        // Waited for outside the lock: a listener may call methods of this object meanwhile.
        if (ending != null) {
            ending.finishAndAwait();
        }
    }

    /**
     * Claims the service for this object. Claiming a service this object already holds does nothing.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_CLAIMED} when another object of this service
     *                       holds the claim
     */
    public final void claim() throws TrovException {
        synchronized (lock) {
            requireOpen();
            if (claimed) {
                return;
            }
            synchronized (CLAIM_LOCK) {
                if (nativeIsClaimed()) {
                    throw new TrovException(TrovConst.JPOS_E_CLAIMED,
                            "The " + serviceName + " service is claimed by another service object");
                }
                nativeClaim(true);
            }
            claimed = true;
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
            requireOpen();
            if (!claimed) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + serviceName + " service is not claimed by this object");
            }
            if (exclusive && state == ServiceState.ENABLED) {
                nativeEnable(false);
                state = ServiceState.IDLE;
            }
            synchronized (CLAIM_LOCK) {
                nativeClaim(false);
            }
            claimed = false;
        }
    }

    /**
     * Tells whether this object holds the claim of the service.
     *
     * @return whether this object is open and has claimed the service
     */
    public final boolean isClaimed() {
        synchronized (lock) {
            syncWithNativeShutdown();
            return claimed;
        }
    }

    /**
     * Enables or disables the device. Enabled, it delivers events and accepts writes. Setting the
     * value it already has does nothing.
     *
     * @param enable whether to enable
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_NOTCLAIMED} when enabling an exclusive service
     *                       (all but the keylock) that this object has not claimed
     */
    public final void setDeviceEnabled(boolean enable) throws TrovException {
        synchronized (lock) {
            requireOpen();
            if (enable == (state == ServiceState.ENABLED)) {
                return;
            }
            if (enable && exclusive && !claimed) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + serviceName + " service must be claimed before it is enabled");
            }
            nativeEnable(enable);
            state = enable ? ServiceState.ENABLED : ServiceState.IDLE;
        }
    }

    /**
     * Tells whether the device is enabled.
     *
     * @return whether the service is open and enabled; {@code false} when closed
     */
    public final boolean getDeviceEnabled() {
        return getState() == ServiceState.ENABLED;
    }

    /**
     * Returns the state of this object. After the keyboard reported power-off this is
     * {@link ServiceState#CLOSED}.
     *
     * @return the current state
     */
    public final ServiceState getState() {
        synchronized (lock) {
            syncWithNativeShutdown();
            return state;
        }
    }

    /**
     * Moves this object to {@link ServiceState#CLOSED} if the native layer has shut every service down
     * since it was opened. No native call is made. Caller holds the lock.
     */
    private void syncWithNativeShutdown() {
        if (state != ServiceState.CLOSED && DeviceShutdowns.current() != shutdownsAtOpen) {
            state = ServiceState.CLOSED;
            claimed = false;
            // Queued events, such as the power-off itself, are still delivered; close() waits for them.
            if (dispatcher != null) {
                dispatcher.finish();
            }
        }
    }

    private void requireOpen() throws TrovException {
        syncWithNativeShutdown();
        if (state == ServiceState.CLOSED) {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "The " + serviceName + " service is not open");
        }
    }

    /**
     * Runs a native call under the lock once the service is open.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open
     */
    final int whenOpen(IntSupplier call) throws TrovException {
        synchronized (lock) {
            requireOpen();
            return call.getAsInt();
        }
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
            requireOpen();
            if (!claimed) {
                throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED,
                        "The " + serviceName + " service must be claimed before writing");
            }
            if (state != ServiceState.ENABLED) {
                throw new TrovException(TrovConst.JPOS_E_DISABLED,
                        "The " + serviceName + " service must be enabled before writing");
            }
            int result = call.getAsInt();
            if (result == count) {
                return;
            }
            if (result < 0) {
                throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "The " + serviceName
                        + " service refused to write " + count + " bytes (too many, or the service is not open)");
            }
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "Writing " + count + " bytes to the "
                    + serviceName + " device failed (native result " + result + ")");
        }
    }

    /**
     * Queues an event for delivery to {@code listeners} on the dispatcher thread. Called on native
     * event threads: never blocks and never takes the lock. Dropped while the object is closed.
     */
    final <L, E> void post(List<L> listeners, E event, BiConsumer<L, E> call) {
        EventDispatcher current = dispatcher;
        if (current != null) {
            current.submit(() -> EventDispatcher.deliver(listeners, event, call));
        }
    }

    /** The current dispatcher thread, or null while closed; for tests and diagnostics. */
    final Thread dispatcherThread() {
        EventDispatcher current = dispatcher;
        return current == null ? null : current.thread();
    }
}
