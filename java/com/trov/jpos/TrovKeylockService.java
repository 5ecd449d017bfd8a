package com.trov.jpos;

/**
 * The keylock of the POS keyboard. Each change of the key position is delivered to the
 * {@link StatusUpdateListener}s as a {@link StatusUpdateEvent} whose status is the new position,
 * counted from 1; {@link #getKeylockPosition()} returns the last one reported.
 *
 * <p>The keylock may be shared: it can be enabled without a claim, and every enabled keylock object
 * of the process gets the positions. Its status listeners also get the keyboard's power states
 * ({@link TrovConst#SUE_POWER_ONLINE}, {@link TrovConst#SUE_POWER_OFF},
 * {@link TrovConst#SUE_POWER_OFF_OFFLINE}), which no key position equals. After the keyboard was away
 * and is back, enabling's request for the position is sent again, so a key turned while the cable was
 * out is reported about a second after it is back.
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

    private volatile int position;

    /** Creates a closed keylock service object. */
    public TrovKeylockService() {
        super(ServiceKind.KEYLOCK);
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

    /**
     * Called by the native layer on its event thread, on the process's internal keylock object, when
     * the key position changed; every enabled keylock object gets the position.
     */
    int keylockStatusUpdateEvent(int newPosition) {
        DeviceSession.toEnabled(ServiceKind.KEYLOCK, new StatusUpdateEvent(newPosition));
        return 0;
    }

    /** The position is this object's as soon as it is queued, before any later event is delivered. */
    @Override
    void routed(TrovEvent event) {
        position = ((StatusUpdateEvent) event).getStatus();
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
