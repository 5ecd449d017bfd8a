// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * Receives error events: an input error of the POS keyboard or the MSR, or a failed asynchronous
 * output of the tone indicator. Called on the process's one event thread, never on a native thread.
 * The listener answers through {@link ErrorEvent#setErrorResponse(int)}.
 */
@FunctionalInterface
public interface ErrorListener {

    /**
     * Called once for each error.
     *
     * @param event the error; set its response before returning to change the default answer
     */
    void errorOccurred(ErrorEvent event);
}
