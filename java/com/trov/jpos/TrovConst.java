// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Numeric constants of the Trov POS services, with the values and names of the UnifiedPOS device
 * model: result codes (carried by {@link TrovException}), device states, health check levels, power
 * reporting, error event loci and responses, status codes of {@link StatusUpdateEvent}s, keylock
 * positions, and the constants of the POS keyboard and the magnetic stripe reader.
 */
public final class TrovConst {

    // ---- Result codes -------------------------------------------------------------------------

    /** The call succeeded. */
    public static final int JPOS_SUCCESS = 0;

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

    /** No device is connected, or the device is not powered. */
    public static final int JPOS_E_NOHARDWARE = 107;

    /** The device is connected but offline. */
    public static final int JPOS_E_OFFLINE = 108;

    /** The named item (for example a statistic or a file) does not exist. */
    public static final int JPOS_E_NOEXIST = 109;

    /** The item to be created exists already. */
    public static final int JPOS_E_EXISTS = 110;

    /** The device could not carry out the request. */
    public static final int JPOS_E_FAILURE = 111;

    /** A wait (claim, keylock change, device answer) ran out of time. */
    public static final int JPOS_E_TIMEOUT = 112;

    /** The device is busy with an earlier request. */
    public static final int JPOS_E_BUSY = 113;

    /** The failure is told by the category's extended code, for example {@link #JPOS_EMSR_LRC}. */
    public static final int JPOS_E_EXTENDED = 114;

    /** Extended MSR result: the start sentinel of a track is wrong or missing. */
    public static final int JPOS_EMSR_START = 201;

    /** Extended MSR result: the end sentinel of a track is wrong or missing. */
    public static final int JPOS_EMSR_END = 202;

    /** Extended MSR result: a character of a track failed its parity check. */
    public static final int JPOS_EMSR_PARITY = 203;

    /** Extended MSR result: the check character (LRC) of a track does not match its data. */
    public static final int JPOS_EMSR_LRC = 204;

    /** A timeout that never runs out: wait for ever. */
    public static final int JPOS_FOREVER = -1;

    // ---- Device states ------------------------------------------------------------------------

    /** State: the device is closed. */
    public static final int JPOS_S_CLOSED = 1;

    /** State: the device is open and nothing is under way. */
    public static final int JPOS_S_IDLE = 2;

    /** State: an asynchronous output is under way. */
    public static final int JPOS_S_BUSY = 3;

    /** State: an input error waits for the application's answer. */
    public static final int JPOS_S_ERROR = 4;

    // ---- Health check levels ------------------------------------------------------------------

    /** Health check of the service's own side, without touching the device's function. */
    public static final int JPOS_CH_INTERNAL = 1;

    /** Health check that exercises the device. */
    public static final int JPOS_CH_EXTERNAL = 2;

    /** Health check with the user in a dialog. */
    public static final int JPOS_CH_INTERACTIVE = 3;

    // ---- Power reporting ----------------------------------------------------------------------

    /** CapPowerReporting: the service cannot tell the device's power state. */
    public static final int JPOS_PR_NONE = 0;

    /** CapPowerReporting: the service tells online from off-or-offline. */
    public static final int JPOS_PR_STANDARD = 1;

    /** CapPowerReporting: the service also tells off from offline. */
    public static final int JPOS_PR_ADVANCED = 2;

    /** PowerNotify: no power status events. */
    public static final int JPOS_PN_DISABLED = 0;

    /** PowerNotify: a status event at each power state change. */
    public static final int JPOS_PN_ENABLED = 1;

    /** PowerState: not known, for example while PowerNotify is disabled. */
    public static final int JPOS_PS_UNKNOWN = 2000;

    /** PowerState: the device is powered and ready. */
    public static final int JPOS_PS_ONLINE = 2001;

    /** PowerState: the device is off or detached. */
    public static final int JPOS_PS_OFF = 2002;

    /** PowerState: the device is powered but does not answer. */
    public static final int JPOS_PS_OFFLINE = 2003;

    /** PowerState: the device is off or offline, the service cannot tell which. */
    public static final int JPOS_PS_OFF_OFFLINE = 2004;

    // ---- Error events ---------------------------------------------------------------------------

    /** ErrorEvent locus: the error happened during an asynchronous output. */
    public static final int JPOS_EL_OUTPUT = 1;

    /** ErrorEvent locus: an input error, with no data events queued. */
    public static final int JPOS_EL_INPUT = 2;

    /** ErrorEvent locus: an input error, with data events queued before it. */
    public static final int JPOS_EL_INPUT_DATA = 3;

    /** ErrorEvent response: try again, where the device can. */
    public static final int JPOS_ER_RETRY = 11;

    /** ErrorEvent response: drop the queued input (the default). */
    public static final int JPOS_ER_CLEAR = 12;

    /** ErrorEvent response: deliver the queued data first, then report the error again. */
    public static final int JPOS_ER_CONTINUEINPUT = 13;

    // ---- Status updates -------------------------------------------------------------------------

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
     * closed ({@link #JPOS_S_CLOSED}).
     */
    public static final int SUE_POWER_OFF_OFFLINE = 2004;

    /** Status update: the POS keyboard is powered but does not answer. */
    public static final int SUE_POWER_OFFLINE = 2003;

    // ---- Keylock ------------------------------------------------------------------------------

    /** Keylock position for {@code waitForKeylockChange}: any change. */
    public static final int LOCK_KP_ANY = 0;

    /** Keylock position: locked. */
    public static final int LOCK_KP_LOCK = 1;

    /** Keylock position: normal. */
    public static final int LOCK_KP_NORM = 2;

    /** Keylock position: supervisor. Further positions count on from here. */
    public static final int LOCK_KP_SUPR = 3;

    // ---- POS keyboard -------------------------------------------------------------------------

    /** {@code EventTypes}: data events for key downs only. */
    public static final int KBD_ET_DOWN = 1;

    /**
     * The key-up value of {@code POSKeyEventType}, under a name that was wrong: {@code KBD_ET_} names
     * are {@code EventTypes} values, and this one's value is also {@link #KBD_ET_DOWN_UP}'s.
     *
     * @deprecated use {@link #KBD_KET_KEYUP} for an event's key-up type; removed in the next release
     */
    @Deprecated
    public static final int KBD_ET_UP = 2;

    /** {@code EventTypes}: data events for key downs and key ups. */
    public static final int KBD_ET_DOWN_UP = 2;

    /** {@code POSKeyEventType}: the key went down. */
    public static final int KBD_KET_KEYDOWN = 1;

    /** {@code POSKeyEventType}: the key went up. */
    public static final int KBD_KET_KEYUP = 2;

    // ---- Magnetic stripe reader ---------------------------------------------------------------

    /** {@code TracksToRead} bit: track 1. */
    public static final int MSR_TR_1 = 1;

    /** {@code TracksToRead} bit: track 2. */
    public static final int MSR_TR_2 = 2;

    /** {@code TracksToRead} bit: track 3. */
    public static final int MSR_TR_3 = 4;

    /** {@code TracksToRead}: tracks 1 and 2. */
    public static final int MSR_TR_1_2 = MSR_TR_1 | MSR_TR_2;

    /** {@code TracksToRead}: tracks 1 and 3. */
    public static final int MSR_TR_1_3 = MSR_TR_1 | MSR_TR_3;

    /** {@code TracksToRead}: tracks 2 and 3. */
    public static final int MSR_TR_2_3 = MSR_TR_2 | MSR_TR_3;

    /** {@code TracksToRead}: tracks 1, 2 and 3. */
    public static final int MSR_TR_1_2_3 = MSR_TR_1 | MSR_TR_2 | MSR_TR_3;

    /** {@code ErrorReportingType}: one error for the whole card. */
    public static final int MSR_ERT_CARD = 0;

    /** {@code ErrorReportingType}: the error tells what failed on each track. */
    public static final int MSR_ERT_TRACK = 1;

    private TrovConst() {
    }
}
