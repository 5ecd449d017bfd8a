// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Receives the tracks of cards swiped through the magnetic stripe reader. Called on the process's
 * one event thread, never on a native thread.
 */
@FunctionalInterface
public interface MsrDataListener {

    /**
     * Called once for each swipe, in the order the reader reported them.
     *
     * @param event the track data of the swipe
     */
    void msrDataOccurred(MsrDataEvent event);
}
