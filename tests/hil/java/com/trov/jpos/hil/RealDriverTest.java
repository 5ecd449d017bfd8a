package com.trov.jpos.hil;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.trov.jpos.KeyboardDataEvent;
import com.trov.jpos.MsrDataEvent;
import com.trov.jpos.ServiceState;
import com.trov.jpos.StatusUpdateEvent;
import com.trov.jpos.TrovConst;
import com.trov.jpos.TrovException;
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.TrovMSRService;
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.TrovService;
import com.trov.jpos.TrovToneIndicatorService;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * The four services through their public API, in a real JVM, against the real Linux usbhid/hiddev
 * driver: trovkbd-firmware plays the keyboard at the device end of a USB gadget cable (dummy_hcd), and
 * the library finds the kernel's hiddev node for it. Runs inside the VM of the real-driver tier
 * (tests/hil/run.sh), never against the simulator.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealDriverTest {
    private static final Duration EVENT_LIMIT = Duration.ofSeconds(5);

    private static FirmwareLink firmware;
    private final List<TrovService> opened = new ArrayList<>();

    @BeforeAll
    static void linkFirmware() {
        firmware = FirmwareLink.fromProperties();
    }

    @BeforeEach
    void keyboardAsAtPowerUp() throws Exception {
        firmware.run("reset");
        // A claim table an earlier test left behind is its failure, reported there; removed here, so that
        // it cannot fail the tests after it too.
        if (claimTableExists()) {
            Process ipcrm = new ProcessBuilder("ipcrm", "-M", "100").inheritIO().start();
            assertEquals(0, ipcrm.waitFor(), "ipcrm of a left-over claim table");
        }
    }

    @AfterEach
    void closeEverything() {
        opened.forEach(TrovService::close);
    }

    private <S extends TrovService> S opened(S service) throws TrovException {
        opened.add(service);
        service.open();
        return service;
    }

    private <S extends TrovService> S enabled(S service) throws TrovException {
        opened(service);
        service.claim();
        service.setDeviceEnabled(true);
        return service;
    }

    /** Whether a shared-memory segment with the claim table's key (100) exists. */
    private static boolean claimTableExists() throws IOException {
        return claimTableId() != null;
    }

    /** The System V id of the claim table's segment (key 100), or null when there is none. */
    private static String claimTableId() throws IOException {
        // Columns: key shmid perms size ...; the key is printed in decimal.
        List<String> lines = Files.readAllLines(Path.of("/proc/sysvipc/shm"), StandardCharsets.US_ASCII);
        return lines.stream().skip(1).map(line -> line.trim().split("\\s+"))
                .filter(columns -> columns[0].equals("100")).map(columns -> columns[1]).findFirst().orElse(null);
    }

    private static boolean fifoExists() {
        return Files.exists(Path.of("InputFifo"));
    }

    /** Whether this process holds the FIFO it made, whose name it has released. */
    private static boolean fifoHeld() throws IOException {
        try (var fds = Files.list(Path.of("/proc/self/fd"))) {
            return fds.anyMatch(fd -> {
                try {
                    return Files.readSymbolicLink(fd).toString().endsWith("/InputFifo (deleted)");
                } catch (IOException e) {
                    return false;  // closed meanwhile
                }
            });
        }
    }

    private static void awaitTrue(java.util.function.BooleanSupplier condition, Duration limit, String what) {
        long end = System.nanoTime() + limit.toNanos();
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < end, what);
            FirmwareLink.pause(20);
        }
    }

    private static byte[] bytes(int... values) {
        byte[] out = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            out[i] = (byte) values[i];
        }
        return out;
    }

    @Test
    @Order(1)
    void theKeyboardIsFoundOnlyWhilePluggedIn() throws Exception {
        firmware.run("unplug");
        TrovKeylockService keylock = new TrovKeylockService();
        TrovException e = assertThrows(TrovException.class, keylock::open);
        assertEquals(TrovConst.JPOS_E_NOSERVICE, e.getErrorCode());

        firmware.run("replug");
        opened(keylock);
        assertEquals(ServiceState.IDLE, keylock.getState());
        String id = claimTableId();
        assertTrue(id != null, "the first open creates the claim table");
        assertTrue(fifoHeld(), "the reader made its FIFO in the working directory");
        assertFalse(fifoExists(), "and released the name for the next process");
        keylock.close();
        // In a freshly booted system the first System V segment gets the id 0.
        assertFalse(claimTableExists(), "the last close removes the claim table (it had the System V id " + id + ")");
        assertFalse(fifoExists(), "the last close removes the FIFO");
    }

    @Test
    @Order(2)
    void enablingAsksForTheKeylockPositionAndTurnsArriveCountedFromOne() throws Exception {
        firmware.run("keylock 2");
        EventQueue<StatusUpdateEvent> positions = new EventQueue<>();
        TrovKeylockService keylock = new TrovKeylockService();
        keylock.addStatusUpdateListener(positions::add);
        opened(keylock);
        int mark = firmware.mark();
        keylock.setDeviceEnabled(true);
        assertArrayEquals(bytes(0xEF, 0x07), firmware.receivedSince(mark, 2), "the position request");
        assertEquals(3, positions.next(EVENT_LIMIT, "answer to the position request").getStatus());
        assertEquals(3, keylock.getKeylockPosition());

        firmware.run("turn 5");
        assertEquals(6, positions.next(EVENT_LIMIT, "keylock turn").getStatus());
        firmware.run("turn 0");
        assertEquals(1, positions.next(EVENT_LIMIT, "keylock turn").getStatus());
    }

    @Test
    @Order(3)
    void keysArriveWithTheirPrefixesAndHighCodesUnsigned() throws Exception {
        EventQueue<KeyboardDataEvent> keys = new EventQueue<>();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        keyboard.addDataListener(keys::add);
        enabled(keyboard);
        firmware.run("press 41");
        firmware.run("release c8 ext");
        firmware.run("press 4b ext");
        firmware.run("release 4b ext");
        firmware.run("press a0");
        // The kernel reports the zero bytes of a report as events too; they carry no key.
        firmware.run("raw 00 42 00 00 00 43");
        int down = TrovConst.KBD_ET_DOWN;
        int up = TrovConst.KBD_ET_UP;
        List<KeyboardDataEvent> expected = List.of(new KeyboardDataEvent(0x41, down), new KeyboardDataEvent(0xC8, up),
                new KeyboardDataEvent(0x4B, down), new KeyboardDataEvent(0x4B, up), new KeyboardDataEvent(0xA0, down),
                new KeyboardDataEvent(0x42, down), new KeyboardDataEvent(0x43, down));
        List<KeyboardDataEvent> got = new ArrayList<>();
        for (int i = 0; i < expected.size(); i++) {
            got.add(keys.next(EVENT_LIMIT, "key event " + i + " after " + got));
        }
        assertEquals(expected, got);
    }

    @Test
    @Order(4)
    void aThreeTrackSwipeArrivesWhole() throws Exception {
        EventQueue<MsrDataEvent> swipes = new EventQueue<>();
        TrovMSRService msr = new TrovMSRService();
        msr.addDataListener(swipes::add);
        enabled(msr);
        String track1 = "%B4111111111111111^HIL/TEST^2512101000000000000000000000000?";
        String track2 = ";4111111111111111=25121010000000000000?";
        StringBuilder track3 = new StringBuilder(";");
        while (track3.length() < 255) {
            track3.append((char) ('0' + track3.length() % 10));
        }
        firmware.run("swipe " + track1 + " " + track2 + " " + track3);
        MsrDataEvent swipe = swipes.next(EVENT_LIMIT, "swipe");
        assertEquals(track1, new String(swipe.getTrack1(), StandardCharsets.US_ASCII));
        assertEquals(track2, new String(swipe.getTrack2(), StandardCharsets.US_ASCII));
        assertEquals(track3.toString(), new String(swipe.getTrack3(), StandardCharsets.US_ASCII), "a 255-byte track");

        firmware.run("swipe - ;123? -");
        swipe = swipes.next(EVENT_LIMIT, "swipe with empty tracks");
        assertEquals(0, swipe.getTrack1().length);
        assertEquals(";123?", new String(swipe.getTrack2(), StandardCharsets.US_ASCII));
        assertEquals(0, swipe.getTrack3().length);
    }

    @Test
    @Order(5)
    void rawKeyboardAndToneCommandsReachTheFirmwareByteForByte() throws Exception {
        TrovPOSKeyboardService keyboard = enabled(new TrovPOSKeyboardService());
        TrovToneIndicatorService tone = enabled(new TrovToneIndicatorService());
        int mark = firmware.mark();
        // Bytes from 0x80 up travel as negative usage values; a zero after the first byte is sent too.
        byte[] command = bytes(0x1B, 0x81, 0x00, 0xFF, 0x7F, 0x80, 0x01);
        keyboard.writeCommand(command);
        assertArrayEquals(command, firmware.receivedSince(mark, command.length));

        mark = firmware.mark();
        byte[] sound = bytes(0x0C, 0x9F, 0x01, 0xC0);
        tone.sound(sound);
        assertArrayEquals(sound, firmware.receivedSince(mark, sound.length));
    }

    @Test
    @Order(6)
    void aTcoQueryIsAnsweredFromTheFirmwaresTable() throws Exception {
        firmware.run("tco 02 1A2B");
        TrovPOSKeyboardService keyboard = enabled(new TrovPOSKeyboardService());
        int mark = firmware.mark();
        assertEquals(0x1A2B, keyboard.readTco(2));
        assertArrayEquals(bytes(0xEF, 0x50, 0xEF, 0x49, 0x31, 0x02), firmware.receivedSince(mark, 6));
        assertEquals(0, keyboard.readTco(0x85), "an index without a value is answered with no digits");
    }

    @Test
    @Order(7)
    void anUnplugShorterThanTenSecondsReopensTheDevice() throws Exception {
        EventQueue<StatusUpdateEvent> power = new EventQueue<>();
        EventQueue<KeyboardDataEvent> keys = new EventQueue<>();
        EventQueue<MsrDataEvent> swipes = new EventQueue<>();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        keyboard.addStatusUpdateListener(power::add);
        keyboard.addDataListener(keys::add);
        TrovMSRService msr = new TrovMSRService();
        msr.addDataListener(swipes::add);
        enabled(keyboard);
        enabled(msr);

        firmware.run("unplug");
        FirmwareLink.pause(2000);
        firmware.run("replug");
        // The reopen hands the MSR listener empty tracks: a swipe cut by the outage is gone.
        MsrDataEvent emptied = swipes.next(Duration.ofSeconds(8), "empty tracks after the reopen");
        assertEquals(new MsrDataEvent(new byte[0], new byte[0], new byte[0]), emptied);
        assertEquals(ServiceState.ENABLED, keyboard.getState());
        firmware.run("press 20");
        assertEquals(new KeyboardDataEvent(0x20, TrovConst.KBD_ET_DOWN), keys.next(EVENT_LIMIT, "key after the reopen"));
        assertFalse(power.collect(Duration.ofMillis(1500)).stream()
                .anyMatch(e -> e.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE), "a short outage is no power-off");
    }

    @Test
    @Order(8)
    void anUnplugBeyondTenSecondsShutsEveryServiceDown() throws Exception {
        EventQueue<StatusUpdateEvent> power = new EventQueue<>();
        TrovPOSKeyboardService keyboard = new TrovPOSKeyboardService();
        keyboard.addStatusUpdateListener(power::add);
        TrovKeylockService keylock = opened(new TrovKeylockService());
        enabled(keyboard);
        keylock.setDeviceEnabled(true);

        long unplugged = System.nanoTime();
        firmware.run("unplug");
        power.awaitMatching(e -> e.getStatus() == TrovConst.SUE_POWER_OFF_OFFLINE, Duration.ofSeconds(20), "power off");
        long waitedMs = (System.nanoTime() - unplugged) / 1_000_000;
        assertTrue(waitedMs >= 9_500, "power-off came after only " + waitedMs + " ms");
        assertEquals(ServiceState.CLOSED, keyboard.getState());
        assertEquals(ServiceState.CLOSED, keylock.getState());
        awaitTrue(() -> !fifoExists(), Duration.ofSeconds(5), "the shutdown removes the FIFO");
        assertFalse(claimTableExists(), "the shutdown removes the claim table");

        firmware.run("replug");
        TrovKeylockService again = opened(new TrovKeylockService());
        assertEquals(ServiceState.IDLE, again.getState(), "the services open again once the keyboard is back");
    }

    @Test
    @Order(9)
    void closeCompletesOnASilentKeyboard() throws Exception {
        EventQueue<StatusUpdateEvent> positions = new EventQueue<>();
        TrovKeylockService keylock = new TrovKeylockService();
        keylock.addStatusUpdateListener(positions::add);
        opened(keylock);
        keylock.setDeviceEnabled(true);
        positions.next(EVENT_LIMIT, "answer to the position request");
        firmware.run("silent 1");
        int mark = firmware.mark();
        int logMark = firmware.lines().size();

        long start = System.nanoTime();
        keylock.close();
        long tookMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(tookMs < 3000, "close took " + tookMs + " ms");
        assertEquals(ServiceState.CLOSED, keylock.getState());
        assertFalse(claimTableExists());
        assertFalse(fifoExists());
        assertArrayEquals(bytes(0xEF, 0x07), firmware.receivedSince(mark, 2), "the shutdown's wake-up request");
        assertTrue(firmware.linesAfter(logMark).stream().noneMatch(line -> line.startsWith("tx ")),
                "the silent keyboard answered: " + firmware.linesAfter(logMark));
    }
}
