// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * What this process's {@code /proc} shows of the native library's state, for the internal health
 * check: the library reaches Java through its listener calls alone, and has no entry point that
 * reports its threads or its claim table.
 *
 * <p>The claim table: an attached System V segment shows in {@code /proc/self/maps} as
 * {@code /SYSV} followed by its key in eight hexadecimal digits; the claim table's key is 100. The
 * library's input runs through an anonymous pipe, which {@code /proc} shows as {@code pipe:[inode]} like
 * any other pipe of the process, so it is not looked for here.
 *
 * This is a Linux fact (the real-driver tier runs kernel 6.1), checked against the library by
 * LibraryStateTest. A read that fails (no {@code /proc}) counts as not seen.
 */
final class LibraryView {

    /** The claim table's System V key. */
    static final int CLAIM_TABLE_KEY = 100;

    private final Path proc;

    /** A view of {@code proc}, normally {@code /proc/self}. */
    LibraryView(Path proc) {
        this.proc = proc;
    }

    /** The view of this process. */
    static LibraryView ofThisProcess() {
        return new LibraryView(Path.of("/proc/self"));
    }

    /** Whether the claim table's segment is attached to the process. */
    boolean claimTableAttached() {
        String segment = String.format("/SYSV%08x", CLAIM_TABLE_KEY);
        try {
            List<String> maps = Files.readAllLines(proc.resolve("maps"));
            for (String line : maps) {
                if (line.contains(segment)) {
                    return true;
                }
            }
        } catch (IOException e) {
            return false;
        }
        return false;
    }

    /**
     * The internal check over this view: null when the claim table is attached, otherwise what is
     * missing. The library's input is an anonymous pipe, which /proc cannot tell from any other pipe
     * of the process, so the input side is judged by the service state instead.
     */
    String fault() {
        return claimTableAttached() ? null : "the claim table is not attached";
    }
}
