// SPDX-License-Identifier: Apache-2.0
#include "sim_fixture.h"

#include <thread>

#include <sys/ipc.h>
#include <sys/shm.h>

#include "core/lifecycle.h"
#include "core/scoped_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "jni/registration.h"

void SimTest::SetUp()
{
    trovsim_reset();
    removeClaimSegment();
}

void SimTest::TearDown()
{
    // Whatever a test left open is shut down, so that the next test starts from a closed device.
    ScopedLock lifecycle(LifecycleLock);
    vStore(JposData.ucKeylockOpen, 0);
    vStore(JposData.ucKeyboardOpen, 0);
    vStore(JposData.ucMsrOpen, 0);
    vStore(JposData.ucToneOpen, 0);
    if (tLoad(bDeviceOpened)) {
        close_all();
    }
    // References registered by a test point into that test's fake VM; none may outlive it.
    vStore(KLObject, nullptr);
    vStore(MSRObject, nullptr);
    vStore(KBObject, nullptr);
    trovsim_reset();
}

std::vector<unsigned char> SimTest::received(int node)
{
    std::vector<unsigned char> all(4096);
    const int count = trovsim_received(node, all.data(), static_cast<int>(all.size()));
    all.resize(static_cast<size_t>(count < 0 ? 0 : count));
    return all;
}

bool SimTest::claimSegmentExists()
{
    return shmget(CLAIM_TABLE_KEY, 0, 0) >= 0;
}

void SimTest::removeClaimSegment()
{
    const int id = shmget(CLAIM_TABLE_KEY, 0, 0);
    if (id >= 0) {
        shmctl(id, IPC_RMID, nullptr);
    }
}

std::vector<unsigned char> bytes(std::initializer_list<int> values)
{
    std::vector<unsigned char> out;
    for (int v : values) {
        out.push_back(static_cast<unsigned char>(v));
    }
    return out;
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
