// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * Calls that take a timeout or promise a bound, and waits, against what other threads do meanwhile,
 * over the stand-in native layer: a native open held by a latch, a close followed at once by an open,
 * a power-off during a health check.
 */
class BoundedCallsTest extends StandInFixture {
    private final List<TrovService> opened = new ArrayList<>();

    @AfterEach
    void closeWhatWasOpened() {
        opened.forEach(TrovService::close);
    }

    @Test
    void claimsAndAHealthChecksRoundTripEndWhileAnotherThreadsOpenHoldsTheOpenings() throws Exception {
        TrovMSRService held = open(new TrovMSRService());
        held.claim(0);
        TrovMSRService other = open(new TrovMSRService());
        TrovPOSKeyboardService keyboard = open(new TrovPOSKeyboardService());
        CountDownLatch inOpen = new CountDownLatch(1);
        CountDownLatch openGoesOn = new CountDownLatch(1);
        stand.aroundNextOpen(true, () -> {
            inOpen.countDown();
            QueuedEventsTest.await(openGoesOn);
        });
        Thread opener = new Thread(() -> {
            try {
                open(new TrovToneIndicatorService());
            } catch (TrovException e) {
                throw new IllegalStateException(e);
            }
        });
        opener.start();
        QueuedEventsTest.await(inOpen);
        try {
            // Each ends while the open still holds the lock: the latch is counted down only afterwards.
            for (int timeout : new int[] {0, 100}) {
                assertEquals("failed " + TrovConst.JPOS_E_TIMEOUT, new Waiter(() -> {
                    other.claim(timeout);
                    return "the claim";
                }).outcome());
            }
            DeviceSession opening = keyboard.openSession();
            assertEquals("returned false", new Waiter(roundTrip(opening, 100)).outcome(),
                    "the external health check's round trip");
        } finally {
            openGoesOn.countDown();
            opener.join(WAIT_MS);
        }
    }

    @Test
    void aCloseEndsTheWaitsOfItsOpeningAlsoWhenTheObjectIsOpenedAgainAtOnce() throws Exception {
        TrovKeylockService keylock = open(new TrovKeylockService());
        keylock.setDeviceEnabled(true);
        TrovMSRService holder = open(new TrovMSRService());
        holder.claim(0);
        TrovMSRService msr = open(new TrovMSRService());
        Waiter keyWait = new Waiter(() -> {
            keylock.waitForKeylockChange(TrovConst.LOCK_KP_SUPR, TrovConst.JPOS_FOREVER);
            return "a position";
        });
        Waiter claimWait = new Waiter(() -> {
            msr.claim(TrovConst.JPOS_FOREVER);
            return "the claim";
        });
        // Each object is closed and opened again before its waiting thread can run: the threads are
        // held off the objects' monitors by holding them here.
        synchronized (keylockWaitOf(keylock)) {
            keylock.close();
            keylock.open();
        }
        synchronized (claimWaitOf(ServiceKind.MSR)) {
            msr.close();
            msr.open();
        }
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, claimWait.outcome());
        assertEquals("failed " + TrovConst.JPOS_E_CLOSED, keyWait.outcome());
        assertTrue(!msr.getClaimed(), "the new opening holds no claim it did not ask for");
    }

    @Test
    void aPositionPassedThroughEndsAWaitForIt() throws Exception {
        KeylockWait positions = new KeylockWait();
        positions.reset();
        positions.position(1);
        Waiter wait = new Waiter(() -> positions.await(2, TrovConst.JPOS_FOREVER));
        synchronized (positions) {  // the waiter wakes only once the key is at 3
            positions.position(2);
            positions.position(3);
        }
        assertEquals("returned 2", wait.outcome());
    }

    @Test
    void aHealthCheckAcrossAPowerOffLeavesTheNextOpeningAlone() throws Exception {
        TrovPOSKeyboardService keyboard = open(new TrovPOSKeyboardService());
        keyboard.claim(0);
        keyboard.setDeviceEnabled(true);
        DeviceSession opening = keyboard.openSession();
        // The external health check's round trip; no answer comes under the stand-in.
        Waiter check = new Waiter(roundTrip(opening, HealthCheck.EXTERNAL_BOUND_MILLIS));
        stand.powerOffOnItsThread();
        keyboard.close();  // the last close of the off-line opening ends it
        stand.replug();
        TrovPOSKeyboardService nextKeyboard = open(new TrovPOSKeyboardService());
        TrovKeylockService keylock = open(new TrovKeylockService());
        keylock.setDeviceEnabled(true);
        assertEquals("returned false", check.outcome());
        assertEquals("open {KEYLOCK=1, KEYBOARD=1}", stand.counts());
        assertTrue(keylock.getDeviceEnabled() && nextKeyboard.getState() == TrovConst.JPOS_S_IDLE);
    }

    private static Waiter.Call roundTrip(DeviceSession opening, long timeoutMillis) {
        return () -> {
            try {
                return opening.keylockAnswered(timeoutMillis);
            } catch (InterruptedException e) {
                throw new TrovException(TrovConst.JPOS_E_FAILURE, "interrupted", e);
            }
        };
    }

    private static Object keylockWaitOf(TrovKeylockService keylock) throws ReflectiveOperationException {
        java.lang.reflect.Field field = TrovKeylockService.class.getDeclaredField("positions");
        field.setAccessible(true);
        return field.get(keylock);
    }

    private static Object claimWaitOf(ServiceKind kind) throws ReflectiveOperationException {
        java.lang.reflect.Field field = TrovService.class.getDeclaredField("CLAIM_WAITS");
        field.setAccessible(true);
        return ((Object[]) field.get(null))[kind.ordinal()];
    }

    private <S extends TrovService> S open(S service) throws TrovException {
        service.open();
        synchronized (opened) {
            opened.add(service);
        }
        return service;
    }
}
