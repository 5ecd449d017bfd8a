// SPDX-License-Identifier: Apache-2.0
// Definitions of the library's process-wide state (declared in trovjpos.h).
//
// The two device objects are defined in this one unit, hidfunc first (then IOFifo), so that static construction
// builds them in that order and unloading destroys them in reverse.
#include "core/trovjpos.h"

#include "device/hidfunctions.h"
#include "input/iofunctions.h"

#define TROV_EXPORT __attribute__((visibility("default")))

TROV_EXPORT JposRecord JposData;
TROV_EXPORT extern const signed char ReadKelockPosition[2] = {static_cast<signed char>(0xEF), 0x07};
TROV_EXPORT uint8_t bTerminateThread;
TROV_EXPORT pthread_t agent;
TROV_EXPORT uint8_t bTerminateConnectThread;
TROV_EXPORT pthread_t con_agent;
TROV_EXPORT uint8_t bTerminateFifoThread;
TROV_EXPORT pthread_t fifo_agent;
TROV_EXPORT int shmid;
TROV_EXPORT uint8_t ucDeviceNoResponse = 1;
TROV_EXPORT TcoMessage msgbuf;
TROV_EXPORT int msgID;

uint8_t bDeviceOpened;
uint8_t bFirstRunConnected = 1;
uint8_t bFirstRunDisconnected = 1;
uint8_t *bClaimedBy;
JavaVM *jvm;
uint8_t bTcoQueryWaiting;

unsigned uiOpening;

HidFunctions hidfunc;
IOFunctions IOFifo;
