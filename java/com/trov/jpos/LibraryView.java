package com.trov.jpos;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * What this process's {@code /proc} shows of the native library's state, for the internal health
 * check: the library reaches Java through its listener calls alone, and has no entry point that
 * reports its threads or its claim table.
 *
 * <ul>
 *   <li>The input FIFO: while the device is open, the library's reader thread holds the write end and
 *       its decoder thread the read end of the FIFO "InputFifo" in the process's working directory;
 *       each end shows as a link in {@code /proc/self/fd}. Both ends present means both threads have
 *       set up and not ended.</li>
 *   <li>The claim table: an attached System V segment shows in {@code /proc/self/maps} as
 *       {@code /SYSV} followed by its key in eight hexadecimal digits; the claim table's key is 100.</li>
 * </ul>
 * Reads that fail (a descriptor closed meanwhile, no {@code /proc}) count as not seen.
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

    /** How many of the process's descriptors are open on the library's input FIFO (2 while it runs). */
    int inputFifoEnds() {
        int ends = 0;
        try (DirectoryStream<Path> fds = Files.newDirectoryStream(proc.resolve("fd"))) {
            for (Path fd : fds) {
                try {
                    Path target = Files.readSymbolicLink(fd);
                    Path name = target.getFileName();
                    if (name != null && name.toString().equals("InputFifo")) {
                        ends++;
                    }
                } catch (IOException | UnsupportedOperationException e) {
                    // Closed since the listing, or not a link: not an end of the FIFO.
                }
            }
        } catch (IOException e) {
            return 0;
        }
        return ends;
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
     * The internal check over this view: null when the FIFO has both ends and the claim table is
     * attached, otherwise what is missing.
     */
    String fault() {
        int ends = inputFifoEnds();
        if (ends < 2) {
            return "the library's input pipeline is not running (" + ends + " of 2 FIFO ends open)";
        }
        return claimTableAttached() ? null : "the claim table is not attached";
    }
}
