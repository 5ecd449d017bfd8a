// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.fail;

import java.io.File;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.time.Duration;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;

/**
 * trovkbd-firmware, the keyboard firmware at the device end of the USB gadget in the real-driver tier's
 * VM: script lines go into its control FIFO, and what it received and did is read back from its log
 * (sim/firmware/main.cpp has both). The library reaches it through the kernel's usbhid/hiddev driver.
 */
final class FirmwareKeyboard implements KeyboardControl {
    private static final Duration LINE_LIMIT = Duration.ofSeconds(20);
    private static final Duration RECEIVE_LIMIT = Duration.ofSeconds(8);
    /** The kernel's poller period is the library's: one presence test a second. */
    private static final long POLL_PERIOD_MS = 1000;

    private final Path control;
    private final Path log;
    private int linesSent;

    private FirmwareKeyboard(Path control, Path log) {
        this.control = control;
        this.log = log;
        // The firmware numbers script lines from its start; other programs may have sent some before.
        for (String entry : lines()) {
            String[] words = entry.split(" ");
            if (words.length > 1 && (words[0].equals("ok") || words[0].equals("err"))) {
                linesSent = Math.max(linesSent, Integer.parseInt(words[1]));
            }
        }
    }

    static FirmwareKeyboard fromProperties() {
        return new FirmwareKeyboard(Path.of(System.getProperty("trov.hil.control")),
                Path.of(System.getProperty("trov.hil.log")));
    }

    @Override
    public boolean simulated() {
        return false;
    }

    @Override
    public void reset() {
        run("reset");
    }

    @Override
    public void setKeylock(int digit) {
        run("keylock " + digit);
    }

    @Override
    public void setTco(int index, String digits) {
        run(String.format("tco %02x %s", index & 0xFF, digits == null || digits.isEmpty() ? "-" : digits));
    }

    @Override
    public void setSilent(boolean silent) {
        run("silent " + (silent ? 1 : 0));
    }

    @Override
    public void key(int key, boolean extended, boolean release) {
        run(String.format("%s %02x%s", release ? "release" : "press", key & 0xFF, extended ? " ext" : ""));
    }

    @Override
    public void turnKeylock(int digit) {
        run("turn " + digit);
    }

    @Override
    public void swipe(byte[] track1, byte[] track2, byte[] track3) {
        run("swipe " + track(track1) + " " + track(track2) + " " + track(track3));
    }

    private static String track(byte[] bytes) {
        if (bytes == null || bytes.length == 0) {
            return "-";
        }
        String text = new String(bytes, StandardCharsets.ISO_8859_1);
        if (text.equals("-") || text.chars().anyMatch(c -> c <= ' ' || c > '~')) {
            throw new IllegalArgumentException("the firmware's script takes tracks of printable text without blanks: " + text);
        }
        return text;
    }

    @Override
    public void sendRaw(byte... bytes) {
        StringBuilder line = new StringBuilder("raw");
        for (byte b : bytes) {
            line.append(String.format(" %02x", b & 0xFF));
        }
        run(line.toString());
    }

    @Override
    public void unplug() {
        run("unplug");
    }

    @Override
    public void replug() {
        run("replug");
    }

    @Override
    public int received() {
        return receivedBytes().size();
    }

    @Override
    public byte[] receivedSince(int mark, int count) {
        long end = System.nanoTime() + RECEIVE_LIMIT.toNanos();
        List<Byte> bytes = receivedBytes();
        while (bytes.size() < mark + count && System.nanoTime() < end) {
            pause(20);
            bytes = receivedBytes();
        }
        List<Byte> since = bytes.subList(Math.min(mark, bytes.size()), bytes.size());
        byte[] out = new byte[since.size()];
        for (int i = 0; i < out.length; i++) {
            out[i] = since.get(i);
        }
        return out;
    }

    /** Descriptors of this process on the kernel's hiddev nodes (/dev/usb/hiddevN). */
    @Override
    public int openHandles() {
        File[] descriptors = new File("/proc/self/fd").listFiles();
        int handles = 0;
        for (File descriptor : descriptors == null ? new File[0] : descriptors) {
            try {
                if (Files.readSymbolicLink(descriptor.toPath()).toString().startsWith("/dev/usb/hiddev")) {
                    handles++;
                }
            } catch (IOException e) {
                // Closed since the listing (the listing's own descriptor among them).
            }
        }
        return handles;
    }

    /** The kernel answers the poller's presence tests itself; the firmware never sees them, so this waits the periods out. */
    @Override
    public void awaitPolls(int polls) throws InterruptedException {
        Thread.sleep(POLL_PERIOD_MS * polls + POLL_PERIOD_MS / 2);
    }

    /** Sends one script line and waits until the firmware has carried it out; fails the test when it refused. */
    private void run(String line) {
        int number = ++linesSent;
        try {
            // One write per line: the firmware reads the FIFO in whole lines.
            Files.write(control, (line + "\n").getBytes(StandardCharsets.US_ASCII), StandardOpenOption.WRITE);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        String ok = "ok " + number + " ";
        String err = "err " + number + " ";
        long end = System.nanoTime() + LINE_LIMIT.toNanos();
        while (System.nanoTime() < end) {
            for (String entry : lines()) {
                if (entry.startsWith(ok)) {
                    return;
                }
                if (entry.startsWith(err)) {
                    fail("the firmware refused '" + line + "': " + entry);
                }
            }
            pause(20);
        }
        fail("the firmware did not carry out '" + line + "' within " + LINE_LIMIT.toSeconds() + " s");
    }

    private List<String> lines() {
        try {
            return Files.readAllLines(log, StandardCharsets.US_ASCII);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private List<Byte> receivedBytes() {
        List<Byte> bytes = new ArrayList<>();
        for (String entry : lines()) {
            if (entry.startsWith("rx ")) {
                bytes.add((byte) HexFormat.fromHexDigits(entry.substring(3).trim()));
            }
        }
        return bytes;
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted", e);
        }
    }
}
