// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

import com.trov.jpos.sim.SimKeyboard;
import java.awt.AWTError;
import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Component;
import java.awt.Dimension;
import java.awt.EventQueue;
import java.awt.FlowLayout;
import java.awt.Font;
import java.awt.Graphics;
import java.awt.GraphicsEnvironment;
import java.awt.GridLayout;
import java.awt.HeadlessException;
import java.awt.event.MouseAdapter;
import java.awt.event.MouseEvent;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.concurrent.atomic.AtomicReference;
import javax.swing.BorderFactory;
import javax.swing.Box;
import javax.swing.BoxLayout;
import javax.swing.ButtonGroup;
import javax.swing.Icon;
import javax.swing.JButton;
import javax.swing.JComboBox;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.JRadioButton;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.JTextField;
import javax.swing.SwingUtilities;
import javax.swing.Timer;
import javax.swing.WindowConstants;

/**
 * A window that stands for the simulated POS keyboard of this process: its keys, its keylock, its card
 * reader and its cable, a lamp that lights and the display's bell that sounds for every tone command it
 * receives (whatever its bytes), and a log of what it received and what it sent. It acts on one node of
 * {@link SimKeyboard} and needs the simulator loaded into this process.
 *
 * <p>An application run with the simulator preloaded and {@code trovsim.jar} on its class path opens it
 * without a code change when started with {@code -Dtrov.sim.panel=true} (the service classes call
 * {@link #openForProperty()} as they load); {@code -Dtrov.sim.panel.layout=FILE} names a key layout
 * ({@link KeyLayout}) and {@code -Dtrov.sim.panel.node=N} the node. Code opens it with {@link #open}.
 *
 * <p>Keys are pressed on mouse down and released on mouse up, so holding the mouse button holds the key.
 * The keyboard's received bytes are polled every 100 ms; the bytes that arrived before a quiet poll are
 * one burst, split into commands ({@link ReceivedCommands}).
 */
public final class SimPanel {
    /** System property that opens the panel when the service classes load: {@code true}. */
    public static final String PROPERTY = "trov.sim.panel";
    /** System property naming the key layout file; the default layout without it. */
    public static final String LAYOUT_PROPERTY = "trov.sim.panel.layout";
    /** System property naming the node; without it the lowest keyboard node, or 0. */
    public static final String NODE_PROPERTY = "trov.sim.panel.node";

    /** What "Plug back" waits before the node is back, as a real driver takes about that long. */
    static final int REPLUG_MS = 500;
    /** What "Stay away" waits: beyond the 10 s after which the library gives the keyboard up. */
    static final int AWAY_MS = 12000;
    private static final int POLL_MS = 100;
    private static final int LAMP_MS = 700;
    private static final int LOG_LINES = 2000;
    private static final byte[] NONE = new byte[0];
    private static final DateTimeFormatter CLOCK = DateTimeFormatter.ofPattern("HH:mm:ss.SSS");

    private final int node;
    private final JFrame frame;
    private final JLabel status = new JLabel();
    private final JTextArea log = new JTextArea(10, 60);
    private final Lamp lamp = new Lamp();
    private final JLabel lampText = new JLabel("no tone command yet");
    private final Timer poller;
    private final Timer lampOff;
    private final ByteArrayOutputStream burst = new ByteArrayOutputStream();
    private int seen;
    private int tones;

    private SimPanel(int node, KeyLayout layout) {
        this.node = node;
        frame = new JFrame(layout.getTitle() + " (node " + node + ")");
        frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
        JPanel content = new JPanel(new BorderLayout(8, 8));
        content.setBorder(BorderFactory.createEmptyBorder(8, 8, 8, 8));
        JPanel top = new JPanel(new BorderLayout(8, 0));
        top.add(status, BorderLayout.CENTER);
        top.add(toneLamp(), BorderLayout.EAST);
        content.add(top, BorderLayout.NORTH);
        content.add(keys(layout), BorderLayout.CENTER);
        JPanel side = new JPanel();
        side.setLayout(new BoxLayout(side, BoxLayout.Y_AXIS));
        side.add(keylock(layout.getPositions()));
        side.add(cards());
        side.add(cable());
        content.add(side, BorderLayout.EAST);
        log.setEditable(false);
        log.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 12));
        log.setName("log");
        JScrollPane scroll = new JScrollPane(log);
        scroll.setBorder(BorderFactory.createTitledBorder("What the keyboard received and sent"));
        content.add(scroll, BorderLayout.SOUTH);
        frame.setContentPane(content);
        frame.pack();

        poller = new Timer(POLL_MS, e -> poll());
        lampOff = new Timer(LAMP_MS, e -> light(false));
        lampOff.setRepeats(false);
        frame.addWindowListener(new WindowAdapter() {
            @Override
            public void windowClosed(WindowEvent e) {
                poller.stop();
                lampOff.stop();
            }
        });
        seen = SimKeyboard.receivedInto(node, NONE);  // what came before the panel is not logged
        showStatus();
        poller.start();
        frame.setVisible(true);
        note("panel opened on node " + node);
    }

    /**
     * Opens the panel on a node with the default layout, or the layout named by {@value #LAYOUT_PROPERTY}.
     *
     * @param node the simulator's node, 0 to 15
     * @return the panel, shown
     * @throws HeadlessException when there is no display
     * @throws IOException when the layout file cannot be read
     * @throws LayoutException when a line of the layout file is wrong
     */
    public static SimPanel open(int node) throws IOException, LayoutException {
        return open(node, layoutForProperty());
    }

    /**
     * Opens the panel on a node with a layout. May be called from any thread; returns once the window
     * is shown.
     *
     * @param node the simulator's node, 0 to 15
     * @param layout the keys and keylock positions
     * @return the panel, shown
     * @throws HeadlessException when there is no display
     * @throws IllegalArgumentException for a bad node
     */
    public static SimPanel open(int node, KeyLayout layout) {
        if (node < 0 || node >= SimKeyboard.NODES) {
            throw new IllegalArgumentException("node " + node + " is not 0 to " + (SimKeyboard.NODES - 1));
        }
        String missing = displayMissing();
        if (missing != null) {
            throw new HeadlessException(missing);
        }
        if (EventQueue.isDispatchThread()) {
            return new SimPanel(node, layout);
        }
        AtomicReference<SimPanel> panel = new AtomicReference<>();
        try {
            EventQueue.invokeAndWait(() -> panel.set(new SimPanel(node, layout)));
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted while opening the panel", e);
        } catch (InvocationTargetException e) {
            if (e.getCause() instanceof RuntimeException cause) {
                throw cause;
            }
            if (e.getCause() instanceof Error cause) {
                throw cause;
            }
            throw new IllegalStateException(e.getCause());
        }
        return panel.get();
    }

    /**
     * Opens the panel as the system properties ask, without waiting for it and without failing: when it
     * cannot be opened (no display, a bad layout file, the simulator not loaded), one line on standard
     * error says why and the application runs on. Called by the service classes as they load when
     * {@value #PROPERTY} is {@code true}.
     */
    public static void openForProperty() {
        String missing = displayMissing();
        if (missing != null) {
            refused(missing);
            return;
        }
        KeyLayout layout;
        int node;
        try {
            layout = layoutForProperty();
            node = nodeForProperty();
        } catch (IOException | LayoutException | IllegalArgumentException | LinkageError e) {
            refused(e.getMessage());
            return;
        }
        EventQueue.invokeLater(() -> {
            try {
                new SimPanel(node, layout);
            } catch (RuntimeException | LinkageError | AWTError e) {
                refused(e.toString());
            }
        });
    }

    /** Closes the window; the keyboard stays as it is. */
    public void close() {
        SwingUtilities.invokeLater(frame::dispose);
    }

    /** The window. */
    public JFrame getFrame() {
        return frame;
    }

    /** The node the panel acts on. */
    public int getNode() {
        return node;
    }

    private static void refused(String why) {
        System.err.println("trov.sim.panel: the simulated keyboard's panel is not opened: " + why);
    }

    /** Why no window can be shown, or null when one can. */
    private static String displayMissing() {
        if (!GraphicsEnvironment.isHeadless()) {
            return null;
        }
        String display = System.getenv("DISPLAY");
        return display == null || display.isEmpty() ? "there is no display (DISPLAY is not set)"
                : "the JVM runs headless (java.awt.headless is true)";
    }

    private static KeyLayout layoutForProperty() throws IOException, LayoutException {
        String file = System.getProperty(LAYOUT_PROPERTY);
        return file == null || file.isEmpty() ? KeyLayout.defaults() : KeyLayout.read(Path.of(file));
    }

    private static int nodeForProperty() {
        String text = System.getProperty(NODE_PROPERTY);
        if (text != null && !text.isEmpty()) {
            try {
                int node = Integer.parseInt(text.strip());
                if (node >= 0 && node < SimKeyboard.NODES) {
                    return node;
                }
            } catch (NumberFormatException e) {
                // reported below
            }
            throw new IllegalArgumentException(NODE_PROPERTY + "=" + text + " is not a node 0 to 15");
        }
        return Math.max(SimKeyboard.keyboardNode(), 0);
    }

    // ---- the parts of the window

    private JComponent keys(KeyLayout layout) {
        int columns = layout.getRows().stream().mapToInt(List::size).max().orElse(1);
        JPanel grid = new JPanel(new GridLayout(layout.getRows().size(), columns, 4, 4));
        grid.setBorder(BorderFactory.createTitledBorder("Keys (hold the mouse button to hold a key)"));
        for (List<KeyLayout.Key> row : layout.getRows()) {
            for (KeyLayout.Key key : row) {
                grid.add(keyButton(key));
            }
            for (int i = row.size(); i < columns; ++i) {
                grid.add(Box.createGlue());
            }
        }
        return grid;
    }

    private JButton keyButton(KeyLayout.Key key) {
        JButton button = new JButton("<html><center>" + escape(key.label()) + "<br><small>" + key.codeText()
                + "</small></center></html>");
        button.setName("key-" + key.codeText());
        button.setFocusable(false);
        button.setPreferredSize(new Dimension(84, 52));
        button.addMouseListener(new MouseAdapter() {
            @Override
            public void mousePressed(MouseEvent e) {
                if (SwingUtilities.isLeftMouseButton(e)) {
                    sent(key.codeText().replace(':', ' ') + " (key " + key.label() + " down)",
                            SimKeyboard.pressKey(node, key.code(), key.extended()));
                }
            }

            @Override
            public void mouseReleased(MouseEvent e) {
                if (SwingUtilities.isLeftMouseButton(e)) {
                    sent("FE " + key.codeText().replace(':', ' ') + " (key " + key.label() + " up)",
                            SimKeyboard.releaseKey(node, key.code(), key.extended()));
                }
            }
        });
        return button;
    }

    private JComponent keylock(List<KeyLayout.Position> named) {
        List<KeyLayout.Position> positions = named;
        if (positions.isEmpty()) {
            positions = java.util.stream.IntStream.range(0, 10)
                    .mapToObj(d -> new KeyLayout.Position(d, "digit " + d)).toList();
        }
        JPanel box = titled("Keylock", new GridLayout(0, 2));
        ButtonGroup group = new ButtonGroup();
        for (KeyLayout.Position position : positions) {
            JRadioButton button = new JRadioButton(position.label() + " (" + position.digit() + ")");
            button.setName("keylock-" + position.digit());
            button.setFocusable(false);
            button.addActionListener(e -> sent(String.format("84 %02X 94 (keylock turned to %s, digit %d)",
                    0x30 + position.digit(), position.label(), position.digit()),
                    SimKeyboard.turnKeylock(node, position.digit())));
            group.add(button);
            box.add(button);
        }
        return box;
    }

    private JComponent cards() {
        JPanel box = titled("Card swipe", null);
        box.setLayout(new BoxLayout(box, BoxLayout.Y_AXIS));
        JComboBox<ReadyCard> ready = new JComboBox<>(ReadyCard.values());
        ready.setName("card");
        JButton swipeReady = button("Swipe", "swipe-card");
        swipeReady.addActionListener(e -> {
            ReadyCard card = (ReadyCard) ready.getSelectedItem();
            if (card != null) {
                swipe(card.getLabel(), card.getTrack1(), card.getTrack2(), "");
            }
        });
        box.add(row(ready, swipeReady));
        JTextField[] tracks = new JTextField[3];
        for (int i = 0; i < tracks.length; ++i) {
            tracks[i] = new JTextField(22);
            tracks[i].setName("track" + (i + 1));
            box.add(row(new JLabel("Track " + (i + 1)), tracks[i]));
        }
        JButton swipeText = button("Swipe these tracks", "swipe-text");
        swipeText.addActionListener(e -> swipe("typed card", tracks[0].getText(), tracks[1].getText(),
                tracks[2].getText()));
        box.add(row(swipeText));
        return box;
    }

    private JComponent cable() {
        JButton unplug = button("Unplug", "unplug");
        unplug.addActionListener(e -> cabled("unplugged", SimKeyboard.unplug(node)));
        JButton replug = button("Plug back", "replug");
        replug.addActionListener(e -> cabled("plugged back; the node is there again after " + REPLUG_MS + " ms",
                SimKeyboard.replug(node, REPLUG_MS)));
        JButton away = button("Stay away 12 s", "stay-away");
        away.addActionListener(e -> cabled("unplugged for " + AWAY_MS / 1000
                + " s, beyond the 10 s after which the library gives the keyboard up",
                SimKeyboard.replug(node, AWAY_MS)));
        JPanel box = titled("Cable", new FlowLayout(FlowLayout.LEFT));
        box.add(unplug);
        box.add(replug);
        box.add(away);
        return box;
    }

    private JComponent toneLamp() {
        // A fixed size, so that longer commands do not make the window grow or the column wrap.
        JPanel box = titled("Tone lamp: the last tone command", new BorderLayout());
        lampText.setName("lamp");
        lampText.setIcon(lamp);
        lampText.setIconTextGap(8);
        lampText.setPreferredSize(new Dimension(320, 26));
        box.add(lampText, BorderLayout.CENTER);
        return box;
    }

    // ---- what the controls do

    private void swipe(String card, String track1, String track2, String track3) {
        String bad = badTrack(track1, 1);
        bad = bad != null ? bad : badTrack(track2, 2);
        bad = bad != null ? bad : badTrack(track3, 3);
        if (bad != null) {
            note("swipe refused: " + bad);
            return;
        }
        sent("81 .. 91 82 .. 92 83 .. 93 (" + card + ": track 1 [" + track1 + "] track 2 [" + track2
                + "] track 3 [" + track3 + "])", SimKeyboard.swipe(node, track1, track2, track3));
    }

    /** Why a track cannot be sent (a character beyond one byte, or a byte that frames), or null. */
    private static String badTrack(String track, int number) {
        if (!StandardCharsets.ISO_8859_1.newEncoder().canEncode(track)) {
            return "track " + number + " holds a character beyond ISO-8859-1";
        }
        for (byte b : track.getBytes(StandardCharsets.ISO_8859_1)) {
            int value = b & 0xFF;
            if (value == 0 || value == 0x81 || value == 0x82 || value == 0x83 || value == 0x84 || value == 0x86
                    || value == 0x91 || value == 0x92 || value == 0x93 || value == 0x94 || value == 0x96) {
                return String.format("track %d holds 0x%02X, which frames tracks and cannot be data", number, value);
            }
        }
        return null;
    }

    private void cabled(String what, int result) {
        note(result == 0 ? "cable " + what : "cable: no device behind node " + node);
        showStatus();
    }

    private void sent(String what, int queued) {
        note("keyboard sent " + what + (queued > 0 ? ""
                : queued == 0 ? ": lost, nobody has the node open" : ": refused by the simulator"));
    }

    /** Takes the bytes received since the last poll; a quiet poll ends a burst and shows its commands. */
    private void poll() {
        int total = SimKeyboard.receivedInto(node, NONE);
        if (total < seen) {
            seen = 0;  // cleared or reset since
        }
        if (total > seen) {
            byte[] all = SimKeyboard.received(node);
            if (all.length > seen) {
                burst.write(all, seen, all.length - seen);
            }
            seen = all.length;
            return;
        }
        if (burst.size() > 0) {
            for (ReceivedCommands.Command command : ReceivedCommands.split(burst.toByteArray())) {
                note("keyboard received " + command.describe());
                if (command.kind() == ReceivedCommands.Kind.TONE) {
                    ++tones;
                    lampText.setText(ReceivedCommands.hex(command.bytes()) + "   (" + tones + " so far)");
                    light(true);
                    lampOff.restart();
                    // The simulated keyboard beeps for any bytes: what a real one plays is its firmware's.
                    java.awt.Toolkit.getDefaultToolkit().beep();
                }
            }
            burst.reset();
        }
        showStatus();
    }

    private void light(boolean on) {
        lamp.lit = on;
        lampText.repaint();
    }

    private void showStatus() {
        int kind = SimKeyboard.kind(node);
        status.setText("hiddev" + node + ": " + (kind == SimKeyboard.KEYBOARD ? "the POS keyboard"
                : kind == SimKeyboard.OTHER ? "another HID device" : "no device") + ", "
                + SimKeyboard.openHandles(node) + " descriptor(s) open");
    }

    private void note(String line) {
        log.append(LocalTime.now().format(CLOCK) + "  " + line + "\n");
        try {
            if (log.getLineCount() > LOG_LINES) {
                log.replaceRange("", 0, log.getLineEndOffset(log.getLineCount() - LOG_LINES - 1));
            }
        } catch (javax.swing.text.BadLocationException e) {
            throw new IllegalStateException(e);
        }
        log.setCaretPosition(log.getDocument().getLength());
    }

    private static JPanel titled(String title, java.awt.LayoutManager layout) {
        JPanel box = layout == null ? new JPanel() : new JPanel(layout);
        box.setBorder(BorderFactory.createTitledBorder(title));
        box.setAlignmentX(Component.LEFT_ALIGNMENT);
        return box;
    }

    private static JPanel row(Component... parts) {
        JPanel row = new JPanel(new FlowLayout(FlowLayout.LEFT, 4, 2));
        for (Component part : parts) {
            row.add(part);
        }
        row.setAlignmentX(Component.LEFT_ALIGNMENT);
        return row;
    }

    private static JButton button(String text, String name) {
        JButton button = new JButton(text);
        button.setName(name);
        button.setFocusable(false);
        return button;
    }

    private static String escape(String text) {
        return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
    }

    /** The tone lamp: a disc, lit while a tone command has just arrived. */
    private static final class Lamp implements Icon {
        private static final int SIZE = 18;
        private boolean lit;

        @Override
        public void paintIcon(Component c, Graphics g, int x, int y) {
            g.setColor(lit ? new Color(255, 170, 0) : new Color(90, 60, 20));
            g.fillOval(x, y, SIZE, SIZE);
            g.setColor(Color.DARK_GRAY);
            g.drawOval(x, y, SIZE, SIZE);
        }

        @Override
        public int getIconWidth() {
            return SIZE + 1;
        }

        @Override
        public int getIconHeight() {
            return SIZE + 1;
        }
    }
}
