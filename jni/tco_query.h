// The TCO query: asks the keyboard for one of its TCO values by index and waits, bounded, for the
// decoder to hand over the reply through a System V message queue.
#ifndef TROV_JNI_TCO_QUERY_H
#define TROV_JNI_TCO_QUERY_H

// How long a query waits for the keyboard's reply.
inline constexpr int TCO_REPLY_LIMIT_MS = 3000;

// The value of one hexadecimal digit; a character that is not one counts as 0.
int iHexToInt(char digit);

// The reply digits read as one hexadecimal number, most significant first, wrapping modulo 2^32 as a
// two's complement 32-bit value: "1F" is 31, "80000000" is -2147483648, no digits 0.
int iTcoValue(const unsigned char *digits, int count);

// Sends the query for index and returns the value of the reply; 0 when the query could not be sent or
// no reply came in time. Queries of one process are serialised.
int iReadTco(int index);

#endif
