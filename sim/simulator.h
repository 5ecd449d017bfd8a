// SPDX-License-Identifier: Apache-2.0
// The simulator's whole state: the sixteen nodes (which device sits behind each, its keyboard, its
// counters and received bytes) and the descriptors handed out, behind one lock. The descriptor side is
// used by the interposed C library functions, the node side by the control API.
#ifndef TROVSIM_SIMULATOR_H
#define TROVSIM_SIMULATOR_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "sim/hiddev_ioctl.h"
#include "sim/keyboard_protocol.h"
#include "sim/trovsim.h"

namespace trovsim {

using Clock = std::chrono::steady_clock;

struct Node {
    int kind = TROVSIM_ABSENT;
    bool custom_applications = false;  // applications set by trovsim_set_applications survive faults
    HiddevDevice device;
    trovkbd::Settings keyboard;
    trovkbd::CommandParser parser;
    bool plugged = true;
    Clock::time_point plugged_at{};    // the node path exists from then on
    std::vector<unsigned char> received;
    int answer_delay_ms = 0;           // the keyboard's answers arrive that late
    // Answers on their way, in the order the keyboard gave them, each with the time it arrives; an
    // answer never overtakes an earlier one. Dropped when the node's descriptors die.
    std::deque<std::pair<Clock::time_point, trovkbd::Bytes>> answers;
    long counts[TROVSIM_REQ_COUNT] = {};
};

// One descriptor handed out: the caller's end of a socket pair.
struct Handle {
    int node = 0;
    int peer = -1;            // the simulator's end, -1 once the descriptor is dead
    unsigned generation = 0;  // handles from before the last reset belong to no node any more
};

class Simulator {
public:
    // Created on first use and never destroyed: threads may still call in while the process exits.
    static Simulator &instance();

    // Descriptor side. Results follow the system call convention: >= 0, or -errno.
    int open_node(int node, int flags);
    void note_read(int fd);
    long ioctl(int fd, unsigned long request, void *arg);
    void forget(int fd);  // before the descriptor is closed

    // Node side. The caller has validated node numbers and arguments.
    void reset();
    void set_kind(int node, int kind);
    void set_faults(int node, unsigned faults);
    void set_applications(int node, std::vector<unsigned> usages);
    void set_identity(int node, unsigned short vendor, unsigned short product, unsigned short version,
                      const char *name);
    void set_keylock(int node, int digit);
    void set_tco(int node, int index, const char *digits);
    void set_silent(int node, bool silent);
    void set_answer_delay(int node, int delay_ms);
    int kind(int node);
    // Keyboard input; -1 when no keyboard sits behind the node.
    int send_input(int node, const trovkbd::Bytes &bytes);
    int turn_keylock(int node, int digit);
    int unplug(int node);
    int replug(int node, int delay_ms);
    int received(int node, unsigned char *buf, int cap);
    void clear_received(int node);
    int wait_received(int node, int count, int timeout_ms);
    long count(int node, int request);
    int open_handles(int node);

private:
    Simulator();

    bool present(const Node &node) const;
    void make_device(int node);
    void kill_handles(int node);
    int deliver(int node, const trovkbd::Bytes &bytes);
    void keyboard_receives(int node, const HidReport &report);
    void answer_later(int node, const trovkbd::Bytes &answer);
    void deliver_due_answers(int node);
    void apply_environment();

    std::mutex mutex_;
    std::condition_variable received_grew_;
    Node nodes_[TROVSIM_NODES];
    std::map<int, Handle> handles_;
    unsigned generation_ = 0;
    int environment_keyboard_ = -1;  // node named by TROVSIM_KEYBOARD at load, -1 for none
};

}  // namespace trovsim

#endif
