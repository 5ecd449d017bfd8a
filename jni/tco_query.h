// SPDX-License-Identifier: Apache-2.0
// The TCO query: asks the keyboard for one of its TCO values by index and waits, bounded, for the
// decoder to hand over the reply through a System V message queue (key 111).
//
// A reply carries no index, and every process that has the keyboard open sees every reply (the hiddev
// driver gives each open descriptor a copy of each input record). So one query at a time is outstanding
// on the keyboard across all processes: a query holds a lock across processes (core/process_lock.h,
// under key 111) from before its send until its reply or its limit, and a process takes a reply only for
// its own outstanding query, and only a reply that began in its input after everything that had arrived
// before the send. A query whose reply has not come within TCO_REPLY_LIMIT_MS keeps the keyboard for
// TCO_LATE_REPLY_GUARD_MS more, taking nothing: a late reply that begins meanwhile answers no query.
//
// The queue exists while a query holds the lock, and the holder removes it when it is empty. Under the
// lock no other process of this library posts into it; a message left by a process that died is dropped
// by the next query, and the set and queue of a query whose process was killed are removed by the next
// open or close of any process of the account that made them (vClearTcoLeftovers).
//
// A set removed while held (its owner's ipcrm, or the removal of an account's objects at logout) is
// detected, not prevented: the owner may always remove it. The holder looks at its set at every poll of
// its wait and takes no reply once it is gone; each query posts a mark of its own in the queue, and a
// query that finds another live query's mark there sends nothing or takes no reply. Both then return 0,
// never the other one's value.
#ifndef TROV_JNI_TCO_QUERY_H
#define TROV_JNI_TCO_QUERY_H

// How long a query waits for its reply, counted from its send. The keyboard answers within tens of
// milliseconds (a reply is a few input reports at the USB polling interval), so 2 s is two orders of
// magnitude beyond its normal reply time. The four limits together keep a whole query, with its wait for
// the others, under 5 s (1.8 + 0.3 + 2 + 0.8 = 4.9 s), the longest a till's call into the services may block.
inline constexpr int TCO_REPLY_LIMIT_MS = 2000;

// How long a query whose reply did not come keeps the keyboard after its limit, so that a late reply is
// dropped rather than taken by the next query. A reply that begins up to 2.8 s after its send is so
// dropped: a hundred times the keyboard's normal answer time (tens of milliseconds), and a keyboard
// that is stalled longer than that is in an outage that the power poller reports. A reply that begins
// later still could answer the next query: a reply carries no index, so nothing else can tell. Only a
// frame that begins within the guard is dropped here; one that began before the next query's send
// never answers it anyway.
inline constexpr int TCO_LATE_REPLY_GUARD_MS = 800;

// How long a query waits for the queries ahead of it, of this process and of others; one that finds no
// turn within it returns 0 without being sent.
inline constexpr int TCO_LOCK_LIMIT_MS = 1800;

// How long a query waits, holding the lock, for the input that arrived before it to reach the pipe.
inline constexpr int TCO_CATCH_UP_LIMIT_MS = 300;

// The value of one hexadecimal digit; a character that is not one counts as 0.
int iHexToInt(char digit);

// The reply digits read as one hexadecimal number, most significant first, wrapping modulo 2^32 as a
// two's complement 32-bit value: "1F" is 31, "80000000" is -2147483648, no digits 0.
int iTcoValue(const unsigned char *digits, int count);

// Sends the query for index and returns the value of its reply; 0 when the query could not be sent or
// no reply came within the limits.
int iReadTco(int index);

// Removes the set and the queue under key 111 that a killed query left, when no query holds the lock.
// Called at each open and shutdown of the device.
void vClearTcoLeftovers();

// Called by the decoder when a reply frame opens (0x86): where the frame begins in the input.
void vTcoFrameOpened();

// Called by the decoder when a reply frame has ended (its digits are in JposData): hands the reply to
// this process's outstanding query when the frame began after that query's send, and ignores it
// otherwise (a reply to another process, or one that no query waits for any more).
void vTcoReplyComplete();

#endif
