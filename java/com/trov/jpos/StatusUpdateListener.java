// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Receives status updates of the keylock (the key position) or of the POS keyboard (power state).
 * Called on the process's one event thread, never on a native thread.
 */
@FunctionalInterface
public interface StatusUpdateListener {

    /**
     * Called once for each status update, in the order the device reported them.
     *
     * @param event the update
     */
    void statusUpdateOccurred(StatusUpdateEvent event);
}
