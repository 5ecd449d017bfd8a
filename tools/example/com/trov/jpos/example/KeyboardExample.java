// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.example;

import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.StatusUpdateEvent;
import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovToneIndicatorService;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * Prints the keylock positions and the key presses of the POS keyboard, until Ctrl-C or for the
 * number of seconds given as the only argument, and beeps once when ready.
 *
 * <p>The beep's bytes are the terminal's, not the application's: they come from the settings file
 * ({@code /etc/trovjpos/trovjpos.properties}, or the file {@code -Dtrov.jpos.config=...} names), key
 * {@code tone1.command}. Without it the example says which file and key to set, and runs on.
 *
 * <p>Run it with the product jar on the class path and the native library on
 * {@code java.library.path} (where Debian's JVMs look by themselves when it is installed with the
 * prefix /usr), in a directory it may write to:
 * <pre>
 * java -cp /usr/share/java/TrovJPOS.jar:trov-example.jar com.trov.jpos.example.KeyboardExample 30
 * </pre>
 * On the simulated keyboard, {@code -Dtrov.jpos.config=tools/demo/trovjpos.properties} gives it the
 * simulator's beep bytes.
 */
public final class KeyboardExample {

    private KeyboardExample() {
    }

    /**
     * Runs the example.
     *
     * @param args optionally the number of seconds to run; without it, runs until Ctrl-C
     * @throws InterruptedException when the main thread is interrupted while it waits
     */
    public static void main(String[] args) throws InterruptedException {
        long seconds = 0;
        if (args.length > 0) {
            try {
                seconds = Long.parseLong(args[0]);
            } catch (NumberFormatException e) {
                seconds = -1;
            }
            if (seconds <= 0 || args.length > 1) {
                System.err.println("usage: KeyboardExample [seconds]");
                System.exit(2);
            }
        }

        // Ctrl-C (SIGINT) and SIGTERM run the shutdown hooks: this one wakes the main thread and gives
        // it time to close the services, so that the keyboard is released in order.
        CountDownLatch stop = new CountDownLatch(1);
        AtomicBoolean finished = new AtomicBoolean();
        Thread mainThread = Thread.currentThread();
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            if (finished.get()) {
                return;
            }
            stop.countDown();
            try {
                mainThread.join(5000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "example-shutdown"));

        TrovKeylockService keylock = new TrovKeylockService();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();

        // Listeners run on the process's one event thread, one event at a time, in the order the keyboard
        // sent them. Add them before open(): events may come as soon as the device is open.
        keylock.addStatusUpdateListener(KeyboardExample::printPosition);
        keyboard.addDataListener(event -> {
            printKey(event);
            try {
                // The input model: each data event turns DataEventEnabled off; ask for the next one.
                keyboard.setDataEventEnabled(true);
            } catch (TrovException e) {
                // Closed meanwhile.
            }
        });
        keyboard.addStatusUpdateListener(event -> {
            if (event.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE) {
                // The objects stay open, claimed and enabled; input flows again when the keyboard is back.
                System.out.println("keyboard off-line: waiting for it to come back");
            } else if (event.getStatus() == TrovConst.SUE_POWER_OFF) {
                System.out.println("keyboard away: the services wait 10 seconds for it");
            } else if (event.getStatus() == TrovConst.SUE_POWER_ONLINE) {
                System.out.println("keyboard power on");
            }
        });

        int status = 0;
        try (keylock; keyboard; tone) {
            // Power states (2002 away, 2001 back) are heard only with PowerNotify enabled.
            keyboard.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            keylock.open();
            keyboard.open();
            keylock.claim(0);
            keyboard.claim(0);
            keyboard.setDeviceEnabled(true);
            keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
            keyboard.setDataEventEnabled(true);
            // Enabling the keylock asks the keyboard for the key position: the first event follows.
            keylock.setDeviceEnabled(true);
            tone.open();
            tone.claim(0);
            tone.setDeviceEnabled(true);
            beep(tone);
            System.out.println(seconds > 0 ? "ready: turn the key or press keys for " + seconds + " s"
                                           : "ready: turn the key or press keys; Ctrl-C ends");
            if (seconds > 0) {
                stop.await(seconds, TimeUnit.SECONDS);
            } else {
                stop.await();
            }
        } catch (TrovException e) {
            System.err.println("error " + e.getErrorCode() + ": " + e.getMessage());
            if (e.getErrorCode() == TrovConst.JPOS_E_NOSERVICE) {
                System.err.println("hint: run trovjpos-diag to see what the library finds");
            }
            status = 1;
        }
        // Leaving the try block closed the services: disabled, released, closed, events delivered.
        System.out.println("closed");
        finished.set(true);
        if (status != 0) {
            System.exit(status);
        }
    }

    /** One cycle of the tone properties, which the settings file filled. */
    private static void beep(TrovToneIndicatorService tone) {
        try {
            tone.sound(1, 0);
            System.out.println("beep");
        } catch (TrovException e) {
            System.out.println("no beep: " + e.getMessage());
        }
    }

    private static void printPosition(StatusUpdateEvent event) {
        // The keylock's status listeners get the keyboard's power states too; the keyboard's listener
        // reports those.
        if (event.getStatus() >= TrovConst.SUE_POWER_ONLINE) {
            return;
        }
        System.out.println("keylock position " + event.getStatus());
    }

    private static void printKey(KeyboardDataEvent event) {
        System.out.printf("key %s0x%02X %s%n", event.isExtended() ? "E0 " : "", event.getKeyCode(),
                event.isKeyDown() ? "down" : "up");
    }
}
