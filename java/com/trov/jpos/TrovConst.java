package com.trov.jpos;

/**
 * Numeric constants of the Trov POS services: the error codes carried by {@link TrovException},
 * the status codes of {@link StatusUpdateEvent}s from the POS keyboard, and the event types of
 * {@link KeyboardDataEvent}s.
 */
public final class TrovConst {

    /** The service is not open: call {@code open()} first. */
    public static final int JPOS_E_CLOSED = 101;

    /** The service is claimed by another service object in this process. */
    public static final int JPOS_E_CLAIMED = 102;

    /** The call needs the service to be claimed by this object: call {@code claim()} first. */
    public static final int JPOS_E_NOTCLAIMED = 103;

    /**
     * No service: no POS keyboard was found or it could not be set up, or the native library could
     * not be loaded.
     */
    public static final int JPOS_E_NOSERVICE = 104;

    /** The call needs the device to be enabled: call {@code setDeviceEnabled(true)} first. */
    public static final int JPOS_E_DISABLED = 105;

    /** The call is not allowed now or its arguments were refused. */
    public static final int JPOS_E_ILLEGAL = 106;

    /** The device could not carry out the request. */
    public static final int JPOS_E_FAILURE = 111;

    /** Status update: the POS keyboard is powered and online (at first, and again after an outage). */
    public static final int SUE_POWER_ONLINE = 2001;

    /**
     * Status update: the POS keyboard went away, off or detached from the terminal (its cable was
     * pulled). Heard within about a second; the services stay open and wait 10 seconds for it to come
     * back, which {@link #SUE_POWER_ONLINE} then reports. This library's own addition to the
     * keyboard's two reports, with the UnifiedPOS value for "off".
     */
    public static final int SUE_POWER_OFF = 2002;

    /**
     * Status update: the POS keyboard is off or offline: it stayed away for 10 seconds. The native
     * layer has then already shut every service down, and every open service object has moved to
     * {@link ServiceState#CLOSED}.
     */
    public static final int SUE_POWER_OFF_OFFLINE = 2004;

    /** Keyboard data event type: a key went down. */
    public static final int KBD_ET_DOWN = 1;

    /** Keyboard data event type: a key went up. */
    public static final int KBD_ET_UP = 2;

    private TrovConst() {
    }
}
