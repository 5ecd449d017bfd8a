// SPDX-License-Identifier: Apache-2.0
// The power-status poller: a thread that runs the edge detector once a second and reports every edge
// to the POS keyboard's status listener. At most one runs at a time.
#ifndef TROV_INPUT_POWER_POLLER_H
#define TROV_INPUT_POWER_POLLER_H

// Thread body; the argument carries the number of the opening it serves.
void *connect_thread(void *opening);

// Starts a poller for the current opening unless one runs already.
void vStartPoller();

// Ends the poller's pause at once, so that it looks whether its opening has ended.
void vWakePoller();

// Stops the running poller, if any, and waits for it (unless called on the poller itself).
void vStopPoller();

#endif
