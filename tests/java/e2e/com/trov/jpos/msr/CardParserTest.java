// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.msr;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.trov.jpos.TrovConst;
import java.nio.charset.StandardCharsets;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The card parser and the track checks, table-driven: one row per card. */
class CardParserTest {

    private static final String PAN = "4111111111111111";
    private static final String T2 = ";" + PAN + "=2512101987654321?";

    /** Appends the check character: the exclusive or of the character values before it. */
    static String withLrc(String track, int base) {
        int sum = 0;
        for (char c : track.toCharArray()) {
            sum ^= c - base;
        }
        return track + (char) (base + sum);
    }

    private static byte[] bytes(String s) {
        return s == null ? null : s.getBytes(StandardCharsets.ISO_8859_1);
    }

    /** Rows: track 1, track 2, then account|expiry|service|title|first|middle|surname|suffix|disc1|disc2. */
    static Stream<Arguments> validCards() {
        return Stream.of(
                Arguments.of(withLrc("%B" + PAN + "^DOE/JOHN A.MR^2512101123456?", 0x20), withLrc(T2, 0x30),
                        PAN + "|2512|101|MR|JOHN|A|DOE||123456|987654321"),
                Arguments.of(null, T2, PAN + "|2512|101||||||" + "|987654321"),
                Arguments.of(null, PAN + "=2512101", PAN + "|2512|101|||||||"),
                Arguments.of("B" + PAN + "^SMITH JR/JOHN^2512101^", null, PAN + "|2512|101||JOHN||SMITH|JR|^|"),
                Arguments.of("%B" + PAN + "^SMITH/JOHN ALBERT III.DR^2512101?", null,
                        PAN + "|2512|101|DR|JOHN|A|SMITH|III||"),
                Arguments.of("%B" + PAN + "^ACME SUPPLIES^2512101?", null, PAN + "|2512|101||||ACME SUPPLIES|||"),
                Arguments.of("%B" + PAN + "^VAN DER BERG/ANNA.MS^^^0042?", null,
                        PAN + "|||MS|ANNA||VAN DER BERG||0042|"),
                Arguments.of("%B" + PAN + "^DOE/JANE^^101?", T2, PAN + "|2512|101||JANE||DOE|||987654321"),
                Arguments.of("%B" + PAN + "^/^?", null, PAN + "|||||||||"),
                Arguments.of("%B3782 822463 10005^DOE/J^2512101?", null, "378282246310005|2512|101||J||DOE|||"),
                Arguments.of(null, ";123456789012=2512101?", "123456789012|2512|101|||||||"),
                Arguments.of(null, ";1234567890123456789=?", "1234567890123456789|||||||||"));
    }

    @ParameterizedTest
    @MethodSource("validCards")
    void parsesValidCards(String track1, String track2, String expected) throws CardParseException {
        CardData card = CardParser.parse(bytes(track1), bytes(track2));
        String got = String.join("|", card.getAccountNumber(), card.getExpirationDate(), card.getServiceCode(),
                card.getTitle(), card.getFirstName(), card.getMiddleInitial(), card.getSurname(), card.getSuffix(),
                new String(card.getTrack1DiscretionaryData(), StandardCharsets.ISO_8859_1),
                new String(card.getTrack2DiscretionaryData(), StandardCharsets.ISO_8859_1));
        assertEquals(expected, got);
        assertFalse(card.toString().contains(card.getAccountNumber().substring(6)), card.toString());
    }

    /** Rows: track 1, track 2, result code, extended code, track named. */
    static Stream<Arguments> badCards() {
        return Stream.of(
                Arguments.of(null, PAN + "=2512101?", TrovConst.JPOS_E_EXTENDED, TrovConst.JPOS_EMSR_START, 2),
                Arguments.of(null, ";" + PAN + "=2512101", TrovConst.JPOS_E_EXTENDED, TrovConst.JPOS_EMSR_END, 2),
                Arguments.of(null, T2 + "12", TrovConst.JPOS_E_EXTENDED, TrovConst.JPOS_EMSR_END, 2),
                Arguments.of(null, ";" + PAN + "=25A2101?", TrovConst.JPOS_E_EXTENDED, TrovConst.JPOS_EMSR_PARITY, 2),
                Arguments.of("%B" + PAN + "^DOE/J^2512101?\u007f", null, TrovConst.JPOS_E_EXTENDED,
                        TrovConst.JPOS_EMSR_LRC, 1),
                Arguments.of(null, T2 + "0", TrovConst.JPOS_E_EXTENDED, TrovConst.JPOS_EMSR_LRC, 2),
                Arguments.of("%A" + PAN + "^DOE/J^2512101?", null, TrovConst.JPOS_E_FAILURE, 0, 1),
                Arguments.of("%B" + PAN + "^DOE/J 2512101?", null, TrovConst.JPOS_E_FAILURE, 0, 1),
                Arguments.of("%B" + PAN + "^DOE/J^25X2101?", null, TrovConst.JPOS_E_FAILURE, 0, 1),
                Arguments.of(null, ";" + PAN + "=251?", TrovConst.JPOS_E_FAILURE, 0, 2),
                Arguments.of(null, ";" + PAN + "0000=2512101?", TrovConst.JPOS_E_FAILURE, 0, 2),
                Arguments.of(null, ";=2512101?", TrovConst.JPOS_E_FAILURE, 0, 2),
                Arguments.of(null, ";" + PAN + "=2513101?", TrovConst.JPOS_E_FAILURE, 0, 2),
                Arguments.of("%B" + PAN + "^DOE/J^2500101?", null, TrovConst.JPOS_E_FAILURE, 0, 1),
                Arguments.of("%B4000000000000002^DOE/J^2512101?", T2, TrovConst.JPOS_E_FAILURE, 0, 0),
                Arguments.of("", null, TrovConst.JPOS_E_FAILURE, 0, 0));
    }

    @ParameterizedTest
    @MethodSource("badCards")
    void reportsBadCards(String track1, String track2, int code, int extended, int track) {
        CardParseException e = assertThrows(CardParseException.class,
                () -> CardParser.parse(bytes(track1), bytes(track2)));
        assertEquals(code + "/" + extended + "/" + track,
                e.getErrorCode() + "/" + e.getErrorCodeExtended() + "/" + e.getTrack(), e.getMessage());
        assertFalse(e.getMessage().contains("41111"), e.getMessage());
    }

    /** Rows: track number, as delivered, data without sentinels, whether sentinels were sent. */
    static Stream<Arguments> trackData() {
        return Stream.of(
                Arguments.of(2, withLrc(T2, 0x30), T2.substring(1, T2.length() - 1), true),
                Arguments.of(1, "%B1^X^?", "B1^X^", true),
                Arguments.of(2, "12=34", "12=34", false),
                Arguments.of(3, ";0123?", "0123", true),
                Arguments.of(3, "", "", false));
    }

    @ParameterizedTest
    @MethodSource("trackData")
    void keepsOrStripsSentinels(int number, String delivered, String data, boolean sentinels) {
        Track track = Track.of(number, bytes(delivered));
        assertEquals(TrovConst.JPOS_SUCCESS, track.getStatus(), track.toString());
        assertArrayEquals(bytes(delivered), track.getData(true));
        assertArrayEquals(bytes(data), track.getData(false));
        assertEquals(sentinels, track.hasSentinels());
    }

    @ParameterizedTest
    @MethodSource("masks")
    void masksAccountNumbers(String account, String masked) {
        assertEquals(masked, CardData.mask(account));
    }

    static Stream<Arguments> masks() {
        return Stream.of(Arguments.of(PAN, "411111******1111"), Arguments.of("1234567890123", "123456***0123"),
                Arguments.of("123456789012", "********9012"), Arguments.of("1234567", "*******"),
                Arguments.of("", ""));
    }

    /** Rows: track 1, track 2, track 3, TracksToRead, then card code/extended and track code/extended. */
    static Stream<Arguments> swipes() {
        return Stream.of(
                Arguments.of("%B1^X^?", T2, "", TrovConst.MSR_TR_1_2, "0/0 0/0"),
                Arguments.of("%B1^X^?", T2 + "0", "", TrovConst.MSR_TR_1_2, "114/204 114/" + (204 << 8)),
                Arguments.of("%B1^X^?", T2 + "0", "", TrovConst.MSR_TR_1, "0/0 0/0"),
                Arguments.of("", T2, "", TrovConst.MSR_TR_1_2_3, "0/0 0/0"),
                Arguments.of("", T2, "", TrovConst.MSR_TR_1_3, "111/0 114/" + (111 | 111 << 16)),
                Arguments.of("", "", "", TrovConst.MSR_TR_1_2_3, "111/0 114/" + (111 | 111 << 8 | 111 << 16)),
                Arguments.of("", "", "", 0, "0/0 0/0"),
                Arguments.of("B1^X^?", "", ";1", TrovConst.MSR_TR_1_3, "114/201 114/" + (201 | 202 << 16)));
    }

    @ParameterizedTest
    @MethodSource("swipes")
    void swipeStatusGivesTheErrorCodesOfEitherReportingType(String t1, String t2, String t3, int wanted,
            String codes) {
        SwipeStatus status = SwipeStatus.of(Track.of(1, bytes(t1)), Track.of(2, bytes(t2)), Track.of(3, bytes(t3)),
                wanted);
        int card = TrovConst.MSR_ERT_CARD;
        int track = TrovConst.MSR_ERT_TRACK;
        assertEquals(codes, status.getErrorCode(card) + "/" + status.getErrorCodeExtended(card) + " "
                + status.getErrorCode(track) + "/" + status.getErrorCodeExtended(track));
        assertEquals(codes.equals("0/0 0/0"), status.isGood());
    }
}
