package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * A keylock service class that lacks one of its listener methods, loaded with the library in a JVM of
 * its own (the library can be bound to one class of that name per JVM).
 */
class LackingListenerTest {
    @Test
    void openFailsWithTheLookupExceptionAndReleasesTheDevice() throws Exception {
        String build = System.getProperty("trov.test.build");
        String launcher = System.getProperty("trov.test.launcher", "");
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";

        List<String> command = new ArrayList<>();
        if (!launcher.isEmpty()) {
            command.add(launcher);
        }
        command.add(java);
        String jvmOptions = System.getProperty("trov.test.jvmOptions", "").trim();
        if (!jvmOptions.isEmpty()) {
            command.addAll(List.of(jvmOptions.split("\\s+")));
        }
        command.addAll(List.of("-Xcheck:jni", "-Djava.library.path=" + build,
                "-cp", build + "/lacking-listener.jar:" + build + "/trovsim.jar", "LackingListenerMain"));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        String preload = build + "/libtrovsim.so";
        if (launcher.isEmpty()) {
            builder.environment().put("LD_PRELOAD", preload);
        } else {
            builder.environment().put("TROV_GUEST_ENV", "LD_PRELOAD=" + preload);
            builder.environment().remove("LD_PRELOAD");
        }
        Process child = builder.start();
        assertTrue(child.waitFor(120, TimeUnit.SECONDS), "the child JVM did not end");
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);

        assertEquals(0, child.exitValue(), output);
        assertTrue(output.contains("thrown: java.lang.NoSuchMethodError: keylockDirectIOEvent"), output);
        assertTrue(output.contains("device handles after the failed open: 0"), output);
        assertTrue(output.contains("second open: java.lang.NoSuchMethodError"), output);
        assertFalse(output.contains("WARNING"), "the JNI checker complained:\n" + output);
    }
}
