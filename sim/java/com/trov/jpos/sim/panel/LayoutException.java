// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

/** A key layout file that cannot be used; the message names the file, the line and what is wrong with it. */
public final class LayoutException extends Exception {
    private static final long serialVersionUID = 1L;

    private final int line;

    LayoutException(String source, int line, String text, String reason) {
        super(source + " line " + line + ": " + reason + " (\"" + text.strip() + "\")");
        this.line = line;
    }

    LayoutException(String source, String reason) {
        super(source + ": " + reason);
        this.line = 0;
    }

    /**
     * The line at fault.
     *
     * @return its number, counted from 1; 0 when the fault is in the file as a whole
     */
    public int getLine() {
        return line;
    }
}
