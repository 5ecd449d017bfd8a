// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.time.Instant;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.EnumMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.function.LongSupplier;

/**
 * The statistics of one device category in this process: the counts its services keep (keys, swipes,
 * good and failed reads, keylock turns, tones, outages) and the time the keyboard was online, with
 * the equipment facts, as {@code retrieveStatistics} and {@code resetStatistics} hand them over.
 *
 * <p>There is one instance per category and process ({@link #of(ServiceKind)}), shared by every
 * service object of the category, since they share the one device. The counts start at 0 when the
 * class is loaded and live as long as the process: nothing is stored on the device or on disk.
 *
 * <p>Statistic names: those UnifiedPOS defines ({@code HoursPoweredCount},
 * {@code CommunicationErrorCount}, {@code KeyPressedCount}, {@code GoodReadCount},
 * {@code FailedReadCount}, {@code UnreadableCardCount}) and this service's own ({@code OnlineSeconds},
 * {@code KeyPositionChangeCount}, {@code KeyReleasedCount}, {@code SwipeCount},
 * {@code ToneSoundedCount}); see {@link Statistic}. A request names them comma-separated, or is
 * {@code ""} for all of the category, {@code "U_"} for the UnifiedPOS ones, {@code "M_"} for the
 * service's own. The equipment facts ({@code UnifiedPOSVersion}, {@code DeviceCategory},
 * {@code ManufacturerName}, {@code ModelName}, {@code SerialNumber}, {@code FirmwareRevision},
 * {@code Interface}, {@code InstallationDate}) may be named in a retrieval, which always carries
 * them, and are not resettable.
 *
 * <p>Thread-safe: counts are atomic; the online time and the equipment are guarded by this object's
 * monitor, which is taken for short sections only and never with another lock held inside it.
 */
final class DeviceStatistics {

    /** The UnifiedPOS version the statistics document names. */
    static final String UNIFIEDPOS_VERSION = "1.14";

    /** A statistic: its name, whether UnifiedPOS defines it, and the category that keeps it (null: all). */
    enum Statistic {
        /** Whole hours the keyboard was online since the last reset; derived from the online time. */
        HOURS_POWERED("HoursPoweredCount", true, null),
        /** Outages: the keyboard went away while open. */
        COMMUNICATION_ERRORS("CommunicationErrorCount", true, null),
        /** Seconds the keyboard was online since the last reset; derived from the online time. */
        ONLINE_SECONDS("OnlineSeconds", false, null),
        /** Keylock positions reported. */
        KEY_POSITION_CHANGES("KeyPositionChangeCount", false, ServiceKind.KEYLOCK),
        /** Key downs reported. */
        KEYS_PRESSED("KeyPressedCount", true, ServiceKind.KEYBOARD),
        /** Key ups reported. */
        KEYS_RELEASED("KeyReleasedCount", false, ServiceKind.KEYBOARD),
        /** Swipes reported, good or not. */
        SWIPES("SwipeCount", false, ServiceKind.MSR),
        /** Swipes that became data events. */
        GOOD_READS("GoodReadCount", true, ServiceKind.MSR),
        /** Swipes that became error events. */
        FAILED_READS("FailedReadCount", true, ServiceKind.MSR),
        /** Swipes in which no track could be read at all. */
        UNREADABLE_CARDS("UnreadableCardCount", true, ServiceKind.MSR),
        /** Tones sounded (each cycle of a sound counts). */
        TONES_SOUNDED("ToneSoundedCount", false, ServiceKind.TONE);

        final String uposName;
        final boolean unifiedPos;
        final ServiceKind only;

        Statistic(String uposName, boolean unifiedPos, ServiceKind only) {
            this.uposName = uposName;
            this.unifiedPos = unifiedPos;
            this.only = only;
        }

        boolean keptBy(ServiceKind kind) {
            return only == null || only == kind;
        }

        boolean derivedFromOnlineTime() {
            return this == HOURS_POWERED || this == ONLINE_SECONDS;
        }
    }

    /** The equipment facts of the statistics document, none resettable; empty text where unknown. */
    record Equipment(String manufacturer, String model, String serialNumber, String firmwareRevision,
            String interfaceName, String installationDate) {

        /** What is known before the keyboard was opened: the interface only. */
        static final Equipment UNKNOWN = new Equipment("", "", "", "", "USB", "");
    }

    private static final List<String> EQUIPMENT_NAMES = List.of("UnifiedPOSVersion", "DeviceCategory",
            "ManufacturerName", "ModelName", "SerialNumber", "FirmwareRevision", "Interface", "InstallationDate");

    private static final Map<ServiceKind, DeviceStatistics> PROCESS = new EnumMap<>(ServiceKind.class);

    private final ServiceKind kind;
    private final LongSupplier clockMillis;
    private final Map<Statistic, AtomicLong> counts = new EnumMap<>(Statistic.class);

    // Guarded by this.
    private Equipment equipment = Equipment.UNKNOWN;
    private long onlineMillis;
    /** When the current online period began, by {@link #clockMillis}; -1 while not online. */
    private long onlineSince = -1;

    /**
     * Statistics of one category on the given monotonic clock; for tests. Services use
     * {@link #of(ServiceKind)}.
     */
    DeviceStatistics(ServiceKind kind, LongSupplier clockMillis) {
        this.kind = kind;
        this.clockMillis = clockMillis;
        for (Statistic s : Statistic.values()) {
            if (s.keptBy(kind) && !s.derivedFromOnlineTime()) {
                counts.put(s, new AtomicLong());
            }
        }
    }

    /** The process's statistics of the category, made at the first call. */
    static DeviceStatistics of(ServiceKind kind) {
        synchronized (PROCESS) {
            return PROCESS.computeIfAbsent(kind,
                    k -> new DeviceStatistics(k, () -> TimeUnit.NANOSECONDS.toMillis(System.nanoTime())));
        }
    }

    ServiceKind kind() {
        return kind;
    }

    /** The UnifiedPOS name of the device category, as in the document's {@code DeviceCategory}. */
    String category() {
        switch (kind) {
            case KEYLOCK:
                return "Keylock";
            case KEYBOARD:
                return "POSKeyboard";
            case MSR:
                return "MSR";
            default:
                return "ToneIndicator";
        }
    }

    /** Counts one more of {@code statistic}, which must be a count this category keeps. */
    void count(Statistic statistic) {
        AtomicLong count = counts.get(statistic);
        if (count == null) {
            throw new IllegalArgumentException(statistic.uposName + " is not kept for the " + category());
        }
        count.incrementAndGet();
    }

    /** The keyboard is online: the online time runs from now (again). */
    synchronized void deviceOnline() {
        if (onlineSince < 0) {
            onlineSince = clockMillis.getAsLong();
        }
    }

    /** The keyboard went away while open: one more communication error; the online time stops. */
    synchronized void deviceOutage() {
        counts.get(Statistic.COMMUNICATION_ERRORS).incrementAndGet();
        stopOnlineTime();
    }

    /** The device was closed: the online time stops, and nothing is counted. */
    synchronized void deviceClosed() {
        stopOnlineTime();
    }

    /** Whether the online time runs. */
    synchronized boolean isOnline() {
        return onlineSince >= 0;
    }

    synchronized void setEquipment(Equipment equipment) {
        this.equipment = equipment;
    }

    synchronized Equipment equipment() {
        return equipment;
    }

    private void stopOnlineTime() {
        if (onlineSince >= 0) {
            onlineMillis += clockMillis.getAsLong() - onlineSince;
            onlineSince = -1;
        }
    }

    private synchronized long onlineMillisNow() {
        return onlineMillis + (onlineSince >= 0 ? clockMillis.getAsLong() - onlineSince : 0);
    }

    /** The statistics this category keeps, in document order. */
    List<Statistic> statistics() {
        List<Statistic> kept = new ArrayList<>();
        for (Statistic s : Statistic.values()) {
            if (s.keptBy(kind)) {
                kept.add(s);
            }
        }
        return kept;
    }

    /** The current value of a statistic this category keeps. */
    long value(Statistic statistic) {
        switch (statistic) {
            case HOURS_POWERED:
                return TimeUnit.MILLISECONDS.toHours(onlineMillisNow());
            case ONLINE_SECONDS:
                return TimeUnit.MILLISECONDS.toSeconds(onlineMillisNow());
            default:
                AtomicLong count = counts.get(statistic);
                if (count == null) {
                    throw new IllegalArgumentException(statistic.uposName + " is not kept for the " + category());
                }
                return count.get();
        }
    }

    /**
     * {@code retrieveStatistics}: takes the request from {@code buffer[0]} and puts the document in its
     * place.
     *
     * @param buffer one element: {@code ""} (or {@code null}) for all statistics, {@code "U_"},
     *               {@code "M_"}, or names separated by commas
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} when the buffer has no element or a name
     *                       is not a statistic of this category; the buffer is then unchanged
     */
    void retrieveStatistics(String[] buffer) throws TrovException {
        if (buffer == null || buffer.length < 1) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "retrieveStatistics needs a buffer of one element");
        }
        buffer[0] = document(selected(buffer[0], false));
    }

    /**
     * {@code resetStatistics}: sets the named statistics to 0, or all resettable ones for {@code ""}.
     * The online time restarts from now when the keyboard is online. Nothing is reset when a name is
     * refused.
     *
     * @param names {@code ""} (or {@code null}), {@code "U_"}, {@code "M_"}, or names separated by commas
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} when a name is not a statistic of this
     *                       category or names an equipment fact
     */
    void resetStatistics(String names) throws TrovException {
        Set<Statistic> reset = selected(names, true);
        synchronized (this) {
            for (Statistic s : reset) {
                if (s.derivedFromOnlineTime()) {
                    onlineMillis = 0;
                    onlineSince = onlineSince >= 0 ? clockMillis.getAsLong() : -1;
                } else {
                    counts.get(s).set(0);
                }
            }
        }
    }

    private Set<Statistic> selected(String request, boolean forReset) throws TrovException {
        Set<Statistic> chosen = new LinkedHashSet<>();
        String text = request == null ? "" : request.trim();
        if (text.isEmpty()) {
            chosen.addAll(statistics());
            return chosen;
        }
        for (String part : text.split(",")) {
            String name = part.trim();
            if (name.equals("U_") || name.equals("M_")) {
                for (Statistic s : statistics()) {
                    if (s.unifiedPos == name.equals("U_")) {
                        chosen.add(s);
                    }
                }
            } else if (EQUIPMENT_NAMES.contains(name)) {
                if (forReset) {
                    throw new TrovException(TrovConst.JPOS_E_ILLEGAL, name + " is an equipment fact, not resettable");
                }
            } else {
                chosen.add(named(name));
            }
        }
        return chosen;
    }

    private Statistic named(String name) throws TrovException {
        for (Statistic s : statistics()) {
            if (s.uposName.equals(name)) {
                return s;
            }
        }
        throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "\"" + name + "\" is not a statistic of the "
                + category() + " (known: " + String.join(", ", names()) + ")");
    }

    private List<String> names() {
        List<String> names = new ArrayList<>();
        for (Statistic s : statistics()) {
            names.add(s.uposName);
        }
        return names;
    }

    private String document(Set<Statistic> chosen) {
        Equipment e = equipment();
        StringBuilder xml = new StringBuilder(1024);
        xml.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")
                .append("<UPOSStat version=\"").append(UNIFIEDPOS_VERSION).append(".0\">\n")
                .append("  <Event>\n");
        parameter(xml, "    ", "Method", "retrieveStatistics");
        parameter(xml, "    ", "Time", Instant.now().truncatedTo(ChronoUnit.SECONDS).toString());
        xml.append("  </Event>\n  <Equipment>\n");
        element(xml, "UnifiedPOSVersion", UNIFIEDPOS_VERSION);
        xml.append("    <DeviceCategory UPOS=\"").append(category()).append("\"/>\n");
        element(xml, "ManufacturerName", e.manufacturer());
        element(xml, "ModelName", e.model());
        element(xml, "SerialNumber", e.serialNumber());
        element(xml, "FirmwareRevision", e.firmwareRevision());
        element(xml, "Interface", e.interfaceName());
        element(xml, "InstallationDate", e.installationDate());
        xml.append("  </Equipment>\n");
        for (Statistic s : chosen) {
            parameter(xml, "  ", s.uposName, Long.toString(value(s)));
        }
        return xml.append("</UPOSStat>\n").toString();
    }

    private static void element(StringBuilder xml, String name, String text) {
        xml.append("    <").append(name).append('>').append(escaped(text)).append("</").append(name).append(">\n");
    }

    private static void parameter(StringBuilder xml, String indent, String name, String value) {
        xml.append(indent).append("<Parameter>\n")
                .append(indent).append("  <Name>").append(escaped(name)).append("</Name>\n")
                .append(indent).append("  <Value>").append(escaped(value)).append("</Value>\n")
                .append(indent).append("</Parameter>\n");
    }

    /** Text as XML character data: markup characters escaped, control characters (invalid in XML) dropped. */
    static String escaped(String text) {
        StringBuilder out = new StringBuilder(text.length());
        for (char c : text.toCharArray()) {
            switch (c) {
                case '&':
                    out.append("&amp;");
                    break;
                case '<':
                    out.append("&lt;");
                    break;
                case '>':
                    out.append("&gt;");
                    break;
                case '"':
                    out.append("&quot;");
                    break;
                default:
                    if (c >= 0x20 || c == '\t' || c == '\n') {
                        out.append(c);
                    }
            }
        }
        return out.toString();
    }
}
