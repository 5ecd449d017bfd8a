// SPDX-License-Identifier: Apache-2.0
// The descriptor side of the simulator: opening a node path, accounting reads, ioctl requests and
// closes on the descriptors handed out.
#include <cerrno>
#include <fcntl.h>
#include <linux/hiddev.h>
#include <sys/socket.h>

#include "sim/fd_marks.h"
#include "sim/libc_next.h"
#include "sim/simulator.h"

namespace trovsim {

int Simulator::open_node(int node, int flags)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node &n = nodes_[node];
    ++n.counts[TROVSIM_REQ_OPEN];
    if (!present(n)) {
        return -ENOENT;
    }
    if ((n.device.faults & TROVSIM_FAULT_OPEN_REFUSED) != 0) {
        return -EACCES;
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return -errno;
    }
    const int client = ends[0];
    const int peer = ends[1];
    if (client >= fd_marks::LIMIT) {
        next::close(client);
        next::close(peer);
        return -EMFILE;
    }
    // The simulator's end never blocks; the caller's end gets the flags it asked for.
    fcntl(peer, F_SETFL, O_NONBLOCK);
    if ((flags & O_CLOEXEC) == 0) {
        fcntl(client, F_SETFD, 0);
    }
    if ((flags & O_NONBLOCK) != 0) {
        fcntl(client, F_SETFL, O_NONBLOCK);
    }
    try {
        handles_[client] = Handle{node, peer, generation_};
    } catch (...) {
        next::close(client);
        next::close(peer);
        return -ENOMEM;
    }
    fd_marks::set(client, fd_marks::LIVE);
    return client;
}

void Simulator::note_read(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(fd);
    if (it != handles_.end() && it->second.generation == generation_) {
        ++nodes_[it->second.node].counts[TROVSIM_REQ_READ];
    }
}

long Simulator::ioctl(int fd, unsigned long request, void *arg)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(fd);
    if (it == handles_.end()) {
        return -EBADF;  // closed by another thread meanwhile
    }
    const Handle &handle = it->second;
    if (handle.generation != generation_) {
        return -ENODEV;
    }
    const int node = handle.node;
    ++nodes_[node].counts[classify_request(request)];
    if (handle.peer < 0) {
        return -ENODEV;
    }
    const HidReport *sent = nullptr;
    const long result = hiddev_ioctl(nodes_[node].device, request, arg, &sent);
    if (sent != nullptr && nodes_[node].kind == TROVSIM_KEYBOARD) {
        keyboard_receives(node, *sent);
    }
    return result;
}

void Simulator::forget(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = handles_.find(fd);
    if (it == handles_.end()) {
        return;
    }
    if (it->second.generation == generation_) {
        ++nodes_[it->second.node].counts[TROVSIM_REQ_CLOSE];
    }
    if (it->second.peer >= 0) {
        next::close(it->second.peer);
    }
    handles_.erase(it);
    fd_marks::set(fd, fd_marks::NONE);
}

void Simulator::keyboard_receives(int node, const HidReport &report)
{
    // The keyboard takes the value of its command usage, wherever the report carries it, as one byte.
    Node &n = nodes_[node];
    bool grew = false;
    for (const HidField &field : report.fields) {
        for (std::size_t u = 0; u < field.usages.size() && u < field.values.size(); ++u) {
            if (field.usages[u] != KEYBOARD_OUTPUT) {
                continue;
            }
            const auto byte = static_cast<std::uint8_t>(encode_output_value(field, field.values[u]));
            n.received.push_back(byte);
            grew = true;
            const trovkbd::Bytes answer = n.parser.feed(byte, n.keyboard);
            if (answer.empty()) {
                continue;
            }
            if (n.answer_delay_ms > 0 || !n.answers.empty()) {
                answer_later(node, answer);
            } else {
                deliver(node, answer);
            }
        }
    }
    if (grew) {
        received_grew_.notify_all();
    }
}

int Simulator::deliver(int node, const trovkbd::Bytes &bytes)
{
    // Every report becomes one event per input usage, in report order, zero padding included; the
    // values are those the kernel derives from each field's logical range.
    const HidDescription &description = nodes_[node].device.description;
    bool queued = false;
    for (const trovkbd::Report &report : trovkbd::pack_reports(bytes)) {
        std::vector<hiddev_event> events;
        std::size_t at = 0;
        for (const HidReport &input : description.reports[HID_REPORT_TYPE_INPUT - 1]) {
            for (const HidField &field : input.fields) {
                for (const unsigned usage : field.usages) {
                    const std::uint8_t byte = at < report.size() ? report[at] : 0;
                    ++at;
                    const int value = field.logical_minimum < 0 ? static_cast<std::int8_t>(byte) : byte;
                    events.push_back(hiddev_event{usage, value});
                }
            }
        }
        if (events.empty()) {
            continue;
        }
        // One write per report: a full buffer refuses a report whole (it is lost, as on an overrun),
        // never part of a record.
        const std::size_t size = events.size() * sizeof events[0];
        for (const auto &[fd, handle] : handles_) {
            if (handle.node != node || handle.peer < 0 || handle.generation != generation_) {
                continue;
            }
            if (send(handle.peer, events.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(size)) {
                queued = true;
            }
        }
    }
    return queued ? static_cast<int>(bytes.size()) : 0;
}

}  // namespace trovsim
