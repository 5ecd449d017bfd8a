// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * An immutable key event of the POS keyboard: which key, whether it went down or up, and whether it
 * is an extended key.
 *
 * <p>A key code is any byte value the keyboard's protocol does not reserve: 0x01 to 0xFF except the
 * frame markers 0x81 to 0x84, 0x86, 0x91 to 0x94 and 0x96, the extended prefix 0xE0 and the release
 * prefix 0xFE. Zero is never sent. A key behind the extended prefix 0xE0 is reported with its own
 * code and {@link #isExtended()} true, so that, for example, {@code E0 C8} and {@code C8} stay apart.
 */
public final class KeyboardDataEvent extends TrovEvent {

    private final int keyCode;
    private final int eventType;
    private final boolean extended;

    /**
     * Creates the event of a key that is not extended.
     *
     * @param keyCode   the key code, 0 to 255
     * @param eventType {@link TrovConst#KBD_KET_KEYDOWN} or {@link TrovConst#KBD_KET_KEYUP}
     */
    public KeyboardDataEvent(int keyCode, int eventType) {
        this(keyCode, eventType, false);
    }

    /**
     * Creates an event.
     *
     * @param keyCode   the key code, 0 to 255
     * @param eventType {@link TrovConst#KBD_KET_KEYDOWN} or {@link TrovConst#KBD_KET_KEYUP}
     * @param extended  whether the key came behind the extended prefix 0xE0
     */
    public KeyboardDataEvent(int keyCode, int eventType, boolean extended) {
        this.keyCode = keyCode;
        this.eventType = eventType;
        this.extended = extended;
    }

    /**
     * Tells whether the key is an extended key: the keyboard sent the prefix 0xE0 before its code.
     *
     * @return whether the key is extended
     */
    public boolean isExtended() {
        return extended;
    }

    /**
     * Returns the key code.
     *
     * @return the key code, 0 to 255
     */
    public int getKeyCode() {
        return keyCode;
    }

    /**
     * Returns whether the key went down or up.
     *
     * @return {@link TrovConst#KBD_KET_KEYDOWN} or {@link TrovConst#KBD_KET_KEYUP}
     */
    public int getEventType() {
        return eventType;
    }

    /**
     * Tells whether the key went down.
     *
     * @return whether the event type is {@link TrovConst#KBD_KET_KEYDOWN}
     */
    public boolean isKeyDown() {
        return eventType == TrovConst.KBD_KET_KEYDOWN;
    }

    /**
     * Two key events are equal when key code, event type and the extended flag are equal.
     *
     * @param other the object to compare with
     * @return whether {@code other} is an equal key event
     */
    @Override
    public boolean equals(Object other) {
        if (!(other instanceof KeyboardDataEvent)) {
            return false;
        }
        KeyboardDataEvent that = (KeyboardDataEvent) other;
        return that.keyCode == keyCode && that.eventType == eventType && that.extended == extended;
    }

    /**
     * Returns a hash code consistent with {@link #equals(Object)}.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return (31 * keyCode + eventType) * 2 + (extended ? 1 : 0);
    }

    /**
     * Describes the event for logs.
     *
     * @return a short description
     */
    @Override
    public String toString() {
        return "KeyboardDataEvent[keyCode=" + keyCode + ", eventType=" + eventType
                + (extended ? ", extended" : "") + ", sequenceNumber="
                + getSequenceNumber() + "]";
    }
}
