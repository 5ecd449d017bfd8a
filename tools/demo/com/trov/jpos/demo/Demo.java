// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.demo;

import com.trov.jpos.TrovInputService;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import com.trov.jpos.sim.SimKeyboard;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * A tour of the four services against the simulated keyboard: what the application does, what its
 * listeners saw, what the keyboard received, and what is left once everything is closed.
 *
 * <p>Listeners only queue what they receive; the main thread takes it from the queues with time-outs and
 * prints it, so the output comes in the same order on every run.
 */
public final class Demo {
    private static final int NODE = 0;
    private static final long WAIT_MS = 5000;

    // What the listeners saw, one queue per kind of event. All events of the process come in one order on
    // one event thread; the queues only keep the demo's checks short.
    private static final LinkedBlockingQueue<String> KEYLOCK = new LinkedBlockingQueue<>();
    private static final LinkedBlockingQueue<String> POWER = new LinkedBlockingQueue<>();
    private static final LinkedBlockingQueue<String> KEYS = new LinkedBlockingQueue<>();
    private static final LinkedBlockingQueue<String> CARDS = new LinkedBlockingQueue<>();
    private static final LinkedBlockingQueue<String> TONES = new LinkedBlockingQueue<>();

    private Demo() {
    }

    public static void main(String[] args) throws Exception {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        SimKeyboard.setKeylock(NODE, 2);
        SimKeyboard.setTco(NODE, 0x01, "1F");
        say("A simulated POS keyboard is plugged in as /dev/usb/hid/hiddev0, its keylock at digit 2.");

        TrovKeylockService keylock = new TrovKeylockService();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovMSRService msr = new TrovMSRService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        List<TrovService> services = List.of(keylock, keyboard, msr, tone);
        keylock.addStatusUpdateListener(e -> {
            // The keylock's listeners hear the keyboard's power states too; the keyboard's listener shows them.
            if (e.getStatus() < TrovConst.SUE_POWER_ONLINE) {
                KEYLOCK.add("keylock at position " + e.getStatus());
            }
        });
        keyboard.addStatusUpdateListener(e -> POWER.add("keyboard power status " + power(e.getStatus())));
        keyboard.addDataListener(e -> {
            KEYS.add("key " + e.getKeyCode() + (e.isExtended() ? " extended" : "") + (e.isKeyDown() ? " down" : " up"));
            rearm(keyboard);
        });
        msr.addDataListener(e -> {
            // Never print a card's account number or name whole: the masked number and initials suffice.
            CARDS.add("card swiped: account " + msr.getMaskedAccountNumber() + ", expiry " + msr.getExpirationDate()
                    + ", holder " + initials(msr.getFirstName(), msr.getSurname()));
            rearm(msr);
        });
        tone.addOutputCompleteListener(e -> TONES.add("tone output " + e.getOutputID() + " complete"));
        keyboard.setPowerNotify(TrovConst.JPOS_PN_ENABLED);

        try {
            for (TrovService service : services) {
                service.open();
            }
            say("Opened the keylock, POS keyboard, MSR and tone indicator services: " + states(services));
            say("  device descriptors open: " + SimKeyboard.openHandles(NODE)
                    + ", claim table (System V key 100) present: " + claimTablePresent());

            claimAndEnable(services, keyboard, msr);
            say("Claimed and enabled all four: " + states(services));
            say("  the keyboard received " + hex(SimKeyboard.received(NODE)) + " (the keylock position request)");
            expect(KEYLOCK, "keylock at position 3");  // digit 2; positions count from 1
            expect(POWER, "keyboard power status 2001 (online)");

            say("The clerk turns the key to digit 0:");
            SimKeyboard.turnKeylock(NODE, 0);
            expect(KEYLOCK, "keylock at position 1");

            say("The clerk presses and releases key 0x41, then the extended key E0 C8:");
            SimKeyboard.pressKey(NODE, 0x41);
            SimKeyboard.releaseKey(NODE, 0x41);
            SimKeyboard.pressKey(NODE, 0xC8, true);
            SimKeyboard.releaseKey(NODE, 0xC8, true);
            expect(KEYS, "key 65 down", "key 65 up", "key 200 extended down", "key 200 extended up");

            say("A card is swiped (tracks 1 and 2; track 3 empty), read with the default TracksToRead and parsed:");
            SimKeyboard.swipe(NODE, "B4111111111111111^DOE/JANE^2512", "4111111111111111=2512", null);
            expect(CARDS, "card swiped: account 411111******1111, expiry 2512, holder J. D.");

            SimKeyboard.clearReceived(NODE);
            tone.sound(1, 0);
            say("Beep: tone.sound(1, 0), its tone command from the settings file " + settingsFile() + ":");
            expect(TONES, "tone output 1 complete");
            say("  the keyboard received " + hex(SimKeyboard.received(NODE)));

            SimKeyboard.clearReceived(NODE);
            int tco = keyboard.readTco(0x01);
            say("TCO value 1 read: " + tco + " (query " + hex(SimKeyboard.received(NODE)) + ", reply \"1F\")");

            say("The keyboard is unplugged, its key turned to digit 5 meanwhile, and it comes back after 500 ms:");
            SimKeyboard.unplug(NODE);
            expect(POWER, "keyboard power status 2002 (off)");
            SimKeyboard.setKeylock(NODE, 5);
            SimKeyboard.replug(NODE, 500);
            expect(POWER, "keyboard power status 2001 (online)");
            expect(KEYLOCK, "keylock at position 6");  // asked for again once the keyboard is back
            SimKeyboard.pressKeyAndWait(NODE, 0x42, false, (int) WAIT_MS);
            expect(KEYS, "key 66 down");
            awaitPresenceTests(2);
            say("  further power status events: " + (POWER.isEmpty() ? "none" : POWER)
                    + "; card events: " + (CARDS.isEmpty() ? "none" : CARDS));
            say("  the services stay " + states(services));
        } finally {
            for (TrovService service : services) {
                service.close();
            }
        }
        say("Closed all four: " + states(services));
        say("  device descriptors open: " + SimKeyboard.openHandles(NODE)
                + ", claim table present: " + claimTablePresent());
    }

    /** Prints what the listeners saw, in order; each must arrive within the time-out. */
    private static void expect(LinkedBlockingQueue<String> queue, String... events) throws InterruptedException {
        for (String expected : events) {
            String seen = queue.poll(WAIT_MS, TimeUnit.MILLISECONDS);
            if (seen == null) {
                throw new IllegalStateException("the application did not see: " + expected);
            }
            say("  application saw: " + seen + (seen.equals(expected) ? "" : "   (expected " + expected + ")"));
        }
    }

    /** Waits until the library's power-status poller has looked at the keyboard {@code polls} more times. */
    private static void awaitPresenceTests(int polls) throws InterruptedException {
        long target = SimKeyboard.count(NODE, SimKeyboard.REQ_GDEVINFO) + polls;
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS + 1000L * polls);
        while (SimKeyboard.count(NODE, SimKeyboard.REQ_GDEVINFO) < target && System.nanoTime() < deadline) {
            Thread.sleep(20);
        }
    }

    private static String power(int status) {
        return status + (status == TrovConst.SUE_POWER_ONLINE ? " (online)"
                : status == TrovConst.SUE_POWER_OFF ? " (off)"
                : status == TrovConst.SUE_POWER_OFF_OFFLINE ? " (off/offline)" : "");
    }

    private static String initials(String... names) {
        StringBuilder text = new StringBuilder();
        for (String name : names) {
            if (!name.isEmpty()) {
                text.append(text.length() == 0 ? "" : " ").append(name.charAt(0)).append('.');
            }
        }
        return text.length() == 0 ? "(none)" : text.toString();
    }

    private static String settingsFile() {
        return System.getProperty("trov.jpos.config", "/etc/trovjpos/trovjpos.properties");
    }

    private static String states(List<TrovService> services) {
        StringBuilder text = new StringBuilder();
        for (TrovService service : services) {
            text.append(text.length() == 0 ? "" : "/").append(service.getState());
        }
        return text.toString();
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

    /** The input model: each data event turns DataEventEnabled off; this asks for the next one. */
    private static void rearm(TrovInputService service) {
        try {
            service.setDataEventEnabled(true);
        } catch (TrovException e) {
            // Closed meanwhile.
        }
    }

    /**
     * Claims and enables the open services, and asks for key downs and ups and for parsed swipes, one data
     * event at a time (the listeners ask for the next).
     */
    static void claimAndEnable(List<TrovService> services, TrovPOSKeyboardService keyboard, TrovMSRService msr)
            throws TrovException {
        for (TrovService service : services) {
            service.claim(0);
            service.setDeviceEnabled(true);
        }
        keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
        msr.setParseDecodeData(true);
        keyboard.setDataEventEnabled(true);
        msr.setDataEventEnabled(true);
    }
}
