// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Receives key presses and releases of the POS keyboard. Called on the process's one event
 * thread, never on a native thread.
 */
@FunctionalInterface
public interface KeyboardDataListener {

    /**
     * Called once for each key event, in the order the keyboard reported them.
     *
     * @param event the key event
     */
    void keyboardDataOccurred(KeyboardDataEvent event);
}
