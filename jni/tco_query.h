// The TCO query: asks the keyboard for one of its TCO values by index and waits, bounded, for the
// decoder to hand over the reply through a System V message queue (key 111).
//
// A reply carries no index, and the keyboard answers queries in order. A query that gives up therefore
// leaves its reply owed: the next reply that completes within TCO_LATE_REPLY_MS is that late reply and is
// dropped, and the next query waits for it (or for that time to pass) before it sends, so that a late
// reply never answers a later query. The queue is shared by every process on the machine; each reply
// message is typed with the process id of the process whose decoder posts it, so that a process only
// ever takes (and drops) its own.
#ifndef TROV_JNI_TCO_QUERY_H
#define TROV_JNI_TCO_QUERY_H

// How long a caller waits in all: for the queries of other threads ahead of it, for a late reply owed by
// an earlier query, and for its own reply.
inline constexpr int TCO_REPLY_LIMIT_MS = 3000;

// How long after a query gave up its reply is still expected; a reply later than that is taken as lost.
inline constexpr int TCO_LATE_REPLY_MS = 1000;

// The value of one hexadecimal digit; a character that is not one counts as 0.
int iHexToInt(char digit);

// The reply digits read as one hexadecimal number, most significant first, wrapping modulo 2^32 as a
// two's complement 32-bit value: "1F" is 31, "80000000" is -2147483648, no digits 0.
int iTcoValue(const unsigned char *digits, int count);

// Sends the query for index and returns the value of the reply; 0 when the query could not be sent or
// no reply came in time. Queries of one process are serialised. Leaves no queue behind unless another
// process's reply is waiting in it.
int iReadTco(int index);

// Called by the decoder when a reply frame has ended (its digits are in JposData): hands the reply to
// the waiting query, drops it when it is the late reply of a query that gave up, and ignores it when no
// query waits.
void vTcoReplyComplete();

#endif
