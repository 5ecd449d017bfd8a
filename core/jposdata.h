// SPDX-License-Identifier: Apache-2.0
// The one record of per-service state shared by the entry points, the reader and the decoder.
//
// The record is exported under the name JposData, and its layout (field order, sizes and the natural
// alignment of the two 32-bit fields) is fixed: other code in the process may read it by name.
#ifndef TROV_CORE_JPOSDATA_H
#define TROV_CORE_JPOSDATA_H

#include <cstdint>

struct JposRecord {
    uint8_t ucKeylockOpen;     // keylock opens not yet closed
    uint8_t bKeylockFrame;     // the decoder is inside a keylock frame
    uint8_t bKeylockEnabled;   // keylock position events wanted
    int32_t iKeylockPosition;  // last keylock digit value, -1 while the keylock is disabled
    uint8_t ucMsrOpen;         // MSR opens not yet closed
    uint8_t bTrack1Frame;      // the decoder is inside a track frame
    uint8_t bTrack2Frame;
    uint8_t bTrack3Frame;
    uint8_t ucTrack1Len;       // bytes collected per track, modulo 256
    uint8_t ucTrack2Len;
    uint8_t ucTrack3Len;
    uint8_t ucTrack1[256];
    uint8_t ucTrack2[256];
    uint8_t ucTrack3[256];
    uint8_t bMsrEnabled;       // MSR data events wanted
    uint8_t ucKeyboardOpen;    // POS keyboard opens not yet closed
    uint8_t bKeyboardOpened;   // the POS keyboard service is open in this process
    uint8_t bKeyboardEnabled;  // key events wanted
    uint8_t bExtendedKey;      // an extended-key prefix applies to the next key byte
    int32_t iKeyData;          // last key byte, bit 24 set for an extended key, -1 while disabled
    uint8_t bTcoFrame;         // the decoder is inside a TCO reply frame
    uint8_t ucTcoData[256];    // TCO reply digits, ASCII hexadecimal
    uint8_t ucTcoLen;          // TCO reply bytes collected, modulo 256
    uint8_t ucToneOpen;        // tone indicator opens not yet closed
    uint8_t bToneEnabled;      // tone commands allowed
};

#endif
