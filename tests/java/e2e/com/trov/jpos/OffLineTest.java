// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * The objects between the keyboard's power-off and its return, over the stand-in layer, whose
 * keyboard stays away from the power-off until the test plugs it in again.
 */
class OffLineTest extends StandInFixture {

    @Test
    void offLineTheObjectsKeepTheirStateRefuseDeviceCallsWith108AndAreTakenUpAgainWithoutACall() throws Exception {
        LogCapture records = new LogCapture();
        DeviceSession.searchEvery(1);
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        Recorder<Integer> statuses = Recorder.statusesOf(keyboard);
        Recorder<KeyboardDataEvent> keys = Recorder.keysOf(keyboard);
        TrovMSRService msr = new TrovMSRService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        TrovKeylockService keylock = new TrovKeylockService();
        List<TrovService> all = List.of(keyboard, msr, tone, keylock);
        try {
            for (TrovService service : List.of(keyboard, msr, tone)) {
                KeyboardFixture.ready(service);
            }
            stand.powerOffOnItsThread();
            assertEquals(TrovConst.SUE_POWER_OFF_OFFLINE, statuses.next(WAIT_MS));
            keylock.open();  // joins the off-line opening
            for (TrovService service : List.of(keyboard, msr, tone)) {
                assertEquals(TrovConst.JPOS_S_IDLE, service.getState());
                assertTrue(service.getClaimed() && service.getDeviceEnabled());
                assertEquals(TrovConst.JPOS_PS_OFF_OFFLINE, service.getPowerState());
            }
            for (Executable call : List.<Executable>of(() -> keyboard.readTco(1), tone::soundImmediate,
                    () -> keyboard.checkHealth(TrovConst.JPOS_CH_EXTERNAL), () -> keylock.claim(0),
                    () -> keylock.setDeviceEnabled(true))) {
                assertEquals(TrovConst.JPOS_E_OFFLINE, assertThrows(TrovException.class, call).getErrorCode());
            }
            stand.key(7);  // of the opening the library is shutting down
            stand.claimElsewhere(ServiceKind.MSR);

            // Many tries of the search, and not one record for them.
            SimulatedKeyboardFixture.awaitTrue(() -> stand.awayOpens.get() >= 5, WAIT_MS, "tries of the search");
            int recordsSoFar = records.all().size();
            int triesSoFar = stand.awayOpens.get();
            SimulatedKeyboardFixture.awaitTrue(() -> stand.awayOpens.get() >= triesSoFar + 20, WAIT_MS, "more tries");
            assertEquals(recordsSoFar, records.all().size(), () -> LogCapture.messages(records.all()).toString());

            stand.replug();
            assertEquals(TrovConst.SUE_POWER_ONLINE, statuses.next(WAIT_MS));
            assertEquals("open {KEYLOCK=1, MSR=1, KEYBOARD=1, TONE=1}", stand.counts());
            assertTrue(keyboard.getClaimed() && tone.getClaimed() && keyboard.getDeviceEnabled());
            assertFalse(msr.getClaimed(), "claimed by another process meanwhile");
            TrovException notClaimed = assertThrows(TrovException.class, () -> msr.checkHealth(TrovConst.JPOS_CH_INTERNAL));
            assertEquals(TrovConst.JPOS_E_NOTCLAIMED, notClaimed.getErrorCode());
            stand.key(8);
            assertEquals(8, keys.next(WAIT_MS).getKeyCode(), "the first key heard is one after the return");

            // The search logs the return once it has enabled everything, after the 2001 was queued.
            java.util.function.Supplier<List<String>> outageRecords = () -> LogCapture.messages(records.all()).stream()
                    .filter(m -> m.contains("2004") || m.contains("back after")).toList();
            SimulatedKeyboardFixture.awaitTrue(() -> outageRecords.get().size() >= 2, WAIT_MS, "the return's record");
            List<String> outage = outageRecords.get();
            assertEquals(2, outage.size(), outage::toString);
            assertTrue(outage.get(0).contains("power off/offline (2004)") && outage.get(1).contains("meanwhile: [" + msr),
                    outage::toString);
        } finally {
            all.forEach(TrovService::close);
            DeviceSession.searchEvery(1000);
            records.close();
        }
        assertEquals("closed {}", stand.counts());
    }

}
