// SPDX-License-Identifier: Apache-2.0
// Where the input stands between the keyboard and the decoder, for a caller that must tell input that
// arrived before a moment from input that arrived after it (the TCO query: a reply that began before its
// query was sent answers another query).
//
// The reader brackets each pass (one read of the device and the forwarding of what it got into the
// pipe) with vReaderPassBegins and vReaderPassEnds. Once no input waits in the device's queue and no pass
// is under way, every byte that had arrived is in the pipe, and the pipe's count of bytes written marks
// the moment: a byte the decoder reads later at a position beyond that count arrived after it.
#ifndef TROV_INPUT_FORWARDING_STATE_H
#define TROV_INPUT_FORWARDING_STATE_H

#include <cstdint>

void vReaderPassBegins();
void vReaderPassEnds();

// True, with the pipe's position of everything received so far in mark, once all input that has arrived
// from the device (descriptor device, -1 when none is open) is in the pipe; false while some is still on
// its way.
bool bInputCaughtUp(int device, uint32_t &mark);

#endif
