// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Runs a main class of the test jar in a JVM of its own, the way this JVM runs: with the same launcher
 * and options, -Xcheck:jni and the simulator preloaded, but without the product jar, so that the child
 * can bind the library to a service class of its own.
 */
final class ChildJvm {
    private ChildJvm() {
    }

    /** The child's output (standard output and error together), once it ended with status 0. */
    static String run(String mainClass) throws Exception {
        return run(mainClass, "trov-tests.jar", "trovsim.jar");
    }

    /** As {@link #run(String)}, with a class path of the given jars of the build directory. */
    static String run(String mainClass, String... jars) throws Exception {
        return runWith(mainClass, List.of(), jars);
    }

    /**
     * Starts the child as {@link #runWith} runs it, its output (standard output and error together) going to
     * the given file, and returns it running.
     */
    static Process start(String mainClass, List<String> arguments, Path output, String... jars) throws Exception {
        String build = System.getProperty("trov.test.build");
        String launcher = System.getProperty("trov.test.launcher", "");
        List<String> command = new ArrayList<>();
        if (!launcher.isEmpty()) {
            command.add(launcher);
        }
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        String jvmOptions = System.getProperty("trov.test.jvmOptions", "").trim();
        if (!jvmOptions.isEmpty()) {
            command.addAll(List.of(jvmOptions.split("\\s+")));
        }
        command.addAll(List.of("-Xcheck:jni", "-Djava.library.path=" + build,
                "-cp", build + "/" + String.join(":" + build + "/", jars), mainClass));
        command.addAll(arguments);
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        String preload = build + "/libtrovsim.so";
        if (launcher.isEmpty()) {
            builder.environment().put("LD_PRELOAD", preload);
        } else {
            builder.environment().put("TROV_GUEST_ENV", "LD_PRELOAD=" + preload);
            builder.environment().remove("LD_PRELOAD");
        }
        return builder.redirectOutput(output.toFile()).start();
    }

    /** As {@link #run(String, String...)}, with arguments for the main class. */
    static String runWith(String mainClass, List<String> arguments, String... jars) throws Exception {
        // The output goes to a file, so that a child that never ends cannot block the test on its pipe.
        Path output = Files.createTempFile("child-jvm", ".log");
        try {
            Process child = start(mainClass, arguments, output, jars);
            boolean ended = child.waitFor(120, TimeUnit.SECONDS);
            if (!ended) {
                child.destroyForcibly().waitFor(10, TimeUnit.SECONDS);
            }
            String text = Files.readString(output, StandardCharsets.UTF_8);
            assertTrue(ended, "the child JVM did not end within 120 s:\n" + text);
            assertEquals(0, child.exitValue(), "the child JVM failed:\n" + text);
            assertFalse(text.contains("WARNING"), "the JNI checker complained in the child:\n" + text);
            return text;
        } finally {
            Files.deleteIfExists(output);
        }
    }
}
