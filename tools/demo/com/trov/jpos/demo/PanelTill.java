// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.demo;

import com.trov.jpos.TrovInputService;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovConst;
import com.trov.jpos.MsrDataEvent;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import java.awt.Window;
import java.time.LocalTime;
import java.time.format.DateTimeFormatter;
import java.util.List;

/**
 * A small till for the simulated keyboard's window: it opens, claims and enables the four services,
 * prints every event it hears (a card's account number masked, its holder's name as initials), and beeps
 * with {@code sound(1, 0)} at each card swiped, the tone command coming from the terminal's settings file
 * ({@code tools/demo/trovjpos.properties} under {@code tools/demo.sh}). It knows nothing
 * of the simulator: run with {@code -Dtrov.sim.panel=true}, the window opens as the services load.
 * It ends when the window is closed or Enter is pressed.
 */
public final class PanelTill {
    private static final DateTimeFormatter CLOCK = DateTimeFormatter.ofPattern("HH:mm:ss.SSS");

    private PanelTill() {
    }

    public static void main(String[] args) throws Exception {
        TrovKeylockService keylock = new TrovKeylockService();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovMSRService msr = new TrovMSRService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        List<TrovService> services = List.of(keylock, keyboard, msr, tone);
        keylock.addStatusUpdateListener(e -> hear("keylock status " + e.getStatus()));
        keyboard.addStatusUpdateListener(e -> hear("keyboard status " + e.getStatus()));
        keyboard.addDataListener(e -> {
            hear(String.format("key %s0x%02X %s", e.isExtended() ? "E0 " : "", e.getKeyCode(), e.isKeyDown() ? "down" : "up"));
            rearm(keyboard);
        });
        msr.addDataListener(e -> {
            hear("card: account " + msr.getMaskedAccountNumber() + ", expiry " + msr.getExpirationDate()
                    + ", holder " + initial(msr.getFirstName()) + initial(msr.getSurname()));
            rearm(msr);
            try {
                tone.sound(1, 0);
            } catch (Exception failed) {
                hear("the beep failed: " + failed.getMessage());
            }
        });
        msr.addErrorListener(e -> {
            hear("card not read: error " + e.getErrorCode() + ", extended 0x"
                    + Integer.toHexString(e.getErrorCodeExtended()));
            rearm(msr);
        });
        try {
            keyboard.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            for (TrovService service : services) {
                service.open();
            }
            Demo.claimAndEnable(services, keyboard, msr);
            hear("the till is open; close the keyboard's window or press Enter to end");
            awaitEnd();
        } finally {
            services.forEach(TrovService::close);
        }
        System.exit(0);  // the window's event thread would keep the JVM up
    }

    /** Waits until no window is showing any more (after one was shown) or a line is typed. */
    private static void awaitEnd() throws Exception {
        boolean shown = false;
        while (System.in.available() == 0) {
            boolean showing = false;
            for (Window window : Window.getWindows()) {
                showing |= window.isShowing();
            }
            if (shown && !showing) {
                return;
            }
            shown |= showing;
            Thread.sleep(200);
        }
    }

    private static String initial(String name) {
        return name.isEmpty() ? "" : name.charAt(0) + ".";
    }

    private static void hear(String line) {
        System.out.println(LocalTime.now().format(CLOCK) + "  the till heard: " + line);
    }

    /** The input model: each data event turns DataEventEnabled off; this asks for the next one. */
    private static void rearm(TrovInputService service) {
        try {
            service.setDataEventEnabled(true);
        } catch (TrovException e) {
            // Closed meanwhile.
        }
    }
}
