// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * What belongs to the terminal rather than to the application: the keyboard's tone commands behind
 * {@code sound} and the keylock's position count, read from a properties file, so that an application
 * needs no code of its own for them. The file is {@value #DEFAULT_PATH} unless the system property
 * {@value #PATH_PROPERTY} names another. Its keys:
 * <ul>
 *   <li>{@code tone1.command}, {@code tone2.command}: the keyboard's command bytes of each tone, 1 to 16
 *       bytes as space-separated hex ({@code 07 31 32}), the first not 00;</li>
 *   <li>{@code tone1.duration}, {@code tone2.duration}: the milliseconds given to each tone, 0 to
 *       {@value #MAX_DURATION_MS};</li>
 *   <li>{@code keylock.positions}: the keylock's position count, 1 to
 *       {@value TrovKeylockService#MAX_POSITION_COUNT}.</li>
 * </ul>
 * One {@code key = value} (or {@code key: value}) a line; lines starting with {@code #} or {@code !} and
 * blank lines are ignored; a key without a value is not set. A service object takes the settings as its
 * initial property values when it is made; what the application sets afterwards wins.
 *
 * <p>A missing file at the default path is the usual case and is not reported. A file that cannot be
 * read (or one named by the system property that does not exist) leaves every setting at its built-in
 * default; a line that is not understood (bad bytes, a number out of range, an unknown key) leaves its key
 * at the built-in default and the other keys apply. Either is told in one log record naming the file and
 * each bad line, once per content of the file: objects made later from the same file say nothing new.
 * Immutable.
 */
final class TerminalSettings {

    /** The system property naming another settings file. */
    static final String PATH_PROPERTY = "trov.jpos.config";

    /** The settings file unless {@value #PATH_PROPERTY} names another. */
    static final String DEFAULT_PATH = "/etc/trovjpos/trovjpos.properties";

    static final String TONE1_COMMAND = "tone1.command";
    static final String TONE1_DURATION = "tone1.duration";
    static final String TONE2_COMMAND = "tone2.command";
    static final String TONE2_DURATION = "tone2.duration";
    static final String KEYLOCK_POSITIONS = "keylock.positions";

    /** The longest duration a tone may be given from the file: a minute. */
    static final int MAX_DURATION_MS = 60_000;

    /** The settings last read, and what their file looked like then; reread when it changed. */
    private static TerminalSettings last;

    private final Path path;
    /** What the file looked like when read: its path, size and modification time, or why not read. */
    private final String stamp;
    private final Map<String, Object> values;

    private TerminalSettings(Path path, String stamp, Map<String, Object> values) {
        this.path = path;
        this.stamp = stamp;
        this.values = values;
    }

    /**
     * Returns the settings of the file named now, read again when the file changed since the last read.
     *
     * @return the settings; empty ones when the file is missing or unreadable
     */
    static synchronized TerminalSettings current() {
        Path path = path();
        String stamp = stamp(path);
        if (last == null || !last.path.equals(path) || !last.stamp.equals(stamp)) {
            last = read(path, stamp);
        }
        return last;
    }

    /** @return the settings file named now */
    static Path path() {
        return Paths.get(System.getProperty(PATH_PROPERTY, DEFAULT_PATH));
    }

    /**
     * Tells where an unset setting belongs, for the message of the call that needed it.
     *
     * @param key the setting's key
     * @return for example "set tone1.command in /etc/trovjpos/trovjpos.properties"
     */
    static String whereToSet(String key) {
        return "set " + key + " in " + path();
    }

    /** @return the tone command of {@code key}, a copy, or {@code builtIn} when the file does not set it */
    byte[] command(String key, byte[] builtIn) {
        byte[] value = (byte[]) values.get(key);
        return value != null ? value.clone() : builtIn;
    }

    /** @return the number of {@code key}, or {@code builtIn} when the file does not set it */
    int number(String key, int builtIn) {
        Integer value = (Integer) values.get(key);
        return value != null ? value : builtIn;
    }

    private static String stamp(Path path) {
        try {
            BasicFileAttributes attributes = Files.readAttributes(path, BasicFileAttributes.class);
            return attributes.size() + "@" + attributes.lastModifiedTime().toMillis();
        } catch (IOException | SecurityException e) {
            return "unread: " + e;
        }
    }

    private static TerminalSettings read(Path path, String stamp) {
        List<String> lines;
        try {
            lines = Files.readAllLines(path, StandardCharsets.UTF_8);
        } catch (NoSuchFileException e) {
            if (System.getProperty(PATH_PROPERTY) != null) {
                ServiceLog.log(System.Logger.Level.WARNING, "Terminal settings " + path + " (named by " + PATH_PROPERTY
                        + ") do not exist; the services use their built-in defaults");
            }
            return new TerminalSettings(path, stamp, Map.of());
        } catch (IOException | SecurityException e) {
            ServiceLog.log(System.Logger.Level.WARNING, "Terminal settings " + path + " cannot be read (" + e
                    + "); the services use their built-in defaults");
            return new TerminalSettings(path, stamp, Map.of());
        }
        Map<String, Object> values = new HashMap<>();
        List<String> problems = new ArrayList<>();
        for (int i = 0; i < lines.size(); i++) {
            String line = lines.get(i).strip();
            if (line.isEmpty() || line.startsWith("#") || line.startsWith("!")) {
                continue;
            }
            int separator = firstSeparator(line);
            String key = (separator < 0 ? line : line.substring(0, separator)).strip();
            String value = separator < 0 ? "" : line.substring(separator + 1).strip();
            try {
                Object parsed = parse(key, value);
                if (parsed != null) {
                    values.put(key, parsed);
                }
            } catch (IllegalArgumentException e) {
                problems.add("line " + (i + 1) + " (" + line + "): " + e.getMessage());
            }
        }
        if (!problems.isEmpty()) {
            ServiceLog.log(System.Logger.Level.WARNING, "Terminal settings " + path + ": " + String.join("; ", problems)
                    + "; " + (problems.size() == 1 ? "that key keeps its" : "those keys keep their")
                    + " built-in default");
        }
        return new TerminalSettings(path, stamp, Map.copyOf(values));
    }

    private static int firstSeparator(String line) {
        int equals = line.indexOf('=');
        int colon = line.indexOf(':');
        return equals < 0 ? colon : colon < 0 ? equals : Math.min(equals, colon);
    }

    /** The value of a line, null for a key without a value; throws saying what is wrong. */
    private static Object parse(String key, String value) {
        switch (key) {
            case TONE1_COMMAND:
            case TONE2_COMMAND:
                return value.isEmpty() ? null : command(value);
            case TONE1_DURATION:
            case TONE2_DURATION:
                return value.isEmpty() ? null : number(value, 0, MAX_DURATION_MS, "milliseconds");
            case KEYLOCK_POSITIONS:
                return value.isEmpty() ? null
                        : number(value, 1, TrovKeylockService.MAX_POSITION_COUNT, "a position count");
            default:
                throw new IllegalArgumentException("unknown key '" + key + "'");
        }
    }

    private static byte[] command(String value) {
        String[] words = value.split("\\s+");
        if (words.length > ToneOutput.MAX_COMMAND_BYTES) {
            throw new IllegalArgumentException("more than " + ToneOutput.MAX_COMMAND_BYTES + " bytes");
        }
        byte[] bytes = new byte[words.length];
        for (int i = 0; i < words.length; i++) {
            if (!words[i].matches("[0-9A-Fa-f]{1,2}")) {
                throw new IllegalArgumentException("'" + words[i] + "' is not a byte in hex (00 to FF)");
            }
            bytes[i] = (byte) Integer.parseInt(words[i], 16);
        }
        if (bytes[0] == 0) {
            throw new IllegalArgumentException("the first byte must not be 00");
        }
        return bytes;
    }

    private static int number(String value, int min, int max, String what) {
        int number;
        try {
            number = Integer.parseInt(value);
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException("'" + value + "' is not " + what);
        }
        if (number < min || number > max) {
            throw new IllegalArgumentException(number + " is not " + min + " to " + max);
        }
        return number;
    }
}
