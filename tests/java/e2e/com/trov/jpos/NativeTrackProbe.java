// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import com.trov.jpos.sim.SimKeyboard;
import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/**
 * Run in a child JVM by {@link MsrEventsTest}: shows the track arrays exactly as the library passes them
 * to the MSR listener method, which the product class turns into an event at once.
 *
 * <p>The child defines its own {@code com.trov.jpos.TrovMSRService}, generated below, whose
 * {@code msrDataEvent} only hands the arrays to {@link #record}. The product jar is not on the child's
 * class path, so this is the class the library binds to. The child prints one line per event:
 * {@code event <hex1> <hex2> <hex3>}, an empty track as {@code -}.
 */
public final class NativeTrackProbe {
    private static final String SERVICE = "com/trov/jpos/TrovMSRService";
    private static final LinkedBlockingQueue<byte[][]> EVENTS = new LinkedBlockingQueue<>();

    /** Track 1 of the probe's swipe; track 2 is empty, track 3 is 255 bytes of '7'. */
    static final byte[] TRACK1 = "B4111^DOE^2512".getBytes(java.nio.charset.StandardCharsets.US_ASCII);

    private NativeTrackProbe() {
    }

    /** Called by the generated service class on the library's thread. */
    public static void record(byte[] track1, byte[] track2, byte[] track3) {
        EVENTS.add(new byte[][] {track1, track2, track3});
    }

    public static void main(String[] args) throws Exception {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(0);
        byte[] service = serviceClass();
        Class<?> type = new ClassLoader(NativeTrackProbe.class.getClassLoader()) {
            @Override
            protected Class<?> findClass(String name) throws ClassNotFoundException {
                if (!name.equals(SERVICE.replace('/', '.'))) {
                    throw new ClassNotFoundException(name);
                }
                return defineClass(name, service, 0, service.length);
            }
        }.loadClass(SERVICE.replace('/', '.'));
        Object msr = type.getConstructor().newInstance();
        System.out.println("open " + type.getMethod("OpenMSR").invoke(msr));
        type.getMethod("claimMSR", boolean.class).invoke(msr, true);
        type.getMethod("enableMSR", boolean.class).invoke(msr, true);

        SimKeyboard.swipe(0, TRACK1, null, filledTrack());
        print();
        SimKeyboard.swipe(0, (byte[]) null, null, null);
        print();
        type.getMethod("CloseMSR").invoke(msr);
        System.out.println("handles " + SimKeyboard.openHandles(0));
    }

    private static byte[] filledTrack() {
        byte[] track = new byte[255];
        java.util.Arrays.fill(track, (byte) '7');
        return track;
    }

    private static void print() throws InterruptedException {
        byte[][] tracks = EVENTS.poll(30, TimeUnit.SECONDS);
        if (tracks == null) {
            System.out.println("no event");
            return;
        }
        StringBuilder line = new StringBuilder("event");
        for (byte[] track : tracks) {
            line.append(' ').append(track.length == 0 ? "-" : HexFormat.of().formatHex(track));
        }
        System.out.println(line);
    }

    /**
     * The class file of a service class with the MSR service's native methods and a listener method that
     * passes its arrays on to {@link #record}. No method branches, so no stack map frames are needed.
     */
    static byte[] serviceClass() throws IOException {
        ConstantPool pool = new ConstantPool();
        int self = pool.type(SERVICE);
        int object = pool.type("java/lang/Object");
        int objectInit = pool.method(object, "<init>", "()V");
        int loadLibrary = pool.method(pool.type("java/lang/System"), "loadLibrary", "(Ljava/lang/String;)V");
        int libraryName = pool.string("TrovJPOS");
        int recordTracks = pool.method(pool.type(NativeTrackProbe.class.getName().replace('.', '/')), "record",
                "([B[B[B)V");
        int code = pool.utf8("Code");

        ByteArrayOutputStream methods = new ByteArrayOutputStream();
        DataOutputStream m = new DataOutputStream(methods);
        writeMethod(m, pool, 0x0001, "<init>", "()V", code, 1, 1,
                bytes(0x2a, 0xb7, objectInit >> 8, objectInit, 0xb1));
        writeMethod(m, pool, 0x0008, "<clinit>", "()V", code, 1, 0,
                bytes(0x13, libraryName >> 8, libraryName, 0xb8, loadLibrary >> 8, loadLibrary, 0xb1));
        writeMethod(m, pool, 0x0000, "msrDataEvent", "([B[B[B)I", code, 3, 4,
                bytes(0x2b, 0x2c, 0x2d, 0xb8, recordTracks >> 8, recordTracks, 0x03, 0xac));
        String[][] natives = {{"OpenMSR", "()I"}, {"CloseMSR", "()V"}, {"enableMSR", "(Z)V"}, {"claimMSR", "(Z)V"}};
        for (String[] nativeMethod : natives) {
            writeMethod(m, pool, 0x0101, nativeMethod[0], nativeMethod[1], code, 0, 0, null);
        }

        ByteArrayOutputStream out = new ByteArrayOutputStream();
        DataOutputStream c = new DataOutputStream(out);
        c.writeInt(0xCAFEBABE);
        c.writeShort(0);
        c.writeShort(52);
        pool.writeTo(c);
        c.writeShort(0x0031);  // public final super
        c.writeShort(self);
        c.writeShort(object);
        c.writeShort(0);  // interfaces
        c.writeShort(0);  // fields
        c.writeShort(3 + natives.length);
        c.write(methods.toByteArray());
        c.writeShort(0);  // attributes
        return out.toByteArray();
    }

    private static void writeMethod(DataOutputStream m, ConstantPool pool, int access, String name,
            String descriptor, int code, int maxStack, int maxLocals, byte[] body) throws IOException {
        m.writeShort(access);
        m.writeShort(pool.utf8(name));
        m.writeShort(pool.utf8(descriptor));
        if (body == null) {
            m.writeShort(0);
            return;
        }
        m.writeShort(1);
        m.writeShort(code);
        m.writeInt(12 + body.length);
        m.writeShort(maxStack);
        m.writeShort(maxLocals);
        m.writeInt(body.length);
        m.write(body);
        m.writeShort(0);  // exception table
        m.writeShort(0);  // attributes
    }

    private static byte[] bytes(int... values) {
        byte[] out = new byte[values.length];
        for (int i = 0; i < values.length; ++i) {
            out[i] = (byte) values[i];
        }
        return out;
    }

    /** The constant pool, each entry written once; indexes from 1. */
    private static final class ConstantPool {
        private final Map<String, Integer> indexes = new LinkedHashMap<>();
        private final ByteArrayOutputStream entries = new ByteArrayOutputStream();
        private final DataOutputStream out = new DataOutputStream(entries);

        int utf8(String text) throws IOException {
            Integer known = indexes.get("U" + text);
            if (known != null) {
                return known;
            }
            out.writeByte(1);
            out.writeUTF(text);
            return add("U" + text);
        }

        int type(String name) throws IOException {
            return entry("C" + name, 7, utf8(name), -1);
        }

        int string(String text) throws IOException {
            return entry("S" + text, 8, utf8(text), -1);
        }

        int method(int owner, String name, String descriptor) throws IOException {
            int nameAndType = entry("N" + name + descriptor, 12, utf8(name), utf8(descriptor));
            return entry("M" + owner + "." + nameAndType, 10, owner, nameAndType);
        }

        private int entry(String key, int tag, int first, int second) throws IOException {
            Integer known = indexes.get(key);
            if (known != null) {
                return known;
            }
            out.writeByte(tag);
            out.writeShort(first);
            if (second >= 0) {
                out.writeShort(second);
            }
            return add(key);
        }

        private int add(String key) {
            int index = indexes.size() + 1;
            indexes.put(key, index);
            return index;
        }

        void writeTo(DataOutputStream c) throws IOException {
            c.writeShort(indexes.size() + 1);
            c.write(entries.toByteArray());
        }
    }
}
