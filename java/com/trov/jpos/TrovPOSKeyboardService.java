// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The keys of the POS keyboard. Key presses and releases are delivered to the
 * {@link KeyboardDataListener}s as {@link KeyboardDataEvent}s; power changes of the keyboard are
 * delivered to the {@link StatusUpdateListener}s as {@link TrovConst#SUE_POWER_ONLINE},
 * {@link TrovConst#SUE_POWER_OFF} and {@link TrovConst#SUE_POWER_OFF_OFFLINE}.
 *
 * <p>When the keyboard reports power-off, the native layer shuts every service down; this object and
 * every other open Trov service object of the process stay open, claimed and enabled, off-line
 * (calls that need the device fail with {@link TrovConst#JPOS_E_OFFLINE}), and are taken up again
 * with a 2001 when the keyboard is back, with no call of the application (see {@link TrovService}).
 *
 * <p>The service is exclusive: it must be claimed before it can be enabled. Keys follow the input
 * model of {@link TrovInputService}: set {@link #setDataEventEnabled(boolean) DataEventEnabled} to
 * hear them, and again after each one. {@link #getPOSKeyData()}, {@link #getPOSKeyEventType()} and
 * {@link #getPOSKeyExtended()} hold the key of the data event being delivered.
 * {@link #setEventTypes(int) EventTypes} chooses key downs only (the default) or downs and ups.
 */
public final class TrovPOSKeyboardService extends TrovInputService {

    static {
        NativeLibrary.tryLoad();
    }

    private final CopyOnWriteArrayList<KeyboardDataListener> dataListeners = new CopyOnWriteArrayList<>();

    private volatile int eventTypes = TrovConst.KBD_ET_DOWN;
    private volatile int posKeyData;
    private volatile int posKeyEventType;
    private volatile boolean posKeyExtended;

    /** Creates a closed POS keyboard service object. */
    public TrovPOSKeyboardService() {
        super(ServiceKind.KEYBOARD);
    }

    /**
     * Adds a listener for key events. Adding a listener that is already registered does nothing.
     *
     * @param listener the listener
     * @throws NullPointerException when {@code listener} is null
     */
    public void addDataListener(KeyboardDataListener listener) {
        dataListeners.addIfAbsent(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added by {@link #addDataListener(KeyboardDataListener)}; does nothing when it
     * is not registered.
     *
     * @param listener the listener
     */
    public void removeDataListener(KeyboardDataListener listener) {
        dataListeners.remove(listener);
    }

    /**
     * Returns EventTypes.
     *
     * @return {@link TrovConst#KBD_ET_DOWN} (the value at each open) or {@link TrovConst#KBD_ET_DOWN_UP}
     */
    public int getEventTypes() {
        return eventTypes;
    }

    /**
     * Sets EventTypes: key downs only, or downs and ups. With downs only, releases are dropped before
     * they queue.
     *
     * @param types {@link TrovConst#KBD_ET_DOWN} or {@link TrovConst#KBD_ET_DOWN_UP}
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open; {@link TrovConst#JPOS_E_ILLEGAL}
     *                       for another value
     */
    public void setEventTypes(int types) throws TrovException {
        openSession();
        if (types != TrovConst.KBD_ET_DOWN && types != TrovConst.KBD_ET_DOWN_UP) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "No EventTypes value " + types);
        }
        eventTypes = types;
    }

    /**
     * Returns the key code of the data event being (or last) delivered: the keyboard's scan code byte,
     * 0 before the first.
     *
     * @return the key code
     */
    public int getPOSKeyData() {
        return posKeyData;
    }

    /**
     * Tells whether the key of the data event being (or last) delivered is an extended key: the
     * keyboard sent the prefix 0xE0 before its code, which {@link #getPOSKeyData()} does not include.
     * UnifiedPOS has no such property; this one tells, for example, {@code E0 C8} from {@code C8}.
     *
     * @return whether the key is extended; false before the first
     */
    public boolean getPOSKeyExtended() {
        return posKeyExtended;
    }

    /** @return true: the keyboard reports key releases, which {@link TrovConst#KBD_ET_DOWN_UP} delivers */
    public boolean getCapKeyUp() {
        return true;
    }

    /**
     * Sets the data properties ({@link #getPOSKeyData()}, {@link #getPOSKeyEventType()},
     * {@link #getPOSKeyExtended()}) back to 0 and false, as before the first data event.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open
     */
    public void clearInputProperties() throws TrovException {
        openSession();
        posKeyData = 0;
        posKeyEventType = 0;
        posKeyExtended = false;
    }

    /**
     * Returns whether the data event being (or last) delivered was a key down or up.
     *
     * @return {@link TrovConst#KBD_KET_KEYDOWN} or {@link TrovConst#KBD_KET_KEYUP}; 0 before the first
     */
    public int getPOSKeyEventType() {
        return posKeyEventType;
    }

    @Override
    void beforeOpen() {
        eventTypes = TrovConst.KBD_ET_DOWN;
        posKeyData = 0;
        posKeyEventType = 0;
        posKeyExtended = false;
    }

    @Override
    void offerInput(TrovEvent event) {
        if (eventTypes == TrovConst.KBD_ET_DOWN && !((KeyboardDataEvent) event).isKeyDown()) {
            return;
        }
        super.offerInput(event);
    }

    @Override
    void fillProperties(TrovEvent event) {
        KeyboardDataEvent key = (KeyboardDataEvent) event;
        posKeyData = key.getKeyCode();
        posKeyEventType = key.isKeyDown() ? TrovConst.KBD_KET_KEYDOWN : TrovConst.KBD_KET_KEYUP;
        posKeyExtended = key.isExtended();
    }

    /**
     * Sends command bytes to the keyboard as they are.
     *
     * @param data the bytes to send
     * @throws NullPointerException when {@code data} is null
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} when the service is not open, claimed and
     *                       enabled; {@link TrovConst#JPOS_E_ILLEGAL} when the native layer refused the
     *                       bytes (more than it can send at once); {@link TrovConst#JPOS_E_FAILURE}
     *                       when the device write failed
     */
    public void writeCommand(byte[] data) throws TrovException {
        Objects.requireNonNull(data, "data");
        write(data.length, () -> WritePOSKeyboard(data, data.length));
    }

    /**
     * Queries the keyboard for one of its TCO values.
     *
     * @param index which value to query
     * @return the value the keyboard answered; 0 also when the query could not be carried out, as
     *         the native layer does not tell the two apart
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open;
     *                       {@link TrovConst#JPOS_E_OFFLINE} while the keyboard is off-line after its power-off
     */
    public int readTco(int index) throws TrovException {
        // No lock is held through the wait for the reply, so that the object's other calls go on.
        onlineSession();
        int value = ReadTCO(index);
        if (value == -1) {
            throw new TrovException(TrovConst.JPOS_E_CLOSED, "The keyboard service is not open");
        }
        return value;
    }

    /**
     * Called by the native layer on its event thread, on the process's internal keyboard object, when
     * the keyboard's power state changed; every open object of every service gets it. The internal
     * object keeps the keyboard service open while any service is, so that a power-off always arrives.
     */
    int keyboardStatusUpdateEvent(int status) {
        DeviceSession.powerState(status);
        return 0;
    }

    /**
     * The listener method every keyboard class of the native layer declares: the key byte (0 to 255) and
     * the event type. The native layer calls it on a class that lacks the three-argument form below;
     * on this class it calls that one, so this form is here for the lookup at open.
     */
    int keyboardDataEvent(int keyCode, int eventType) {
        return keyboardDataEvent(keyCode, eventType, false);
    }

    /**
     * Called by the native layer on its event thread for each key press or release, in place of the
     * two-argument form, because this class declares it: the key byte (0 to 255), the event type, and
     * whether the key came behind the extended prefix 0xE0.
     */
    int keyboardDataEvent(int keyCode, int eventType, boolean extended) {
        DeviceSession.toEnabled(ServiceKind.KEYBOARD, new KeyboardDataEvent(keyCode & 0xFF, eventType, extended));
        return 0;
    }

    @Override
    void deliverData(TrovEvent event) {
        toListeners(dataListeners, (KeyboardDataEvent) event, KeyboardDataListener::keyboardDataOccurred);
    }

    /** Looked up by the native layer at open, which never calls it. */
    int keyboardDirectIOEvent(int command, int data, byte[] obj) {
        return 0;
    }

    @Override
    int nativeOpen() {
        return OpenPOSKeyboard();
    }

    @Override
    void nativeClose() {
        ClosePOSKeyboard();
    }

    @Override
    void nativeEnable(boolean enable) {
        enablePOSKeyboard(enable);
    }

    @Override
    void nativeClaim(boolean claim) {
        claimPOSKeyboard(claim);
    }

    @Override
    boolean nativeIsClaimed() {
        return isPOSKeyboardClaimed();
    }

    // Native layer. Package-private so that tests in this package can call it directly.

    native int OpenPOSKeyboard();

    native void ClosePOSKeyboard();

    native void enablePOSKeyboard(boolean enable);

    native void claimPOSKeyboard(boolean claim);

    native boolean isPOSKeyboardClaimed();

    native int WritePOSKeyboard(byte[] data, int count);

    native int ReadTCO(int index);
}
