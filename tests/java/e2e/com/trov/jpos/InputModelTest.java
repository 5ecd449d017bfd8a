// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayDeque;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** The input model's queue over a stand-in dispatcher thread and owner: what is delivered, when, in which order. */
@Tag("stand-in")
class InputModelTest {
    private final ExecutorService dispatcher = Executors.newSingleThreadExecutor();
    private final List<String> heard = new CopyOnWriteArrayList<>();
    private final ArrayDeque<Integer> answers = new ArrayDeque<>();
    private boolean canReadAgain;
    private boolean failNextData;

    /** The dispatcher reports what a delivery throws; here it is heard. */
    private final InputModel<String> model = new InputModel<>(task -> dispatcher.execute(() -> {
        try {
            task.run();
        } catch (IllegalStateException e) {
            heard.add("threw");
        }
    }), new InputModel.Owner<>() {
        public void fillProperties(String data) {
            heard.add("fill " + data);
        }
        public void deliverData(String data) {
            if (failNextData) {
                failNextData = false;
                throw new IllegalStateException("listener failed");
            }
            heard.add("data " + data);
        }
        public int deliverError(int code, int extended, int locus) {
            heard.add("error " + code + " locus " + locus);
            return answers.isEmpty() ? TrovConst.JPOS_ER_CLEAR : answers.poll();
        }
        public void autoDisable() {
            heard.add("auto-disable");
        }
        public boolean readAgain() {
            return canReadAgain;
        }
    });

    @AfterEach
    void stop() {
        dispatcher.shutdownNow();
    }

    /** Runs on the dispatcher thread, after every task queued before (a release the setters scheduled). */
    private void onDispatcher(Runnable step) throws Exception {
        dispatcher.submit(step).get();
    }

    private void data(String... items) throws Exception {
        onDispatcher(() -> {
            for (String item : items) {
                model.offerData(item);
            }
        });
    }

    private void status(String status) throws Exception {
        onDispatcher(() -> model.offerStatus(() -> heard.add("status " + status)));
    }

    /** What was heard since the last take, once the dispatcher ran what was queued (twice: a step may queue another). */
    private List<String> take() throws Exception {
        onDispatcher(() -> { });
        onDispatcher(() -> { });
        List<String> taken = List.copyOf(heard);
        heard.clear();
        return taken;
    }

    /** What setting DataEventEnabled once lets through. */
    private List<String> next() throws Exception {
        model.setDataEventEnabled(true);
        return take();
    }

    @Test
    void oneDataEventPerEnableWhileStatusPassesAndFreezeHoldsAllInTheirOwnOrder() throws Exception {
        model.deviceEnabled(true);
        data("a", "b");
        status("s1");
        assertEquals(List.of("status s1"), take(), "data waits for DataEventEnabled, status does not");
        assertEquals(2, model.getDataCount());
        assertEquals(List.of("fill a", "data a"), next());
        assertFalse(model.getDataEventEnabled(), "delivering a data event sets DataEventEnabled false");
        assertEquals(1, model.getDataCount());

        model.setFreezeEvents(true);
        model.setDataEventEnabled(true);
        status("s2");
        data("c");
        onDispatcher(() -> model.offerOutputComplete(() -> heard.add("output complete")));
        assertEquals(List.of(), take(), "frozen: nothing passes");
        model.setFreezeEvents(false);
        assertEquals(List.of("fill b", "data b", "status s2", "output complete"), take());
        assertEquals(List.of("fill c", "data c"), next());
    }

    @Test
    void autoDisableStopsInputButWhatIsQueuedIsStillDeliveredAndClearInputDropsIt() throws Exception {
        model.deviceEnabled(true);
        model.setAutoDisable(true);
        data("a", "b");
        assertEquals(List.of("auto-disable"), take());
        assertEquals(1, model.getDataCount(), "nothing taken after the auto-disable");
        assertEquals(List.of("fill a", "data a"), next(), "disabling keeps queued input");

        model.deviceEnabled(true);
        model.setAutoDisable(false);
        data("c", "d");
        onDispatcher(() -> model.offerError(111, 0, null));
        assertTrue(model.inErrorState());
        model.clearInput();
        assertEquals(0, model.getDataCount());
        assertFalse(model.inErrorState(), "clearInput ends the ERROR state");
        assertEquals(List.of(), next());
    }

    @Test
    void anInputErrorGoesAheadOfQueuedDataAndIsAnsweredByContinueRetryOrClear() throws Exception {
        model.deviceEnabled(true);
        data("a", "b");
        onDispatcher(() -> model.offerError(201, 0, "partial"));
        answers.add(TrovConst.JPOS_ER_CONTINUEINPUT);
        assertEquals(List.of("fill partial", "error 201 locus 3"), next(), "locus 3 at the head");
        assertTrue(model.inErrorState(), "continue input keeps the ERROR state");
        assertEquals(List.of("fill a", "data a"), next());
        assertEquals(List.of("fill b", "data b"), next());
        answers.add(TrovConst.JPOS_ER_CONTINUEINPUT);  // not allowed for locus 2: acts as clear
        assertEquals(List.of("fill partial", "error 201 locus 2"), next(), "then the error again");
        assertFalse(model.inErrorState());

        onDispatcher(() -> model.offerError(203, 0, null));
        data("c");
        answers.add(TrovConst.JPOS_ER_RETRY);
        assertEquals(List.of("error 203 locus 2"), next());
        assertEquals(0, model.getDataCount(), "retry where the device cannot read again acts as clear");

        canReadAgain = true;
        onDispatcher(() -> model.offerError(203, 0, null));
        data("d");
        answers.add(TrovConst.JPOS_ER_RETRY);
        next();
        assertFalse(model.inErrorState());
        assertEquals(1, model.getDataCount(), "a retry keeps the queued data");
    }

    @Test
    void aThrowingDeliveryLeavesNothingStrandedAndResetDropsEverythingHeld() throws Exception {
        model.deviceEnabled(true);
        model.setFreezeEvents(true);
        data("a");
        status("s");
        model.setDataEventEnabled(true);
        failNextData = true;
        model.setFreezeEvents(false);
        assertEquals(List.of("fill a", "threw", "status s"), take(), "the status behind the failed delivery still comes");

        model.setFreezeEvents(true);
        status("held");
        model.reset();
        assertFalse(model.getFreezeEvents());
        status("after");
        assertEquals(List.of("status after"), take(), "a reset drops held status events too");
        data("x");
        assertEquals(0, model.getDataCount(), "reset leaves the device disabled");
    }
}
