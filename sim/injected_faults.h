// SPDX-License-Identifier: Apache-2.0
// Process-wide faults injected into C library calls (trovsim_inject): per kind of call, how many calls
// still pass, how many then fail and with which error. Unarmed, a check costs one atomic load, so the
// interposed calls stay cheap for a JVM that makes millions of them.
#ifndef TROVSIM_INJECTED_FAULTS_H
#define TROVSIM_INJECTED_FAULTS_H

namespace trovsim::injected {

// Arms a kind of call (see trovsim_inject); count 0 disarms it.
void arm(int call, int skip, int count, int error);
void disarm_all();
long injected(int call);

// Whether this call of that kind fails; then *error holds the error to report. Counts the call.
bool fails(int call, int *error);

// Whether any fault is armed for that kind (a quick test before the caller looks at the descriptor).
bool armed(int call);

}  // namespace trovsim::injected

#endif
