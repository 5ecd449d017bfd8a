// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

/**
 * An asynchronous output has finished: the tone indicator's {@code sound} with the output ID it
 * returned. Comes on the process's one event thread in the process's order; {@code FreezeEvents}
 * holds it.
 */
public final class OutputCompleteEvent extends TrovEvent {

    private final int outputId;

    /**
     * Creates an event.
     *
     * @param outputId the ID the output request returned
     */
    public OutputCompleteEvent(int outputId) {
        this.outputId = outputId;
    }

    /**
     * Returns the ID of the finished output.
     *
     * @return the ID that the output request returned
     */
    public int getOutputID() {
        return outputId;
    }

    /**
     * Describes the event for logs.
     *
     * @return a short description
     */
    @Override
    public String toString() {
        return "OutputCompleteEvent[outputID=" + outputId + ", sequenceNumber=" + getSequenceNumber() + "]";
    }
}
