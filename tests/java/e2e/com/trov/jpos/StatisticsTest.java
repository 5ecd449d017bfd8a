// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.DeviceStatistics.Statistic;
import java.io.ByteArrayInputStream;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import javax.management.MBeanServer;
import javax.management.ObjectName;
import javax.xml.parsers.DocumentBuilderFactory;
import org.junit.jupiter.api.Test;
import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.Node;

/** Statistics: the UPOSStat document, the name filter, resets, and the JMX view. */
class StatisticsTest {

    private final AtomicLong clock = new AtomicLong();
    private final DeviceStatistics msr = new DeviceStatistics(ServiceKind.MSR, clock::get);

    private static Document parse(String xml) throws Exception {
        return DocumentBuilderFactory.newInstance().newDocumentBuilder()
                .parse(new ByteArrayInputStream(xml.getBytes(StandardCharsets.UTF_8)));
    }

    private String retrieve(String request) throws TrovException {
        String[] buffer = {request};
        msr.retrieveStatistics(buffer);
        return buffer[0];
    }

    /** "Name=value" of each top-level Parameter, in document order. */
    private List<String> parameters(String request) throws Exception {
        List<String> found = new ArrayList<>();
        for (Node n = parse(retrieve(request)).getDocumentElement().getFirstChild(); n != null; n = n.getNextSibling()) {
            if (n instanceof Element && n.getNodeName().equals("Parameter")) {
                Element p = (Element) n;
                found.add(p.getElementsByTagName("Name").item(0).getTextContent() + "="
                        + p.getElementsByTagName("Value").item(0).getTextContent());
            }
        }
        return found;
    }

    @Test
    void documentHasTheUposStatShape() throws Exception {
        msr.setEquipment(new DeviceStatistics.Equipment("A&B <Ltd>", "K1", "S9", "1.00", "USB", ""));
        msr.count(Statistic.GOOD_READS);
        msr.count(Statistic.GOOD_READS);
        msr.count(Statistic.FAILED_READS);
        msr.deviceOnline();
        clock.set(TimeUnit.HOURS.toMillis(2) + 5_000);

        Element root = parse(retrieve("")).getDocumentElement();
        assertEquals("UPOSStat", root.getNodeName());
        assertEquals(1, root.getElementsByTagName("Event").getLength());
        Element equipment = (Element) root.getElementsByTagName("Equipment").item(0);
        assertEquals("MSR", ((Element) equipment.getElementsByTagName("DeviceCategory").item(0)).getAttribute("UPOS"));
        assertEquals("A&B <Ltd>", equipment.getElementsByTagName("ManufacturerName").item(0).getTextContent());
        for (String fact : new String[] {"UnifiedPOSVersion", "ModelName", "SerialNumber", "FirmwareRevision",
                "Interface", "InstallationDate"}) {
            assertEquals(1, equipment.getElementsByTagName(fact).getLength(), fact);
        }
        assertEquals(List.of("HoursPoweredCount=2", "CommunicationErrorCount=0", "OnlineSeconds=7205", "SwipeCount=0",
                "GoodReadCount=2", "FailedReadCount=1", "UnreadableCardCount=0"), parameters(""));
    }

    @Test
    void requestNamesSelectStatistics() throws Exception {
        msr.count(Statistic.GOOD_READS);
        assertEquals(List.of("GoodReadCount=1", "SwipeCount=0"), parameters(" GoodReadCount,SwipeCount "));
        assertEquals(List.of("OnlineSeconds=0", "SwipeCount=0"), parameters("M_"));
        assertEquals(5, parameters("U_").size());
        assertEquals(List.of(), parameters("SerialNumber"));

        String[] buffer = {"KeyPressedCount"};
        TrovException e = assertThrows(TrovException.class, () -> msr.retrieveStatistics(buffer));
        assertEquals(TrovConst.JPOS_E_ILLEGAL, e.getErrorCode());
        assertEquals("KeyPressedCount", buffer[0]);
        assertThrows(TrovException.class, () -> msr.retrieveStatistics(new String[0]));
        assertThrows(IllegalArgumentException.class, () -> msr.count(Statistic.KEYS_PRESSED));
    }

    @Test
    void resetClearsNamedOrAllAndRefusesEquipmentFacts() throws Exception {
        msr.deviceOnline();
        msr.count(Statistic.GOOD_READS);
        msr.count(Statistic.FAILED_READS);
        clock.set(TimeUnit.HOURS.toMillis(3));
        msr.deviceOutage();
        clock.set(TimeUnit.HOURS.toMillis(9));
        assertEquals(3, msr.value(Statistic.HOURS_POWERED), "the outage stopped the online time");
        assertEquals(1, msr.value(Statistic.COMMUNICATION_ERRORS));

        msr.resetStatistics("GoodReadCount");
        assertEquals(0, msr.value(Statistic.GOOD_READS));
        assertEquals(1, msr.value(Statistic.FAILED_READS));
        for (String refused : new String[] {"SerialNumber", "FailedReadCount,Bogus"}) {
            TrovException e = assertThrows(TrovException.class, () -> msr.resetStatistics(refused));
            assertEquals(TrovConst.JPOS_E_ILLEGAL, e.getErrorCode());
            assertEquals(1, msr.value(Statistic.FAILED_READS), "nothing is reset when a name is refused");
        }

        msr.deviceOnline();
        clock.addAndGet(TimeUnit.HOURS.toMillis(1));
        msr.resetStatistics("");
        clock.addAndGet(TimeUnit.HOURS.toMillis(1));
        assertEquals(List.of("HoursPoweredCount=1", "CommunicationErrorCount=0", "OnlineSeconds=3600", "SwipeCount=0",
                "GoodReadCount=0", "FailedReadCount=0", "UnreadableCardCount=0"), parameters(""));
    }

    @Test
    void mbeanShowsCountsAndHealthAndRegistersOnce() throws Exception {
        MBeanServer server = ManagementFactory.getPlatformMBeanServer();
        DeviceMBean bean = new DeviceMBean(msr, "StatisticsTest", server);
        ObjectName name = new ObjectName("com.trov.jpos:type=MSR,name=StatisticsTest");
        assertEquals(name, bean.objectName());
        assertTrue(bean.register());
        assertTrue(bean.register());
        try {
            msr.count(Statistic.SWIPES);
            assertEquals(1L, server.getAttribute(name, "SwipeCount"));
            assertEquals("unchecked", server.getAttribute(name, "HealthState"));
            bean.setHealth(new HealthCheck.Result(TrovConst.JPOS_CH_EXTERNAL, false, "External HCheck: x"));
            assertEquals("unhealthy", server.getAttribute(name, "HealthState"));
            assertEquals("External HCheck: x", server.getAttribute(name, "CheckHealthText"));
            assertFalse(server.isRegistered(new ObjectName("com.trov.jpos:type=MSR,name=TrovMSRService")));
        } finally {
            bean.unregister();
            bean.unregister();
        }
        assertFalse(server.isRegistered(name));
        assertEquals(new ObjectName("com.trov.jpos:type=POSKeyboard,name=TrovPOSKeyboardService"),
                DeviceMBean.of(ServiceKind.KEYBOARD).objectName());
    }
}
