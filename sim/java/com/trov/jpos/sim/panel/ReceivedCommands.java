// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Splits bytes the keyboard received in one burst into the commands they hold. The keyboard knows two
 * commands of its own: the keylock position request (EF 07) and the TCO query (EF 50 EF 49 31 n). Every
 * other run of bytes passes through the library unchanged from the application: a tone command or a raw
 * keyboard command, which the keyboard cannot tell apart, so the panel takes them as tone commands.
 */
final class ReceivedCommands {
    /** What a command is. */
    enum Kind {
        KEYLOCK_REQUEST("keylock position request"),
        TCO_QUERY("TCO query"),
        TONE("tone command");

        final String description;

        Kind(String description) {
            this.description = description;
        }
    }

    /** One command and its bytes. */
    record Command(Kind kind, byte[] bytes) {
        String describe() {
            return hex(bytes) + " (" + kind.description
                    + (kind == Kind.TCO_QUERY ? String.format(" for index 0x%02X", bytes[5] & 0xFF) : "") + ")";
        }
    }

    private static final byte[] KEYLOCK_REQUEST = {(byte) 0xEF, 0x07};
    private static final byte[] TCO_QUERY_HEAD = {(byte) 0xEF, 0x50, (byte) 0xEF, 0x49, 0x31};

    private ReceivedCommands() {
    }

    /**
     * The commands in a burst, in order.
     *
     * @param burst bytes that arrived together
     * @return the commands; bytes between the keyboard's own commands make one tone command
     */
    static List<Command> split(byte[] burst) {
        List<Command> commands = new ArrayList<>();
        ByteArrayOutputStream other = new ByteArrayOutputStream();
        int i = 0;
        while (i < burst.length) {
            Kind kind = startsWith(burst, i, TCO_QUERY_HEAD) && i + TCO_QUERY_HEAD.length < burst.length
                    ? Kind.TCO_QUERY
                    : startsWith(burst, i, KEYLOCK_REQUEST) ? Kind.KEYLOCK_REQUEST : null;
            if (kind == null) {
                other.write(burst[i++]);
                continue;
            }
            if (other.size() > 0) {
                commands.add(new Command(Kind.TONE, other.toByteArray()));
                other.reset();
            }
            int length = kind == Kind.TCO_QUERY ? TCO_QUERY_HEAD.length + 1 : KEYLOCK_REQUEST.length;
            commands.add(new Command(kind, Arrays.copyOfRange(burst, i, i + length)));
            i += length;
        }
        if (other.size() > 0) {
            commands.add(new Command(Kind.TONE, other.toByteArray()));
        }
        return commands;
    }

    private static boolean startsWith(byte[] bytes, int from, byte[] head) {
        return from + head.length <= bytes.length
                && Arrays.equals(bytes, from, from + head.length, head, 0, head.length);
    }

    /** Bytes as hex pairs separated by blanks, for example {@code EF 07}. */
    static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(text.length() == 0 ? "" : " ").append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }
}
