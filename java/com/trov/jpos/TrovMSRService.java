package com.trov.jpos;

import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The magnetic stripe reader of the POS keyboard. Each card swipe is delivered to the
 * {@link MsrDataListener}s as an {@link MsrDataEvent} holding the three tracks. Only swipes the keyboard
 * completed are delivered: one cut off by an outage is dropped.
 *
 * <p>The service is exclusive: it must be claimed before it can be enabled.
 */
public final class TrovMSRService extends TrovService {

    static {
        NativeLibrary.tryLoad();
    }

    private final CopyOnWriteArrayList<MsrDataListener> dataListeners = new CopyOnWriteArrayList<>();

    /** Creates a closed MSR service object. */
    public TrovMSRService() {
        super(ServiceKind.MSR);
    }

    /**
     * Adds a listener for card swipes. Adding a listener that is already registered does nothing.
     *
     * @param listener the listener
     * @throws NullPointerException when {@code listener} is null
     */
    public void addDataListener(MsrDataListener listener) {
        dataListeners.addIfAbsent(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added by {@link #addDataListener(MsrDataListener)}; does nothing when it is
     * not registered.
     *
     * @param listener the listener
     */
    public void removeDataListener(MsrDataListener listener) {
        dataListeners.remove(listener);
    }

    /**
     * Called by the native layer on its event thread for each swipe. Each array holds the track bytes
     * followed by one terminating 0 byte; the event keeps copies without it.
     */
    int msrDataEvent(byte[] track1, byte[] track2, byte[] track3) {
        DeviceSession.toEnabled(ServiceKind.MSR, MsrDataEvent.fromTerminated(track1, track2, track3));
        return 0;
    }

    @Override
    void deliverData(TrovEvent event) {
        EventDispatcher.deliver(dataListeners, (MsrDataEvent) event, MsrDataListener::msrDataOccurred);
    }

    @Override
    int nativeOpen() {
        return OpenMSR();
    }

    @Override
    void nativeClose() {
        CloseMSR();
    }

    @Override
    void nativeEnable(boolean enable) {
        enableMSR(enable);
    }

    @Override
    void nativeClaim(boolean claim) {
        claimMSR(claim);
    }

    @Override
    boolean nativeIsClaimed() {
        return isMSRClaimed();
    }

    // Native layer. Package-private so that tests in this package can call it directly.

    native int OpenMSR();

    native void CloseMSR();

    native void enableMSR(boolean enable);

    native void claimMSR(boolean claim);

    native boolean isMSRClaimed();
}
