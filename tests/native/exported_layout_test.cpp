// SPDX-License-Identifier: Apache-2.0
// The layout of the exported data, which other code in the process reads by name: field offsets of the
// service record and the sizes of the exported globals, identical on i386 and x86_64 except where the
// platform's own types (pthread_t, the message buffer's long) differ.
#include <gtest/gtest.h>

#include <cstddef>

#include "core/trovjpos.h"

namespace {

TEST(ExportedLayout, ServiceRecordFieldsSitAtTheirFixedOffsets)
{
    struct Field {
        const char *name;
        size_t offset;
        size_t expected;
    };
    const Field fields[] = {
        {"ucKeylockOpen", offsetof(JposRecord, ucKeylockOpen), 0},
        {"bKeylockFrame", offsetof(JposRecord, bKeylockFrame), 1},
        {"bKeylockEnabled", offsetof(JposRecord, bKeylockEnabled), 2},
        {"iKeylockPosition", offsetof(JposRecord, iKeylockPosition), 4},
        {"ucMsrOpen", offsetof(JposRecord, ucMsrOpen), 8},
        {"bTrack1Frame", offsetof(JposRecord, bTrack1Frame), 9},
        {"bTrack2Frame", offsetof(JposRecord, bTrack2Frame), 10},
        {"bTrack3Frame", offsetof(JposRecord, bTrack3Frame), 11},
        {"ucTrack1Len", offsetof(JposRecord, ucTrack1Len), 12},
        {"ucTrack2Len", offsetof(JposRecord, ucTrack2Len), 13},
        {"ucTrack3Len", offsetof(JposRecord, ucTrack3Len), 14},
        {"ucTrack1", offsetof(JposRecord, ucTrack1), 15},
        {"ucTrack2", offsetof(JposRecord, ucTrack2), 271},
        {"ucTrack3", offsetof(JposRecord, ucTrack3), 527},
        {"bMsrEnabled", offsetof(JposRecord, bMsrEnabled), 783},
        {"ucKeyboardOpen", offsetof(JposRecord, ucKeyboardOpen), 784},
        {"bKeyboardOpened", offsetof(JposRecord, bKeyboardOpened), 785},
        {"bKeyboardEnabled", offsetof(JposRecord, bKeyboardEnabled), 786},
        {"bExtendedKey", offsetof(JposRecord, bExtendedKey), 787},
        {"iKeyData", offsetof(JposRecord, iKeyData), 788},
        {"bTcoFrame", offsetof(JposRecord, bTcoFrame), 792},
        {"ucTcoData", offsetof(JposRecord, ucTcoData), 793},
        {"ucTcoLen", offsetof(JposRecord, ucTcoLen), 1049},
        {"ucToneOpen", offsetof(JposRecord, ucToneOpen), 1050},
        {"bToneEnabled", offsetof(JposRecord, bToneEnabled), 1051},
    };
    for (const Field &f : fields) {
        EXPECT_EQ(f.expected, f.offset) << f.name;
    }
    EXPECT_EQ(1052u, sizeof(JposRecord));
    EXPECT_EQ(4u, sizeof(JposData.iKeylockPosition));
    EXPECT_EQ(256u, sizeof(JposData.ucTcoData));
}

TEST(ExportedLayout, GlobalsHaveThePlatformSizes)
{
    EXPECT_EQ(2u, sizeof ReadKelockPosition);
    EXPECT_EQ(0xEF, static_cast<unsigned char>(ReadKelockPosition[0]));
    EXPECT_EQ(0x07, ReadKelockPosition[1]);
    EXPECT_EQ(1u, sizeof bTerminateThread);
    EXPECT_EQ(1u, sizeof bTerminateConnectThread);
    EXPECT_EQ(1u, sizeof bTerminateFifoThread);
    EXPECT_EQ(1u, sizeof ucDeviceNoResponse);
    EXPECT_EQ(4u, sizeof shmid);
    EXPECT_EQ(4u, sizeof msgID);
    EXPECT_EQ(sizeof(unsigned long), sizeof agent);
    // The message type is the platform's long, followed by the 32-bit sender id.
    EXPECT_EQ(0u, offsetof(TcoMessage, mtype));
    EXPECT_EQ(sizeof(long), offsetof(TcoMessage, iSenderPid));
    EXPECT_EQ(sizeof(long) == 4 ? 8u : 16u, sizeof msgbuf);
}

TEST(ExportedLayout, ValuesAtLoad)
{
    // Nothing in this binary opens the device before this test runs first in its own process.
    EXPECT_EQ(1, ucDeviceNoResponse);
    EXPECT_EQ(1, bFirstRunConnected);
    EXPECT_EQ(1, bFirstRunDisconnected);
}

}  // namespace
