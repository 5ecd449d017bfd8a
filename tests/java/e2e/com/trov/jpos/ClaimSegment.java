// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/** What the host holds under the claim table's System V key (100), as any other process sees it. */
final class ClaimSegment {
    private ClaimSegment() {
    }

    /** Whether a shared-memory segment with key 100 exists that is not marked for removal. */
    static boolean exists() throws IOException {
        // Columns: key shmid perms size cpid lpid nattch ...; the key is printed in decimal.
        List<String> lines = Files.readAllLines(Path.of("/proc/sysvipc/shm"), StandardCharsets.US_ASCII);
        for (String line : lines.subList(1, lines.size())) {
            String[] columns = line.trim().split("\\s+");
            if (columns.length > 0 && columns[0].equals("100")) {
                return true;
            }
        }
        return false;
    }
}
