// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** A claim of a JVM that is killed goes with it, while this JVM stays attached to the claim table. */
class KilledClaimerTest extends KeyboardFixture {
    @Test
    void theClaimOfAKilledJvmIsTakenByAWaitingClaim() throws Exception {
        assumeSimulator("the child JVM brings its own simulated keyboard");
        Path output = Files.createTempFile("claim-holder", ".log");
        Process holder = ChildJvm.start(ClaimHolder.class.getName(), List.of("600000"), output, "trov-tests.jar",
                "trovsim.jar", "TrovJPOS.jar");
        try {
            awaitTrue(() -> said(output, "claimed"), 60_000, "the child's claim");
            TrovMSRService msr = msr();
            msr.open();
            TrovException refused = assertThrows(TrovException.class, () -> msr.claim(0));
            assertEquals(TrovConst.JPOS_E_TIMEOUT, refused.getErrorCode(), "held by a live process");

            CompletableFuture<Void> waiting = new CompletableFuture<>();
            Thread claimer = new Thread(() -> {
                try {
                    msr.claim(5000);
                    waiting.complete(null);
                } catch (Throwable t) {
                    waiting.completeExceptionally(t);
                }
            });
            claimer.start();
            awaitTrue(() -> claimer.getState() == Thread.State.TIMED_WAITING, EVENT_WAIT_MS, "the claim to wait");
            holder.destroyForcibly();
            assertTrue(holder.waitFor(10, TimeUnit.SECONDS), "the child was killed");
            waiting.get(10, TimeUnit.SECONDS);
            assertTrue(msr.getClaimed(), "taken from the killed process within the wait");
        } finally {
            holder.destroyForcibly().waitFor(10, TimeUnit.SECONDS);
            Files.deleteIfExists(output);
        }
    }

    private static boolean said(Path output, String word) {
        try {
            return Files.readString(output, StandardCharsets.UTF_8).contains(word);
        } catch (java.io.IOException e) {
            return false;
        }
    }
}
