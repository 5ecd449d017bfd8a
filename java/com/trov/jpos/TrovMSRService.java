// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import com.trov.jpos.msr.CardData;
import com.trov.jpos.msr.CardParseException;
import com.trov.jpos.msr.CardParser;
import com.trov.jpos.msr.SwipeStatus;
import com.trov.jpos.msr.Track;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The magnetic stripe reader of the POS keyboard. Each card swipe is delivered to the
 * {@link MsrDataListener}s as an {@link MsrDataEvent} holding the three tracks. Only swipes the keyboard
 * completed are delivered: one cut off by an outage is dropped.
 *
 * <p>The service is exclusive: it must be claimed before it can be enabled. Swipes follow the input
 * model of {@link TrovInputService}: set {@link #setDataEventEnabled(boolean) DataEventEnabled} to hear
 * them, and again after each one. While a data event is delivered, {@link #getTrack1Data()} to
 * {@link #getTrack3Data()} hold its tracks and, with {@link #setParseDecodeData(boolean) ParseDecodeData},
 * the parsed fields ({@link #getAccountNumber()} ...) hold the card's contents.
 *
 * <p>A wanted track (see {@link #setTracksToRead(int) TracksToRead}) that the card does not carry is
 * empty, not an error: with the defaults a card of tracks 1 and 2, or of track 2 alone, is a data event.
 * A swipe whose wanted track is present and badly framed, one in which no wanted track was read (an
 * unreadable card), or one that fails to parse while parsing is asked (an expiry month outside 01 to 12,
 * account numbers of tracks 1 and 2 that differ, a layout that is not a card's) becomes an
 * {@link ErrorEvent} ({@link TrovConst#JPOS_E_EXTENDED} with 201 to 204 for a framing fault,
 * {@link TrovConst#JPOS_E_FAILURE} for an unreadable card or a card that does not parse) instead of a
 * data event; with {@link TrovConst#MSR_ERT_TRACK} the extended code holds each track's status, track 1
 * in the low byte (111 in each wanted track's byte for an unreadable card).
 * No property, event or log line shows card data through {@code toString()}; the account number is
 * masked wherever this library shows it.
 */
public final class TrovMSRService extends TrovInputService {

    static {
        NativeLibrary.tryLoad();
    }

    private final CopyOnWriteArrayList<MsrDataListener> dataListeners = new CopyOnWriteArrayList<>();

    private volatile int tracksToRead = TrovConst.MSR_TR_1_2_3;
    private volatile boolean decodeData = true;
    private volatile boolean parseDecodeData;
    private volatile boolean transmitSentinels;
    private volatile int errorReportingType = TrovConst.MSR_ERT_TRACK;

    /** The data properties of the swipe being (or last) delivered; written on the event thread. */
    private volatile byte[][] trackData = {new byte[0], new byte[0], new byte[0]};
    private volatile CardData card = CardData.EMPTY;

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

    // Properties set by the application.

    /** @return the wanted tracks, a bit set of {@link TrovConst#MSR_TR_1}, {@link TrovConst#MSR_TR_2}, {@link TrovConst#MSR_TR_3} */
    public int getTracksToRead() {
        return tracksToRead;
    }

    /**
     * Sets which tracks the application wants; {@link TrovConst#MSR_TR_1_2_3} when the object is made.
     * A wanted track that the card carries must be sound, one it does not carry is empty, and at least
     * one wanted track must be read. Unlike the other properties it is kept from one opening to the
     * next. 0 wants no track: every swipe is a data event, whatever its tracks hold; with
     * ParseDecodeData the sound tracks 1 and 2 are parsed, and the card fields stay empty when they do
     * not make a card.
     *
     * @param tracks a bit set of {@link TrovConst#MSR_TR_1}, {@link TrovConst#MSR_TR_2}, {@link TrovConst#MSR_TR_3}
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for other bits
     */
    public void setTracksToRead(int tracks) throws TrovException {
        if ((tracks & ~TrovConst.MSR_TR_1_2_3) != 0) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "No TracksToRead value " + tracks);
        }
        tracksToRead = tracks;
    }

    /** @return DecodeData; true at each open */
    public boolean getDecodeData() {
        return decodeData;
    }

    /**
     * Sets DecodeData. The keyboard's reader decodes the stripe itself and sends characters, so the
     * track properties hold those characters either way; false also sets ParseDecodeData false.
     *
     * @param decode whether to decode
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public void setDecodeData(boolean decode) throws TrovException {
        openSession();
        decodeData = decode;
        if (!decode) {
            parseDecodeData = false;
        }
    }

    /** @return ParseDecodeData; false at each open */
    public boolean getParseDecodeData() {
        return parseDecodeData;
    }

    /**
     * Sets ParseDecodeData: tracks 1 (ISO/IEC 7813 format B) and 2 are parsed into the card fields, and
     * a swipe that does not parse becomes an error event (with TracksToRead 0 a data event with empty
     * card fields). True also sets DecodeData true.
     *
     * @param parse whether to parse
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public void setParseDecodeData(boolean parse) throws TrovException {
        openSession();
        parseDecodeData = parse;
        if (parse) {
            decodeData = true;
        }
    }

    /** @return true: the sentinels can be kept in the track properties when the keyboard sends them */
    public boolean getCapTransmitSentinels() {
        return true;
    }

    /** @return true: the reader reads ISO tracks */
    public boolean getCapISO() {
        return true;
    }

    /** @return false: the reader reads no JIS-I tracks */
    public boolean getCapJISOne() {
        return false;
    }

    /** @return false: the reader reads no JIS-II track */
    public boolean getCapJISTwo() {
        return false;
    }

    /** @return 0: the reader cannot write tracks */
    public int getCapWritableTracks() {
        return 0;
    }

    /**
     * Sets the data properties (the tracks and the parsed card fields) back to empty, as before the
     * first swipe.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when the service is not open
     */
    public void clearInputProperties() throws TrovException {
        openSession();
        trackData = new byte[][] {new byte[0], new byte[0], new byte[0]};
        card = CardData.EMPTY;
    }

    /** @return TransmitSentinels; false at each open */
    public boolean getTransmitSentinels() {
        return transmitSentinels;
    }

    /**
     * Sets TransmitSentinels: whether the track properties keep the start and end sentinels (and the
     * check character after the end sentinel) when the keyboard sent them. Without them the properties
     * hold the data characters alone.
     *
     * @param transmit whether to keep the sentinels
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open
     */
    public void setTransmitSentinels(boolean transmit) throws TrovException {
        openSession();
        transmitSentinels = transmit;
    }

    /** @return {@link TrovConst#MSR_ERT_CARD} or {@link TrovConst#MSR_ERT_TRACK} (the value at each open) */
    public int getErrorReportingType() {
        return errorReportingType;
    }

    /**
     * Sets how a bad swipe is reported: per card (the first fault) or per track (each track's status
     * in one byte of the extended code, track 1 lowest).
     *
     * @param type {@link TrovConst#MSR_ERT_CARD} or {@link TrovConst#MSR_ERT_TRACK}
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} when not open; {@link TrovConst#JPOS_E_ILLEGAL}
     *                       for another value
     */
    public void setErrorReportingType(int type) throws TrovException {
        openSession();
        if (type != TrovConst.MSR_ERT_CARD && type != TrovConst.MSR_ERT_TRACK) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "No ErrorReportingType value " + type);
        }
        errorReportingType = type;
    }

    // Data properties of the swipe being delivered.

    /** @return track 1 of the swipe being (or last) delivered, a copy; empty before the first */
    public byte[] getTrack1Data() {
        return trackData[0].clone();
    }

    /** @return track 2 of the swipe being (or last) delivered, a copy */
    public byte[] getTrack2Data() {
        return trackData[1].clone();
    }

    /** @return track 3 of the swipe being (or last) delivered, a copy */
    public byte[] getTrack3Data() {
        return trackData[2].clone();
    }

    /** @return the account number (primary account number), "" when not parsed; never log it unmasked */
    public String getAccountNumber() {
        return card.getAccountNumber();
    }

    /** @return the account number with all but its last four digits masked, "" when not parsed */
    public String getMaskedAccountNumber() {
        return card.getMaskedAccountNumber();
    }

    /** @return the expiration date as YYMM, "" when not parsed */
    public String getExpirationDate() {
        return card.getExpirationDate();
    }

    /** @return the title from track 1's name, "" when none */
    public String getTitle() {
        return card.getTitle();
    }

    /** @return the first name from track 1, "" when none */
    public String getFirstName() {
        return card.getFirstName();
    }

    /** @return the middle initial from track 1, "" when none */
    public String getMiddleInitial() {
        return card.getMiddleInitial();
    }

    /** @return the surname from track 1, "" when none */
    public String getSurname() {
        return card.getSurname();
    }

    /** @return the suffix from track 1's name, "" when none */
    public String getSuffix() {
        return card.getSuffix();
    }

    /** @return the three-digit service code, "" when not parsed */
    public String getServiceCode() {
        return card.getServiceCode();
    }

    /** @return track 1's discretionary data, a copy; empty when not parsed */
    public byte[] getTrack1DiscretionaryData() {
        return card.getTrack1DiscretionaryData();
    }

    /** @return track 2's discretionary data, a copy; empty when not parsed */
    public byte[] getTrack2DiscretionaryData() {
        return card.getTrack2DiscretionaryData();
    }

    @Override
    void beforeOpen() {
        decodeData = true;
        parseDecodeData = false;
        transmitSentinels = false;
        errorReportingType = TrovConst.MSR_ERT_TRACK;
        trackData = new byte[][] {new byte[0], new byte[0], new byte[0]};
        card = CardData.EMPTY;
    }

    /** Checks the swipe against TracksToRead and, when asked, parses it; a bad one becomes an input error. */
    @Override
    void offerInput(TrovEvent event) {
        MsrDataEvent swipe = (MsrDataEvent) event;
        Track[] tracks = {Track.of(1, swipe.getTrack1()), Track.of(2, swipe.getTrack2()), Track.of(3, swipe.getTrack3())};
        SwipeStatus status = SwipeStatus.of(tracks[0], tracks[1], tracks[2], tracksToRead);
        DeviceStatistics statistics = DeviceStatistics.of(kind);
        if (tracks[0].isEmpty() && tracks[1].isEmpty() && tracks[2].isEmpty()) {
            statistics.count(DeviceStatistics.Statistic.UNREADABLE_CARDS);
        }
        if (!status.isGood()) {
            statistics.count(DeviceStatistics.Statistic.FAILED_READS);
            input.offerError(status.getErrorCode(errorReportingType), status.getErrorCodeExtended(errorReportingType),
                    swipe);
            return;
        }
        CardData data = CardData.EMPTY;
        if (parseDecodeData && tracksToRead == 0) {
            data = parsedOrEmpty(tracks[0], tracks[1]);
        } else if (parseDecodeData) {
            try {
                data = CardParser.parse(wanted(tracks[0]), wanted(tracks[1]));
            } catch (CardParseException e) {
                statistics.count(DeviceStatistics.Statistic.FAILED_READS);
                input.offerError(e.getErrorCode(), e.getErrorCodeExtended(), swipe);
                return;
            }
        }
        statistics.count(DeviceStatistics.Statistic.GOOD_READS);
        swipe.parsedCard = data;
        input.offerData(swipe);
    }

    /** A track the application wants parsed, or an empty one when TracksToRead leaves it out. */
    private Track wanted(Track track) {
        return (tracksToRead & (1 << (track.getNumber() - 1))) != 0 ? track : Track.of(track.getNumber(), null);
    }

    /**
     * With no track wanted, every swipe is a data event: the sound tracks 1 and 2 are parsed, and the
     * card fields stay empty when they do not make a card.
     */
    private static CardData parsedOrEmpty(Track track1, Track track2) {
        try {
            return CardParser.parse(sound(track1), sound(track2));
        } catch (CardParseException e) {
            return CardData.EMPTY;
        }
    }

    private static Track sound(Track track) {
        return track.getStatus() == TrovConst.JPOS_SUCCESS ? track : Track.of(track.getNumber(), null);
    }

    @Override
    void fillProperties(TrovEvent event) {
        MsrDataEvent swipe = (MsrDataEvent) event;
        card = swipe.parsedCard == null ? CardData.EMPTY : swipe.parsedCard;
        trackData = new byte[][] {property(1, swipe.getTrack1()), property(2, swipe.getTrack2()),
                property(3, swipe.getTrack3())};
    }

    private byte[] property(int number, byte[] delivered) {
        Track track = Track.of(number, delivered);
        return track.getStatus() == TrovConst.JPOS_SUCCESS ? track.getData(transmitSentinels) : delivered;
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
        toListeners(dataListeners, (MsrDataEvent) event, MsrDataListener::msrDataOccurred);
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
