// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;

/**
 * Reads the claim table's five bytes from another process: a python3 child attaches the System V segment
 * with key 100 read-only, as any other program of the host would.
 */
final class ClaimTableReader {
    private static final String SCRIPT = String.join("\n",
            "import ctypes",
            "libc = ctypes.CDLL(None, use_errno=True)",
            "libc.shmat.restype = ctypes.c_void_p",
            "libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]",
            "libc.shmdt.argtypes = [ctypes.c_void_p]",
            "shmid = libc.shmget(100, 0, 0)",
            "if shmid < 0:",
            "    print('absent')",
            "else:",
            "    table = libc.shmat(shmid, None, 0o10000)",  // SHM_RDONLY
            "    print(' '.join(str(b) for b in ctypes.string_at(table, 5)))",
            "    libc.shmdt(table)");

    private ClaimTableReader() {
    }

    /** The five bytes (keylock, MSR, keyboard, tone, unused), or null when there is no segment. */
    static int[] read() throws Exception {
        ProcessBuilder builder = new ProcessBuilder("python3", "-c", SCRIPT).redirectErrorStream(true);
        builder.environment().remove("LD_PRELOAD");
        builder.environment().remove("TROV_GUEST_ENV");
        Process child = builder.start();
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.US_ASCII).trim();
        assertTrue(child.waitFor(60, TimeUnit.SECONDS), "python3 did not end");
        assertEquals(0, child.exitValue(), output);
        if (output.equals("absent")) {
            return null;
        }
        return Arrays.stream(output.split(" ")).mapToInt(Integer::parseInt).toArray();
    }

    /** One claim byte: 1 MSR, 2 POS keyboard, 3 tone indicator. */
    static int at(int index) throws Exception {
        int[] table = read();
        assertTrue(table != null, "no claim table");
        return table[index];
    }
}
