// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * The keylock of the POS keyboard. Each change of the key position is delivered to the
 * {@link StatusUpdateListener}s as a {@link StatusUpdateEvent} whose status is the new position,
 * counted from 1 ({@link TrovConst#LOCK_KP_LOCK}, {@link TrovConst#LOCK_KP_NORM},
 * {@link TrovConst#LOCK_KP_SUPR}, further positions counting on): the keyboard's position digit plus
 * one. {@link #getKeyPosition()} returns the last one reported, and
 * {@link #waitForKeylockChange(int, int)} waits for one.
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
 *     keylock.waitForKeylockChange(TrovConst.LOCK_KP_NORM, TrovConst.JPOS_FOREVER);
 *     ...
 * }
 * }</pre>
 */
public final class TrovKeylockService extends TrovService {

    static {
        NativeLibrary.tryLoad();
    }

    /**
     * The number of positions unless the settings file or {@link #setPositionCount(int)} says otherwise:
     * lock, normal, supervisor.
     */
    public static final int DEFAULT_POSITION_COUNT = 3;

    /** The most positions the keyboard can report: its position is one decimal digit. */
    public static final int MAX_POSITION_COUNT = 10;

    /** The positions reported in this opening and the waits on them. */
    private final KeylockWait positions = new KeylockWait();

    private volatile int positionCount = TerminalSettings.current().number(TerminalSettings.KEYLOCK_POSITIONS,
            DEFAULT_POSITION_COUNT);

    /** Creates a closed keylock service object. */
    public TrovKeylockService() {
        super(ServiceKind.KEYLOCK);
    }

    /**
     * Returns the key position last reported in this opening. Positions are reported while the
     * keylock is enabled; enabling asks the keyboard for the position.
     *
     * @return the position, counted from 1, or 0 when none was reported yet
     */
    public int getKeyPosition() {
        return positions.position();
    }

    /**
     * The same as {@link #getKeyPosition()}, kept from version 0.1.
     *
     * @return the position, counted from 1, or 0 when none was reported yet
     */
    public int getKeylockPosition() {
        return getKeyPosition();
    }

    /**
     * Returns the number of key positions. The keyboard cannot tell it: it reports one digit, so up
     * to {@link #MAX_POSITION_COUNT} positions. When the object is made it is the terminal settings
     * file's {@code keylock.positions} (see {@link TrovToneIndicatorService} for the file), else
     * {@link #DEFAULT_POSITION_COUNT} (lock, normal, supervisor); {@link #setPositionCount(int)} changes it.
     *
     * @return the number of positions
     */
    public int getPositionCount() {
        return positionCount;
    }

    /**
     * Sets the number of key positions of this keyboard's keylock, this service's own property (the
     * UnifiedPOS one is read-only, and the keyboard cannot report it). Kept across close and open.
     *
     * @param count 1 to {@link #MAX_POSITION_COUNT}
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for another count
     */
    public void setPositionCount(int count) throws TrovException {
        if (count < 1 || count > MAX_POSITION_COUNT) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL,
                    "The position count must be 1 to " + MAX_POSITION_COUNT + ", not " + count);
        }
        positionCount = count;
    }

    /**
     * Waits until the key is at {@code keyPosition}, or, with {@link TrovConst#LOCK_KP_ANY} (0), for
     * the next change. A wait for a position the key is at returns at once. The first position an
     * opening hears (the answer to enabling's request) tells where the key is, not that it moved: it
     * ends no wait for any change. Positions arrive only while the keylock is enabled. Closing the
     * object ends every wait on it; the keyboard's power-off does not, the object stays open. Any number of threads may wait.
     *
     * @param keyPosition the position to wait for, 1 to {@link #getPositionCount()}, or 0 for any change
     * @param timeout     milliseconds; {@link TrovConst#JPOS_FOREVER} (−1) for no limit, 0 to look once
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open, or closed or powered off
     *                       during the wait; {@link TrovConst#JPOS_E_ILLEGAL} for a position outside
     *                       0 to {@link #getPositionCount()} or a timeout below −1;
     *                       {@link TrovConst#JPOS_E_TIMEOUT} when the time ran out;
     *                       {@link TrovConst#JPOS_E_FAILURE} when the thread was interrupted
     */
    public void waitForKeylockChange(int keyPosition, int timeout) throws TrovException {
        openSession();
        if (keyPosition > positionCount) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "Key position " + keyPosition
                    + " is beyond the position count " + positionCount);
        }
        positions.await(keyPosition, timeout);
    }

    /** The position last delivered to the listeners in this opening, 0 before the first; event thread only. */
    private volatile int told;

    @Override
    void beforeOpen() {
        positions.reset();
        told = 0;
    }

    /**
     * A position reaches the listeners only when it differs from the last one they were told in this
     * opening; the first of an opening always does. Power states always do.
     */
    @Override
    boolean isNews(StatusUpdateEvent status) {
        int position = status.getStatus();
        if (position >= TrovConst.JPOS_PS_UNKNOWN) {
            return true;
        }
        if (position == told) {
            return false;
        }
        told = position;
        return true;
    }

    /** Close: every wait ends. */
    @Override
    void ended() {
        positions.end();
    }

    /**
     * Called by the native layer on its event thread, on the process's internal keylock object, when
     * the key position changed; every enabled keylock object gets the position.
     */
    int keylockStatusUpdateEvent(int newPosition) {
        DeviceSession.toEnabled(ServiceKind.KEYLOCK, new StatusUpdateEvent(newPosition));
        return 0;
    }

    /**
     * The position is this object's as soon as it is queued, before any later event is delivered, and
     * the waits on it end then.
     */
    @Override
    void routed(TrovEvent event) {
        positions.position(((StatusUpdateEvent) event).getStatus());
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
