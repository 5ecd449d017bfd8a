// SPDX-License-Identifier: Apache-2.0
// The power-state edge detector: tests whether the keyboard still answers and reports a JavaPOS power
// status only when the answer differs from the one reported last.
#ifndef TROV_INPUT_POWER_STATUS_H
#define TROV_INPUT_POWER_STATUS_H

inline constexpr int OPOS_SUE_POWER_ONLINE = 2001;       // the device answers (again)
inline constexpr int OPOS_SUE_POWER_OFF = 2002;          // the device went away: the cable is out
inline constexpr int OPOS_SUE_POWER_OFF_OFFLINE = 2004;  // the device does not answer

// 0 (nothing to report), OPOS_SUE_POWER_ONLINE or OPOS_SUE_POWER_OFF_OFFLINE. The test and the update
// of the edge flags happen as one step, so two threads testing at once never report the same edge twice.
int getJPOSPowerStatus();

// Silences the detector (both edge flags 0), as a reconnection pass does.
void vSilencePowerStatus();

// Arms the detector to report the next absence, as the reconnect time-out does.
void vArmPowerOffReport();

// A change of the link found by the reader: the pass that closed a lost keyboard, or its reopen; the
// two alternate, a loss first. The reader notes it and then puts a stream break into the FIFO; the
// decoder reports the change at that break, so that the application hears it in stream order, after
// the input that came before. vResetLink starts the count afresh (the reset of the service state does).
void vNoteLinkChange();
void vResetLink();

// How many changes of the link the reader has noted since the open. A report tested before a change
// and delivered after it is stale (see CallbackJPOSStatusSinceLink).
unsigned uiLinkChangesNoted();

// The oldest change not reported yet, now marked reported: OPOS_SUE_POWER_OFF for a loss,
// OPOS_SUE_POWER_ONLINE for a return; 0 when every change was reported. Each change is reported once
// and in order, also when a loss and the return came before the decoder reached the first break.
int iUnreportedLinkChange();

#endif
