// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.MsrDataEvent;
import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import com.trov.jpos.sim.SimKeyboard;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;
import java.util.function.BooleanSupplier;
import java.util.function.Supplier;

/**
 * The reliability soak: for a given time, worker threads drive the four services through their public
 * API in random order and timing, several objects per service, while a stimulus thread streams key
 * presses, releases, keylock turns and swipes at full rate and a chaos thread unplugs and replugs the
 * simulated keyboard, now and then for longer than the 10 s the library waits. At the end, with every
 * object closed and dropped, the process must be back at its baseline.
 *
 * <p>Usage: {@code Soak soak|delivery|stream [name=value...]}; the modes other than soak are
 * {@link DeliveryCheck} and {@link StreamFuzz}. Soak options: duration (s, 120), seed (1), threads (8),
 * objects (per service, 3), rate (inputs a second from the keyboard, 0 for full rate), tolerate
 * (comma-separated failure categories that are printed but do not fail the run). Exit status 0 when
 * nothing failed, 1 otherwise.
 */
public final class Soak {
    static final int NODE = 0;
    /** TCO indexes the keyboard answers, and their values. */
    static final int[] TCO_VALUES = {0x1F, 0xABC, 0x7FFF};

    private final long durationNs;
    private final long seed;
    private final int threads;
    private final int rate;  // inputs a second from the keyboard, 0 for as fast as it takes them
    private final Failures failures;
    private final TrovService[][] objects;  // [service][slot]
    private final List<WeakReference<TrovService>> everyObject = new ArrayList<>();
    private volatile boolean running = true;
    private volatile boolean chaosRunning = true;

    private final Map<String, AtomicLong> counters = new HashMap<>();

    private Soak(Map<String, String> options) {
        durationNs = Long.parseLong(options.getOrDefault("duration", "120")) * 1_000_000_000L;
        seed = Long.parseLong(options.getOrDefault("seed", "1"));
        threads = Integer.parseInt(options.getOrDefault("threads", "8"));
        rate = Integer.parseInt(options.getOrDefault("rate", "0"));
        int perService = Integer.parseInt(options.getOrDefault("objects", "3"));
        String tolerate = options.getOrDefault("tolerate", "");
        failures = new Failures(tolerate.isEmpty() ? Set.of() : new HashSet<>(Arrays.asList(tolerate.split(","))));
        objects = new TrovService[4][perService];
        for (String name : new String[] {"opens", "closes", "calls", "trov-exceptions", "keys", "swipes",
                "empty-swipes", "keylock", "power-online", "power-lost", "power-off", "short-outages",
                "long-outages", "stimuli"}) {
            counters.put(name, new AtomicLong());
        }
    }

    private void count(String name) {
        counters.get(name).incrementAndGet();
    }

    /**
     * The services' log: its records would reach the console, where the launcher takes a line that
     * starts with "WARNING" for the JNI checker's. The soak reports the events it checks itself.
     */
    private static final java.util.logging.Logger SERVICE_LOG = java.util.logging.Logger.getLogger("com.trov.jpos");

    public static void main(String[] args) throws Exception {
        SERVICE_LOG.setUseParentHandlers(false);
        if (args.length == 0) {
            System.err.println("usage: Soak soak|delivery|stream [name=value...]");
            System.exit(2);
        }
        Map<String, String> options = new HashMap<>();
        for (int i = 1; i < args.length; ++i) {
            String[] kv = args[i].split("=", 2);
            options.put(kv[0], kv.length > 1 ? kv[1] : "");
        }
        boolean ok;
        switch (args[0]) {
            case "soak": ok = new Soak(options).run(); break;
            case "delivery": ok = new DeliveryCheck(options).run(); break;
            case "stream": ok = new StreamFuzz(options).run(); break;
            default: System.err.println("unknown mode " + args[0]); ok = false;
        }
        System.out.println(ok ? "RESULT: passed" : "RESULT: FAILED");
        System.exit(ok ? 0 : 1);
    }

    // ---- objects and their listeners

    private static final Supplier<?>[] FACTORIES = {
        TrovKeylockService::new, TrovMSRService::new, TrovPOSKeyboardService::new, TrovToneIndicatorService::new};

    private TrovService fresh(int service) {
        TrovService s = (TrovService) FACTORIES[service].get();
        try {
            s.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
            if (s instanceof TrovMSRService) {
                ((TrovMSRService) s).setTracksToRead(0);
            }
        } catch (TrovException e) {
            throw new IllegalStateException("a new object takes PowerNotify", e);
        }
        if (s instanceof TrovKeylockService) {
            ((TrovKeylockService) s).addStatusUpdateListener(e -> {
                // Every object also hears the keyboard's power states; the keyboard objects count them.
                if (e.getStatus() >= TrovConst.SUE_POWER_ONLINE) {
                    return;
                }
                count("keylock");
                // The stimulus turns the key to digits 0 to 9 only, and the keyboard starts at 0.
                if (e.getStatus() < 1 || e.getStatus() > 10) {
                    failures.fail("keylock-position", "keylock event with position " + e.getStatus());
                }
            });
        } else if (s instanceof TrovMSRService) {
            TrovMSRService m = (TrovMSRService) s;
            m.addDataListener(e -> {
                checkSwipe(e);
                Rearm.of(m);
            });
        } else if (s instanceof TrovPOSKeyboardService) {
            TrovPOSKeyboardService k = (TrovPOSKeyboardService) s;
            k.addDataListener(e -> {
                checkKey(e);
                Rearm.of(k);
            });
            k.addStatusUpdateListener(e -> {
                if (e.getStatus() == TrovConst.SUE_POWER_ONLINE) {
                    count("power-online");
                } else if (e.getStatus() == TrovConst.SUE_POWER_OFF) {
                    count("power-lost");
                } else if (e.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE) {
                    count("power-off");
                } else {
                    failures.fail("status", "unknown status " + e.getStatus());
                }
            });
        }
        synchronized (everyObject) {
            everyObject.add(new WeakReference<>(s));
        }
        return s;
    }

    private void checkKey(KeyboardDataEvent e) {
        count("keys");
        if (!Stimulus.isKey(e.getKeyCode()) || (e.getEventType() != 1 && e.getEventType() != 2)) {
            failures.fail("key-event", "key event never sent: " + e);
        }
    }

    private void checkSwipe(MsrDataEvent e) {
        count("swipes");
        byte[][] tracks = {e.getTrack1(), e.getTrack2(), e.getTrack3()};
        if (tracks[0].length + tracks[1].length + tracks[2].length == 0) {
            count("empty-swipes");
        }
        for (byte[] track : tracks) {
            for (byte b : track) {
                if (!Stimulus.isTrackByte(b & 0xFF)) {
                    failures.fail("track-bytes", "track byte never sent: " + (b & 0xFF) + " in " + e);
                    return;
                }
            }
        }
    }

    // ---- the workers' actions, with their weights

    private interface Step {
        void run(Soak soak, int service, int slot, Random random) throws TrovException;
    }

    private record Action(String name, int weight, Step step) {
    }

    private static final Action[] ACTIONS = {
        new Action("open", 4, (s, sv, sl, r) -> { s.objects[sv][sl].open(); s.count("opens"); }),
        new Action("claim", 3, (s, sv, sl, r) -> s.objects[sv][sl].claim(0)),
        new Action("enable", 4, (s, sv, sl, r) -> hearAll(s.objects[sv][sl])),
        new Action("disable", 1, (s, sv, sl, r) -> s.objects[sv][sl].setDeviceEnabled(false)),
        new Action("release", 1, (s, sv, sl, r) -> s.objects[sv][sl].release()),
        new Action("close", 2, (s, sv, sl, r) -> { s.objects[sv][sl].close(); s.count("closes"); }),
        new Action("renew", 1, (s, sv, sl, r) -> s.renew(sv, sl)),
        new Action("write", 3, Soak::write),
        new Action("readTco", 1, Soak::readTco),
        new Action("query", 3, (s, sv, sl, r) -> {
            TrovService o = s.objects[sv][sl];
            o.getState();
            o.isClaimed();
            o.getDeviceEnabled();
        }),
    };

    private void renew(int service, int slot) {
        TrovService old;
        synchronized (objects[service]) {
            old = objects[service][slot];
            objects[service][slot] = fresh(service);
        }
        old.close();
        count("closes");
    }

    private static void write(Soak s, int service, int slot, Random r) throws TrovException {
        TrovService o = s.objects[service][slot];
        // A beep, or the keylock position request (the keyboard answers with a keylock frame).
        if (o instanceof TrovToneIndicatorService) {
            ((TrovToneIndicatorService) o).sound(new byte[] {(byte) 0xF2, (byte) (1 + r.nextInt(9))});
        } else if (o instanceof TrovPOSKeyboardService) {
            ((TrovPOSKeyboardService) o).writeCommand(new byte[] {(byte) 0xEF, 0x07});
        }
    }

    private static void readTco(Soak s, int service, int slot, Random r) throws TrovException {
        TrovService o = s.objects[service][slot];
        if (o instanceof TrovPOSKeyboardService) {
            int index = r.nextInt(TCO_VALUES.length);
            int value = ((TrovPOSKeyboardService) o).readTco(index);
            // 0 also stands for a query that got no reply (the keyboard away or busy).
            if (value != 0 && value != TCO_VALUES[index]) {
                s.failures.fail("tco-value", "readTco(" + index + ") gave " + value + ", not " + TCO_VALUES[index]);
            }
        }
    }

    private void worker(int id) {
        Random random = new Random(seed * 1_000_003L + id);
        Failures.Slot slot = failures.slot("worker-" + id);
        int totalWeight = Arrays.stream(ACTIONS).mapToInt(Action::weight).sum();
        long end = System.nanoTime() + durationNs;
        while (System.nanoTime() < end) {
            int pick = random.nextInt(totalWeight);
            Action action = ACTIONS[0];
            for (Action a : ACTIONS) {
                pick -= a.weight();
                if (pick < 0) {
                    action = a;
                    break;
                }
            }
            int service = random.nextInt(4);
            int index = random.nextInt(objects[service].length);
            slot.begin(action.name() + " on " + objects[service][index].getClass().getSimpleName() + "#" + index);
            try {
                action.step().run(this, service, index, random);
            } catch (TrovException expected) {
                count("trov-exceptions");
            } catch (Throwable t) {
                failures.fail("exception", slot.call + " threw " + t);
                t.printStackTrace(System.out);
            } finally {
                slot.end();
            }
            count("calls");
            sleepMs(random.nextInt(20));
        }
    }

    // ---- the keyboard's side

    private void stimulus() {
        Stimulus source = new Stimulus(new Random(seed * 7_919L));
        Failures.Slot slot = failures.slot("stimulus");
        long due = System.nanoTime();
        while (running) {
            if (rate > 0) {
                due += 1_000_000_000L / rate;
                LockSupport.parkNanos(due - System.nanoTime());
            }
            slot.begin("sending input");
            boolean taken = source.sendOne(NODE);
            slot.end();
            if (taken) {
                count("stimuli");
            } else {
                Thread.yield();  // nobody has the keyboard open, or its buffer is full
            }
        }
    }

    private void chaos() {
        Random random = new Random(seed * 104_729L);
        long start = System.nanoTime();
        boolean longDone = false;
        while (chaosRunning) {
            sleepMs(1000 + random.nextInt(2001));
            if (!chaosRunning) {
                break;
            }
            // Now and then (and at least once, in the run's second quarter) the keyboard stays away
            // longer than the 10 s the library waits: the services are shut down with a power-off.
            long elapsed = System.nanoTime() - start;
            boolean longOutage = random.nextInt(12) == 0 || (!longDone && elapsed > durationNs / 4);
            if (longOutage && elapsed + 13_000_000_000L > durationNs) {
                longOutage = false;  // leave the end of the run to the workers
            }
            SimKeyboard.unplug(NODE);
            if (longOutage) {
                longDone = true;
                count("long-outages");
                SimKeyboard.replug(NODE, 11_000 + random.nextInt(1001));
                sleepMs(12_000);
            } else {
                count("short-outages");
                SimKeyboard.replug(NODE, 100 + random.nextInt(900));
            }
        }
    }

    // ---- the run

    private boolean run() throws InterruptedException {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        for (int i = 0; i < TCO_VALUES.length; ++i) {
            SimKeyboard.setTco(NODE, i, Integer.toHexString(TCO_VALUES[i]).toUpperCase());
        }
        warmUp();
        List<String> baseThreads = ProcessResources.threads();
        List<String> baseFds = ProcessResources.descriptors();
        System.out.printf("soak: %d s, seed %d, %d threads, %d objects per service, input %s; baseline %d threads,"
                + " %d descriptors%n", durationNs / 1_000_000_000L, seed, threads, objects[0].length,
                rate == 0 ? "at full rate" : rate + " a second", baseThreads.size(), baseFds.size());

        for (int service = 0; service < 4; ++service) {
            for (int slot = 0; slot < objects[service].length; ++slot) {
                objects[service][slot] = fresh(service);
            }
        }
        failures.watch(this::printSummary);
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < threads; ++i) {
            final int id = i;
            workers.add(new Thread(() -> worker(id), "soak-worker-" + i));
        }
        Thread stimulus = new Thread(this::stimulus, "soak-stimulus");
        Thread chaos = new Thread(this::chaos, "soak-chaos");
        workers.forEach(Thread::start);
        stimulus.start();
        chaos.start();

        // The figures every 5 minutes, so that a long run that ends in a hang still shows them.
        long started = System.nanoTime();
        for (Thread w : workers) {
            while (w.isAlive()) {
                w.join(300_000);
                if (w.isAlive()) {
                    System.out.printf("after %d s: ", (System.nanoTime() - started) / 1_000_000_000L);
                    printSummary();
                }
            }
        }
        chaosRunning = false;
        chaos.join();
        running = false;
        stimulus.join();

        // The end: the keyboard back, every object closed and dropped.
        SimKeyboard.replug(NODE, 0);
        Failures.Slot slot = failures.slot("main");
        for (TrovService[] service : objects) {
            for (int i = 0; i < service.length; ++i) {
                slot.begin("final close of " + service[i].getClass().getSimpleName() + "#" + i);
                service[i].close();
                slot.end();
                service[i] = null;
            }
        }
        checkEnd(baseThreads, baseFds);
        printSummary();
        return !failures.failed();
    }

    /** One open, use and close of every service, so that the baseline holds what the JVM makes lazily. */
    private void warmUp() {
        TrovService[] once = new TrovService[4];
        try {
            for (int service = 0; service < 4; ++service) {
                once[service] = (TrovService) FACTORIES[service].get();
                once[service].open();
                once[service].claim(0);
                hearAll(once[service]);
            }
            SimKeyboard.tapKey(NODE, 0x1C);
            sleepMs(300);
        } catch (TrovException e) {
            failures.fail("warm-up", e.toString());
        } finally {
            for (TrovService s : once) {
                if (s != null) {
                    s.close();
                }
            }
        }
        settle(ProcessResources::fifoExists);
    }

    private void checkEnd(List<String> baseThreads, List<String> baseFds) {
        // Dispatcher threads and the library's threads end shortly after the last close.
        List<String> leaks = ProcessResources.leaksSince(baseThreads, baseFds);
        for (int i = 0; i < 50 && !leaks.isEmpty(); ++i) {
            sleepMs(200);
            leaks = ProcessResources.leaksSince(baseThreads, baseFds);
        }
        for (String leak : leaks) {
            failures.fail("leak-" + leak.substring(0, leak.indexOf(' ')), leak);
        }
        if (!leaks.isEmpty()) {
            Failures.dumpStacks();  // which threads are left, and where they wait
        }
        // A service object the library still holds a global reference to can never be collected.
        List<String> alive = new ArrayList<>();
        for (int i = 0; i < 20; ++i) {
            System.gc();
            sleepMs(100);
            alive.clear();
            synchronized (everyObject) {
                for (WeakReference<TrovService> ref : everyObject) {
                    TrovService s = ref.get();
                    if (s != null) {
                        alive.add(s.getClass().getSimpleName() + "(" + s.getState() + ")");
                    }
                }
            }
            if (alive.isEmpty()) {
                break;
            }
        }
        if (!alive.isEmpty()) {
            failures.fail("not-collectable", alive.size() + " of " + everyObject.size() + " objects: " + alive);
        }
    }

    private void printSummary() {
        StringBuilder line = new StringBuilder("soak figures:");
        for (String name : new String[] {"opens", "closes", "calls", "trov-exceptions", "stimuli", "keys", "swipes",
                "empty-swipes", "keylock", "power-online", "power-lost", "power-off", "short-outages",
                "long-outages"}) {
            line.append(' ').append(name).append('=').append(counters.get(name).get());
        }
        System.out.println(line);
        failures.print();
        System.out.flush();
    }

    private static void settle(BooleanSupplier busy) {
        for (int i = 0; i < 50 && busy.getAsBoolean(); ++i) {
            sleepMs(100);
        }
    }

    static void sleepMs(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** Enables an object; an input object then hears every key down and up and every swipe. */
    private static void hearAll(TrovService s) throws TrovException {
        s.setDeviceEnabled(true);
        if (s instanceof TrovPOSKeyboardService) {
            ((TrovPOSKeyboardService) s).setEventTypes(TrovConst.KBD_ET_DOWN_UP);
        }
        if (s instanceof com.trov.jpos.TrovInputService) {
            ((com.trov.jpos.TrovInputService) s).setDataEventEnabled(true);
        }
    }
}
