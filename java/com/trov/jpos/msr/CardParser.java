// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

import com.trov.jpos.TrovConst;
import java.nio.charset.StandardCharsets;
import java.util.Set;

/**
 * Parses the tracks 1 and 2 of a payment card into its fields. A pure function: no device, no
 * threads, no state; an application may use it on tracks from anywhere.
 *
 * <p>Track 1 is read in the ISO/IEC 7813 format B, its data (between the sentinels) being
 * <pre>B account ^ name ^ expiry service-code discretionary</pre>
 * and track 2 as
 * <pre>account = expiry service-code discretionary</pre>
 * with the account number of 1 to 19 digits (track 1 may space them out), the expiration date as
 * four digits YYMM (the month 01 to 12) and the service code as three digits. A card that carries no
 * expiration date or no service code puts the field separator in its place, which leaves that field
 * empty; so does a track that ends right after the second separator. A card whose two tracks name
 * different account numbers does not parse.
 *
 * <p>The name field of track 1 is {@code SURNAME/FIRST MIDDLE.TITLE}, each part optional. A suffix
 * (JR, SR, II, III, IV, 2ND or 3RD, with or without a period) is recognised as the last word of the
 * surname ({@code SMITH JR/JOHN}) or as a third word after the first and middle names
 * ({@code SMITH/JOHN A JR.MR}). A name without {@code /} is all surname.
 *
 * <p>Fields are taken from track 1 where it carries them, from track 2 otherwise; a card with track 2
 * alone gives every field but the name and the track 1 discretionary data.
 */
public final class CardParser {

    /** The longest account number a card may carry. */
    static final int MAX_ACCOUNT_DIGITS = 19;

    private static final Set<String> SUFFIXES = Set.of("JR", "SR", "II", "III", "IV", "2ND", "3RD");

    private CardParser() {
    }

    /**
     * Parses tracks as the keyboard delivered them, with or without sentinels; see {@link Track}.
     *
     * @param track1 track 1 as delivered; {@code null} or empty when not read
     * @param track2 track 2 as delivered; {@code null} or empty when not read
     * @return the card's fields
     * @throws CardParseException as {@link #parse(Track, Track)}
     */
    public static CardData parse(byte[] track1, byte[] track2) throws CardParseException {
        return parse(Track.of(1, track1), Track.of(2, track2));
    }

    /**
     * Parses the tracks. Every track given that is not empty must be sound: pass
     * {@code Track.of(n, null)} for a track the application does not want parsed.
     *
     * @param track1 track 1, number 1
     * @param track2 track 2, number 2
     * @return the card's fields
     * @throws CardParseException with {@link TrovConst#JPOS_E_EXTENDED} and the track's
     *                            {@link Track#getStatus() status} when a track's framing failed; with
     *                            {@link TrovConst#JPOS_E_FAILURE} when both tracks are empty, a track's
     *                            layout is not the one above, an expiration month is not 01 to 12, or
     *                            the two tracks name different account numbers
     * @throws IllegalArgumentException when a track has the wrong number
     */
    public static CardData parse(Track track1, Track track2) throws CardParseException {
        if (track1.getNumber() != 1 || track2.getNumber() != 2) {
            throw new IllegalArgumentException("tracks 1 and 2 expected, got " + track1.getNumber() + " and "
                    + track2.getNumber());
        }
        if (track1.isEmpty() && track2.isEmpty()) {
            throw failure(0, "neither track 1 nor track 2 was read");
        }
        CardData.Builder card = new CardData.Builder();
        String account2 = null;
        if (!track2.isEmpty()) {
            checkFraming(track2);
            account2 = parseTrack2(track2.dataText(), card);
        }
        if (!track1.isEmpty()) {
            checkFraming(track1);
            String account1 = parseTrack1(track1.dataText(), card);
            if (account2 != null && !account2.equals(account1)) {
                throw failure(0, "track 1 and track 2 name different account numbers");
            }
        }
        return card.build();
    }

    private static void checkFraming(Track track) throws CardParseException {
        int status = track.getStatus();
        if (status != TrovConst.JPOS_SUCCESS) {
            throw new CardParseException(TrovConst.JPOS_E_EXTENDED, status, track.getNumber(),
                    "track " + track.getNumber() + ": " + framingFault(status));
        }
    }

    private static String framingFault(int status) {
        switch (status) {
            case TrovConst.JPOS_EMSR_START:
                return "start sentinel missing";
            case TrovConst.JPOS_EMSR_END:
                return "end sentinel missing or misplaced";
            case TrovConst.JPOS_EMSR_PARITY:
                return "a character the track cannot carry";
            default:
                return "check character does not match";
        }
    }

    /** Reads track 2 into the card; returns its account number. */
    private static String parseTrack2(String data, CardData.Builder card) throws CardParseException {
        int separator = data.indexOf('=');
        if (separator < 0) {
            throw failure(2, "track 2: no field separator after the account number");
        }
        String account = account(data.substring(0, separator), 2);
        Fields rest = dateAndCode(data.substring(separator + 1), '=', 2);
        card.accountNumber = account;
        card.expirationDate = rest.expirationDate;
        card.serviceCode = rest.serviceCode;
        card.track2DiscretionaryData = rest.discretionary.getBytes(StandardCharsets.ISO_8859_1);
        return account;
    }

    /** Reads track 1 into the card, its fields taking precedence over track 2's; returns its account. */
    private static String parseTrack1(String data, CardData.Builder card) throws CardParseException {
        if (!data.startsWith("B")) {
            throw failure(1, "track 1: not format B");
        }
        int first = data.indexOf('^');
        int second = first < 0 ? -1 : data.indexOf('^', first + 1);
        if (second < 0) {
            throw failure(1, "track 1: " + (first < 0 ? "no field separator after the account number"
                    : "no field separator after the name"));
        }
        String account = account(data.substring(1, first).replace(" ", ""), 1);
        Fields rest = dateAndCode(data.substring(second + 1), '^', 1);
        parseName(data.substring(first + 1, second), card);
        card.accountNumber = account;
        if (!rest.expirationDate.isEmpty()) {
            card.expirationDate = rest.expirationDate;
        }
        if (!rest.serviceCode.isEmpty()) {
            card.serviceCode = rest.serviceCode;
        }
        card.track1DiscretionaryData = rest.discretionary.getBytes(StandardCharsets.ISO_8859_1);
        return account;
    }

    private static String account(String digits, int track) throws CardParseException {
        if (digits.isEmpty() || digits.length() > MAX_ACCOUNT_DIGITS || !allDigits(digits)) {
            throw failure(track, "track " + track + ": the account number is not 1 to " + MAX_ACCOUNT_DIGITS
                    + " digits");
        }
        return digits;
    }

    /** What follows the account (track 2) or the name (track 1). */
    private static final class Fields {
        String expirationDate = "";
        String serviceCode = "";
        String discretionary = "";
    }

    private static Fields dateAndCode(String rest, char separator, int track) throws CardParseException {
        Fields fields = new Fields();
        int at = 0;
        if (at < rest.length() && rest.charAt(at) == separator) {
            at++;
        } else if (at < rest.length()) {
            fields.expirationDate = digits(rest, at, 4, track, "expiration date");
            int month = Integer.parseInt(fields.expirationDate.substring(2));
            if (month < 1 || month > 12) {
                throw failure(track, "track " + track + ": the expiration month is not 01 to 12");
            }
            at += 4;
        }
        if (at < rest.length() && rest.charAt(at) == separator) {
            at++;
        } else if (at < rest.length()) {
            fields.serviceCode = digits(rest, at, 3, track, "service code");
            at += 3;
        }
        fields.discretionary = rest.substring(at);
        return fields;
    }

    private static String digits(String text, int at, int count, int track, String field)
            throws CardParseException {
        String value = text.substring(at, Math.min(text.length(), at + count));
        if (value.length() != count || !allDigits(value)) {
            throw failure(track, "track " + track + ": the " + field + " is not " + count + " digits");
        }
        return value;
    }

    /** Splits {@code SURNAME [SUFFIX]/FIRST [MIDDLE] [SUFFIX][.TITLE]} into the card's name fields. */
    private static void parseName(String name, CardData.Builder card) {
        int slash = name.indexOf('/');
        String surname = (slash < 0 ? name : name.substring(0, slash)).trim();
        String given = slash < 0 ? "" : name.substring(slash + 1);
        int lastSpace = surname.lastIndexOf(' ');
        if (lastSpace > 0 && isSuffix(surname.substring(lastSpace + 1))) {
            card.suffix = withoutPeriod(surname.substring(lastSpace + 1));
            surname = surname.substring(0, lastSpace).trim();
        }
        card.surname = surname;
        int period = given.lastIndexOf('.');
        if (period >= 0) {
            card.title = given.substring(period + 1).trim();
            given = given.substring(0, period);
        }
        String[] words = given.trim().isEmpty() ? new String[0] : given.trim().split(" +");
        int count = words.length;
        if (count >= 3 && isSuffix(words[count - 1])) {
            card.suffix = withoutPeriod(words[count - 1]);
            count--;
        }
        if (count >= 1) {
            card.firstName = words[0];
        }
        if (count >= 2) {
            card.middleInitial = words[1].substring(0, 1);
        }
    }

    private static boolean isSuffix(String word) {
        return SUFFIXES.contains(withoutPeriod(word));
    }

    private static String withoutPeriod(String word) {
        return word.endsWith(".") ? word.substring(0, word.length() - 1) : word;
    }

    private static boolean allDigits(String text) {
        for (int i = 0; i < text.length(); i++) {
            if (text.charAt(i) < '0' || text.charAt(i) > '9') {
                return false;
            }
        }
        return true;
    }

    private static CardParseException failure(int track, String message) {
        return new CardParseException(TrovConst.JPOS_E_FAILURE, 0, track, message);
    }
}
