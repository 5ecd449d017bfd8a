// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

/**
 * The cards the panel can swipe without typing: the text of each track as the reader sends it (start
 * and end sentinels left out), empty for a track the swipe does not carry.
 */
public enum ReadyCard {
    /** A card valid until December 2030, with tracks 1 and 2. */
    GOOD("Good card (tracks 1 and 2)", "B4111111111111111^DOE/JANE^3012101000000000000",
            "4111111111111111=30121010000000000"),
    /** The same card, expired in May 2019. */
    EXPIRED("Expired card", "B4111111111111111^DOE/JANE^1905101000000000000", "4111111111111111=19051010000000000"),
    /** Track 1 not read: track 2 alone. */
    TRACK1_MISSING("Track 1 missing", "", "5500005555555559=30121010000000000"),
    /** Nothing read from any track. */
    UNREADABLE("Unreadable card", "", "");

    private final String label;
    private final String track1;
    private final String track2;

    ReadyCard(String label, String track1, String track2) {
        this.label = label;
        this.track1 = track1;
        this.track2 = track2;
    }

    /** The name shown in the panel. */
    public String getLabel() {
        return label;
    }

    /** Track 1, empty when the card does not carry it. */
    public String getTrack1() {
        return track1;
    }

    /** Track 2, empty when the card does not carry it. */
    public String getTrack2() {
        return track2;
    }

    @Override
    public String toString() {
        return label;
    }
}
