// The power-state edge detector: tests whether the keyboard still answers and reports a JavaPOS power
// status only when the answer differs from the one reported last.
#ifndef TROV_INPUT_POWER_STATUS_H
#define TROV_INPUT_POWER_STATUS_H

inline constexpr int OPOS_SUE_POWER_ONLINE = 2001;       // the device answers (again)
inline constexpr int OPOS_SUE_POWER_OFF_OFFLINE = 2004;  // the device does not answer

// 0 (nothing to report), OPOS_SUE_POWER_ONLINE or OPOS_SUE_POWER_OFF_OFFLINE. The test and the update
// of the edge flags happen as one step, so two threads testing at once never report the same edge twice.
int getJPOSPowerStatus();

// Silences the detector (both edge flags 0), as a reconnection pass does.
void vSilencePowerStatus();

// Arms the detector to report the next absence, as the reconnect time-out does.
void vArmPowerOffReport();

#endif
