// SPDX-License-Identifier: Apache-2.0
// The power-state edge detector: its four states against a present and an absent keyboard, and a lost
// keyboard left to the reader while it is still open.
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "device/hidfunctions.h"
#include "input/power_status.h"
#include "sim_fixture.h"

namespace {

class PowerStatus : public SimTest {
protected:
    void TearDown() override
    {
        vStore(agent, pthread_t{});
        hidfunc.iCloseDevice();
        SimTest::TearDown();
    }

    static void state(int connected, int disconnected)
    {
        vStore(bFirstRunConnected, connected);
        vStore(bFirstRunDisconnected, disconnected);
    }
};

TEST_F(PowerStatus, ReportsEachEdgeOnceFromEveryState)
{
    struct Row {
        int connected, disconnected;
        bool present;
        int report;
        int nextConnected, nextDisconnected;
    };
    const Row table[] = {
        {1, 1, true, 2001, 0, 1},  {1, 1, false, 2004, 1, 0},  // at load: the state found
        {0, 1, true, 0, 0, 1},     {0, 1, false, 2004, 1, 0},  // online reported
        {1, 0, true, 2001, 0, 1},  {1, 0, false, 0, 1, 0},     // off/offline reported
        {0, 0, true, 0, 0, 0},     {0, 0, false, 0, 0, 0},     // silenced by a reconnection
    };
    plugKeyboard(0);
    for (const Row &row : table) {
        SCOPED_TRACE(testing::Message() << "(" << row.connected << ", " << row.disconnected << "), "
                                        << (row.present ? "present" : "absent"));
        hidfunc.iCloseDevice();
        if (row.present) {
            ASSERT_TRUE(hidfunc.bFindAndOpenDevice());
        }
        state(row.connected, row.disconnected);
        EXPECT_EQ(row.report, getJPOSPowerStatus());
        EXPECT_EQ(row.nextConnected, bFirstRunConnected);
        EXPECT_EQ(row.nextDisconnected, bFirstRunDisconnected);
        EXPECT_EQ(0, getJPOSPowerStatus()) << "an edge is reported once";
    }
}

TEST_F(PowerStatus, LostKeyboardStillOpenIsLeftToTheReader)
{
    plugKeyboard(0);
    ASSERT_TRUE(hidfunc.bFindAndOpenDevice());
    state(0, 1);
    trovsim_unplug(0);
    vStore(agent, pthread_self());  // a reader runs; it will find the loss and start its 10-second grace
    EXPECT_EQ(0, getJPOSPowerStatus());
    EXPECT_EQ(1, bFirstRunDisconnected) << "the edge stays armed";
    vStore(agent, pthread_t{});
    EXPECT_EQ(2004, getJPOSPowerStatus()) << "without a reader the loss is reported at once";
}

}  // namespace
