package com.trov.jpos;

import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The keylock of the POS keyboard. Each change of the key position is delivered to the
 * {@link StatusUpdateListener}s as a {@link StatusUpdateEvent} whose status is the new position,
 * counted from 1; {@link #getKeylockPosition()} returns the last one reported.
 *
 * <p>The keylock may be shared: it can be enabled without a claim.
 *
 * <p>Example:
 * <pre>{@code
 * try (TrovKeylockService keylock = new TrovKeylockService()) {
 *     keylock.addStatusUpdateListener(e -> System.out.println("key at " + e.getStatus()));
 *     keylock.open();
 *     keylock.setDeviceEnabled(true);
 *     ...
 * }
 * }</pre>
 */
public final class TrovKeylockService extends TrovService {

    static {
        NativeLibrary.tryLoad();
    }

    private final CopyOnWriteArrayList<StatusUpdateListener> statusListeners = new CopyOnWriteArrayList<>();
    private volatile int position;

    /** Creates a closed keylock service object. */
    public TrovKeylockService() {
        super("keylock", false);
    }

    /**
     * Adds a listener for key position changes. Adding a listener that is already registered does
     * nothing.
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
     * Returns the key position last reported since the service was opened.
     *
     * @return the position, counted from 1, or 0 when none was reported yet
     */
    public int getKeylockPosition() {
        return position;
    }

    @Override
    void beforeOpen() {
        position = 0;
    }

    /** Called by the native layer on its event thread when the key position changed. */
    int keylockStatusUpdateEvent(int newPosition) {
        position = newPosition;
        post(statusListeners, new StatusUpdateEvent(newPosition), StatusUpdateListener::statusUpdateOccurred);
        return 0;
    }

    /** Looked up by the native layer at open, which never calls it. */
    int keylockDirectIOEvent(int command, int data, byte[] obj) {
        return 0;
    }

    @Override
    int nativeOpen() {
        return OpenKeylock();
    }

    @Override
    void nativeClose() {
        CloseKeylock();
    }

    @Override
    void nativeEnable(boolean enable) {
        enableKeylock(enable);
    }

    @Override
    void nativeClaim(boolean claim) {
        claimKeylock(claim);
    }

    @Override
    boolean nativeIsClaimed() {
        return isKeylockClaimed();
    }

    // Native layer. Package-private so that tests in this package can call it directly.

    native int OpenKeylock();

    native void CloseKeylock();

    native void enableKeylock(boolean enable);

    /** Does nothing in the native layer and returns 0; position changes come as events instead. */
    native int WaitForKeylockChange();

    native void claimKeylock(boolean claim);

    native boolean isKeylockClaimed();
}
