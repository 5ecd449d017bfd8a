// SPDX-License-Identifier: Apache-2.0
// The node side of the simulator: what sits behind each node path, the keyboard's settings and input,
// plugging, and what the tests observe.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/fd_marks.h"
#include "sim/libc_next.h"
#include "sim/simulator.h"

namespace trovsim {

namespace {

// The identity a node has until trovsim_set_identity changes it.
constexpr unsigned short DEFAULT_VENDOR = 0x5452;
constexpr unsigned short DEFAULT_PRODUCT = 0x4B42;
constexpr unsigned short DEFAULT_VERSION = 0x0100;
constexpr char DEFAULT_NAME[] = "Trov";                      // USB string 1: the manufacturer
constexpr char DEFAULT_PRODUCT_NAME[] = "Trov POS Keyboard";  // USB string 2: the product
// USB address of the first device: every plug-in gets the next one, as a real bus would assign.
constexpr unsigned FIRST_DEVNUM = 2;

// The node named by TROVSIM_KEYBOARD: a plain decimal 0 to 15, else none.
int environment_node()
{
    const char *value = std::getenv("TROVSIM_KEYBOARD");
    if (value == nullptr || value[0] == '\0') {
        return -1;
    }
    char *end = nullptr;
    const long node = std::strtol(value, &end, 10);
    if (*end != '\0' || node < 0 || node >= TROVSIM_NODES) {
        return -1;
    }
    return static_cast<int>(node);
}

// Reads the environment when the library loads, not when it is first called.
__attribute__((constructor)) void create_at_load()
{
    Simulator::instance();
}

}  // namespace

Simulator &Simulator::instance()
{
    static Simulator *const simulator = new Simulator();
    return *simulator;
}

Simulator::Simulator()
{
    environment_keyboard_ = environment_node();
    reset();
}

bool Simulator::present(const Node &node) const
{
    return node.kind != TROVSIM_ABSENT && node.plugged && Clock::now() >= node.plugged_at;
}

void Simulator::make_device(int node)
{
    Node &n = nodes_[node];
    std::vector<unsigned> applications = n.device.description.applications;
    n.device.description =
        n.kind == TROVSIM_KEYBOARD ? keyboard_description(n.device.faults) : generic_keyboard_description();
    if (n.custom_applications) {
        n.device.description.applications = std::move(applications);
    }
}

void Simulator::kill_handles(int node)
{
    for (int n = 0; n < TROVSIM_NODES; ++n) {
        if (node < 0 || n == node) {
            nodes_[n].answers.clear();  // answers on their way to the old device are lost
        }
    }
    for (auto &[fd, handle] : handles_) {
        if (handle.peer >= 0 && (node < 0 || handle.node == node)) {
            // Marked dead before the hang-up shows, so that poll never sees a hang-up on a live mark.
            // Closing our end lets the caller read what is queued, then see the end of the stream.
            fd_marks::set(fd, fd_marks::DEAD);
            next::close(handle.peer);
            handle.peer = -1;
        }
    }
}

void Simulator::apply_environment()
{
    if (environment_keyboard_ >= 0) {
        nodes_[environment_keyboard_].kind = TROVSIM_KEYBOARD;
        make_device(environment_keyboard_);
    }
}

void Simulator::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    kill_handles(-1);
    ++generation_;
    for (int node = 0; node < TROVSIM_NODES; ++node) {
        Node &n = nodes_[node];
        n = Node{};
        n.device.vendor = DEFAULT_VENDOR;
        n.device.product = DEFAULT_PRODUCT;
        n.device.version = DEFAULT_VERSION;
        n.device.name = DEFAULT_NAME;
        n.device.productName = DEFAULT_PRODUCT_NAME;
        n.device.busnum = 1;
        n.device.devnum = FIRST_DEVNUM + static_cast<unsigned>(node);
    }
    apply_environment();
    received_grew_.notify_all();
}

void Simulator::set_kind(int node, int kind)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node &n = nodes_[node];
    // A different device now: whatever was open on the old one is dead.
    kill_handles(node);
    n.kind = kind;
    n.custom_applications = false;
    n.keyboard = trovkbd::Settings{};
    n.parser.restart();
    n.plugged = true;
    n.plugged_at = Clock::time_point{};
    make_device(node);
}

void Simulator::set_faults(int node, unsigned faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node &n = nodes_[node];
    constexpr unsigned layout = TROVSIM_FAULT_NO_OUTPUT_USAGE | TROVSIM_FAULT_USAGE_LATER_FIELD;
    const bool relayout = ((n.device.faults ^ faults) & layout) != 0;
    n.device.faults = faults;
    if (relayout) {
        make_device(node);
    }
}

void Simulator::set_applications(int node, std::vector<unsigned> usages)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[node].custom_applications = true;
    nodes_[node].device.description.applications = std::move(usages);
}

void Simulator::set_identity(int node, unsigned short vendor, unsigned short product, unsigned short version,
                             const char *name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    HiddevDevice &device = nodes_[node].device;
    device.vendor = vendor;
    device.product = product;
    device.version = version;
    device.name = name != nullptr ? name : "";
}

void Simulator::set_keylock(int node, int digit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[node].keyboard.keylock = digit;
}

void Simulator::set_tco(int node, int index, const char *digits)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (digits == nullptr) {
        nodes_[node].keyboard.tco.erase(index);
    } else {
        nodes_[node].keyboard.tco[index] = digits;
    }
}

void Simulator::set_silent(int node, bool silent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[node].keyboard.silent = silent;
}

void Simulator::set_answer_delay(int node, int delay_ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[node].answer_delay_ms = delay_ms;
}

void Simulator::answer_later(int node, const trovkbd::Bytes &answer)
{
    Node &n = nodes_[node];
    // The keyboard works on one command at a time: it starts on this one once it has answered the last.
    Clock::time_point start = Clock::now();
    if (!n.answers.empty() && start < n.answers.back().first) {
        start = n.answers.back().first;
    }
    const Clock::time_point due = start + std::chrono::milliseconds(n.answer_delay_ms);
    const unsigned generation = generation_;
    try {
        n.answers.emplace_back(due, answer);
        std::thread([this, node, due, generation] {
            std::this_thread::sleep_until(due);
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation_ == generation) {
                deliver_due_answers(node);
            }
        }).detach();
    } catch (...) {
        // No thread to carry them (threads may be refused by an injected fault): they arrive at once.
        for (const auto &[at, bytes] : n.answers) {
            deliver(node, bytes);
        }
        n.answers.clear();
    }
}

void Simulator::deliver_due_answers(int node)
{
    std::deque<std::pair<Clock::time_point, trovkbd::Bytes>> &answers = nodes_[node].answers;
    while (!answers.empty() && answers.front().first <= Clock::now()) {
        deliver(node, answers.front().second);
        answers.pop_front();
    }
}

int Simulator::kind(int node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nodes_[node].kind;
}

int Simulator::send_input(int node, const trovkbd::Bytes &bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (nodes_[node].kind != TROVSIM_KEYBOARD) {
        return -1;
    }
    return deliver(node, bytes);
}

int Simulator::turn_keylock(int node, int digit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (nodes_[node].kind != TROVSIM_KEYBOARD) {
        return -1;
    }
    nodes_[node].keyboard.keylock = digit;
    return deliver(node, trovkbd::keylock_position(digit));
}

int Simulator::unplug(int node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node &n = nodes_[node];
    if (n.kind == TROVSIM_ABSENT) {
        return -1;
    }
    n.plugged = false;
    kill_handles(node);
    return 0;
}

int Simulator::replug(int node, int delay_ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node &n = nodes_[node];
    if (n.kind == TROVSIM_ABSENT) {
        return -1;
    }
    // A device still plugged in goes through a whole unplug first.
    kill_handles(node);
    n.plugged = true;
    n.plugged_at = Clock::now() + std::chrono::milliseconds(delay_ms);
    n.parser.restart();
    n.device.devnum += 1;  // the bus numbers the device anew, as USB does on every plug
    make_device(node);
    return 0;
}

int Simulator::received(int node, unsigned char *buf, int cap)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<unsigned char> &log = nodes_[node].received;
    const std::size_t copied = std::min(log.size(), static_cast<std::size_t>(cap));
    if (copied > 0) {
        std::memcpy(buf, log.data(), copied);
    }
    return static_cast<int>(log.size());
}

void Simulator::clear_received(int node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[node].received.clear();
}

int Simulator::wait_received(int node, int count, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const auto enough = [this, node, count] { return nodes_[node].received.size() >= static_cast<std::size_t>(count); };
    if (timeout_ms < 0) {
        received_grew_.wait(lock, enough);
    } else {
        received_grew_.wait_for(lock, std::chrono::milliseconds(timeout_ms), enough);
    }
    return static_cast<int>(nodes_[node].received.size());
}

long Simulator::count(int node, int request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nodes_[node].counts[request];
}

int Simulator::open_handles(int node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    int open = 0;
    for (const auto &[fd, handle] : handles_) {
        if (handle.node == node && handle.generation == generation_) {
            ++open;
        }
    }
    return open;
}

}  // namespace trovsim
