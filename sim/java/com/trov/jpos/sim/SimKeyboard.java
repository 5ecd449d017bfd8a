// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.sim;

import java.nio.charset.StandardCharsets;

/**
 * Control of the simulated POS keyboard and Linux hiddev driver in {@code libtrovsim.so}.
 *
 * <p>The simulator stands behind the paths {@code /dev/usb/hid/hiddev0} to {@code hiddev15} (nodes 0 to
 * 15) of the process it is loaded into, normally with {@code LD_PRELOAD}, so that the services find and
 * drive a keyboard without hardware. This class sets up what sits behind each node, makes the keyboard
 * type, swipe and turn its keylock, unplugs and replugs it, and shows what the services sent to it.
 *
 * <p>The methods mirror the C control API one to one and are thread-safe. Methods returning {@code int}
 * return 0 on success and -1 on a bad argument unless stated otherwise. For tests and demonstrations only.
 *
 * <p>Key codes. A key code is a byte the keyboard's protocol does not reserve: 0x01 to 0xFF except the
 * frame markers 0x81, 0x82, 0x83 (track starts), 0x84 (keylock start), 0x86 (TCO reply start), 0x91,
 * 0x92, 0x93 (track ends), 0x94 (keylock end), 0x96 (TCO reply end), the extended prefix 0xE0 and the
 * release prefix 0xFE; 0x00 is never sent. {@link #isReservedKeyCode(int)} tells them apart; the key
 * methods refuse a reserved code with an {@link IllegalArgumentException}, since sent as a key it
 * would open a frame (and every later key would vanish into it) or prefix the next key.
 * {@link #sendRaw(int, byte[])} sends any bytes as they are.
 *
 * <p>Taking input. The simulated driver, like the real one, holds only so much input for the reader:
 * a send while it is full, or while nobody has the node open, is not taken and returns 0. A burst
 * that does not check every result loses input; the {@code ...AndWait} methods retry until the
 * keyboard took the input or the time is up.
 */
public final class SimKeyboard {
    /** Number of nodes, numbered 0 to 15. */
    public static final int NODES = 16;

    /** No node: opening the path fails with ENOENT. */
    public static final int ABSENT = 0;
    /** A HID device without the keyboard's vendor application. */
    public static final int OTHER = 1;
    /** The POS keyboard. */
    public static final int KEYBOARD = 2;

    /** Opening the node fails with EACCES. */
    public static final int FAULT_OPEN_REFUSED = 1;
    /** HIDIOCINITREPORT fails with EIO. */
    public static final int FAULT_INITREPORT = 1 << 1;
    /** Output report 4 has no vendor output usage 0xFFFA00AB. */
    public static final int FAULT_NO_OUTPUT_USAGE = 1 << 2;
    /** Output report 4 holds another usage in field 0 and 0xFFFA00AB in field 1. */
    public static final int FAULT_USAGE_LATER_FIELD = 1 << 3;
    /** HIDIOCGREPORT fails with EIO. */
    public static final int FAULT_GREPORT = 1 << 4;
    /** HIDIOCGDEVINFO (the presence test) fails with EIO while reads and sends work. */
    public static final int FAULT_GDEVINFO = 1 << 5;

    /** Calls of the whole process for {@link #inject(int, int, int, int)}: read() of a node. */
    public static final int CALL_NODE_READ = 0;
    /** poll() of a set that holds a node. */
    public static final int CALL_NODE_POLL = 1;
    /** read() of a FIFO or pipe. */
    public static final int CALL_FIFO_READ = 2;
    /** write() into a FIFO or pipe; error 0 makes it short (half the bytes, none of a single byte). */
    public static final int CALL_FIFO_WRITE = 3;
    /** shmget(). */
    public static final int CALL_SHMGET = 4;
    /** shmat(). */
    public static final int CALL_SHMAT = 5;
    /** msgget(). */
    public static final int CALL_MSGGET = 6;
    /** pthread_create(), which then returns the error and starts no thread. */
    public static final int CALL_PTHREAD_CREATE = 7;

    /** errno values for {@link #inject(int, int, int, int)}: interrupted system call. */
    public static final int EINTR = 4;
    /** No more threads or resources for now. */
    public static final int EAGAIN = 11;
    /** Out of memory. */
    public static final int ENOMEM = 12;
    /** Permission denied. */
    public static final int EACCES = 13;
    /** No space left (for example, no more System V objects). */
    public static final int ENOSPC = 28;

    /** Request counters for {@link #count(int, int)}. */
    public static final int REQ_OPEN = 0;
    public static final int REQ_CLOSE = 1;
    public static final int REQ_READ = 2;
    public static final int REQ_GVERSION = 3;
    public static final int REQ_APPLICATION = 4;
    public static final int REQ_GDEVINFO = 5;
    public static final int REQ_GSTRING = 6;
    public static final int REQ_INITREPORT = 7;
    public static final int REQ_GREPORT = 8;
    public static final int REQ_SREPORT = 9;
    public static final int REQ_GREPORTINFO = 10;
    public static final int REQ_GFIELDINFO = 11;
    public static final int REQ_SUSAGE = 12;
    public static final int REQ_GUCODE = 13;
    public static final int REQ_OTHER_IOCTL = 14;

    static {
        System.loadLibrary("trovsim");
    }

    private SimKeyboard() {
    }

    /**
     * Returns to the state at load: every node absent, no faults, counters and logs cleared; descriptors
     * already open become dead. A node named by the TROVSIM_KEYBOARD environment variable is a keyboard
     * again.
     */
    public static native void reset();

    /**
     * Puts a device behind a node; a keyboard gets its default description, keylock position 0, an
     * empty TCO table and answers on. Descriptors open on the node's previous device become dead.
     *
     * @param node 0 to 15
     * @param kind {@link #ABSENT}, {@link #OTHER} or {@link #KEYBOARD}
     * @return 0, or -1 for a bad argument
     */
    public static native int setKind(int node, int kind);

    /**
     * Tells what sits behind a node.
     *
     * @param node 0 to 15
     * @return the kind set (also while unplugged), or -1 for a bad node
     */
    public static native int kind(int node);

    /**
     * Sets the faults injected on a node.
     *
     * @param node 0 to 15
     * @param faults a combination of the FAULT_ constants, 0 for none
     * @return 0, or -1 for a bad node
     */
    public static native int setFaults(int node, int faults);

    /**
     * Replaces the node's application list, answered by HIDIOCAPPLICATION.
     *
     * @param node 0 to 15
     * @param usages application usages, index 0 first
     * @return 0, or -1 for a bad argument
     */
    public static native int setApplications(int node, int[] usages);

    /**
     * Sets the identity answered by HIDIOCGDEVINFO and HIDIOCGSTRING (index 1).
     *
     * @param node 0 to 15
     * @param vendor USB vendor id, low 16 bits used
     * @param product USB product id, low 16 bits used
     * @param version device release number, low 16 bits used
     * @param name device name
     * @return 0, or -1 for a bad node
     */
    public static native int setIdentity(int node, int vendor, int product, int version, String name);

    /**
     * Sets the keylock position answered to the position request, without sending input.
     *
     * @param node 0 to 15
     * @param digit 0 to 9
     * @return 0, or -1 for a bad argument
     */
    public static native int setKeylock(int node, int digit);

    /**
     * Sets the digits answered to a TCO query with this index byte.
     *
     * @param node 0 to 15
     * @param index 0 to 255
     * @param digits reply digits; null removes the entry (the answer is then empty)
     * @return 0, or -1 for a bad argument
     */
    public static native int setTco(int node, int index, String digits);

    /**
     * Makes the keyboard answer nothing (it still records what it receives), or answer again.
     *
     * @param node 0 to 15
     * @param silent non-zero for silent
     * @return 0, or -1 for a bad node
     */
    public static native int setSilent(int node, int silent);

    /**
     * Makes the keyboard take {@code delayMs} to answer a command, one command at a time: a command that
     * arrives while an earlier answer is on its way is answered that long after it, so answers keep their
     * order.
     *
     * @param node 0 to 15
     * @param delayMs 0 for at once
     * @return 0, or -1 for a bad argument
     */
    public static native int setAnswerDelay(int node, int delayMs);

    /**
     * Injects a fault into calls of the whole process: after {@code skip} more calls of that kind have
     * passed, the next {@code count} fail with {@code error} without reaching the C library.
     * {@link #reset()} disarms every kind.
     *
     * @param call one of the {@code CALL_} constants
     * @param skip calls to let pass first
     * @param count calls to fail; 0 disarms
     * @param error the errno value to fail with (0 for a short FIFO write)
     * @return 0, or -1 for a bad argument
     */
    public static native int inject(int call, int skip, int count, int error);

    /**
     * Faults injected into a kind of call since the last reset.
     *
     * @param call one of the {@code CALL_} constants
     * @return the number, or -1 for a bad kind
     */
    public static native long injected(int call);

    /**
     * Sends bytes from the keyboard, packed four to an input report, zero padded.
     *
     * @param node 0 to 15
     * @param bytes the input bytes
     * @return the number of bytes queued (0 when nobody has the node open), or -1
     */
    public static native int sendRaw(int node, byte[] bytes);

    /**
     * Sends a key press: [0xE0] key.
     *
     * @param node 0 to 15
     * @param key key code: 0x01 to 0xFF, not reserved ({@link #isReservedKeyCode(int)})
     * @param extended non-zero for the 0xE0 prefix
     * @return the number of bytes queued, 0 when not taken, or -1 for a bad node or a key out of range
     * @throws IllegalArgumentException when the protocol reserves {@code key}; the message names it
     */
    public static native int pressKey(int node, int key, int extended);

    /**
     * Sends a key release: 0xFE [0xE0] key.
     *
     * @param node 0 to 15
     * @param key key code: 0x01 to 0xFF, not reserved ({@link #isReservedKeyCode(int)})
     * @param extended non-zero for the 0xE0 prefix
     * @return the number of bytes queued, 0 when not taken, or -1 for a bad node or a key out of range
     * @throws IllegalArgumentException when the protocol reserves {@code key}; the message names it
     */
    public static native int releaseKey(int node, int key, int extended);

    /**
     * Turns the keylock: sets the position and sends 0x84 '0'+digit 0x94.
     *
     * @param node 0 to 15
     * @param digit 0 to 9
     * @return the number of bytes queued, or -1
     */
    public static native int turnKeylock(int node, int digit);

    /**
     * Swipes a card: 0x81 t1 0x91 0x82 t2 0x92 0x83 t3 0x93.
     *
     * @param node 0 to 15
     * @param track1 track 1 bytes, null for none
     * @param track2 track 2 bytes, null for none
     * @param track3 track 3 bytes, null for none
     * @return the number of bytes queued, or -1
     */
    public static native int swipe(int node, byte[] track1, byte[] track2, byte[] track3);

    /**
     * Unplugs the device: the node disappears, blocked reads fail with EIO, requests on its descriptors
     * with ENODEV.
     *
     * @param node 0 to 15
     * @return 0, or -1 when no device sits behind the node
     */
    public static native int unplug(int node);

    /**
     * Plugs the device in again (unplugging it first if needed); the node reappears after the delay.
     *
     * @param node 0 to 15
     * @param delayMs delay before the node reappears (a real driver takes about 500 ms)
     * @return 0, or -1 for a bad argument
     */
    public static native int replug(int node, int delayMs);

    /**
     * Copies the command bytes the keyboard received, in order.
     *
     * @param node 0 to 15
     * @param buf receives up to {@code buf.length} bytes
     * @return the total number received since the last reset or clear, which may exceed the buffer
     */
    public static native int receivedInto(int node, byte[] buf);

    /**
     * Forgets the command bytes received so far.
     *
     * @param node 0 to 15
     * @return 0, or -1 for a bad node
     */
    public static native int clearReceived(int node);

    /**
     * Waits until at least {@code count} command bytes have been received.
     *
     * @param node 0 to 15
     * @param count bytes to wait for
     * @param timeoutMs longest wait; negative waits for ever
     * @return the number received, less than count on time-out
     */
    public static native int waitReceived(int node, int count, int timeoutMs);

    /**
     * Tells how many requests of a kind the node got since the last reset.
     *
     * @param node 0 to 15
     * @param request one of the REQ_ constants
     * @return the count, or -1 for a bad argument
     */
    public static native long count(int node, int request);

    /**
     * Tells how many descriptors are open on the node.
     *
     * @param node 0 to 15
     * @return the number, or -1 for a bad node
     */
    public static native int openHandles(int node);

    // Conveniences.

    /**
     * Tells whether the keyboard's protocol reserves a byte, so that it cannot be a key code: 0x00,
     * the frame markers 0x81 to 0x84, 0x86, 0x91 to 0x94 and 0x96, the extended prefix 0xE0 and the
     * release prefix 0xFE.
     *
     * @param code the byte value, 0 to 255
     * @return whether it is reserved; false for any other value, also outside 0 to 255
     */
    public static boolean isReservedKeyCode(int code) {
        switch (code) {
            case 0x00, 0x81, 0x82, 0x83, 0x84, 0x86, 0x91, 0x92, 0x93, 0x94, 0x96, 0xE0, 0xFE:
                return true;
            default:
                return false;
        }
    }

    /**
     * Sends a key press and, while the keyboard does not take it (driver buffer full, or nobody has
     * the node open, as during a reopen), tries again until it is taken or {@code timeoutMs} passed.
     *
     * @param node 0 to 15
     * @param key key code, not reserved
     * @param extended true for the 0xE0 prefix
     * @param timeoutMs longest wait
     * @return the number of bytes queued, 0 when not taken in time, or -1
     * @throws IllegalArgumentException when the protocol reserves {@code key}
     */
    public static int pressKeyAndWait(int node, int key, boolean extended, int timeoutMs) {
        return untilTaken(() -> pressKey(node, key, extended ? 1 : 0), timeoutMs);
    }

    /**
     * Sends a key release, retrying as {@link #pressKeyAndWait(int, int, boolean, int)} does.
     *
     * @param node 0 to 15
     * @param key key code, not reserved
     * @param extended true for the 0xE0 prefix
     * @param timeoutMs longest wait
     * @return the number of bytes queued, 0 when not taken in time, or -1
     * @throws IllegalArgumentException when the protocol reserves {@code key}
     */
    public static int releaseKeyAndWait(int node, int key, boolean extended, int timeoutMs) {
        return untilTaken(() -> releaseKey(node, key, extended ? 1 : 0), timeoutMs);
    }

    /**
     * Turns the keylock, retrying as {@link #pressKeyAndWait(int, int, boolean, int)} does.
     *
     * @param node 0 to 15
     * @param digit 0 to 9
     * @param timeoutMs longest wait
     * @return the number of bytes queued, 0 when not taken in time, or -1
     */
    public static int turnKeylockAndWait(int node, int digit, int timeoutMs) {
        return untilTaken(() -> turnKeylock(node, digit), timeoutMs);
    }

    private static int untilTaken(java.util.function.IntSupplier send, int timeoutMs) {
        long deadline = System.nanoTime() + timeoutMs * 1_000_000L;
        while (true) {
            int queued = send.getAsInt();
            if (queued != 0 || System.nanoTime() - deadline >= 0) {
                return queued;
            }
            try {
                Thread.sleep(1);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return 0;
            }
        }
    }

    /**
     * Makes a node the keyboard.
     *
     * @param node 0 to 15
     * @return 0, or -1 for a bad node
     */
    public static int plugKeyboard(int node) {
        return setKind(node, KEYBOARD);
    }

    /**
     * The keyboard the convenience methods without a node number act on.
     *
     * @return the lowest node with a keyboard behind it, or -1 when there is none
     */
    public static int keyboardNode() {
        for (int node = 0; node < NODES; ++node) {
            if (kind(node) == KEYBOARD) {
                return node;
            }
        }
        return -1;
    }

    /**
     * Makes the keyboard answer nothing, or answer again.
     *
     * @param node 0 to 15
     * @param silent true for silent
     * @return 0, or -1 for a bad node
     */
    public static int setSilent(int node, boolean silent) {
        return setSilent(node, silent ? 1 : 0);
    }

    /**
     * Sends bytes from the keyboard, each given as an int whose low 8 bits are used.
     *
     * @param node 0 to 15
     * @param bytes the input bytes
     * @return the number of bytes queued, or -1
     */
    public static int sendRaw(int node, int... bytes) {
        byte[] raw = new byte[bytes.length];
        for (int i = 0; i < bytes.length; ++i) {
            raw[i] = (byte) bytes[i];
        }
        return sendRaw(node, raw);
    }

    /**
     * Sends a key press without the extended prefix.
     *
     * @param node 0 to 15
     * @param key scan code 0 to 255
     * @return the number of bytes queued, or -1
     */
    public static int pressKey(int node, int key) {
        return pressKey(node, key, 0);
    }

    /**
     * Sends a key press.
     *
     * @param node 0 to 15
     * @param key scan code 0 to 255
     * @param extended true for the 0xE0 prefix
     * @return the number of bytes queued, or -1
     */
    public static int pressKey(int node, int key, boolean extended) {
        return pressKey(node, key, extended ? 1 : 0);
    }

    /**
     * Sends a key release without the extended prefix.
     *
     * @param node 0 to 15
     * @param key scan code 0 to 255
     * @return the number of bytes queued, or -1
     */
    public static int releaseKey(int node, int key) {
        return releaseKey(node, key, 0);
    }

    /**
     * Sends a key release.
     *
     * @param node 0 to 15
     * @param key scan code 0 to 255
     * @param extended true for the 0xE0 prefix
     * @return the number of bytes queued, or -1
     */
    public static int releaseKey(int node, int key, boolean extended) {
        return releaseKey(node, key, extended ? 1 : 0);
    }

    /**
     * Presses and releases a key (two separate inputs).
     *
     * @param node 0 to 15
     * @param key scan code 0 to 255
     * @return the number of bytes queued by both, or -1
     */
    public static int tapKey(int node, int key) {
        int pressed = pressKey(node, key, 0);
        if (pressed < 0) {
            return pressed;
        }
        int released = releaseKey(node, key, 0);
        return released < 0 ? released : pressed + released;
    }

    /**
     * Swipes a card with tracks given as text (ISO-8859-1); null for an empty track.
     *
     * @param node 0 to 15
     * @param track1 track 1
     * @param track2 track 2
     * @param track3 track 3
     * @return the number of bytes queued, or -1
     */
    public static int swipe(int node, String track1, String track2, String track3) {
        return swipe(node, latin1(track1), latin1(track2), latin1(track3));
    }

    /**
     * The command bytes the keyboard received, in order.
     *
     * @param node 0 to 15
     * @return the bytes, empty for a bad node
     */
    public static byte[] received(int node) {
        int total = receivedInto(node, new byte[0]);
        while (total > 0) {
            byte[] buf = new byte[total];
            int now = receivedInto(node, buf);
            if (now <= total) {
                return now == total ? buf : java.util.Arrays.copyOf(buf, Math.max(now, 0));
            }
            total = now;
        }
        return new byte[0];
    }

    /**
     * The command bytes the keyboard at {@link #keyboardNode()} received.
     *
     * @return the bytes, empty when there is no keyboard
     */
    public static byte[] received() {
        return received(keyboardNode());
    }

    /**
     * Waits until the keyboard at {@link #keyboardNode()} has received at least {@code count} bytes.
     *
     * @param count bytes to wait for
     * @param timeoutMs longest wait; negative waits for ever
     * @return true when they arrived in time
     */
    public static boolean waitReceived(int count, int timeoutMs) {
        return waitReceived(keyboardNode(), count, timeoutMs) >= count;
    }

    private static byte[] latin1(String text) {
        return text == null ? null : text.getBytes(StandardCharsets.ISO_8859_1);
    }
}
