// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/** Receives output complete events. Called on the process's one event thread, never on a native thread. */
@FunctionalInterface
public interface OutputCompleteListener {

    /**
     * Called once for each finished asynchronous output.
     *
     * @param event the event
     */
    void outputCompleteOccurred(OutputCompleteEvent event);
}
