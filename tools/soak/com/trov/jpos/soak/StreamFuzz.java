// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import com.trov.jpos.TrovConst;
import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.MsrDataEvent;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.sim.SimKeyboard;
import java.util.Arrays;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * The stream fuzz through the whole pipeline: random bytes, rich in frame markers and key prefixes,
 * from the simulated keyboard to enabled keylock, keyboard and MSR objects; after each burst, once the
 * events it caused have come, a well-formed swipe and a key must still arrive, intact.
 *
 * <p>With {@code reconnect=P}, P percent of the rounds unplug and replug the keyboard after the burst:
 * the reopen must start the framing afresh, so that the key sent first after it arrives even when the
 * burst ended inside a frame.
 *
 * <p>Options: rounds (200), seed (1), burst (longest burst, 300 bytes), reconnect (0 percent).
 */
final class StreamFuzz {
    private static final int NODE = Soak.NODE;
    private static final int[] SPECIAL = {0x81, 0x82, 0x83, 0x84, 0x86, 0x91, 0x92, 0x93, 0x94, 0x96, 0xFE, 0xE0};

    private final int rounds;
    private final long seed;
    private final int burst;
    private final int reconnect;
    /** Every event of the three objects, as the listeners get them. */
    private final LinkedBlockingQueue<Object> events = new LinkedBlockingQueue<>();

    StreamFuzz(Map<String, String> options) {
        rounds = Integer.parseInt(options.getOrDefault("rounds", "200"));
        seed = Long.parseLong(options.getOrDefault("seed", "1"));
        burst = Integer.parseInt(options.getOrDefault("burst", "300"));
        reconnect = Integer.parseInt(options.getOrDefault("reconnect", "0"));
    }

    private static void send(byte[] bytes) {
        for (int at = 0; at < bytes.length; at += 4) {
            byte[] report = Arrays.copyOfRange(bytes, at, Math.min(bytes.length, at + 4));
            while (SimKeyboard.sendRaw(NODE, report) <= 0) {
                Soak.sleepMs(1);
            }
        }
    }

    /** Waits until no event has come for 300 ms; the number of events that came. */
    private int quiet() throws InterruptedException {
        int n = 0;
        while (events.poll(300, TimeUnit.MILLISECONDS) != null) {
            ++n;
        }
        return n;
    }

    boolean run() throws TrovException, InterruptedException {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        TrovKeylockService keylock = new TrovKeylockService();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovMSRService msr = new TrovMSRService();
        keylock.addStatusUpdateListener(events::add);
        keyboard.addStatusUpdateListener(events::add);
        keyboard.addDataListener(e -> {
            events.add(e);
            Rearm.of(keyboard);
        });
        msr.addDataListener(e -> {
            events.add(e);
            Rearm.of(msr);
        });
        for (TrovService s : new TrovService[] {keylock, keyboard, msr}) {
            s.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            s.open();
            s.claim(0);
            s.setDeviceEnabled(true);
        }
        keyboard.setEventTypes(TrovConst.KBD_ET_DOWN_UP);
        msr.setTracksToRead(0);
        keyboard.setDataEventEnabled(true);
        msr.setDataEventEnabled(true);
        Random random = new Random(seed);
        Stimulus source = new Stimulus(random);
        long garbageEvents = 0;
        String fault = null;
        quiet();
        for (int round = 0; round < rounds && fault == null; ++round) {
            byte[] garbage = new byte[1 + random.nextInt(burst)];
            for (int i = 0; i < garbage.length; ++i) {
                garbage[i] = (byte) (random.nextInt(2) == 0 ? SPECIAL[random.nextInt(SPECIAL.length)] : 1 + random.nextInt(255));
            }
            send(garbage);
            garbageEvents += quiet();
            byte[][] tracks = {source.track(40), source.track(40), source.track(40)};
            int code = source.key();
            if (random.nextInt(100) < reconnect) {
                // The outage is reported (2002, 2001, the keylock's position asked for again); then the key
                // comes first, with no marker before it.
                SimKeyboard.unplug(NODE);
                SimKeyboard.replug(NODE, 100);
                for (int i = 0; i < 100 && SimKeyboard.openHandles(NODE) == 0; ++i) {
                    Soak.sleepMs(50);
                }
                garbageEvents += quiet();
                send(new Stimulus.Bytes().key(code).swipe(tracks).toArray());
            } else {
                send(new Stimulus.Bytes().swipe(tracks).key(code).toArray());
            }
            // Exactly these two events come next.
            MsrDataEvent swipe = null;
            KeyboardDataEvent key = null;
            for (int i = 0; i < 2; ++i) {
                Object e = events.poll(5, TimeUnit.SECONDS);
                if (e instanceof MsrDataEvent && swipe == null) {
                    swipe = (MsrDataEvent) e;
                } else if (e instanceof KeyboardDataEvent && key == null) {
                    key = (KeyboardDataEvent) e;
                } else {
                    fault = "round " + round + ": after the burst came " + e + " (swipe " + swipe + ", key " + key + ")";
                }
            }
            boolean swipeIntact = swipe != null && Arrays.equals(swipe.getTrack1(), tracks[0])
                    && Arrays.equals(swipe.getTrack2(), tracks[1]) && Arrays.equals(swipe.getTrack3(), tracks[2]);
            if (fault == null && !swipeIntact) {
                fault = "round " + round + ": the swipe after the burst arrived as " + swipe;
            } else if (fault == null && (key == null || key.getKeyCode() != code)) {
                // A release or extended prefix left dangling by the burst may still apply to the key.
                fault = "round " + round + ": key " + code + " after the burst arrived as " + key;
            }
            if (fault != null) {
                StringBuilder hex = new StringBuilder();
                for (byte b : garbage) {
                    hex.append(String.format("%02X ", b & 0xFF));
                }
                fault += "; burst: " + hex;
            }
            garbageEvents += quiet();
        }
        for (TrovService s : new TrovService[] {keylock, keyboard, msr}) {
            s.close();
        }
        System.out.printf("stream fuzz: %d rounds, seed %d, bursts up to %d bytes, %d %% with a reconnect; %d events"
                + " caused by the bursts%n", rounds, seed, burst, reconnect, garbageEvents);
        if (fault != null) {
            System.out.println("FAILURE stream: " + fault);
        }
        return fault == null;
    }
}
