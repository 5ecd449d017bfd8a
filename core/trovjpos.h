// SPDX-License-Identifier: Apache-2.0
// The library's process-wide state: the service record, the flags and handles of the three library
// threads, the claim table, the Java references and the two device objects.
//
// Names marked "exported" are visible by name to other code in the process (see exports.map) and keep
// their types and layout; everything else is private to the library.
#ifndef TROV_CORE_TROVJPOS_H
#define TROV_CORE_TROVJPOS_H

#include <cstdint>
#include <jni.h>
#include <pthread.h>

#include "core/jposdata.h"

class HidFunctions;
class IOFunctions;

// JavaPOS result of an Open that cannot provide the service.
inline constexpr int JPOS_E_NOSERVICE = 104;

// The System V IPC keys shared by every process that uses the library.
inline constexpr int CLAIM_TABLE_KEY = 100;
inline constexpr int TCO_QUEUE_KEY = 111;
inline constexpr int CLAIM_TABLE_SIZE = 5;

// Claim table bytes, one per service.
inline constexpr int CLAIM_KEYLOCK = 0;
inline constexpr int CLAIM_MSR = 1;
inline constexpr int CLAIM_KEYBOARD = 2;
inline constexpr int CLAIM_TONE = 3;

// The TCO reply message: the platform's System V message layout (a long type, then the payload).
struct TcoMessage {
    long mtype;
    int32_t iSenderPid;
};

// Exported.
extern JposRecord JposData;
extern const signed char ReadKelockPosition[2];  // the keylock position request, 0xEF 0x07
extern uint8_t bTerminateThread;                 // stop flag of the reader thread
extern pthread_t agent;                          // the reader thread, 0 when none
extern uint8_t bTerminateConnectThread;          // stop flag of the poller thread
extern pthread_t con_agent;                      // the poller thread, 0 when none
extern uint8_t bTerminateFifoThread;             // stop flag of the decoder thread
extern pthread_t fifo_agent;                     // the decoder thread, 0 when none
extern int shmid;                                // System V id of the claim table held, else 0 (also a valid id)
extern uint8_t ucDeviceNoResponse;               // 1 at load and after a failed read; 0 after an outage's time-out
extern TcoMessage msgbuf;                        // the TCO reply message
extern int msgID;                                // System V id of the TCO query's message queue

// Private to the library.
extern uint8_t bDeviceOpened;           // the common open sequence has opened the device
extern uint8_t bFirstRunConnected;      // power-state edge memory
extern uint8_t bFirstRunDisconnected;
extern uint8_t *bClaimedBy;             // the attached claim table, null when none is attached
extern JavaVM *jvm;                     // the Java VM, null while the device is closed
extern uint8_t bTcoQueryWaiting;        // a TCO query waits for its reply message on msgID
extern HidFunctions hidfunc;            // the device channel
extern IOFunctions IOFifo;              // the FIFO between the reader and the decoder

// The number of the current opening of the device. It is passed to every thread an opening starts,
// and a shutdown advances it first thing, so that a thread can tell that its opening has ended even
// when the shutdown runs on that very thread and cannot stop it by a join.
extern unsigned uiOpening;

#endif
