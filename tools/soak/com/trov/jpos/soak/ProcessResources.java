// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.soak;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;

/** What the process holds, as the kernel sees it: threads, descriptors, System V objects, the FIFO. */
final class ProcessResources {
    private ProcessResources() {
    }

    /** Names of the process's threads (one entry per thread), the tools' own "soak-" threads left out. */
    static List<String> threads() {
        List<String> names = new ArrayList<>();
        try (Stream<Path> tasks = Files.list(Paths.get("/proc/self/task"))) {
            for (Path task : (Iterable<Path>) tasks::iterator) {
                try {
                    String name = Files.readString(task.resolve("comm")).trim();
                    if (!name.startsWith("soak-")) {
                        names.add(name);
                    }
                } catch (IOException gone) {
                    // the thread ended meanwhile
                }
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        return names;
    }

    /**
     * What the process's descriptors lead to. Jar files and the JDK's own files are left out: the JVM
     * opens them lazily as classes are first used, which is not the library's doing.
     */
    static List<String> descriptors() {
        List<String> targets = new ArrayList<>();
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            for (Path fd : (Iterable<Path>) fds::iterator) {
                try {
                    String target = Files.readSymbolicLink(fd).toString();
                    if (!target.endsWith(".jar") && !target.startsWith("/usr/lib/jvm/")) {
                        targets.add(target);
                    }
                } catch (IOException gone) {
                    // the descriptor of the listing itself, closed by now
                }
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        return targets;
    }

    /** Whether a System V object with this key exists ("shm" or "msg"). */
    static boolean sysvKeyExists(String kind, int key) {
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/sysvipc/" + kind))) {
                String[] fields = line.trim().split("\\s+");
                if (fields.length > 1 && fields[0].equals(Integer.toString(key))) {
                    return true;
                }
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        return false;
    }

    /** The library's FIFO in the working directory. */
    static boolean fifoExists() {
        return Files.exists(Paths.get("InputFifo"));
    }

    /**
     * Every difference from the baseline that shows a leak, each starting with the kind of resource
     * (threads, descriptors, shm, msg, fifo); empty when all is back.
     */
    static List<String> leaksSince(List<String> baseThreads, List<String> baseFds) {
        List<String> leaks = new ArrayList<>();
        List<String> threads = threads();
        if (threads.size() > baseThreads.size()) {
            List<String> extra = new ArrayList<>(threads);
            baseThreads.forEach(extra::remove);
            leaks.add("threads " + threads.size() + " > baseline " + baseThreads.size() + ", extra " + extra);
        }
        List<String> fds = descriptors();
        if (fds.size() > baseFds.size()) {
            List<String> extra = new ArrayList<>(fds);
            baseFds.forEach(extra::remove);
            leaks.add("descriptors " + fds.size() + " > baseline " + baseFds.size() + ", extra " + extra);
        }
        if (sysvKeyExists("shm", 100)) {
            leaks.add("shm segment with key 100");
        }
        if (sysvKeyExists("msg", 111)) {
            leaks.add("msg queue with key 111");
        }
        if (fifoExists()) {
            leaks.add("fifo InputFifo in the working directory");
        }
        return leaks;
    }
}
