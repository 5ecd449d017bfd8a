// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim.panel;

import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovInputService;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import com.trov.jpos.sim.SimKeyboard;
import java.awt.Component;
import java.awt.Container;
import java.awt.EventQueue;
import java.awt.Point;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.event.InputEvent;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.Supplier;
import javax.imageio.ImageIO;
import javax.swing.JLabel;
import javax.swing.JTextArea;
import org.junit.jupiter.api.Test;

/**
 * The window in a real X server, clicked by java.awt.Robot as a person would, with the four services
 * open in this JVM: what the services deliver is what the clicks should make the keyboard send.
 */
class PanelWindowTest {
    private static final int NODE = 0;
    private static final long WAIT_MS = 8000;

    private final LinkedBlockingQueue<String> heard = new LinkedBlockingQueue<>();
    private final List<String> seen = new ArrayList<>();

    @Test
    void clicksReachTheServicesAndTheWindowShowsWhatTheKeyboardReceived() throws Exception {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        TrovKeylockService keylock = new TrovKeylockService();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovMSRService msr = new TrovMSRService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        List<TrovService> services = List.of(keylock, keyboard, msr, tone);
        keylock.addStatusUpdateListener(e -> heard.add("keylock " + e.getStatus()));
        keylock.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
        keyboard.addDataListener(e -> {
            heard.add("key " + Integer.toHexString(e.getKeyCode()) + (e.isKeyDown() ? " down" : " up"));
            rearm(keyboard);
        });
        msr.addDataListener(e -> {
            heard.add("card [" + latin1(e.getTrack1()) + "] [" + latin1(e.getTrack2()) + "] ["
                    + latin1(e.getTrack3()) + "]");
            rearm(msr);
        });
        // Opened first, so that its log shows the keylock position request of the enable.
        SimPanel panel = SimPanel.open(NODE, KeyLayout.defaults());
        try {
            for (TrovService service : services) {
                service.open();
                service.claim(0);
                service.setDeviceEnabled(true);
            }
            keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
            msr.setTracksToRead(0);
            keyboard.setDataEventEnabled(true);
            msr.setDataEventEnabled(true);
            await("keylock 1");  // digit 0 at plug-in
            Robot robot = new Robot();
            robot.setAutoDelay(30);
            robot.waitForIdle();

            // Held down, the key stays down: the release comes with the mouse button's.
            moveTo(robot, panel, "key-37");
            robot.mousePress(InputEvent.BUTTON1_DOWN_MASK);
            await("key 37 down");
            robot.mouseRelease(InputEvent.BUTTON1_DOWN_MASK);
            await("key 37 up");

            click(robot, panel, "keylock-2");
            await("keylock 3");

            click(robot, panel, "swipe-card");  // the good card is the one offered first
            await("card [" + ReadyCard.GOOD.getTrack1() + "] [" + ReadyCard.GOOD.getTrack2() + "] []");

            tone.sound(new byte[] {0x07, 0x31, 0x32});
            SimPanel shown = panel;
            awaitOnScreen(() -> ((JLabel) find(shown, "lamp")).getText().startsWith("07 31 32"), "the lamp shows 07 31 32");

            // Unplugged and back in time: every open object hears the loss (2002) and the return (2001).
            click(robot, panel, "unplug");
            await("keylock 2002");
            click(robot, panel, "replug");
            await("keylock 2001");

            awaitOnScreen(() -> {
                String log = ((JTextArea) find(shown, "log")).getText();
                return log.contains("keyboard sent 37 (key 7 down)") && log.contains("keyboard received EF 07 (keylock")
                        && log.contains("keyboard received 07 31 32 (tone command)") && log.contains("cable unplugged");
            }, "the log shows what the keyboard sent and received");
            screenshot(robot, panel);
        } finally {
            panel.close();
            services.forEach(TrovService::close);
        }
    }

    /** Waits until the services delivered this event; others delivered meanwhile are passed over. */
    private void await(String event) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS);
        while (System.nanoTime() < deadline) {
            String next = heard.poll(deadline - System.nanoTime(), TimeUnit.NANOSECONDS);
            if (event.equals(next)) {
                return;
            }
            if (next != null) {
                seen.add(next);
            }
        }
        fail("the services did not deliver \"" + event + "\"; they delivered " + seen);
    }

    private static void awaitOnScreen(Supplier<Boolean> shown, String what) throws Exception {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS);
        while (!onEventThread(shown)) {
            assertTrue(System.nanoTime() < deadline, "the window did not show it: " + what);
            Thread.sleep(50);
        }
    }

    private static void click(Robot robot, SimPanel panel, String name) throws Exception {
        moveTo(robot, panel, name);
        robot.mousePress(InputEvent.BUTTON1_DOWN_MASK);
        robot.mouseRelease(InputEvent.BUTTON1_DOWN_MASK);
        robot.waitForIdle();
    }

    private static void moveTo(Robot robot, SimPanel panel, String name) throws Exception {
        Point centre = onEventThread(() -> {
            Component component = find(panel, name);
            Point at = component.getLocationOnScreen();
            return new Point(at.x + component.getWidth() / 2, at.y + component.getHeight() / 2);
        });
        robot.mouseMove(centre.x, centre.y);
        robot.waitForIdle();
    }

    private static Component find(SimPanel panel, String name) {
        Component found = find(panel.getFrame().getContentPane(), name);
        assertNotNull(found, "the window has no component " + name);
        return found;
    }

    private static Component find(Component component, String name) {
        if (name.equals(component.getName())) {
            return component;
        }
        if (component instanceof Container container) {
            for (Component child : container.getComponents()) {
                Component found = find(child, name);
                if (found != null) {
                    return found;
                }
            }
        }
        return null;
    }

    private static <T> T onEventThread(Supplier<T> query) throws Exception {
        AtomicReference<T> result = new AtomicReference<>();
        EventQueue.invokeAndWait(() -> result.set(query.get()));
        return result.get();
    }

    /** Keeps a picture of the window with the test's output in the build directory. */
    private static void screenshot(Robot robot, SimPanel panel) throws Exception {
        Rectangle bounds = onEventThread(() -> panel.getFrame().getBounds());
        File file = new File(System.getProperty("trov.test.build", "."), "sim-panel-window.png");
        assertTrue(ImageIO.write(robot.createScreenCapture(bounds), "png", file), "no PNG writer");
    }

    private static String latin1(byte[] bytes) {
        return new String(bytes, StandardCharsets.ISO_8859_1);
    }

    /** Asks for the next data event, as the input model wants after each one. */
    private static void rearm(TrovInputService service) {
        try {
            service.setDataEventEnabled(true);
        } catch (TrovException e) {
            // Closed meanwhile.
        }
    }
}
