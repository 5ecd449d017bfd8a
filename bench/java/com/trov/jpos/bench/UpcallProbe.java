// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos.bench;

/**
 * Times the native library's calls of one Java method on the native thread that makes them, without
 * changing the library or the service classes: {@code libtrovbench.so} puts a JNI function table in
 * force whose {@code CallIntMethodV} and {@code NewLocalRef} note the time before passing the call on.
 * Preloaded after {@code libtrovsim.so}, the same library also marks the simulator's {@code send()} of
 * each input report and the decoder thread's {@code read()} of each byte from the FIFO.
 * Times are {@link System#nanoTime()} values. Also measures the primitives the input pipeline is made of.
 */
final class UpcallProbe {

    static {
        System.loadLibrary("trovbench");
    }

    private UpcallProbe() {
    }

    /**
     * Starts recording the calls of one instance method made through {@code CallIntMethod}.
     *
     * @param owner     the class declaring the method
     * @param name      the method's name
     * @param signature the method's JNI signature
     * @param capacity  how many calls to keep; later ones are counted only
     * @return false when the probe could not be put in force (already installed, no JVMTI, no such method)
     */
    static native boolean install(Class<?> owner, String name, String signature, int capacity);

    /** Puts the VM's own JNI function table back. */
    static native void uninstall();

    /**
     * Tells how many calls of the method have returned since {@link #install}.
     *
     * @return the number of calls
     */
    static native int count();

    /**
     * The start of the calling thread's last {@code send()} while the probe was installed: inside
     * {@code SimKeyboard.pressKey}, the moment the simulated driver queues the input report. Known only
     * when {@code libtrovbench.so} is preloaded; 0 otherwise.
     *
     * @return the time, or 0
     */
    static native long lastSendNs();

    /**
     * Copies the records of the calls that returned, in call order.
     *
     * @param byteRead  time the calling thread's last one-byte {@code read()} returned: the decoder thread
     *                  taking the byte from the FIFO (0 unless {@code libtrovbench.so} is preloaded)
     * @param attached  time the calling thread took its local reference to the object, i.e. was attached
     * @param entered   time the call entered the VM
     * @param returned  time the Java method returned
     * @param firstArgs the first (int) argument of each call
     * @return the number of records copied
     */
    static native int fetch(long[] byteRead, long[] attached, long[] entered, long[] returned, int[] firstArgs);

    /**
     * Attaches a fresh native thread to the VM and detaches it again, {@code attachNs.length} times.
     *
     * @param attachNs receives the duration of each attach
     * @param detachNs receives the duration of each detach
     * @return whether every attach succeeded
     */
    static native boolean measureAttach(long[] attachNs, long[] detachNs);

    /** The Java end of the bare path: a listener method of the key path's shape that does nothing. */
    static final class Sink {
        int keyboardDataEvent(int keyCode, int eventType) {
            return keyCode;
        }
    }

    /**
     * The bare path, {@code latencyNs.length} times: after {@code gapUs} idle, a byte written into a pipe,
     * read by a thread that writes it into a second pipe, read by a second thread that attaches to the VM,
     * calls {@link Sink#keyboardDataEvent(int, int)} and detaches. Each latency is from the first write to
     * the call entered, the same two moments as the key path's hand-off and {@code keyboardDataEvent}
     * entered.
     *
     * @param sink      the object to call
     * @param latencyNs receives each latency
     * @param gapUs     idle time before each byte, in microseconds
     * @return whether every round went through
     */
    static native boolean measureBarePath(Sink sink, long[] latencyNs, int gapUs);

    /**
     * Measures a one-byte {@code write()} into a pipe, and the hand-off of one byte through a pipe to a
     * thread blocked in {@code read()} (half a round trip).
     *
     * @param writeNs   receives the duration of each write
     * @param handoffNs receives the duration of each hand-off
     * @return whether all went through
     */
    static native boolean measurePipe(long[] writeNs, long[] handoffNs);
}
