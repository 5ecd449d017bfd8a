/**
 * Application access to a USB POS keyboard through four services that share the one device:
 * <ul>
 *   <li>{@link com.trov.jpos.TrovKeylockService} - the key position of the keylock;</li>
 *   <li>{@link com.trov.jpos.TrovPOSKeyboardService} - key presses and releases, keyboard power
 *       status, command writes and TCO queries;</li>
 *   <li>{@link com.trov.jpos.TrovMSRService} - track data of the magnetic stripe reader;</li>
 *   <li>{@link com.trov.jpos.TrovToneIndicatorService} - tone commands for the beeper.</li>
 * </ul>
 *
 * <h2>The shared device</h2>
 * The classes are a thin layer over the native library {@code libTrovJPOS.so}, loaded from
 * {@code java.library.path} or from the absolute path in the system property
 * {@code trov.jpos.library}. The native library keeps the state of every service once per process:
 * the first {@code open()} of any service finds and sets up the keyboard, the last {@code close()}
 * releases it. Each service follows the same life:
 * {@code open()}, {@code claim()}, {@code setDeviceEnabled(true)}, use, {@code close()}
 * ({@link com.trov.jpos.ServiceState#CLOSED} to {@link com.trov.jpos.ServiceState#IDLE} to
 * {@link com.trov.jpos.ServiceState#ENABLED} and back). The keylock may be enabled without a claim;
 * the other three are exclusive and must be claimed first. When the keyboard reports power-off
 * ({@link com.trov.jpos.TrovConst#SUE_POWER_OFF_OFFLINE}), the native library shuts every service
 * down, and every service object of the process becomes closed.
 *
 * <h2>Threads</h2>
 * All public methods may be called from any thread. Device events travel in three steps:
 * <ol>
 *   <li>native threads of the library call a method of the service object, which only builds an
 *       immutable event object and queues it, without blocking or taking any lock;</li>
 *   <li>one Java daemon thread per open service object, named {@code TrovJPOS-<service>-events},
 *       takes the events from the queue in order;</li>
 *   <li>and calls the application's listeners with them. A slow listener delays later events but
 *       never stalls the device; an exception from a listener goes to the default uncaught exception
 *       handler (or to the {@code com.trov.jpos} system logger when there is none) and later events
 *       are still delivered.</li>
 * </ol>
 * {@code close()} delivers the events already queued before it returns, except when a listener
 * calls it on the dispatcher thread of the same service: then it returns at once, and the queued
 * events follow after the listener returns.
 *
 * <h2>Errors</h2>
 * Failures are reported as a checked {@link com.trov.jpos.TrovException} whose
 * {@link com.trov.jpos.TrovException#getErrorCode() error code} is one of
 * {@link com.trov.jpos.TrovConst#JPOS_E_CLOSED} (not open),
 * {@link com.trov.jpos.TrovConst#JPOS_E_CLAIMED} (claimed by another object),
 * {@link com.trov.jpos.TrovConst#JPOS_E_NOTCLAIMED} (needs a claim),
 * {@link com.trov.jpos.TrovConst#JPOS_E_NOSERVICE} (no keyboard found or set up, or no native
 * library), {@link com.trov.jpos.TrovConst#JPOS_E_DISABLED} (needs enabling),
 * {@link com.trov.jpos.TrovConst#JPOS_E_ILLEGAL} (not allowed now, or refused by the native layer)
 * and {@link com.trov.jpos.TrovConst#JPOS_E_FAILURE} (the device failed).
 */
package com.trov.jpos;
