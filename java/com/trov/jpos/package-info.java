// SPDX-License-Identifier: Apache-2.0
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
 * {@code trov.jpos.library}. The first {@code open()} of any service object finds and sets up the
 * keyboard, the last {@code close()} releases it. Each object follows the same life:
 * {@code open()}, {@code claim(timeout)}, {@code setDeviceEnabled(true)}, use, {@code close()}
 * ({@code getState()} {@link com.trov.jpos.TrovConst#JPOS_S_CLOSED} to
 * {@link com.trov.jpos.TrovConst#JPOS_S_IDLE} and back). The POS keyboard and the MSR deliver data
 * under the UnifiedPOS input model ({@link com.trov.jpos.TrovInputService}). The keylock may be enabled without a claim;
 * the other three are exclusive and must be claimed first. Several objects of one service may be
 * open at once; keylock positions reach every enabled keylock object, the other services' events the
 * object that claimed and enabled the service. Every open object hears the keyboard go away
 * ({@link com.trov.jpos.TrovConst#SUE_POWER_OFF}) and come back
 * ({@link com.trov.jpos.TrovConst#SUE_POWER_ONLINE}). When the keyboard reports power-off
 * ({@link com.trov.jpos.TrovConst#SUE_POWER_OFF_OFFLINE}), the native library shuts every service
 * down; every open object hears the power-off and stays open, claimed and enabled, off-line, until
 * the keyboard is back and the service has opened, claimed and enabled it again (2001).
 *
 * <h2>Threads</h2>
 * All public methods may be called from any thread, also from listeners. Device events travel in
 * three steps:
 * <ol>
 *   <li>native threads of the library call a method of an internal object of the service class,
 *       which builds an immutable event object and queues it, with the process's next sequence
 *       number and its decode time, for the objects it concerns, without waiting for any listener;</li>
 *   <li>one Java daemon thread for the whole process, named {@code TrovJPOS-events}, takes the
 *       events from that one queue in the order the library decoded them, across services;</li>
 *   <li>and calls the application's listeners with them. A slow listener delays every later event of
 *       the process but never stalls the device; an exception from a listener is logged as a warning
 *       (logger {@code com.trov.jpos}) and handed to the default uncaught exception handler when
 *       there is one, and later events are still delivered.</li>
 * </ol>
 * Once {@code close()} has begun, no event reaches its object, also none queued before. Once
 * {@code setDeviceEnabled(false)} has begun, no new key or swipe is queued for the object and no keylock
 * position reaches it; the data and input error events the object had queued already stay queued and
 * are delivered under the UnifiedPOS input model ({@code DataEventEnabled}, {@code FreezeEvents}), and
 * {@code clearInput()} drops them, also those still on their way. Neither waits for the event thread.
 *
 * <h2>Logging</h2>
 * The classes log through {@link java.lang.System.Logger} under the name {@code com.trov.jpos}:
 * opens, closes, claims and power states at {@code DEBUG}, a failed open with its cause at
 * {@code INFO}, the shutdown after the keyboard was away for more than 10 seconds and a listener that
 * threw at {@code WARNING}. A log handler that throws never makes a call fail or an event go
 * missing: the failure is told once on the standard error stream and otherwise ignored; so is an MBean
 * server that refuses the services' MBeans.
 *
 * <h2>Errors</h2>
 * Failures are reported as a checked {@link com.trov.jpos.TrovException} whose
 * {@link com.trov.jpos.TrovException#getErrorCode() error code} is one of
 * {@link com.trov.jpos.TrovConst#JPOS_E_CLOSED} (not open),
 * {@link com.trov.jpos.TrovConst#JPOS_E_TIMEOUT} (a claim still held by another object when the
 * timeout ended, or a wait for the keylock that ran out),
 * {@link com.trov.jpos.TrovConst#JPOS_E_BUSY} ({@code soundImmediate} while an output is under way),
 * {@link com.trov.jpos.TrovConst#JPOS_E_NOTCLAIMED} (needs a claim),
 * {@link com.trov.jpos.TrovConst#JPOS_E_NOSERVICE} (no keyboard found or set up, or no native
 * library), {@link com.trov.jpos.TrovConst#JPOS_E_DISABLED} (needs enabling),
 * {@link com.trov.jpos.TrovConst#JPOS_E_ILLEGAL} (not allowed now, or refused by the native layer)
 * and {@link com.trov.jpos.TrovConst#JPOS_E_FAILURE} (the device failed).
 */
package com.trov.jpos;
