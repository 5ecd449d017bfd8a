// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import javax.management.MBeanServer;
import org.junit.jupiter.api.Test;

/**
 * What the services do for themselves, failing: a log handler that throws at every record and an MBean
 * server that refuses, over the stand-in native layer. No call fails after it acted, no event is lost,
 * the native state stays in step.
 */
class SelfReportFailuresTest extends StandInFixture {

    @Test
    void aThrowingLogCostsNoCallAndNoEvent() throws Exception {
        LogCapture failingLog = LogCapture.failing("the log is full");
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        TrovToneIndicatorService tone = new TrovToneIndicatorService();
        try {
            keyboard.open();
            keyboard.claim(0);
            keyboard.setAutoDisable(true);
            Recorder<Integer> keys = new Recorder<>();
            keyboard.addDataListener(e -> {  // an application that enables again in its listener
                try {
                    keyboard.setDeviceEnabled(true);
                    keyboard.setDataEventEnabled(true);
                } catch (TrovException failure) {
                    keys.add(-failure.getErrorCode());
                }
                keys.add(e.getKeyCode());  // once enabled again: the next key may come
            });
            keyboard.setDeviceEnabled(true);
            keyboard.setDataEventEnabled(true);
            stand.key(0x41);
            assertEquals(0x41, keys.next(WAIT_MS));
            stand.key(0x42);
            assertEquals(0x42, keys.next(WAIT_MS), "heard after AutoDisable's disable logged");

            tone.open();
            tone.claim(0);
            tone.setDeviceEnabled(true);
            tone.setTone1Command(new byte[] {7});
            Recorder<Integer> errors = new Recorder<>();
            tone.addErrorListener(e -> errors.add(e.getErrorLocus()));
            tone.sound(1, 0);  // no device under the stand-in: the write fails, and so does its log
            assertEquals(TrovConst.JPOS_EL_OUTPUT, errors.next(WAIT_MS));
            tone.release();
        } finally {
            keyboard.close();
            tone.close();
            failingLog.close();
        }
        assertEquals("closed {}", stand.counts());
    }

    @Test
    void aRefusingMBeanServerIsToldAndIgnored() throws Exception {
        MBeanServer refusing = (MBeanServer) java.lang.reflect.Proxy.newProxyInstance(getClass().getClassLoader(),
                new Class<?>[] {MBeanServer.class}, (proxy, method, args) -> {
                    throw new SecurityException("JMX is locked down");
                });
        DeviceMBean bean = new DeviceMBean(DeviceStatistics.of(ServiceKind.MSR), "SelfReportFailuresTest", refusing);
        assertFalse(bean.register());
        bean.unregister();
    }
}
