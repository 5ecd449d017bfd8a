// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

import com.trov.jpos.sim.SimKeyboard;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * The keys and keylock positions the panel shows, read from a small text file:
 *
 * <pre>
 * # '#' starts a comment line; blank lines are ignored; words are separated by blanks.
 * title Till keys          the window's title (optional)
 * row                      starts the next row of keys
 * key 37 7                 a key: its code in two hex digits, then its label (the rest of the line)
 * key E0:48 Up             an extended key: the 0xE0 prefix, a colon, the code
 * keylock 0 Locked         a keylock position: the digit the keyboard sends (0 to 9), then its label
 * </pre>
 *
 * <p>Keys before the first {@code row} make the first row. Codes the keyboard cannot send as a key (the
 * zero byte, the card and keylock frame markers, the release and extended prefixes) are refused, as
 * are a key or a keylock digit given twice.
 */
public final class KeyLayout {
    /** A key of the grid: the code it sends, with the extended prefix or not, and its label. */
    public record Key(int code, boolean extended, String label) {
        /** The key's code as written in a layout file, for example {@code 41} or {@code E0:48}. */
        public String codeText() {
            return (extended ? "E0:" : "") + String.format("%02X", code);
        }
    }

    /** A keylock position: the digit the keyboard sends for it, and its label. */
    public record Position(int digit, String label) {
    }

    /** The layout used when none is named. */
    static final String DEFAULT_TEXT = String.join("\n",
            "# The default layout: a till's number pad and function keys.",
            "title Simulated POS keyboard",
            "row",
            "key 37 7", "key 38 8", "key 39 9", "key 08 Clear", "key 56 Void",
            "row",
            "key 34 4", "key 35 5", "key 36 6", "key 2A Qty", "key 52 Refund",
            "row",
            "key 31 1", "key 32 2", "key 33 3", "key 53 Subtotal", "key 4E No sale",
            "row",
            "key 30 0", "key 3A 00", "key 2E .", "key 43 Cash", "key 0D Total",
            "row",
            "key E0:48 Up", "key E0:50 Down", "key 70 F1", "key 71 F2", "key 1B Esc",
            "keylock 0 Locked",
            "keylock 1 Register",
            "keylock 2 Supervisor");

    private final String title;
    private final List<List<Key>> rows;
    private final List<Position> positions;

    private KeyLayout(String title, List<List<Key>> rows, List<Position> positions) {
        this.title = title;
        this.rows = rows;
        this.positions = positions;
    }

    /**
     * The default layout: digits, till function keys, two extended keys and three keylock positions,
     * as many as the keylock service counts by default.
     *
     * @return the layout
     */
    public static KeyLayout defaults() {
        try {
            return parse("the default layout", DEFAULT_TEXT.lines().toList());
        } catch (LayoutException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * Reads a layout file (UTF-8).
     *
     * @param file the file
     * @return the layout
     * @throws IOException when the file cannot be read
     * @throws LayoutException when a line is wrong, naming the file and the line
     */
    public static KeyLayout read(Path file) throws IOException, LayoutException {
        return parse(file.toString(), Files.readAllLines(file, StandardCharsets.UTF_8));
    }

    /**
     * Parses the lines of a layout.
     *
     * @param source what the lines come from, named in errors
     * @param lines the lines
     * @return the layout
     * @throws LayoutException when a line is wrong, naming the source and the line
     */
    public static KeyLayout parse(String source, List<String> lines) throws LayoutException {
        String title = "Simulated POS keyboard";
        List<List<Key>> rows = new ArrayList<>();
        List<Position> positions = new ArrayList<>();
        List<Key> row = new ArrayList<>();
        Set<String> codes = new HashSet<>();
        Set<Integer> digits = new HashSet<>();
        for (int i = 0; i < lines.size(); ++i) {
            String text = lines.get(i);
            String line = text.strip();
            if (line.isEmpty() || line.startsWith("#")) {
                continue;
            }
            String[] words = line.split("\\s+", 3);
            String rest = words.length > 2 ? words[2] : "";
            switch (words[0]) {
                case "title" -> title = line.substring("title".length()).strip();
                case "row" -> {
                    if (words.length > 1) {
                        throw new LayoutException(source, i + 1, text, "'row' takes nothing after it");
                    }
                    if (!row.isEmpty()) {
                        rows.add(List.copyOf(row));
                        row.clear();
                    }
                }
                case "key" -> {
                    Key key = key(words.length > 1 ? words[1] : "", rest, source, i + 1, text);
                    if (!codes.add(key.codeText())) {
                        throw new LayoutException(source, i + 1, text, "key " + key.codeText() + " is given twice");
                    }
                    row.add(key);
                }
                case "keylock" -> {
                    Position position = position(words.length > 1 ? words[1] : "", rest, source, i + 1, text);
                    if (!digits.add(position.digit())) {
                        throw new LayoutException(source, i + 1, text,
                                "keylock digit " + position.digit() + " is given twice");
                    }
                    positions.add(position);
                }
                default -> throw new LayoutException(source, i + 1, text,
                        "unknown word '" + words[0] + "' (expected title, row, key or keylock)");
            }
        }
        if (!row.isEmpty()) {
            rows.add(List.copyOf(row));
        }
        if (rows.isEmpty()) {
            throw new LayoutException(source, "no key is given");
        }
        return new KeyLayout(title, List.copyOf(rows), List.copyOf(positions));
    }

    private static Key key(String code, String label, String source, int line, String text) throws LayoutException {
        if (label.isEmpty()) {
            throw new LayoutException(source, line, text, "a key needs a code and a label");
        }
        boolean extended = code.toUpperCase(Locale.ROOT).startsWith("E0:");
        String hex = extended ? code.substring(3) : code;
        if (!hex.matches("[0-9A-Fa-f]{2}")) {
            throw new LayoutException(source, line, text,
                    "'" + code + "' is not a key code (two hex digits, or E0: and two hex digits)");
        }
        int value = Integer.parseInt(hex, 16);
        if (SimKeyboard.isReservedKeyCode(value)) {
            throw new LayoutException(source, line, text, String.format(
                    "0x%02X is reserved: the keyboard uses it for a card or keylock frame or a key prefix", value));
        }
        return new Key(value, extended, label);
    }

    private static Position position(String digit, String label, String source, int line, String text)
            throws LayoutException {
        if (!digit.matches("[0-9]") || label.isEmpty()) {
            throw new LayoutException(source, line, text, "a keylock position needs a digit 0 to 9 and a label");
        }
        return new Position(digit.charAt(0) - '0', label);
    }

    /** The window's title. */
    public String getTitle() {
        return title;
    }

    /** The rows of keys, top first; none is empty. */
    public List<List<Key>> getRows() {
        return rows;
    }

    /** The keylock positions, in the order given; empty when the layout names none. */
    public List<Position> getPositions() {
        return positions;
    }
}
