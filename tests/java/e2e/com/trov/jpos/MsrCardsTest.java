// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Cards as a till meets them, swiped on an MSR with the defaults and parsing asked. */
class MsrCardsTest extends KeyboardFixture {

    private static final String PAN = "4111111111111111";
    private static final String T1 = "%B" + PAN + "^DOE/JANE^2512101?";
    private static final String T2 = ";" + PAN + "=2512101?";

    @Test
    void withTheDefaultsACardIsReadWhateverWantedTracksItLacksAndNeverTakenWhenImpossible() throws Exception {
        TrovMSRService msr = msr();
        Recorder<String> heard = new Recorder<>();
        msr.addDataListener(e -> {
            heard.add("data " + msr.getMaskedAccountNumber() + " " + msr.getExpirationDate() + " " + msr.getSurname()
                    + " " + msr.getTrack1Data().length + "/" + msr.getTrack2Data().length + "/"
                    + msr.getTrack3Data().length);
            Recorder.rearm(msr);
        });
        msr.addErrorListener(e -> {
            heard.add("error " + e.getErrorCode() + " " + Integer.toHexString(e.getErrorCodeExtended()));
            Recorder.rearm(msr);
        });
        msr.open();
        msr.claim(0);
        msr.setDeviceEnabled(true);
        msr.setParseDecodeData(true);
        msr.setDataEventEnabled(true);
        assertEquals(TrovConst.MSR_TR_1_2_3, msr.getTracksToRead(), "the default");

        String[][] cards = {
            // track 1, track 2, track 3, what the application hears
            {T1, T2, null, "data 411111******1111 2512 DOE 34/24/0"},
            {null, T2, null, "data 411111******1111 2512  0/24/0"},
            {T1, T2, ";0123?", "data 411111******1111 2512 DOE 34/24/4"},
            {null, null, null, "error 114 6f6f6f"},
            {T1, PAN + "=2512101?", null, "error 114 c900"},
            {T1, ";" + PAN + "=2513101?", null, "error 111 0"},
            {"%B4000000000000002^DOE/JANE^2512101?", T2, null, "error 111 0"},
        };
        List<String> expected = new ArrayList<>();
        List<String> got = new ArrayList<>();
        for (String[] card : cards) {
            KEYBOARD.swipe(card[0], card[1], card[2]);
            expected.add(card[3]);
            got.add(heard.next(EVENT_WAIT_MS));
        }
        assertEquals(expected, got);
    }
}
