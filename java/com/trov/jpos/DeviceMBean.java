// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.lang.management.ManagementFactory;
import java.util.ArrayList;
import java.util.EnumMap;
import java.util.Hashtable;
import java.util.List;
import java.util.Map;
import javax.management.Attribute;
import javax.management.AttributeList;
import javax.management.AttributeNotFoundException;
import javax.management.DynamicMBean;
import javax.management.InstanceAlreadyExistsException;
import javax.management.InstanceNotFoundException;
import javax.management.JMException;
import javax.management.MBeanAttributeInfo;
import javax.management.MBeanInfo;
import javax.management.MBeanServer;
import javax.management.MalformedObjectNameException;
import javax.management.ObjectName;
import javax.management.ReflectionException;

/**
 * The JMX view of one device category of this process: its statistics and its health, read-only, so
 * that fleet monitoring that reads JMX sees a till's keyboard without application code.
 *
 * <p>Registered with the platform MBean server as
 * {@code com.trov.jpos:type=<category>,name=<service class>}, for example
 * {@code com.trov.jpos:type=MSR,name=TrovMSRService}. Its attributes:
 * <ul>
 *   <li>{@code DeviceCategory} (String): Keylock, POSKeyboard, MSR or ToneIndicator;</li>
 *   <li>{@code Online} (Boolean): whether the keyboard is open and online;</li>
 *   <li>{@code PowerState} (Integer): the last power state reported, 2000 (unknown) to 2004;</li>
 *   <li>{@code HealthState} (String): "unchecked", "healthy" or "unhealthy", from the last health
 *       check of any object of the category;</li>
 *   <li>{@code CheckHealthText} (String): that check's text;</li>
 *   <li>{@code ManufacturerName}, {@code ModelName}, {@code SerialNumber}, {@code FirmwareRevision}
 *       (String): the equipment facts;</li>
 *   <li>one Long per statistic of the category, named as in the statistics document.</li>
 * </ul>
 * A DynamicMBean, so that each category shows exactly its own statistics and no interface of it is
 * public. Thread-safe: attributes are read from the thread-safe statistics and volatile fields.
 */
final class DeviceMBean implements DynamicMBean {

    /** The JMX domain of the services' MBeans. */
    static final String DOMAIN = "com.trov.jpos";

    private static final Map<ServiceKind, DeviceMBean> PROCESS = new EnumMap<>(ServiceKind.class);

    private final DeviceStatistics statistics;
    private final ObjectName name;
    private final MBeanServer server;
    private volatile int powerState = TrovConst.JPOS_PS_UNKNOWN;
    private volatile HealthCheck.Result health;

    /** Guarded by this: whether this object registered itself. */
    private boolean registered;

    DeviceMBean(DeviceStatistics statistics, String serviceName, MBeanServer server) {
        this.statistics = statistics;
        this.server = server;
        try {
            this.name = new ObjectName(DOMAIN, objectNameKeys(statistics.category(), serviceName));
        } catch (MalformedObjectNameException e) {
            throw new IllegalArgumentException("no valid MBean name for " + serviceName, e);
        }
    }

    private static Hashtable<String, String> objectNameKeys(String category, String serviceName) {
        Hashtable<String, String> keys = new Hashtable<>();
        keys.put("type", category);
        keys.put("name", serviceName.matches("[A-Za-z0-9_.-]+") ? serviceName : ObjectName.quote(serviceName));
        return keys;
    }

    /** The process's MBean of the category, over {@link DeviceStatistics#of(ServiceKind)}; made at the first call. */
    static DeviceMBean of(ServiceKind kind) {
        synchronized (PROCESS) {
            return PROCESS.computeIfAbsent(kind, k -> new DeviceMBean(DeviceStatistics.of(k), serviceName(k),
                    platformServer()));
        }
    }

    /** The platform MBean server, or one that refuses everything when it cannot be had (a security manager). */
    private static MBeanServer platformServer() {
        try {
            return ManagementFactory.getPlatformMBeanServer();
        } catch (RuntimeException | Error e) {
            ServiceLog.jmxFailed(e);
            return (MBeanServer) java.lang.reflect.Proxy.newProxyInstance(DeviceMBean.class.getClassLoader(),
                    new Class<?>[] {MBeanServer.class}, (proxy, method, args) -> {
                        throw new SecurityException("no platform MBean server: " + e);
                    });
        }
    }

    private static String serviceName(ServiceKind kind) {
        switch (kind) {
            case KEYLOCK:
                return "TrovKeylockService";
            case KEYBOARD:
                return "TrovPOSKeyboardService";
            case MSR:
                return "TrovMSRService";
            default:
                return "TrovToneIndicatorService";
        }
    }

    ObjectName objectName() {
        return name;
    }

    /**
     * Registers the MBean unless it is registered already. A name taken by another object (the
     * classes loaded twice in one JVM) is left to that object. A server that refuses (a security
     * manager, a locked-down JMX) is told once and otherwise ignored: the services work without JMX.
     * Never throws.
     *
     * @return whether this MBean is registered afterwards
     */
    synchronized boolean register() {
        if (!registered) {
            try {
                server.registerMBean(this, name);
                registered = true;
            } catch (InstanceAlreadyExistsException e) {
                return false;
            } catch (JMException | RuntimeException e) {
                ServiceLog.jmxFailed(e);
                return false;
            }
        }
        return true;
    }

    /**
     * Unregisters the MBean if this object registered it; otherwise does nothing. A refusal is told
     * once and otherwise ignored. Never throws.
     */
    synchronized void unregister() {
        if (registered) {
            registered = false;
            try {
                server.unregisterMBean(name);
            } catch (InstanceNotFoundException e) {
                // Unregistered by someone else meanwhile: the wanted outcome.
            } catch (JMException | RuntimeException e) {
                ServiceLog.jmxFailed(e);
            }
        }
    }

    /** Records the power state last reported. */
    void setPowerState(int powerState) {
        this.powerState = powerState;
    }

    /** Records the outcome of a health check of any object of the category. */
    void setHealth(HealthCheck.Result health) {
        this.health = health;
    }

    @Override
    public Object getAttribute(String attribute) throws AttributeNotFoundException {
        HealthCheck.Result lastHealth = health;
        DeviceStatistics.Equipment equipment = statistics.equipment();
        switch (attribute) {
            case "DeviceCategory":
                return statistics.category();
            case "Online":
                return statistics.isOnline();
            case "PowerState":
                return powerState;
            case "HealthState":
                return lastHealth == null ? "unchecked" : lastHealth.healthy() ? "healthy" : "unhealthy";
            case "CheckHealthText":
                return lastHealth == null ? "" : lastHealth.text();
            case "ManufacturerName":
                return equipment.manufacturer();
            case "ModelName":
                return equipment.model();
            case "SerialNumber":
                return equipment.serialNumber();
            case "FirmwareRevision":
                return equipment.firmwareRevision();
            default:
                for (DeviceStatistics.Statistic s : statistics.statistics()) {
                    if (s.uposName.equals(attribute)) {
                        return statistics.value(s);
                    }
                }
                throw new AttributeNotFoundException(attribute);
        }
    }

    @Override
    public AttributeList getAttributes(String[] attributes) {
        AttributeList list = new AttributeList();
        for (String attribute : attributes) {
            try {
                list.add(new Attribute(attribute, getAttribute(attribute)));
            } catch (AttributeNotFoundException e) {
                // Left out, as the interface asks.
            }
        }
        return list;
    }

    @Override
    public void setAttribute(Attribute attribute) throws AttributeNotFoundException {
        throw new AttributeNotFoundException(attribute.getName() + " is read-only");
    }

    @Override
    public AttributeList setAttributes(AttributeList attributes) {
        return new AttributeList();
    }

    @Override
    public Object invoke(String actionName, Object[] params, String[] signature) throws ReflectionException {
        throw new ReflectionException(new NoSuchMethodException(actionName),
                "The device MBean has no operations");
    }

    @Override
    public MBeanInfo getMBeanInfo() {
        List<MBeanAttributeInfo> attributes = new ArrayList<>();
        attributes.add(text("DeviceCategory", "The UnifiedPOS device category"));
        attributes.add(new MBeanAttributeInfo("Online", "java.lang.Boolean",
                "Whether the keyboard is open and online", true, false, true));
        attributes.add(new MBeanAttributeInfo("PowerState", "java.lang.Integer",
                "The last power state reported: 2000 unknown, 2001 online, 2002 off, 2003 offline, 2004 off or offline",
                true, false, false));
        attributes.add(text("HealthState", "unchecked, healthy or unhealthy, from the last health check"));
        attributes.add(text("CheckHealthText", "The text of the last health check"));
        attributes.add(text("ManufacturerName", "The keyboard's manufacturer, from its USB identity"));
        attributes.add(text("ModelName", "The keyboard's model, from its USB identity"));
        attributes.add(text("SerialNumber", "The keyboard's serial number, from its USB identity"));
        attributes.add(text("FirmwareRevision", "The keyboard's firmware revision, from its USB identity"));
        for (DeviceStatistics.Statistic s : statistics.statistics()) {
            attributes.add(new MBeanAttributeInfo(s.uposName, "java.lang.Long",
                    "The statistic " + s.uposName + ", as retrieveStatistics reports it", true, false, false));
        }
        return new MBeanInfo(DeviceMBean.class.getName(), "Statistics and health of the " + statistics.category()
                + " of the POS keyboard", attributes.toArray(new MBeanAttributeInfo[0]), null, null, null);
    }

    private static MBeanAttributeInfo text(String name, String description) {
        return new MBeanAttributeInfo(name, "java.lang.String", description, true, false, false);
    }
}
