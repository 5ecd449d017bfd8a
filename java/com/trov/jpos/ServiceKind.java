// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/** The four services of the POS keyboard, with what the Java side needs to know of each. */
enum ServiceKind {
    KEYLOCK("keylock", false),
    MSR("msr", true),
    KEYBOARD("keyboard", true),
    TONE("tone", true);

    /** Short name, used in messages. */
    final String label;
    /** Whether enabling needs a claim; the keylock alone may be shared. */
    final boolean exclusive;

    ServiceKind(String label, boolean exclusive) {
        this.label = label;
        this.exclusive = exclusive;
    }
}
