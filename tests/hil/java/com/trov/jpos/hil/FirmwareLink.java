package com.trov.jpos.hil;

import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;

/**
 * The test's end of trovkbd-firmware, the keyboard firmware on the device side of the USB gadget: script
 * lines go into its control FIFO, and what it received and did is read back from its log (see
 * sim/firmware/main.cpp for both).
 */
final class FirmwareLink {
    private final Path control;
    private final Path log;
    private int linesSent;

    FirmwareLink(Path control, Path log) {
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

    static FirmwareLink fromProperties() {
        return new FirmwareLink(Path.of(System.getProperty("trov.hil.control")), Path.of(System.getProperty("trov.hil.log")));
    }

    /** Sends one script line and waits until the firmware has carried it out; fails the test when it refused. */
    void run(String line) {
        int number = ++linesSent;
        try {
            // One write per line: the firmware reads the FIFO in whole lines.
            Files.write(control, (line + "\n").getBytes(StandardCharsets.US_ASCII), StandardOpenOption.WRITE);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        String ok = "ok " + number + " ";
        String err = "err " + number + " ";
        long end = System.nanoTime() + Duration.ofSeconds(20).toNanos();
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
        fail("the firmware did not carry out '" + line + "' within 20 s");
    }

    /** The number of command bytes the firmware has received so far: a mark for {@link #receivedSince}. */
    int mark() {
        return received().size();
    }

    /** The command bytes received since the mark, once there are at least {@code count} (or after 5 s). */
    byte[] receivedSince(int mark, int count) {
        long end = System.nanoTime() + Duration.ofSeconds(5).toNanos();
        List<Byte> bytes = received();
        while (bytes.size() < mark + count && System.nanoTime() < end) {
            pause(20);
            bytes = received();
        }
        List<Byte> since = bytes.subList(Math.min(mark, bytes.size()), bytes.size());
        byte[] out = new byte[since.size()];
        for (int i = 0; i < out.length; i++) {
            out[i] = since.get(i);
        }
        return out;
    }

    /** The log lines after the given number of lines. */
    List<String> linesAfter(int skip) {
        List<String> all = lines();
        return all.subList(Math.min(skip, all.size()), all.size());
    }

    List<String> lines() {
        try {
            return Files.readAllLines(log, StandardCharsets.US_ASCII);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private List<Byte> received() {
        List<Byte> bytes = new ArrayList<>();
        for (String entry : lines()) {
            if (entry.startsWith("rx ")) {
                bytes.add((byte) Integer.parseInt(entry.substring(3).trim(), 16));
            }
        }
        return bytes;
    }

    static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted", e);
        }
    }
}
