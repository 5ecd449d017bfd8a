// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

/**
 * The fields {@link CardParser} found on a card's tracks 1 and 2. A field the card does not carry is
 * an empty string (an empty array for discretionary data), never {@code null}.
 *
 * <p>Instances are immutable. Card data never appears in {@link #toString()}; an account number to be
 * shown to a person is {@link #getMaskedAccountNumber()}.
 */
public final class CardData {

    /** A card with no field at all: what the parsed properties hold before any swipe. */
    public static final CardData EMPTY = new Builder().build();

    private final String accountNumber;
    private final String expirationDate;
    private final String serviceCode;
    private final String title;
    private final String firstName;
    private final String middleInitial;
    private final String surname;
    private final String suffix;
    private final byte[] track1DiscretionaryData;
    private final byte[] track2DiscretionaryData;

    private CardData(Builder b) {
        accountNumber = b.accountNumber;
        expirationDate = b.expirationDate;
        serviceCode = b.serviceCode;
        title = b.title;
        firstName = b.firstName;
        middleInitial = b.middleInitial;
        surname = b.surname;
        suffix = b.suffix;
        track1DiscretionaryData = b.track1DiscretionaryData;
        track2DiscretionaryData = b.track2DiscretionaryData;
    }

    /**
     * Returns the primary account number.
     *
     * @return the digits, up to 19; empty when no track was parsed
     */
    public String getAccountNumber() {
        return accountNumber;
    }

    /**
     * Returns the account number masked for display: the first six and last four digits of a number of
     * 13 digits or more, the last four of a number of 8 to 12 digits, no digit of a shorter one; each
     * hidden digit is an asterisk.
     *
     * @return the masked number, as long as the number itself
     */
    public String getMaskedAccountNumber() {
        return mask(accountNumber);
    }

    /**
     * Returns the expiration date.
     *
     * @return four digits YYMM; empty when the card carries none
     */
    public String getExpirationDate() {
        return expirationDate;
    }

    /**
     * Returns the service code.
     *
     * @return three digits; empty when the card carries none
     */
    public String getServiceCode() {
        return serviceCode;
    }

    /**
     * Returns the card holder's title, for example "MR" or "DR".
     *
     * @return the title from track 1; empty when there is none
     */
    public String getTitle() {
        return title;
    }

    /**
     * Returns the card holder's first name.
     *
     * @return the first name from track 1; empty when there is none
     */
    public String getFirstName() {
        return firstName;
    }

    /**
     * Returns the card holder's middle initial.
     *
     * @return one letter, the first of the middle name on track 1; empty when there is none
     */
    public String getMiddleInitial() {
        return middleInitial;
    }

    /**
     * Returns the card holder's surname.
     *
     * @return the surname from track 1, without suffix; empty when there is none
     */
    public String getSurname() {
        return surname;
    }

    /**
     * Returns the suffix of the card holder's name, for example "JR" or "III".
     *
     * @return the suffix from track 1, without a trailing period; empty when there is none
     */
    public String getSuffix() {
        return suffix;
    }

    /**
     * Returns the discretionary data of track 1: what follows the service code.
     *
     * @return a copy; empty when there is none
     */
    public byte[] getTrack1DiscretionaryData() {
        return track1DiscretionaryData.clone();
    }

    /**
     * Returns the discretionary data of track 2: what follows the service code.
     *
     * @return a copy; empty when there is none
     */
    public byte[] getTrack2DiscretionaryData() {
        return track2DiscretionaryData.clone();
    }

    /**
     * Describes the parsed card for logs: the masked account number and which name fields are present,
     * no other data.
     *
     * @return for example "CardData[account 412345******1234, expiration date, name]"
     */
    @Override
    public String toString() {
        return "CardData[account " + (accountNumber.isEmpty() ? "none" : getMaskedAccountNumber())
                + (expirationDate.isEmpty() ? "" : ", expiration date")
                + (surname.isEmpty() && firstName.isEmpty() ? "" : ", name") + "]";
    }

    static String mask(String account) {
        int n = account.length();
        int head = n >= 13 ? 6 : 0;
        int tail = n >= 8 ? 4 : 0;
        return account.substring(0, head) + "*".repeat(n - head - tail) + account.substring(n - tail);
    }

    /** Collects the fields while the parser reads the tracks. */
    static final class Builder {
        String accountNumber = "";
        String expirationDate = "";
        String serviceCode = "";
        String title = "";
        String firstName = "";
        String middleInitial = "";
        String surname = "";
        String suffix = "";
        byte[] track1DiscretionaryData = new byte[0];
        byte[] track2DiscretionaryData = new byte[0];

        CardData build() {
            return new CardData(this);
        }
    }
}
