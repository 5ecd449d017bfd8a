package com.trov.jpos;

import java.util.Objects;

/**
 * The beeper of the POS keyboard. {@link #sound(byte[])} sends tone command bytes to it. The
 * beeper reports no events.
 *
 * <p>The service is exclusive: it must be claimed before it can be enabled.
 */
public final class TrovToneIndicatorService extends TrovService {

    static {
        NativeLibrary.tryLoad();
    }

    /** Creates a closed tone indicator service object. */
    public TrovToneIndicatorService() {
        super(ServiceKind.TONE);
    }

    /**
     * Sends tone command bytes to the beeper as they are.
     *
     * @param data the bytes to send
     * @throws NullPointerException when {@code data} is null
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} when the service is not open, claimed and
     *                       enabled; {@link TrovConst#JPOS_E_ILLEGAL} when the native layer refused the
     *                       bytes (more than it can send at once); {@link TrovConst#JPOS_E_FAILURE}
     *                       when the device write failed
     */
    public void sound(byte[] data) throws TrovException {
        Objects.requireNonNull(data, "data");
        write(data.length, () -> WriteToneIndicator(data, data.length));
    }

    @Override
    int nativeOpen() {
        return OpenToneIndicator();
    }

    @Override
    void nativeClose() {
        CloseToneIndicator();
    }

    @Override
    void nativeEnable(boolean enable) {
        enableToneIndicator(enable);
    }

    @Override
    void nativeClaim(boolean claim) {
        claimToneIndicator(claim);
    }

    @Override
    boolean nativeIsClaimed() {
        return isToneIndicatorClaimed();
    }

    // Native layer. Package-private so that tests in this package can call it directly.

    native int OpenToneIndicator();

    native void CloseToneIndicator();

    native int WriteToneIndicator(byte[] data, int count);

    native void enableToneIndicator(boolean enable);

    native void claimToneIndicator(boolean claim);

    native boolean isToneIndicatorClaimed();
}
