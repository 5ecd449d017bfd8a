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
 *   <li>The input FIFO between the library's reader and decoder threads: the reader makes it as
 *       "InputFifo" in the process's working directory when the device is opened, holds it on one
 *       descriptor open for reading and writing, and removes its name at once; the descriptor shows
 *       in {@code /proc/self/fd} as a link to {@code <directory>/InputFifo (deleted)}, until the
 *       pipeline is shut down. So the link says that the pipeline was set up and not torn down; the
 *       library does not show whether its threads still run.</li>
 *   <li>The claim table: an attached System V segment shows in {@code /proc/self/maps} as
 *       {@code /SYSV} followed by its key in eight hexadecimal digits; the claim table's key is 100.</li>
 * </ul>
 * Both are Linux facts (the real-driver tier runs kernel 6.1), checked against the library by
 * LibraryStateTest. Reads that fail (a descriptor closed meanwhile, no {@code /proc}) count as not seen.
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

    /** How many of the process's descriptors are open on the library's input FIFO (1 while it runs). */
    int inputFifoDescriptors() {
        int open = 0;
        try (DirectoryStream<Path> fds = Files.newDirectoryStream(proc.resolve("fd"))) {
            for (Path fd : fds) {
                try {
                    Path target = Files.readSymbolicLink(fd);
                    Path name = target.getFileName();
                    if (name != null && (name.toString().equals("InputFifo")
                            || name.toString().equals("InputFifo (deleted)"))) {
                        open++;
                    }
                } catch (IOException | UnsupportedOperationException e) {
                    // Closed since the listing, or not a link: not an end of the FIFO.
                }
            }
        } catch (IOException e) {
            return 0;
        }
        return open;
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
     * The internal check over this view: null when the input FIFO is open and the claim table is
     * attached, otherwise what is missing.
     */
    String fault() {
        if (inputFifoDescriptors() == 0) {
            return "the library's input pipeline is not set up (no input FIFO open)";
        }
        return claimTableAttached() ? null : "the claim table is not attached";
    }
}
