// SPDX-License-Identifier: Apache-2.0
package com.trov.jpos;

import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * The beeper of the POS keyboard, as a UnifiedPOS tone indicator.
 *
 * <h2>Tone commands</h2>
 * The keyboard beeps when it receives its own tone command bytes: 1 to 16 bytes, first byte not 0,
 * which the library passes on unchanged. What they sound like (pitch, volume, length) is the keyboard
 * firmware's business and its documentation's; the keyboard answers nothing and never says when a beep
 * has ended. A command holding 0xEF 0x07 (the keylock position request) makes the keyboard answer with
 * the key position, as any command does. The simulated keyboard and the test firmware of the
 * real-driver tier record the bytes (the firmware logs {@code rx XX} per byte) and make no sound: they
 * have no beeper. This service's own properties {@link #setTone1Command(byte[]) Tone1Command} and
 * {@link #setTone2Command(byte[]) Tone2Command} hold the bytes of each tone.
 *
 * <h2>UnifiedPOS sound</h2>
 * One cycle of {@link #sound(int, int)} or {@link #soundImmediate()} is: tone 1's command, then
 * {@code Tone1Duration} ms; {@code InterToneWait} ms of silence when both tones sound; tone 2's command,
 * then {@code Tone2Duration} ms. A tone sounds when its duration is above 0; at least one must. The
 * durations are the time the service gives each tone: a command that beeps longer overlaps what
 * follows. {@link #sound(int, int)} is asynchronous: it queues an output, whose id
 * {@link #getOutputID()} returns, and an {@link OutputCompleteEvent} with that id follows when all
 * cycles have sounded; meanwhile {@link #getState()} is {@link TrovConst#JPOS_S_BUSY}. An output whose
 * write fails ends, those queued behind it are dropped, and an {@link ErrorEvent} with the output locus
 * ({@link TrovConst#JPOS_EL_OUTPUT}) reaches the error listeners; its answer is not acted on, since the
 * keyboard cannot tell what it sounded. {@link #clearOutput()} and {@link #close()} end the outputs at
 * once, drop their events and never wait.
 *
 * <p>Not supported, since the command bytes alone choose the sound: pitch and volume
 * ({@link #getCapPitch()} and {@link #getCapVolume()} false; the Tone1/Tone2 Pitch and Volume properties
 * keep what is set and are not used) and melodies ({@link #getCapMelody()} 0).
 *
 * <p>{@link #sound(byte[])} writes one command at once, outside the UnifiedPOS model.
 *
 * <h2>The terminal's tones</h2>
 * The tone commands and durations start with the values of the terminal's settings file,
 * {@code /etc/trovjpos/trovjpos.properties} (or the file the system property {@code trov.jpos.config}
 * names), read when the object is made: {@code tone1.command} and {@code tone2.command} as space-separated
 * hex bytes, {@code tone1.duration} and {@code tone2.duration} in milliseconds. With {@code tone1.command}
 * set there, {@code sound(1, 0)} beeps with no code of the application's; without it, the
 * {@link TrovConst#JPOS_E_ILLEGAL} of {@code sound} names the file and the key to set.
 *
 * <p>The service is exclusive: it must be claimed before it can be enabled. Its properties keep their
 * values across close and open.
 */
public final class TrovToneIndicatorService extends TrovService {

    static {
        NativeLibrary.tryLoad();
    }

    private final CopyOnWriteArrayList<OutputCompleteListener> outputCompleteListeners = new CopyOnWriteArrayList<>();

    private final ToneOutput output = new ToneOutput("TrovJPOS-tone-output",
            command -> writeTone(command),
            new ToneOutput.Events() {
                @Override
                public void outputComplete(int outputId) {
                    postOutputComplete(outputId);
                }

                @Override
                public void outputFailed(int outputId, TrovException cause) {
                    // The event first: the log is a report of ours and must never cost the application it.
                    postOutputError(cause.getErrorCode(), 0, outputId);
                    ServiceLog.log(System.Logger.Level.WARNING, "Tone output {0} of {1} failed: {2}",
                            outputId, TrovToneIndicatorService.this, cause.getMessage());
                }
            });


    /**
     * Serialises queueing an output with the end of an opening, so that no output of an ended opening
     * starts. Taken after this object's lock and the session's monitor, before ToneOutput's.
     */
    private final Object outputs = new Object();

    /** The terminal's settings file gives the tones their initial values. */
    private final TerminalSettings settings = TerminalSettings.current();

    private volatile byte[] tone1Command = settings.command(TerminalSettings.TONE1_COMMAND, null);
    private volatile byte[] tone2Command = settings.command(TerminalSettings.TONE2_COMMAND, null);
    private volatile int tone1Duration = settings.number(TerminalSettings.TONE1_DURATION, 200);
    private volatile int tone2Duration = settings.number(TerminalSettings.TONE2_DURATION, 0);
    private volatile int interToneWait;
    private volatile int tone1Pitch;
    private volatile int tone1Volume = 100;
    private volatile int tone2Pitch;
    private volatile int tone2Volume = 100;

    /** Creates a closed tone indicator service object. */
    public TrovToneIndicatorService() {
        super(ServiceKind.TONE);
    }

    /**
     * Adds a listener for output complete events. Adding one already registered does nothing.
     *
     * @param listener the listener
     * @throws NullPointerException when {@code listener} is null
     */
    public void addOutputCompleteListener(OutputCompleteListener listener) {
        outputCompleteListeners.addIfAbsent(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added by {@link #addOutputCompleteListener}; does nothing when not registered.
     *
     * @param listener the listener
     */
    public void removeOutputCompleteListener(OutputCompleteListener listener) {
        outputCompleteListeners.remove(listener);
    }

    /**
     * Queues {@code numberOfCycles} cycles of the current tone properties and returns at once.
     *
     * @param numberOfCycles above 0, or {@link TrovConst#JPOS_FOREVER} to sound until {@link #clearOutput()}
     * @param interSoundWait milliseconds of silence between two cycles, 0 or more
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} when not open, claimed and enabled;
     *                       {@link TrovConst#JPOS_E_ILLEGAL} for a bad count or wait, neither duration
     *                       above 0, or a sounding tone without a valid command
     */
    public void sound(int numberOfCycles, int interSoundWait) throws TrovException {
        synchronized (outputs) {
            requireEnabled();
            output.sound(cycle(), numberOfCycles, interSoundWait);
        }
    }

    /**
     * Sounds one cycle of the current tone properties and returns when it is over.
     *
     * @throws TrovException as {@link #sound(int, int)}; {@link TrovConst#JPOS_E_BUSY} while an
     *                       asynchronous output or another soundImmediate is under way;
     *                       {@link TrovConst#JPOS_E_CLOSED} when closed during it; a write's failure
     */
    public void soundImmediate() throws TrovException {
        requireEnabled();
        output.soundImmediate(cycle());
    }

    /**
     * Ends the output sounding and drops those queued, with their output complete events, also those
     * already on their way to the listeners. Never waits.
     *
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED} or {@link TrovConst#JPOS_E_NOTCLAIMED}
     *                       when not open and claimed by this object
     */
    public void clearOutput() throws TrovException {
        requireClaimed();
        synchronized (outputs) {
            outputsClearedThrough = output.getOutputID();
            output.clearOutput();
        }
    }

    /**
     * Returns the id of the output the last {@link #sound(int, int)} queued, which its output complete
     * event carries.
     *
     * @return the id, from 1; 0 before the first
     */
    public int getOutputID() {
        return output.getOutputID();
    }

    /**
     * Sends tone command bytes to the beeper at once, outside the outputs of {@link #sound(int, int)}.
     *
     * @param data the bytes to send
     * @throws NullPointerException when {@code data} is null
     * @throws TrovException {@link TrovConst#JPOS_E_CLOSED}, {@link TrovConst#JPOS_E_NOTCLAIMED} or
     *                       {@link TrovConst#JPOS_E_DISABLED} when the service is not open, claimed and
     *                       enabled; {@link TrovConst#JPOS_E_ILLEGAL} when the native layer refused the
     *                       bytes (more than 16); {@link TrovConst#JPOS_E_FAILURE} when the device
     *                       write failed or the first byte is 0
     */
    public void sound(byte[] data) throws TrovException {
        writeTone(Objects.requireNonNull(data, "data"));
    }

    /** Writes one tone command and counts it for the statistics. */
    private void writeTone(byte[] command) throws TrovException {
        write(command.length, () -> WriteToneIndicator(command, command.length));
        DeviceStatistics.of(ServiceKind.TONE).count(DeviceStatistics.Statistic.TONES_SOUNDED);
    }

    // Tone properties.

    /**
     * @return tone 1's command bytes (a copy), or null when none is set; by default the settings file's
     *         {@code tone1.command}
     */
    public byte[] getTone1Command() {
        return copy(tone1Command);
    }

    /**
     * Sets tone 1's command bytes, this service's own property: 1 to 16 bytes of the keyboard's, the
     * first not 0, checked when a tone is sounded. The array is copied.
     *
     * @param command the bytes, or null for none
     */
    public void setTone1Command(byte[] command) {
        tone1Command = copy(command);
    }

    /**
     * @return tone 2's command bytes (a copy), or null when none is set; by default the settings file's
     *         {@code tone2.command}
     */
    public byte[] getTone2Command() {
        return copy(tone2Command);
    }

    /**
     * Sets tone 2's command bytes, as {@link #setTone1Command(byte[])}.
     *
     * @param command the bytes, or null for none
     */
    public void setTone2Command(byte[] command) {
        tone2Command = copy(command);
    }

    /** @return the milliseconds given to tone 1; by default the settings file's {@code tone1.duration}, else 200 */
    public int getTone1Duration() {
        return tone1Duration;
    }

    /** @param millis the milliseconds given to tone 1; 0 or less: tone 1 does not sound */
    public void setTone1Duration(int millis) {
        tone1Duration = millis;
    }

    /**
     * @return the milliseconds given to tone 2; by default the settings file's {@code tone2.duration},
     *         else 0 (silent)
     */
    public int getTone2Duration() {
        return tone2Duration;
    }

    /** @param millis the milliseconds given to tone 2; 0 or less: tone 2 does not sound */
    public void setTone2Duration(int millis) {
        tone2Duration = millis;
    }

    /** @return the milliseconds of silence between tone 1 and tone 2; 0 by default */
    public int getInterToneWait() {
        return interToneWait;
    }

    /**
     * @param millis the milliseconds of silence between tone 1 and tone 2, 0 or more
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} when negative
     */
    public void setInterToneWait(int millis) throws TrovException {
        if (millis < 0) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "InterToneWait must not be negative: " + millis);
        }
        interToneWait = millis;
    }

    /** @return true: {@link #sound(int, int)} is always asynchronous; {@link #soundImmediate()} is the synchronous form */
    public boolean getAsyncMode() {
        return true;
    }

    /**
     * @param async must be true: {@link #sound(int, int)} is always asynchronous
     * @throws TrovException {@link TrovConst#JPOS_E_ILLEGAL} for false; use {@link #soundImmediate()}
     */
    public void setAsyncMode(boolean async) throws TrovException {
        if (!async) {
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL,
                    "sound() is always asynchronous; soundImmediate() sounds one cycle synchronously");
        }
    }

    /** @return false: the pitch is the tone command's */
    public boolean getCapPitch() {
        return false;
    }

    /** @return false: the volume is the tone command's */
    public boolean getCapVolume() {
        return false;
    }

    /** @return 0: no melodies */
    public int getCapMelody() {
        return 0;
    }

    /** @return the value set; not used, the pitch is the tone command's */
    public int getTone1Pitch() {
        return tone1Pitch;
    }

    /** @param pitch kept and not used: the pitch is the tone command's */
    public void setTone1Pitch(int pitch) {
        tone1Pitch = pitch;
    }

    /** @return the value set (100 by default); not used, the volume is the tone command's */
    public int getTone1Volume() {
        return tone1Volume;
    }

    /** @param volume kept and not used: the volume is the tone command's */
    public void setTone1Volume(int volume) {
        tone1Volume = volume;
    }

    /** @return the value set; not used, the pitch is the tone command's */
    public int getTone2Pitch() {
        return tone2Pitch;
    }

    /** @param pitch kept and not used: the pitch is the tone command's */
    public void setTone2Pitch(int pitch) {
        tone2Pitch = pitch;
    }

    /** @return the value set (100 by default); not used, the volume is the tone command's */
    public int getTone2Volume() {
        return tone2Volume;
    }

    /** @param volume kept and not used: the volume is the tone command's */
    public void setTone2Volume(int volume) {
        tone2Volume = volume;
    }

    // The model's steps.

    private ToneOutput.Cycle cycle() throws TrovException {
        if (tone1Duration > 0 && tone1Command == null || tone2Duration > 0 && tone2Command == null) {
            int tone = tone1Duration > 0 && tone1Command == null ? 1 : 2;
            throw new TrovException(TrovConst.JPOS_E_ILLEGAL, "Tone " + tone + " has no command: "
                    + TerminalSettings.whereToSet("tone" + tone + ".command")
                    + " (the keyboard's beep bytes as hex) or call setTone" + tone + "Command");
        }
        return new ToneOutput.Cycle(tone1Command, tone1Duration, interToneWait, tone2Command, tone2Duration);
    }

    private void requireClaimed() throws TrovException {
        openSession();
        if (!isClaimed()) {
            throw new TrovException(TrovConst.JPOS_E_NOTCLAIMED, "The tone indicator must be claimed first");
        }
    }

    private void requireEnabled() throws TrovException {
        onlineSession();
        requireClaimed();
        if (!getDeviceEnabled()) {
            throw new TrovException(TrovConst.JPOS_E_DISABLED, "The tone indicator must be enabled first");
        }
    }

    private static byte[] copy(byte[] bytes) {
        return bytes == null ? null : bytes.clone();
    }

    @Override
    boolean outputBusy() {
        return output.isBusy();
    }

    @Override
    void deliverOutputComplete(OutputCompleteEvent event) {
        toListeners(outputCompleteListeners, event, OutputCompleteListener::outputCompleteOccurred);
    }

    /** Close: the outputs end at once and a soundImmediate under way stops. */
    @Override
    void ended() {
        synchronized (outputs) {
            outputsClearedThrough = output.getOutputID();
            output.close();
        }
    }

    @Override
    int nativeOpen() {
        return OpenToneIndicator();
    }

    @Override
    void nativeClose() {
        CloseToneIndicator();
    }

    @Override
    void nativeEnable(boolean enable) {
        enableToneIndicator(enable);
    }

    @Override
    void nativeClaim(boolean claim) {
        claimToneIndicator(claim);
    }

    @Override
    boolean nativeIsClaimed() {
        return isToneIndicatorClaimed();
    }

    // Native layer. Package-private so that tests in this package can call it directly.

    native int OpenToneIndicator();

    native void CloseToneIndicator();

    native int WriteToneIndicator(byte[] data, int count);

    native void enableToneIndicator(boolean enable);

    native void claimToneIndicator(boolean claim);

    native boolean isToneIndicatorClaimed();
}
