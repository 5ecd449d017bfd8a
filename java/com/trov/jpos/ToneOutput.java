// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.ArrayDeque;
import java.util.Arrays;
import java.util.Objects;
import java.util.concurrent.TimeUnit;
import java.util.function.BooleanSupplier;

/**
 * The outputs of one tone indicator object: UnifiedPOS {@code sound(numberOfCycles, interSoundWait)}
 * as a queue of asynchronous outputs, each with its output id and output complete event,
 * {@code clearOutput()}, the BUSY state, and the synchronous {@code soundImmediate()}.
 *
 * <h2>What a tone is here</h2>
 * The keyboard beeps when it receives its own tone command bytes: 1 to 16 bytes that the library
 * passes on unchanged. Their meaning is the keyboard firmware's; the keyboard answers nothing and
 * never says when a beep has ended. The simulated keyboard and the test firmware record the bytes
 * (the firmware logs each as {@code rx XX}) and make nothing of them. So a {@link Cycle} is, in
 * UnifiedPOS terms:
 * <ol>
 *   <li>tone 1: its command bytes are written, then the output waits {@code Tone1Duration} ms;</li>
 *   <li>when both tones sound, {@code InterToneWait} ms of silence;</li>
 *   <li>tone 2: its command bytes are written, then the output waits {@code Tone2Duration} ms.</li>
 * </ol>
 * A tone sounds when its duration is above 0 (as UnifiedPOS says); at least one must. Between two
 * cycles of one output the wait is {@code interSoundWait}; after the last cycle there is none. The
 * durations are the time the service gives each tone: a command that makes the keyboard beep longer
 * overlaps what follows, one that beeps shorter leaves silence.
 *
 * <p>What the command bytes cannot express, and so is not supported: the pitch and volume of each
 * tone ({@code CapPitch} and {@code CapVolume} false; {@code Tone1Pitch}, {@code Tone1Volume},
 * {@code Tone2Pitch} and {@code Tone2Volume} may be set but are not used, as UnifiedPOS allows for a
 * device with fixed pitch and volume; a pitch or volume the keyboard offers is chosen with the
 * command bytes instead), and melodies ({@code CapMelody} 0, {@code MelodyType} and
 * {@code MelodyVolume} unused). An output that fails to write ends, the outputs queued behind it are
 * dropped, and the owner hears of it ({@link Events#outputFailed}) to raise an error event with the
 * output locus; retrying an output is not offered, as the keyboard cannot tell what it sounded.
 *
 * <h2>Threads</h2>
 * One worker thread per object, named as the owner says, runs while outputs are pending and ends
 * when none are; nobody waits for it. Its pauses are waits on this object's monitor, so
 * {@link #clearOutput()} and {@link #close()} end them at once and never wait themselves; a tone
 * command being written at that moment (at most 16 bytes) is written to its end, and nothing more of
 * that output. The monitor serialises the queue and the state and is never held during a write; the
 * owner's {@link Events} run outside it, after the output's end. Every method may be called from any thread.
 */
final class ToneOutput {

    /** Writes one tone command to the keyboard (the native tone write); throws when it could not. */
    @FunctionalInterface
    interface Writer {
        void write(byte[] command) throws TrovException;
    }

    /**
     * What the owner hears; called on the worker thread, not under this object's monitor, so a
     * {@link #clearOutput()} may come between the output's end and the call: the owner drops the
     * events of outputs it cleared.
     */
    interface Events {

        /** The output {@code outputId} has sounded all its cycles. */
        void outputComplete(int outputId);

        /** Writing the output {@code outputId} failed; it and the outputs queued behind it are dropped. */
        void outputFailed(int outputId, TrovException cause);
    }

    /** The longest tone command the native write takes. */
    static final int MAX_COMMAND_BYTES = 16;

    /** One tone cycle, fixed when the output is queued, so that later property changes leave it alone. */
    static final class Cycle {
        private final byte[] tone1;
        private final int tone1Duration;
        private final int interToneWait;
        private final byte[] tone2;
        private final int tone2Duration;

        /**
         * @param tone1         the keyboard's command bytes for tone 1; may be null when tone 1 does not sound
         * @param tone1Duration milliseconds; 0 or less: tone 1 does not sound
         * @param interToneWait milliseconds between the two tones
         * @param tone2         the keyboard's command bytes for tone 2; may be null when tone 2 does not sound
         * @param tone2Duration milliseconds; 0 or less: tone 2 does not sound
         * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} when neither tone sounds, a tone that sounds
         *                       has no command, one longer than 16 bytes or one starting with 0 (which the
         *                       keyboard would not get), or {@code interToneWait} is negative
         */
        Cycle(byte[] tone1, int tone1Duration, int interToneWait, byte[] tone2, int tone2Duration)
                throws TrovException {
            if (tone1Duration <= 0 && tone2Duration <= 0) {
                throw illegal("neither tone has a duration above 0");
            }
            if (interToneWait < 0) {
                throw illegal("negative InterToneWait " + interToneWait);
            }
            this.tone1 = tone1Duration > 0 ? checked(tone1, "tone 1") : null;
            this.tone2 = tone2Duration > 0 ? checked(tone2, "tone 2") : null;
            this.tone1Duration = tone1Duration;
            this.interToneWait = interToneWait;
            this.tone2Duration = tone2Duration;
        }

        private static byte[] checked(byte[] command, String which) throws TrovException {
            if (command == null || command.length == 0 || command.length > MAX_COMMAND_BYTES || command[0] == 0) {
                throw illegal("the " + which + " command must be 1 to " + MAX_COMMAND_BYTES
                        + " bytes with a first byte other than 0");
            }
            return command.clone();
        }
    }

    /** One queued sound() call. */
    private static final class Output {
        final int id;
        final Cycle cycle;
        final int cycles;
        final int interSoundWait;

        Output(int id, Cycle cycle, int cycles, int interSoundWait) {
            this.id = id;
            this.cycle = cycle;
            this.cycles = cycles;
            this.interSoundWait = interSoundWait;
        }
    }

    private final String threadName;
    private final Writer writer;
    private final Events events;

    // Guarded by this object's monitor.
    private final ArrayDeque<Output> queue = new ArrayDeque<>();
    /** The output the worker sounds; set to null by clearOutput to make the worker drop it. */
    private Output current;
    private Thread worker;
    private int outputId;
    private boolean immediateRunning;
    /** Changes at each close, so that a soundImmediate under way stops. */
    private int closes;

    /**
     * @param threadName the worker thread's name, e.g. {@code TrovJPOS-tone-output}
     * @param writer     the tone command write
     * @param events     the owner's side
     */
    ToneOutput(String threadName, Writer writer, Events events) {
        this.threadName = Objects.requireNonNull(threadName, "threadName");
        this.writer = Objects.requireNonNull(writer, "writer");
        this.events = Objects.requireNonNull(events, "events");
    }

    /**
     * Queues an output of {@code numberOfCycles} cycles and returns at once.
     *
     * @param numberOfCycles above 0, or {@link TrovConst#JPOS_FOREVER} to sound until {@link #clearOutput()}
     * @param interSoundWait milliseconds between two cycles, 0 or more
     * @return the output id, which {@link #getOutputID()} also returns from now on
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for a bad count or wait
     */
    synchronized int sound(Cycle cycle, int numberOfCycles, int interSoundWait) throws TrovException {
        Objects.requireNonNull(cycle, "cycle");
        if (numberOfCycles <= 0 && numberOfCycles != TrovConst.JPOS_FOREVER) {
            throw illegal("numberOfCycles " + numberOfCycles + " is neither above 0 nor FOREVER");
        }
        if (interSoundWait < 0) {
            throw illegal("negative interSoundWait " + interSoundWait);
        }
        outputId = outputId == Integer.MAX_VALUE ? 1 : outputId + 1;
        queue.add(new Output(outputId, cycle, numberOfCycles, interSoundWait));
        if (worker == null) {
            startWorker();
        }
        return outputId;
    }

    private void startWorker() {
        worker = new Thread(this::work, threadName);
        worker.setDaemon(true);
        worker.start();
    }

    /** The id of the output queued last; 0 before the first. */
    synchronized int getOutputID() {
        return outputId;
    }

    /** Whether an asynchronous output is queued or sounding: the BUSY state. */
    synchronized boolean isBusy() {
        return current != null || !queue.isEmpty();
    }

    /**
     * Sounds one cycle on the calling thread and returns when it is over.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_BUSY} while an asynchronous output or another
     *                       soundImmediate is under way; {@link TrovConst#JPOS_E_CLOSED} when
     *                       {@link #close()} stopped it; whatever the write throws
     */
    void soundImmediate(Cycle cycle) throws TrovException {
        Objects.requireNonNull(cycle, "cycle");
        int closesAtStart;
        synchronized (this) {
            if (isBusy() || immediateRunning) {
                throw new TrovException(TrovConst.JPOS_E_BUSY, "A tone is under way");
            }
            immediateRunning = true;
            closesAtStart = closes;
        }
        try {
            BooleanSupplier wanted = () -> closes == closesAtStart;
            if (!play(cycle, wanted)) {
                throw new TrovException(TrovConst.JPOS_E_CLOSED, "The tone indicator was closed during the tone");
            }
        } finally {
            synchronized (this) {
                immediateRunning = false;
                notifyAll();
            }
        }
    }

    /** Drops every output not yet done, the one sounding included, and their events. Never waits. */
    synchronized void clearOutput() {
        queue.clear();
        current = null;
        notifyAll();
    }

    /** Like {@link #clearOutput()}, and also stops a soundImmediate under way. Never waits. */
    synchronized void close() {
        clearOutput();
        closes++;
    }

    /** The worker thread, or null when none runs; for tests and diagnostics. */
    synchronized Thread worker() {
        return worker;
    }

    private void work() {
        try {
            while (true) {
                Output output;
                synchronized (this) {
                    while (immediateRunning && !queue.isEmpty()) {
                        try {
                            wait();  // a soundImmediate started first; its end notifies
                        } catch (InterruptedException e) {
                            // Only clearOutput and close stop this thread; it is nobody else's to interrupt.
                        }
                    }
                    output = queue.poll();
                    if (output == null) {
                        worker = null;  // in the same hold of the monitor as the look, or a sound() could be missed
                        return;
                    }
                    current = output;
                    Thread.interrupted();  // a stray interrupt must not fail the next output
                }
                TrovException failure = null;
                boolean done = false;
                try {
                    done = sound(output);
                } catch (TrovException e) {
                    failure = e;
                } catch (RuntimeException | Error e) {
                    // Any failure of the write ends the output with an error event, never silently.
                    failure = new TrovException(TrovConst.JPOS_E_FAILURE, "The tone write failed", e);
                }
                boolean tell;
                synchronized (this) {
                    tell = current == output;
                    if (tell) {
                        current = null;
                        if (failure != null) {
                            queue.clear();
                        }
                    }
                }
                // Outside the monitor: the owner queues the event under locks of its own, which a
                // close may hold while it calls close() here.
                if (tell && failure != null) {
                    events.outputFailed(output.id, failure);
                } else if (tell && done) {
                    events.outputComplete(output.id);
                }
            }
        } finally {
            synchronized (this) {
                if (worker == Thread.currentThread()) {
                    // An owner's callback threw: the outputs queued behind still get a worker.
                    current = null;
                    worker = null;
                    if (!queue.isEmpty()) {
                        startWorker();
                    }
                }
            }
        }
    }

    /** Sounds all cycles of {@code output}; false when it was cleared meanwhile. */
    private boolean sound(Output output) throws TrovException {
        BooleanSupplier wanted = () -> current == output;
        for (int cycle = 0; output.cycles == TrovConst.JPOS_FOREVER || cycle < output.cycles; ++cycle) {
            if (cycle > 0 && !pause(output.interSoundWait, wanted)) {
                return false;
            }
            if (!play(output.cycle, wanted)) {
                return false;
            }
        }
        return true;
    }

    /** Sounds one cycle while {@code wanted} holds; false when it stopped holding. */
    private boolean play(Cycle cycle, BooleanSupplier wanted) throws TrovException {
        if (cycle.tone1 != null && !(tone(cycle.tone1, wanted) && pause(cycle.tone1Duration, wanted))) {
            return false;
        }
        if (cycle.tone2 != null) {
            if (cycle.tone1 != null && !pause(cycle.interToneWait, wanted)) {
                return false;
            }
            return tone(cycle.tone2, wanted) && pause(cycle.tone2Duration, wanted);
        }
        return true;
    }

    private boolean tone(byte[] command, BooleanSupplier wanted) throws TrovException {
        synchronized (this) {
            if (!wanted.getAsBoolean()) {
                return false;
            }
        }
        writer.write(Arrays.copyOf(command, command.length));
        return true;
    }

    /**
     * Waits {@code millis} while {@code wanted} holds; returns whether it still holds. Interrupts are
     * not how this object is stopped: one ends the tone with a failure, the interrupt status kept.
     */
    private synchronized boolean pause(int millis, BooleanSupplier wanted) throws TrovException {
        long end = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(Math.max(millis, 0));
        try {
            for (long left = end - System.nanoTime(); left > 0 && wanted.getAsBoolean(); left = end - System.nanoTime()) {
                TimeUnit.NANOSECONDS.timedWait(this, left);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new TrovException(TrovConst.JPOS_E_FAILURE, "The tone was interrupted", e);
        }
        return wanted.getAsBoolean();
    }

    private static TrovException illegal(String why) {
        return new TrovException(TrovConst.JPOS_E_ILLEGAL, "Bad tone: " + why);
    }
}
