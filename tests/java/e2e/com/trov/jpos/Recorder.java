// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertNotNull;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/** Collects what a listener received, on whatever thread it ran, for the test thread to wait for. */
final class Recorder<T> {
    private final LinkedBlockingQueue<T> pending = new LinkedBlockingQueue<>();
    private final List<T> all = new CopyOnWriteArrayList<>();

    void add(T item) {
        all.add(item);
        pending.add(item);
    }

    /** The next item not yet taken; fails when none arrives within the time-out. */
    T next(long timeoutMs) throws InterruptedException {
        T item = pending.poll(timeoutMs, TimeUnit.MILLISECONDS);
        assertNotNull(item, "nothing arrived within " + timeoutMs + " ms; so far: " + all);
        return item;
    }

    /** The next {@code count} items not yet taken, in order. */
    List<T> next(int count, long timeoutMs) throws InterruptedException {
        List<T> items = new ArrayList<>();
        for (int i = 0; i < count; ++i) {
            items.add(next(timeoutMs));
        }
        return items;
    }

    /** A recorder of the status updates {@code service} hears. */
    static Recorder<Integer> statusesOf(TrovService service) {
        Recorder<Integer> heard = new Recorder<>();
        try {
            service.setPowerNotify(TrovConst.JPOS_PN_ENABLED);
        } catch (TrovException e) {
            throw new IllegalStateException("statuses are recorded from before the enable", e);
        }
        service.addStatusUpdateListener(e -> heard.add(e.getStatus()));
        return heard;
    }

    /** A recorder of the key events {@code keyboard} hears. */
    static Recorder<KeyboardDataEvent> keysOf(TrovPOSKeyboardService keyboard) {
        Recorder<KeyboardDataEvent> heard = new Recorder<>();
        keyboard.addDataListener(e -> {
            heard.add(e);
            rearm(keyboard);
        });
        return heard;
    }

    /** A recorder of the swipes {@code msr} hears. */
    static Recorder<MsrDataEvent> swipesOf(TrovMSRService msr) {
        Recorder<MsrDataEvent> heard = new Recorder<>();
        msr.addDataListener(e -> {
            heard.add(e);
            rearm(msr);
        });
        return heard;
    }

    /** Sets DataEventEnabled again after a data event, as an application that wants every event does. */
    static void rearm(TrovInputService service) {
        try {
            service.setDataEventEnabled(true);
        } catch (TrovException e) {
            // Closed meanwhile: nothing more to hear.
        }
    }

    /** Everything received so far, taken or not. */
    List<T> all() {
        return List.copyOf(all);
    }
}
