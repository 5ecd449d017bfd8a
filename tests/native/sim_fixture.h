// SPDX-License-Identifier: Apache-2.0
// Common set-up of the native tests: a simulator with every node absent, and a library with its device
// closed and no claim segment left over from an earlier run.
#ifndef TROV_TESTS_SIM_FIXTURE_H
#define TROV_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sim/trovsim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Command bytes the keyboard at node has received.
    static std::vector<unsigned char> received(int node);
    static void plugKeyboard(int node) { ASSERT_EQ(0, trovsim_set_kind(node, TROVSIM_KEYBOARD)); }
    static bool claimSegmentExists();
    static void removeClaimSegment();
};

std::vector<unsigned char> bytes(std::initializer_list<int> values);

// Polls done() every millisecond until it holds (true) or the limit has passed (false).
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(5));

#endif
