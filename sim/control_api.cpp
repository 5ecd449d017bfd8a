// SPDX-License-Identifier: Apache-2.0
// The C control API (trovsim.h): argument checks, then the simulator.
#include <vector>

#include "sim/injected_faults.h"
#include "sim/simulator.h"
#include "sim/trovsim.h"

using trovsim::Simulator;

namespace {

bool valid_node(int node)
{
    return node >= 0 && node < TROVSIM_NODES;
}

bool valid_digit(int digit)
{
    return digit >= 0 && digit <= 9;
}

// A byte run from the API: a count below zero, or a null pointer with bytes to read, is refused.
bool valid_bytes(const unsigned char *bytes, int count)
{
    return count >= 0 && (count == 0 || bytes != nullptr);
}

trovkbd::Bytes bytes_of(const unsigned char *bytes, int count)
{
    return count > 0 ? trovkbd::Bytes(bytes, bytes + count) : trovkbd::Bytes{};
}

}  // namespace

extern "C" {

void trovsim_reset(void)
{
    trovsim::injected::disarm_all();
    Simulator::instance().reset();
}

int trovsim_inject(int call, int skip, int count, int error)
{
    if (call < 0 || call >= TROVSIM_CALLS || skip < 0 || count < 0 || error < 0) {
        return -1;
    }
    trovsim::injected::arm(call, skip, count, error);
    return 0;
}

long trovsim_injected(int call)
{
    return call >= 0 && call < TROVSIM_CALLS ? trovsim::injected::injected(call) : -1;
}

int trovsim_set_answer_delay(int node, int delay_ms)
{
    if (!valid_node(node) || delay_ms < 0) {
        return -1;
    }
    Simulator::instance().set_answer_delay(node, delay_ms);
    return 0;
}

int trovsim_set_kind(int node, int kind)
{
    if (!valid_node(node) || kind < TROVSIM_ABSENT || kind > TROVSIM_KEYBOARD) {
        return -1;
    }
    Simulator::instance().set_kind(node, kind);
    return 0;
}

int trovsim_kind(int node)
{
    return valid_node(node) ? Simulator::instance().kind(node) : -1;
}

int trovsim_set_faults(int node, unsigned faults)
{
    if (!valid_node(node)) {
        return -1;
    }
    Simulator::instance().set_faults(node, faults);
    return 0;
}

int trovsim_set_applications(int node, const unsigned *usages, int count)
{
    if (!valid_node(node) || count < 0 || (count > 0 && usages == nullptr)) {
        return -1;
    }
    Simulator::instance().set_applications(node, count > 0 ? std::vector<unsigned>(usages, usages + count)
                                                           : std::vector<unsigned>{});
    return 0;
}

int trovsim_set_identity(int node, unsigned short vendor, unsigned short product, unsigned short version,
                         const char *name)
{
    if (!valid_node(node)) {
        return -1;
    }
    Simulator::instance().set_identity(node, vendor, product, version, name);
    return 0;
}

int trovsim_set_keylock(int node, int digit)
{
    if (!valid_node(node) || !valid_digit(digit)) {
        return -1;
    }
    Simulator::instance().set_keylock(node, digit);
    return 0;
}

int trovsim_set_tco(int node, int index, const char *digits)
{
    if (!valid_node(node) || index < 0 || index > 0xFF) {
        return -1;
    }
    Simulator::instance().set_tco(node, index, digits);
    return 0;
}

int trovsim_set_silent(int node, int silent)
{
    if (!valid_node(node)) {
        return -1;
    }
    Simulator::instance().set_silent(node, silent != 0);
    return 0;
}

int trovsim_send_raw(int node, const unsigned char *bytes, int count)
{
    if (!valid_node(node) || !valid_bytes(bytes, count)) {
        return -1;
    }
    return Simulator::instance().send_input(node, bytes_of(bytes, count));
}

int trovsim_press_key(int node, int key, int extended)
{
    if (!valid_node(node) || key < 0 || key > 0xFF || trovkbd::is_reserved_key(key)) {
        return -1;
    }
    return Simulator::instance().send_input(node, trovkbd::key_press(static_cast<std::uint8_t>(key), extended != 0));
}

int trovsim_release_key(int node, int key, int extended)
{
    if (!valid_node(node) || key < 0 || key > 0xFF || trovkbd::is_reserved_key(key)) {
        return -1;
    }
    return Simulator::instance().send_input(node,
                                            trovkbd::key_release(static_cast<std::uint8_t>(key), extended != 0));
}

int trovsim_turn_keylock(int node, int digit)
{
    if (!valid_node(node) || !valid_digit(digit)) {
        return -1;
    }
    return Simulator::instance().turn_keylock(node, digit);
}

int trovsim_swipe(int node, const unsigned char *t1, int n1, const unsigned char *t2, int n2,
                  const unsigned char *t3, int n3)
{
    if (!valid_node(node) || !valid_bytes(t1, n1) || !valid_bytes(t2, n2) || !valid_bytes(t3, n3)) {
        return -1;
    }
    return Simulator::instance().send_input(
        node, trovkbd::card_swipe(bytes_of(t1, n1), bytes_of(t2, n2), bytes_of(t3, n3)));
}

int trovsim_unplug(int node)
{
    return valid_node(node) ? Simulator::instance().unplug(node) : -1;
}

int trovsim_replug(int node, int delay_ms)
{
    if (!valid_node(node) || delay_ms < 0) {
        return -1;
    }
    return Simulator::instance().replug(node, delay_ms);
}

int trovsim_received(int node, unsigned char *buf, int cap)
{
    if (!valid_node(node) || !valid_bytes(buf, cap)) {
        return -1;
    }
    return Simulator::instance().received(node, buf, cap);
}

int trovsim_clear_received(int node)
{
    if (!valid_node(node)) {
        return -1;
    }
    Simulator::instance().clear_received(node);
    return 0;
}

int trovsim_wait_received(int node, int count, int timeout_ms)
{
    if (!valid_node(node)) {
        return -1;
    }
    return Simulator::instance().wait_received(node, count, timeout_ms);
}

long trovsim_count(int node, int request)
{
    if (!valid_node(node) || request < 0 || request >= TROVSIM_REQ_COUNT) {
        return -1;
    }
    return Simulator::instance().count(node, request);
}

int trovsim_open_handles(int node)
{
    return valid_node(node) ? Simulator::instance().open_handles(node) : -1;
}

}  // extern "C"
