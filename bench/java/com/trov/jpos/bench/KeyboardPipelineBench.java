// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.bench;

import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.KeyboardDataListener;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.sim.SimKeyboard;
import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.locks.LockSupport;

/**
 * Latency and throughput of the key input pipeline against the simulated keyboard:
 * simulated device → reader thread → FIFO → decoder thread → {@code keyboardDataEvent} (JNI upcall) →
 * event thread → application listener.
 *
 * <p>Run with {@code libtrovsim.so} preloaded, {@code libTrovJPOS.so} and {@code libtrovbench.so} on
 * {@code java.library.path}, in a scratch working directory (the library makes its FIFO there). Options
 * are {@code name=value} arguments; see {@link Options}. Prints the figures; measures, checks nothing
 * beyond that every key arrived in order.
 */
public final class KeyboardPipelineBench {

    private static final int NODE = 0;

    private KeyboardPipelineBench() {
    }

    /** Options, each given as {@code name=value}. */
    static final class Options {
        /** Keys timed in the latency run. */
        int keys = 20_000;
        /** Keys sent before the timed ones, to warm up the JIT and the caches. */
        int warmup = 2_000;
        /** Idle time before each timed key, in microseconds: each key then finds the pipeline idle. */
        int gapUs = 200;
        /** Length of each throughput trial, in milliseconds. */
        int trialMs = 2_000;
        /** Largest number of paced trials in the search for the highest lossless rate. */
        int searchTrials = 8;
        /** Rounds of the primitive measurements (attach/detach, pipe write, hand-off). */
        int rounds = 5_000;
        /** Latency runs of the key path, each followed by a run of the bare path with the same keys. */
        int pairs = 1;
        /** 0 leaves out the throughput trials and the primitives. */
        int throughput = 1;

        static Options parse(String[] args) {
            Options o = new Options();
            for (String arg : args) {
                int eq = arg.indexOf('=');
                if (eq < 0) {
                    throw new IllegalArgumentException("expected name=value: " + arg);
                }
                String name = arg.substring(0, eq);
                int value = Integer.parseInt(arg.substring(eq + 1));
                switch (name) {
                    case "keys" -> o.keys = value;
                    case "warmup" -> o.warmup = value;
                    case "gapUs" -> o.gapUs = value;
                    case "trialMs" -> o.trialMs = value;
                    case "searchTrials" -> o.searchTrials = value;
                    case "rounds" -> o.rounds = value;
                    case "pairs" -> o.pairs = value;
                    case "throughput" -> o.throughput = value;
                    default -> throw new IllegalArgumentException("unknown option " + name);
                }
            }
            return o;
        }
    }

    /**
     * The application listener: notes the arrival time and key of each event on the event thread.
     * Only the event thread writes; {@link #count} publishes what it wrote.
     */
    static final class Arrivals implements KeyboardDataListener {
        private long[] times = new long[0];
        private int[] keys = new int[0];
        private volatile int count;
        private final Semaphore each = new Semaphore(0);

        /** Starts a new run with room for {@code capacity} events; call while no event is in flight. */
        void reset(int capacity) {
            times = new long[capacity];
            keys = new int[capacity];
            each.drainPermits();
            count = 0;
        }

        @Override
        public void keyboardDataOccurred(KeyboardDataEvent event) {
            long now = System.nanoTime();
            int i = count;
            if (i < times.length) {
                times[i] = now;
                keys[i] = event.getKeyCode();
            }
            count = i + 1;
            each.release();
        }

        int count() {
            return count;
        }

        boolean awaitOne(long timeoutMs) throws InterruptedException {
            return each.tryAcquire(timeoutMs, TimeUnit.MILLISECONDS);
        }

        long time(int i) {
            return times[i];
        }

        int key(int i) {
            return keys[i];
        }
    }

    /** The key byte sent as the i-th key: 0x01 to 0x7F, never a frame marker or a prefix. */
    static int keyFor(long i) {
        return 1 + (int) (i % 0x7F);
    }

    public static void main(String[] args) throws Exception {
        Options options = Options.parse(args);
        say("TrovJPOS key pipeline benchmark");
        say("  JVM: %s %s (%s), %s, os.arch %s, %d CPUs", System.getProperty("java.vm.name"),
                System.getProperty("java.runtime.version"), System.getProperty("java.vm.info"),
                System.getProperty("java.vm.vendor"), System.getProperty("os.arch"),
                Runtime.getRuntime().availableProcessors());
        say("  JVM options: %s", ManagementFactory.getRuntimeMXBean().getInputArguments());

        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);
        Arrivals arrivals = new Arrivals();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        keyboard.addDataListener(arrivals);
        // The input model: after each key the next is asked for, as a till that takes every key does.
        keyboard.addDataListener(e -> {
            try {
                keyboard.setDataEventEnabled(true);
            } catch (TrovException closed) {
                // Closed meanwhile.
            }
        });
        try {
            keyboard.open();
            keyboard.claim(0);
            keyboard.setDeviceEnabled(true);
            keyboard.setEventTypes(com.trov.jpos.TrovConst.KBD_ET_DOWN_UP);
            keyboard.setDataEventEnabled(true);
            List<double[]> ratios = new ArrayList<>();
            for (int pair = 1; pair <= options.pairs; ++pair) {
                long[] keyPath = latency(options, arrivals);
                long[] barePath = barePath(options);
                if (keyPath != null && barePath != null) {
                    ratios.add(compare(pair, keyPath, barePath));
                }
            }
            summarise(ratios);
            if (options.throughput != 0) {
                throughput(options, arrivals);
            }
        } catch (TrovException e) {
            say("The keyboard service could not be set up: %s", e.getMessage());
            System.exit(2);
        } finally {
            keyboard.close();
        }
        if (options.throughput != 0) {
            primitives(options);
        }
    }

    // ---------------------------------------------------------------------------------------------
    // The bare path

    /**
     * The bare path with the latency run's keys, gap and warm-up: a byte through a pipe to a thread,
     * through a second pipe to a second thread, attach, call, detach. Returns the timed rounds' latencies
     * from the first write to the call entered, or null when it could not be measured.
     */
    private static long[] barePath(Options o) {
        long[] all = new long[o.warmup + o.keys];
        if (!UpcallProbe.measureBarePath(new UpcallProbe.Sink(), all, o.gapUs)) {
            say("The bare path could not be measured.");
            return null;
        }
        long[] timed = Arrays.copyOfRange(all, o.warmup, all.length);
        say("Bare path (pipe -> thread -> pipe -> thread, attach, call, detach), %d us idle before each:", o.gapUs);
        header();
        row("first write -> Java method entered", timed);
        return timed;
    }

    /** Prints the key path against the bare path of one pair and returns {median ratio, p99 ratio}. */
    private static double[] compare(int pair, long[] keyPath, long[] barePath) {
        long[] k = keyPath.clone();
        long[] b = barePath.clone();
        Arrays.sort(k);
        Arrays.sort(b);
        double[] ratio = {pct(k, 50) / pct(b, 50), pct(k, 99) / pct(b, 99)};
        say("Pair %d: hand-off -> keyboardDataEvent entered %.1f / %.1f us (median / p99), bare path %.1f / %.1f us:"
                + " key path / bare path = %.2f at the median, %.2f at p99", pair, pct(k, 50), pct(k, 99), pct(b, 50),
                pct(b, 99), ratio[0], ratio[1]);
        return ratio;
    }

    private static void summarise(List<double[]> ratios) {
        if (ratios.isEmpty()) {
            return;
        }
        double[] medians = ratios.stream().mapToDouble(r -> r[0]).sorted().toArray();
        double[] p99s = ratios.stream().mapToDouble(r -> r[1]).sorted().toArray();
        say("");
        say("Key path / bare path over %d pairs: median ratio %.2f-%.2f, p99 ratio %.2f-%.2f", ratios.size(),
                medians[0], medians[medians.length - 1], p99s[0], p99s[p99s.length - 1]);
    }

    // ---------------------------------------------------------------------------------------------
    // Latency

    /** Runs the latency measurement; returns the timed keys' hand-off to keyboardDataEvent entered, or null. */
    private static long[] latency(Options o, Arrivals arrivals) throws InterruptedException {
        int total = o.warmup + o.keys;
        say("");
        say("== Latency: %d keys one at a time (after %d warm-up keys), %d us idle before each ==", o.keys,
                o.warmup, o.gapUs);
        // The library calls the three-argument form on this class (it declares one), the two-argument one
        // on a class without it (and on this class before the three-argument form came).
        if (!UpcallProbe.install(TrovPOSKeyboardService.class, "keyboardDataEvent", "(IIZ)I", total)
                && !UpcallProbe.install(TrovPOSKeyboardService.class, "keyboardDataEvent", "(II)I", total)) {
            say("The JNI probe could not be installed; no native-thread figures.");
        }
        arrivals.reset(total);
        long[] before = new long[total];
        long[] after = new long[total];
        long[] handedOff = new long[total];
        long gapNs = TimeUnit.MICROSECONDS.toNanos(o.gapUs);
        for (int i = 0; i < total; ++i) {
            if (gapNs > 0) {
                LockSupport.parkNanos(gapNs);
            }
            int key = keyFor(i);
            before[i] = System.nanoTime();
            int queued = SimKeyboard.pressKey(NODE, key, 0);
            after[i] = System.nanoTime();
            handedOff[i] = UpcallProbe.lastSendNs();
            if (queued != 1) {
                throw new IllegalStateException("the simulator refused key " + i + " (" + queued + ")");
            }
            if (!arrivals.awaitOne(10_000)) {
                throw new IllegalStateException("key " + i + " did not reach the listener within 10 s");
            }
        }
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (UpcallProbe.count() < total && System.nanoTime() < deadline) {
            Thread.sleep(1);
        }
        long[] byteRead = new long[total];
        long[] attached = new long[total];
        long[] entered = new long[total];
        long[] returned = new long[total];
        int[] firstArgs = new int[total];
        int recorded = UpcallProbe.fetch(byteRead, attached, entered, returned, firstArgs);
        UpcallProbe.uninstall();
        for (int i = 0; i < total; ++i) {
            if (arrivals.key(i) != keyFor(i)) {
                throw new IllegalStateException("listener got key " + arrivals.key(i) + " as key " + i);
            }
            if (i < recorded && firstArgs[i] != keyFor(i)) {
                throw new IllegalStateException("upcall " + i + " carried key " + firstArgs[i]);
            }
        }

        int n = o.keys;
        int from = o.warmup;
        // The hand-off is the simulator's send() inside pressKey when the preload marks it; otherwise the
        // start of the pressKey call, which is earlier by the simulator's own work.
        boolean marked = true;
        for (int i = from; i < total; ++i) {
            marked &= handedOff[i] >= before[i] && handedOff[i] <= after[i];
            marked &= i >= recorded || (byteRead[i] >= handedOff[i] && byteRead[i] <= attached[i]);
        }
        long[] origin = marked ? handedOff : before;
        long[] call = new long[n];
        long[] callToSend = new long[n];
        long[] toListener = new long[n];
        for (int j = 0; j < n; ++j) {
            int i = from + j;
            call[j] = after[i] - before[i];
            callToSend[j] = handedOff[i] - before[i];
            toListener[j] = arrivals.time(i) - origin[i];
        }
        say("SimKeyboard.pressKey:");
        header();
        row("whole call", call);
        if (marked) {
            row("call start -> send() of the report (hand-off)", callToSend);
        }
        say("Times from %s:", marked ? "the hand-off (the simulator's send() of the input report)"
                : "the start of the pressKey call (hand-off not marked: libtrovbench.so not preloaded)");
        header();
        long[] toEnteredResult = null;
        if (recorded >= total) {
            long[] toRead = new long[n];
            long[] toAttached = new long[n];
            long[] toEntered = new long[n];
            long[] toReturned = new long[n];
            long[] readToAttached = new long[n];
            long[] attachToCall = new long[n];
            long[] inMethod = new long[n];
            long[] dispatch = new long[n];
            for (int j = 0; j < n; ++j) {
                int i = from + j;
                toRead[j] = byteRead[i] - origin[i];
                toAttached[j] = attached[i] - origin[i];
                toEntered[j] = entered[i] - origin[i];
                toReturned[j] = returned[i] - origin[i];
                readToAttached[j] = attached[i] - byteRead[i];
                attachToCall[j] = entered[i] - attached[i];
                inMethod[j] = returned[i] - entered[i];
                dispatch[j] = arrivals.time(i) - entered[i];
            }
            if (marked) {
                row("-> decoder thread read the byte from the FIFO", toRead);
            }
            row("-> decoder thread attached (NewLocalRef)", toAttached);
            row("-> keyboardDataEvent entered (native thread)", toEntered);
            row("-> keyboardDataEvent returned", toReturned);
            row("-> application listener (event thread)", toListener);
            say("Steps:");
            header();
            if (marked) {
                row("byte read -> attached (decode, attach, lock)", readToAttached);
            }
            row("attached -> keyboardDataEvent entered", attachToCall);
            row("keyboardDataEvent, entry to return", inMethod);
            row("keyboardDataEvent entered -> app. listener", dispatch);
            toEnteredResult = marked ? toEntered : null;
        } else {
            row("-> application listener (event thread)", toListener);
            say("(the probe recorded %d of %d upcalls; native-thread figures left out)", recorded, total);
        }
        return toEnteredResult;
    }

    // ---------------------------------------------------------------------------------------------
    // Throughput

    /** The outcome of one throughput trial. */
    record Trial(long attempted, long accepted, long refused, long delivered, long outOfOrder, double sendSeconds,
                 double deliverSeconds, double cpuSeconds) {
        /** Longest drain after the last send that still counts as keeping up. */
        static final double KEPT_UP_S = 0.050;

        long lost() {
            return attempted - delivered;
        }

        /** Time from the end of sending to the last arrival: the backlog left in the pipeline. */
        double drainSeconds() {
            return Math.max(0, deliverSeconds - sendSeconds);
        }

        /** No key lost, and the pipeline kept up: what was sent arrived soon after. */
        boolean sustained() {
            return lost() == 0 && drainSeconds() <= KEPT_UP_S;
        }

        double attemptRate() {
            return attempted / sendSeconds;
        }

        double deliveredRate() {
            return delivered / deliverSeconds;
        }
    }

    /** How the sender spaces its keys. */
    enum Mode {
        /** As fast as the sender can call pressKey; a refused key is gone. */
        UNPACED,
        /** As fast as the simulator accepts: a refused key is offered again until it is taken. */
        BACK_PRESSURE,
        /** At a given rate, keys due at fixed times; a refused key is gone. */
        PACED
    }

    private static void throughput(Options o, Arrivals arrivals) throws InterruptedException {
        say("");
        say("== Throughput: one key byte per input report (SimKeyboard.pressKey), %d ms per trial ==", o.trialMs);
        Trial unpaced = trial(Mode.UNPACED, 0, o.trialMs, arrivals);
        say("Unpaced (pressKey in a tight loop, a refused report is lost):");
        describe(unpaced);
        Trial pushed = trial(Mode.BACK_PRESSURE, 0, o.trialMs, arrivals);
        say("As fast as the simulator accepts (a refused report is offered again):");
        describe(pushed);

        say("Paced (fixed send times, a refused report is lost): search for the highest rate the pipeline"
                + " sustains (nothing lost, and drained within %.0f ms of the last send)", Trial.KEPT_UP_S * 1e3);
        double ok = 0;
        double failed = Double.NaN;
        double rate = Math.max(1000, Math.floor(pushed.deliveredRate() * 0.5));
        for (int t = 0; t < o.searchTrials; ++t) {
            Trial paced = trial(Mode.PACED, rate, o.trialMs, arrivals);
            boolean lossless = paced.sustained();
            say("  target %,9.0f B/s: sent at %,9.0f B/s, delivered %,9.0f B/s, lost %,6d, drained in %6.1f ms,"
                    + " CPU %3.0f%%%s", rate, paced.attemptRate(), paced.deliveredRate(), paced.lost(),
                    paced.drainSeconds() * 1e3, 100 * paced.cpuSeconds() / paced.deliverSeconds(),
                    lossless ? "" : paced.lost() > 0 ? "  <- loss" : "  <- fell behind");
            if (lossless) {
                ok = Math.max(ok, paced.attemptRate());
            } else {
                failed = Double.isNaN(failed) ? rate : Math.min(failed, rate);
            }
            if (lossless) {
                rate = Double.isNaN(failed) ? rate * 1.3 : (rate + failed) / 2;
            } else {
                rate = ok > 0 ? (ok + rate) / 2 : rate / 2;
            }
            if (!Double.isNaN(failed) && ok > 0 && failed / ok < 1.03) {
                break;
            }
        }
        say("Highest paced rate sustained without loss: %,.0f B/s%s", ok,
                Double.isNaN(failed) ? " (every rate tried was sustained)" : String.format(Locale.ROOT,
                        " (not sustained at %,.0f B/s)", failed));
    }

    private static void describe(Trial t) {
        say("  offered %,d in %.2f s = %,.0f B/s; accepted %,d, refused by the simulator %,d", t.attempted(),
                t.sendSeconds(), t.attemptRate(), t.accepted(), t.refused());
        say("  delivered to the listener %,d in %.2f s = %,.0f B/s (drained %.2f s after the last send);"
                + " lost %,d (accepted but lost %,d); out of order %,d", t.delivered(), t.deliverSeconds(),
                t.deliveredRate(), t.drainSeconds(), t.lost(), t.accepted() - t.delivered(), t.outOfOrder());
        say("  process CPU %.2f s over %.2f s = %.0f%% of one core, %.1f us per delivered byte", t.cpuSeconds(),
                t.deliverSeconds(), 100 * t.cpuSeconds() / t.deliverSeconds(),
                t.delivered() == 0 ? 0.0 : 1e6 * t.cpuSeconds() / t.delivered());
    }

    /**
     * Sends keys for {@code trialMs} milliseconds, waits for the pipeline to drain, and compares what the
     * listener received with what the simulator accepted.
     */
    private static Trial trial(Mode mode, double rate, int trialMs, Arrivals arrivals) throws InterruptedException {
        // Room for 500 000 accepted keys a second; a trial that fills it ends early.
        int capacity = (int) Math.min(Integer.MAX_VALUE - 8, Math.max(100_000L, (long) trialMs * 500L));
        int[] sent = new int[capacity];
        arrivals.reset(capacity);
        long attempted = 0;
        long accepted = 0;
        long refused = 0;
        long cpu0 = processCpuNs();
        long start = System.nanoTime();
        long end = start + TimeUnit.MILLISECONDS.toNanos(trialMs);
        double intervalNs = rate > 0 ? 1e9 / rate : 0;
        long now = start;
        while (now < end && accepted < capacity) {
            if (mode == Mode.PACED) {
                long due = start + (long) (attempted * intervalNs);
                if (due > now) {
                    LockSupport.parkNanos(due - now);
                    now = System.nanoTime();
                    continue;
                }
            }
            int key = keyFor(attempted);
            int queued = SimKeyboard.pressKey(NODE, key, 0);
            if (queued == 1) {
                sent[(int) accepted++] = key;
                ++attempted;
            } else if (mode == Mode.BACK_PRESSURE) {
                Thread.yield();
            } else {
                ++refused;
                ++attempted;
            }
            now = System.nanoTime();
        }
        long sendEnd = System.nanoTime();
        // Drained once every accepted key is in, or nothing has come for half a second.
        int seen = -1;
        long quietSince = System.nanoTime();
        while (arrivals.count() < accepted) {
            int c = arrivals.count();
            long t = System.nanoTime();
            if (c != seen) {
                seen = c;
                quietSince = t;
            } else if (t - quietSince > TimeUnit.MILLISECONDS.toNanos(500)) {
                break;
            }
            Thread.sleep(2);
        }
        int delivered = arrivals.count();
        long lastArrival = delivered > 0 ? arrivals.time(Math.min(delivered, capacity) - 1) : sendEnd;
        long cpu = processCpuNs() - cpu0;
        // Every delivered key must be the next accepted one: losses happen only where the simulator refuses.
        long outOfOrder = 0;
        for (int i = 0; i < Math.min(delivered, (int) accepted); ++i) {
            if (arrivals.key(i) != sent[i]) {
                ++outOfOrder;
            }
        }
        return new Trial(attempted, accepted, refused, delivered, outOfOrder, (sendEnd - start) / 1e9,
                (Math.max(lastArrival, sendEnd) - start) / 1e9, cpu / 1e9);
    }

    private static long processCpuNs() {
        java.lang.management.OperatingSystemMXBean os = ManagementFactory.getOperatingSystemMXBean();
        if (os instanceof com.sun.management.OperatingSystemMXBean sun) {
            return sun.getProcessCpuTime();
        }
        return 0;
    }

    // ---------------------------------------------------------------------------------------------
    // Primitives

    private static void primitives(Options o) {
        say("");
        say("== Primitives of the pipeline, %d rounds each (service closed) ==", o.rounds);
        header();
        long[] attach = new long[o.rounds];
        long[] detach = new long[o.rounds];
        if (UpcallProbe.measureAttach(attach, detach)) {
            row("AttachCurrentThread (thread attached anew)", attach);
            row("DetachCurrentThread", detach);
        } else {
            say("  attach/detach could not be measured");
        }
        long[] write = new long[o.rounds];
        long[] handoff = new long[o.rounds];
        if (UpcallProbe.measurePipe(write, handoff)) {
            row("write() of one byte into a pipe", write);
            row("one byte to a thread blocked in read()", handoff);
        } else {
            say("  pipe figures could not be measured");
        }
    }

    // ---------------------------------------------------------------------------------------------
    // Output

    private static void header() {
        say("  %-48s %9s %9s %9s %9s %9s", "(microseconds)", "median", "p90", "p99", "p99.9", "max");
    }

    private static void row(String what, long[] ns) {
        long[] sorted = ns.clone();
        Arrays.sort(sorted);
        say("  %-48s %9.1f %9.1f %9.1f %9.1f %9.1f", what, pct(sorted, 50), pct(sorted, 90), pct(sorted, 99),
                pct(sorted, 99.9), sorted[sorted.length - 1] / 1e3);
    }

    /** The p-th percentile (nearest rank) of sorted values, in microseconds. */
    private static double pct(long[] sorted, double p) {
        int rank = (int) Math.ceil(p / 100 * sorted.length);
        return sorted[Math.max(0, Math.min(sorted.length - 1, rank - 1))] / 1e3;
    }

    private static void say(String format, Object... args) {
        System.out.println(String.format(Locale.ROOT, format, args));
    }
}
