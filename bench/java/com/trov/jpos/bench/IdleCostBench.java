// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.bench;

import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import com.trov.jpos.sim.SimKeyboard;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * What the library costs while nothing happens, and how long opening and closing take, with all four
 * services open, claimed and enabled against the simulated keyboard:
 *
 * <ul>
 * <li>idle CPU of the threads the opening started (milliseconds of CPU per second), and their number;
 * <li>the first open() (the one that finds the keyboard and starts the threads) and the last close()
 * (the one that stops them), median and maximum over a number of rounds;
 * <li>CPU of those threads while the keyboard is away (shorter than the 10 s reconnect limit).
 * </ul>
 *
 * CPU time is read per thread from /proc/self/task/TID/schedstat (nanoseconds on the CPU), so the JVM's
 * own threads are left out. A benchmark, not a test: it prints figures and asserts nothing.
 */
public final class IdleCostBench {

    private static final int NODE = 0;

    private IdleCostBench() {
    }

    public static void main(String[] args) throws Exception {
        int idleSeconds = intOption(args, "idleS", 20);
        int rounds = intOption(args, "rounds", 20);
        int awaySeconds = intOption(args, "awayS", 5);
        System.out.printf("TrovJPOS idle cost: idle %d s, %d open/close rounds, keyboard away %d s%n", idleSeconds,
                rounds, awaySeconds);
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(NODE);

        // Open/close rounds first, so that the idle figures below come from a warmed-up JVM as well.
        long[] opens = new long[rounds];
        long[] closes = new long[rounds];
        for (int round = 0; round < rounds; ++round) {
            TrovService[] services = services();
            long start = System.nanoTime();
            services[0].open();
            opens[round] = System.nanoTime() - start;
            for (int i = 1; i < services.length; ++i) {
                services[i].open();
            }
            enableAll(services);
            Thread.sleep(200);
            for (int i = 0; i < services.length - 1; ++i) {
                services[i].close();
            }
            start = System.nanoTime();
            services[services.length - 1].close();
            closes[round] = System.nanoTime() - start;
        }
        System.out.printf("first open(): median %.2f ms, max %.2f ms%n", median(opens) / 1e6, max(opens) / 1e6);
        System.out.printf("last close(): median %.2f ms, max %.2f ms%n", median(closes) / 1e6, max(closes) / 1e6);

        Map<Integer, Long> before = cpuByThread();
        TrovService[] services = services();
        for (TrovService service : services) {
            service.open();
        }
        enableAll(services);
        Thread.sleep(2000);  // the first power report and the JIT settle
        Map<Integer, Long> started = cpuByThread();
        started.keySet().removeAll(before.keySet());
        // The JVM starts and ends compiler threads as it likes; they are not the opening's.
        started.keySet().removeIf(tid -> name(tid).startsWith("C1 ") || name(tid).startsWith("C2 "));
        System.out.printf("threads started by the opening (library and the event thread): %d%n", started.size());

        report("idle CPU of those threads", cpuOf(started.keySet(), idleSeconds * 1000L), idleSeconds);
        SimKeyboard.unplug(NODE);
        report("CPU while the keyboard is away", cpuOf(started.keySet(), awaySeconds * 1000L), awaySeconds);
        SimKeyboard.replug(NODE, 0);
        Thread.sleep(1000);
        for (TrovService service : services) {
            service.close();
        }
    }

    private static TrovService[] services() {
        return new TrovService[] {new TrovKeylockService(), new TrovPOSKeyboardService(), new TrovMSRService(),
            new TrovToneIndicatorService()};
    }

    private static void enableAll(TrovService[] services) throws Exception {
        for (TrovService service : services) {
            service.claim(0);
            service.setDeviceEnabled(true);
        }
    }

    /** CPU nanoseconds each of the given threads uses over the next `millis` milliseconds. */
    private static Map<Integer, Long> cpuOf(java.util.Set<Integer> threads, long millis) throws Exception {
        Map<Integer, Long> start = cpuByThread();
        Thread.sleep(millis);
        Map<Integer, Long> end = cpuByThread();
        Map<Integer, Long> used = new HashMap<>();
        for (int tid : threads) {
            if (end.containsKey(tid)) {
                used.put(tid, end.get(tid) - start.getOrDefault(tid, 0L));
            }
        }
        return used;
    }

    private static void report(String what, Map<Integer, Long> used, int seconds) {
        long total = used.values().stream().mapToLong(Long::longValue).sum();
        System.out.printf("%s: %.3f ms/s%n", what, total / 1e6 / seconds);
        used.forEach((tid, nanos) -> System.out.printf("  thread %d (%s): %.3f ms/s%n", tid, name(tid),
                nanos / 1e6 / seconds));
    }

    private static Map<Integer, Long> cpuByThread() throws IOException {
        Map<Integer, Long> cpu = new HashMap<>();
        List<Path> tasks = new ArrayList<>();
        try (var stream = Files.list(Path.of("/proc/self/task"))) {
            stream.forEach(tasks::add);
        }
        for (Path task : tasks) {
            try {
                String line = Files.readString(task.resolve("schedstat")).trim();
                cpu.put(Integer.parseInt(task.getFileName().toString()), Long.parseLong(line.split(" ")[0]));
            } catch (IOException | RuntimeException gone) {
                // the thread ended meanwhile
            }
        }
        return cpu;
    }

    private static String name(int tid) {
        try {
            return Files.readString(Path.of("/proc/self/task/" + tid + "/comm")).trim();
        } catch (IOException gone) {
            return "";
        }
    }

    private static long median(long[] values) {
        long[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    private static long max(long[] values) {
        return Arrays.stream(values).max().orElse(0);
    }

    private static int intOption(String[] args, String name, int fallback) {
        for (String arg : args) {
            if (arg.startsWith(name + "=")) {
                return Integer.parseInt(arg.substring(name.length() + 1));
            }
        }
        return fallback;
    }
}
