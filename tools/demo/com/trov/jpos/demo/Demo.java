package com.trov.jpos.demo;

import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.sim.SimKeyboard;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * A tour of the services against the simulated keyboard: what the application does, what the keyboard
 * received, and what is left once everything is closed.
 */
public final class Demo {
    private Demo() {
    }

    public static void main(String[] args) throws Exception {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(0);
        SimKeyboard.setKeylock(0, 2);
        say("A simulated POS keyboard is plugged in as /dev/usb/hid/hiddev0, its keylock in position 2.");

        try (TrovKeylockService keylock = new TrovKeylockService()) {
            keylock.addStatusUpdateListener(e -> say("  application: keylock position " + e.getStatus()));
            keylock.open();
            say("Keylock service opened: the library found the keyboard and set it up.");
            say("  device descriptors open on the keyboard: " + SimKeyboard.openHandles(0));
            say("  claim table (System V key 100) present: " + claimTablePresent());

            keylock.claim();
            say("Keylock claimed: " + keylock.isClaimed());

            keylock.setDeviceEnabled(true);
            SimKeyboard.waitReceived(0, 2, 2000);
            say("Keylock enabled; the keyboard received: " + hex(SimKeyboard.received(0))
                    + " (the keylock position request)");
        }

        say("Keylock service closed.");
        say("  the keyboard received in all: " + hex(SimKeyboard.received(0))
                + " (the last request woke the library's reader thread for the shutdown)");
        say("  device descriptors open on the keyboard: " + SimKeyboard.openHandles(0));
        say("  claim table present: " + claimTablePresent());
    }

    private static boolean claimTablePresent() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/sysvipc/shm"), StandardCharsets.US_ASCII)) {
            if (line.trim().startsWith("100 ")) {
                return true;
            }
        }
        return false;
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(text.length() == 0 ? "" : " ").append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }

    private static void say(String line) {
        System.out.println(line);
    }
}
