// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashMap;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/** A program the application starts while the services are open gets none of the library's descriptors. */
class ChildProcessTest extends KeyboardFixture {
    private static final long O_CLOEXEC = 02000000;

    @Test
    void aChildStartedWhileTheServicesAreOpenHoldsNeitherTheKeyboardNorTheFifo() throws Exception {
        Map<Integer, String> before = descriptors(Path.of("/proc/self/fd"));
        ready(keylock());
        ready(keyboard());
        ready(msr());
        ready(tone());
        Map<Integer, String> library = new HashMap<>(descriptors(Path.of("/proc/self/fd")));
        library.keySet().removeAll(before.keySet());
        library.values().removeIf(target -> !target.startsWith("socket:") && !target.startsWith("anon_inode:")
                && !target.contains("hiddev") && !target.startsWith("pipe:"));
        assertTrue(library.values().stream().anyMatch(target -> target.startsWith("pipe:")),
                "the library holds its input pipe: " + library);

        // Java closes what a child inherits before it runs the program, but only after the program's
        // process exists; the flag keeps any program started otherwise (or in between) from holding them.
        for (Map.Entry<Integer, String> descriptor : library.entrySet()) {
            assertEquals(O_CLOEXEC, openFlags(descriptor.getKey()) & O_CLOEXEC,
                    "close-on-exec: " + descriptor.getValue());
        }
        Process child = new ProcessBuilder("sleep", "30").start();
        try {
            Path proc = Path.of("/proc", Long.toString(child.pid()));
            awaitTrue(() -> commandOf(proc).startsWith("sleep"), EVENT_WAIT_MS, "the child to run its program");
            Map<Integer, String> inherited = descriptors(proc.resolve("fd"));
            for (String target : library.values()) {
                assertFalse(inherited.containsValue(target), "the child holds " + target + ": " + inherited);
            }
        } finally {
            child.destroy();
            child.waitFor();
        }
    }

    private static Map<Integer, String> descriptors(Path directory) throws IOException {
        Map<Integer, String> found = new HashMap<>();
        try (Stream<Path> entries = Files.list(directory)) {
            for (Path entry : (Iterable<Path>) entries::iterator) {
                try {
                    found.put(Integer.parseInt(entry.getFileName().toString()), Files.readSymbolicLink(entry).toString());
                } catch (IOException closedMeanwhile) {
                    // the listing's own descriptor, or one a JVM thread closed
                }
            }
        }
        return found;
    }

    private static long openFlags(int fd) throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/fdinfo/" + fd))) {
            if (line.startsWith("flags:")) {
                return Long.parseLong(line.substring("flags:".length()).trim(), 8);
            }
        }
        throw new IOException("no flags for descriptor " + fd);
    }

    private static String commandOf(Path proc) {
        try {
            return new String(Files.readAllBytes(proc.resolve("cmdline")), java.nio.charset.StandardCharsets.US_ASCII);
        } catch (IOException e) {
            return "";
        }
    }
}
