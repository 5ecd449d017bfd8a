// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.MsrDataEvent;
import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.sim.SimKeyboard;
import java.io.ByteArrayOutputStream;
import java.util.Arrays;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;

/**
 * The delivery check: a stream of key presses and releases (extended or not) with card swipes among
 * them (three tracks of random length 0 to 255, random allowed bytes), sent through the simulated
 * keyboard to one enabled POS keyboard and one enabled MSR object at paced rates, the last segment as
 * fast as the keyboard takes reports. Every event must arrive exactly once, in order, intact.
 *
 * <p>Options: keys (1000000), swipes (10000), seed (1), rates (bytes per second of each equal segment
 * of the stream, 0 for as fast as the keyboard takes them; default 4000,10000,20000,0).
 */
final class DeliveryCheck {
    private static final int NODE = Soak.NODE;

    private final int keys;
    private final int swipes;
    private final long seed;
    private final int[] rates;

    private int[] expectedKeys;         // keyValue of each key sent
    private byte[][][] expectedSwipes;  // [swipe][track]
    private final AtomicInteger keysIn = new AtomicInteger();
    private final AtomicInteger swipesIn = new AtomicInteger();
    private volatile String firstFault;
    private final AtomicInteger statusEvents = new AtomicInteger();

    DeliveryCheck(Map<String, String> options) {
        keys = Integer.parseInt(options.getOrDefault("keys", "1000000"));
        swipes = Integer.parseInt(options.getOrDefault("swipes", "10000"));
        seed = Long.parseLong(options.getOrDefault("seed", "1"));
        rates = Arrays.stream(options.getOrDefault("rates", "4000,10000,20000,0").split(","))
                .mapToInt(Integer::parseInt).toArray();
    }

    /** The whole input stream, filling in the events it must produce. */
    private byte[] stream() {
        Random random = new Random(seed);
        Stimulus source = new Stimulus(random);
        expectedKeys = new int[keys];
        expectedSwipes = new byte[swipes][][];
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        int k = 0;
        int s = 0;
        while (k < keys || s < swipes) {
            boolean swipe = s < swipes && (k == keys || random.nextInt(keys + swipes) < swipes);
            if (swipe) {
                byte[][] tracks = {source.track(255), source.track(255), source.track(255)};
                expectedSwipes[s++] = tracks;
                out.writeBytes(new Stimulus.Bytes().swipe(tracks).toArray());
            } else {
                int code = source.key();
                boolean release = random.nextBoolean();
                if (release) {
                    out.write(0xFE);
                }
                boolean extended = random.nextInt(4) == 0;
                if (extended) {
                    out.write(0xE0);
                }
                out.write(code);
                expectedKeys[k++] = keyValue(code, release ? 2 : 1, extended);
            }
        }
        return out.toByteArray();
    }

    private void fault(String what) {
        if (firstFault == null) {
            firstFault = what;
        }
    }

    private void onKey(KeyboardDataEvent e) {
        int i = keysIn.getAndIncrement();
        int got = keyValue(e.getKeyCode(), e.getEventType(), e.isExtended());
        if (i >= keys) {
            fault("key event " + i + " beyond the " + keys + " sent: " + e);
        } else if (got != expectedKeys[i]) {
            fault("key event " + i + " is " + e + ", sent code " + (expectedKeys[i] & 0xFF) + " type "
                    + (expectedKeys[i] >> 8 & 0xFF) + ((expectedKeys[i] & EXTENDED) != 0 ? " extended" : ""));
        }
    }

    private static final int EXTENDED = 1 << 16;

    /** One key event as one int: the code, the event type above it, and the extended flag above both. */
    private static int keyValue(int code, int type, boolean extended) {
        return code | type << 8 | (extended ? EXTENDED : 0);
    }

    private void onSwipe(MsrDataEvent e) {
        int i = swipesIn.getAndIncrement();
        if (i >= swipes) {
            fault("swipe " + i + " beyond the " + swipes + " sent");
        } else if (!Arrays.equals(e.getTrack1(), expectedSwipes[i][0]) || !Arrays.equals(e.getTrack2(), expectedSwipes[i][1])
                || !Arrays.equals(e.getTrack3(), expectedSwipes[i][2])) {
            fault("swipe " + i + " differs from the one sent: " + e);
        }
    }

    boolean run() throws TrovException {
        byte[] bytes = stream();
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovMSRService msr = new TrovMSRService();
        keyboard.addDataListener(e -> {
            onKey(e);
            rearm(keyboard);
        });
        keyboard.addStatusUpdateListener(e -> {
            if (e.getStatus() != TrovConst.SUE_POWER_ONLINE) {
                statusEvents.incrementAndGet();
            }
        });
        msr.addDataListener(e -> {
            onSwipe(e);
            rearm(msr);
        });
        keyboard.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
        keyboard.open();
        msr.open();
        keyboard.claim(0);
        msr.claim(0);
        keyboard.setDeviceEnabled(true);
        msr.setDeviceEnabled(true);
        keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
        msr.setTracksToRead(0);
        keyboard.setDataEventEnabled(true);
        msr.setDataEventEnabled(true);
        System.out.printf("delivery: %d keys, %d swipes, %d bytes, seed %d, rates %s B/s (0: as fast as taken)%n",
                keys, swipes, bytes.length, seed, Arrays.toString(rates));

        long refused = 0;
        long start = System.nanoTime();
        int segment = (bytes.length + rates.length - 1) / rates.length;
        for (int seg = 0; seg < rates.length; ++seg) {
            int from = Math.min(bytes.length, seg * segment);
            int to = Math.min(bytes.length, from + segment);
            long segStart = System.nanoTime();
            for (int at = from; at < to; at += 4) {
                if (rates[seg] > 0) {
                    long due = segStart + (long) (at - from) * 1_000_000_000L / rates[seg];
                    long wait = due - System.nanoTime();
                    if (wait > 0) {
                        LockSupport.parkNanos(wait);
                    }
                }
                // One input report at a time; a full keyboard buffer refuses it whole, so it is offered
                // again: nothing is lost before the library.
                byte[] report = Arrays.copyOfRange(bytes, at, Math.min(to, at + 4));
                while (SimKeyboard.sendRaw(NODE, report) <= 0) {
                    ++refused;
                    LockSupport.parkNanos(50_000);
                }
            }
            double s = (System.nanoTime() - segStart) / 1e9;
            System.out.printf("  segment %d: %d bytes at %s: %.1f s, %.0f B/s offered%n", seg, to - from,
                    rates[seg] == 0 ? "full rate" : rates[seg] + " B/s", s, (to - from) / s);
        }
        long sent = System.nanoTime();
        // Everything has reached the library's FIFO or the keyboard's buffer; wait while events come.
        int lastTotal = -1;
        long lastProgress = System.nanoTime();
        while (keysIn.get() < keys || swipesIn.get() < swipes) {
            int total = keysIn.get() + swipesIn.get();
            if (total != lastTotal) {
                lastTotal = total;
                lastProgress = System.nanoTime();
            } else if (System.nanoTime() - lastProgress > 30_000_000_000L) {
                break;
            }
            Soak.sleepMs(50);
        }
        long done = System.nanoTime();
        Soak.sleepMs(1000);  // anything more than was sent would show now
        keyboard.close();
        msr.close();

        System.out.printf("  sent in %.1f s (%d refused reports offered again); last event %.1f s after the last send;"
                + " %.0f events/s overall%n", (sent - start) / 1e9, refused, (done - sent) / 1e9,
                (keysIn.get() + swipesIn.get()) / ((done - start) / 1e9));
        System.out.printf("  received %d of %d keys, %d of %d swipes, %d power-off events%n", keysIn.get(), keys,
                swipesIn.get(), swipes, statusEvents.get());
        if (keysIn.get() != keys || swipesIn.get() != swipes) {
            fault("received " + keysIn.get() + " keys and " + swipesIn.get() + " swipes");
        }
        if (statusEvents.get() != 0) {
            fault(statusEvents.get() + " power events with the keyboard plugged in throughout");
        }
        if (firstFault != null) {
            System.out.println("FAILURE delivery: " + firstFault);
        }
        return firstFault == null;
    }

    private static void rearm(com.trov.jpos.TrovInputService service) {
        Rearm.of(service);
    }
}
