// SPDX-License-Identifier: Apache-2.0
// trovkbd-firmware: the POS keyboard's firmware for the device end of a USB cable, in a Linux USB
// gadget (configfs HID function on a UDC). It reads the output reports the host sends through the
// function's node (/dev/hidgN), records every command byte, answers the keylock request and TCO queries
// as sim/keyboard_protocol.cpp says, and writes the keyboard's input as input reports. A test drives it
// through a control FIFO with the script commands of firmware_logic.h, and reads what happened in the
// log file, one line per event:
//   ready                      plugged in and serving
//   rx XX                      a command byte received
//   tx 04 XX XX XX XX          an input report handed to the function for the host to take
//   drop 04 XX XX XX XX        an input report the host did not take in time (or no cable)
//   plugged hiddevN            the host made its hiddev node for the keyboard
//   ok N LINE | err N LINE: WHY  the N-th script line was carried out, or refused
//
// usage: trovkbd-firmware --control FIFO --log FILE [--hidg /dev/hidg0]
//                         [--udc-file .../UDC --udc NAME] [--link-dir /dev/usb/hid]
// With --udc-file the firmware plugs the cable in itself at start (binds the gadget to the UDC), and
// unplug/replug unbind and bind it. With --link-dir it also gives the host's hiddev node the name the
// library looks for (DIR/hiddevN -> ../hiddevN), as a udev rule does on a real system.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "sim/firmware/firmware_logic.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using trovfw::Bytes;

// How long one input report may wait for the host to take it. The host polls the interrupt endpoint
// every few milliseconds while the hiddev node is open; when it is closed nobody polls, and the report
// is dropped rather than holding up the firmware.
constexpr auto REPORT_TAKE_LIMIT = 500ms;
// How long plugging waits for the nodes to appear or go.
constexpr auto PLUG_LIMIT = 5s;
constexpr std::size_t MAX_REPORT = 64;

struct Options {
    std::string control;
    std::string log;
    std::string hidg = "/dev/hidg0";
    std::string udc_file;
    std::string udc_name;
    std::string link_dir;
};

class Log {
public:
    explicit Log(const std::string &path) : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644)) {}
    bool usable() const { return fd_ >= 0; }
    // One write per line, so that a reader never sees half a line.
    void line(const std::string &text) const
    {
        const std::string whole = text + "\n";
        if (::write(fd_, whole.data(), whole.size()) < 0) {
            std::perror("trovkbd-firmware: log");
        }
    }

private:
    int fd_;
};

std::string error_text() { return std::strerror(errno); }

bool write_file(const std::string &path, const std::string &text, std::string *error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) {
        *error = path + ": " + error_text();
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!written) {
        *error = path + ": " + error_text();
    }
    ::close(fd);
    return written;
}

// The host's hiddev node for the keyboard ("hiddevN"), empty while there is none.
std::string host_node()
{
    std::string found;
    if (DIR *dir = ::opendir("/sys/class/usbmisc")) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "hiddev", 6) == 0) {
                found = entry->d_name;
            }
        }
        ::closedir(dir);
    }
    return found;
}

template <typename Done>
bool wait_until(Done done)
{
    const auto end = Clock::now() + PLUG_LIMIT;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The device end of the cable: the HID function's node and the UDC binding.
class Gadget {
public:
    Gadget(const Options &options, const Log &log) : options_(options), log_(log) {}

    int fd() const { return fd_; }
    bool plugged() const { return plugged_; }

    bool plug(std::string *error)
    {
        if (!options_.udc_file.empty() && !write_file(options_.udc_file, options_.udc_name, error)) {
            return false;
        }
        plugged_ = true;
        const bool opened = wait_until([this] {
            fd_ = ::open(options_.hidg.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            return fd_ >= 0;
        });
        if (!opened) {
            *error = options_.hidg + ": " + error_text();
            return false;
        }
        if (options_.link_dir.empty()) {
            return true;
        }
        std::string node;
        if (!wait_until([&node] {
                node = host_node();
                struct stat st;
                return !node.empty() && ::stat(("/dev/usb/" + node).c_str(), &st) == 0;
            })) {
            *error = "the host made no hiddev node";
            return false;
        }
        remove_links();
        ::mkdir(options_.link_dir.c_str(), 0755);
        if (::symlink(("../" + node).c_str(), (options_.link_dir + "/" + node).c_str()) != 0) {
            *error = options_.link_dir + "/" + node + ": " + error_text();
            return false;
        }
        log_.line("plugged " + node);
        return true;
    }

    bool unplug(std::string *error)
    {
        close_node();
        if (options_.udc_file.empty()) {
            *error = "no --udc-file: the cable cannot be pulled";
            return false;
        }
        if (!write_file(options_.udc_file, "\n", error)) {
            return false;
        }
        plugged_ = false;
        remove_links();
        if (!wait_until([] { return host_node().empty(); })) {
            *error = "the host's hiddev node stayed";
            return false;
        }
        return true;
    }

    void close_node()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    // Reads one output report if one is there: its length, 0 for none, -1 on an error.
    ssize_t read_report(std::uint8_t *buffer)
    {
        const ssize_t got = ::read(fd_, buffer, MAX_REPORT);
        if (got < 0 && errno == EAGAIN) {
            return 0;
        }
        return got;
    }

    // Writes one input report once the host has taken the one before. Output reports that arrive
    // meanwhile are kept in `arrived`: the function queues only a few of them, and a host whose send
    // finds that queue full waits for seconds.
    bool write_report(const Bytes &report, std::deque<Bytes> &arrived)
    {
        const auto end = Clock::now() + REPORT_TAKE_LIMIT;
        while (fd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) {
                return false;
            }
            pollfd request{fd_, POLLIN | POLLOUT, 0};
            if (::poll(&request, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
                return false;
            }
            if ((request.revents & POLLIN) != 0) {
                std::uint8_t buffer[MAX_REPORT];
                const ssize_t got = read_report(buffer);
                if (got > 0) {
                    arrived.emplace_back(buffer, buffer + got);
                }
            }
            if ((request.revents & POLLOUT) != 0) {
                const ssize_t put = ::write(fd_, report.data(), report.size());
                if (put == static_cast<ssize_t>(report.size())) {
                    return true;
                }
                if (put < 0 && errno != EAGAIN) {
                    return false;
                }
            }
            if ((request.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
        }
        return false;
    }

private:
    void remove_links()
    {
        if (options_.link_dir.empty()) {
            return;
        }
        if (DIR *dir = ::opendir(options_.link_dir.c_str())) {
            while (const dirent *entry = ::readdir(dir)) {
                if (std::strncmp(entry->d_name, "hiddev", 6) == 0) {
                    ::unlink((options_.link_dir + "/" + entry->d_name).c_str());
                }
            }
            ::closedir(dir);
        }
    }

    const Options &options_;
    const Log &log_;
    int fd_ = -1;
    bool plugged_ = false;
};

class Firmware {
public:
    Firmware(const Options &options, const Log &log) : log_(log), gadget_(options, log) {}

    bool start()
    {
        std::string error;
        if (!gadget_.plug(&error)) {
            log_.line("err 0 plug: " + error);
            return false;
        }
        log_.line("ready");
        return true;
    }

    int gadget_fd() const { return gadget_.fd(); }

    void serve_reports()
    {
        std::uint8_t buffer[MAX_REPORT];
        for (;;) {
            while (!arrived_.empty()) {
                const Bytes report = std::move(arrived_.front());
                arrived_.pop_front();
                handle_report(report);
            }
            if (gadget_.fd() < 0) {
                return;
            }
            const ssize_t got = gadget_.read_report(buffer);
            if (got == 0) {
                return;
            }
            if (got < 0) {
                log_.line("err 0 reading the function's node: " + error_text());
                gadget_.close_node();
                return;
            }
            arrived_.emplace_back(buffer, buffer + got);
        }
    }

    void run_line(const std::string &line)
    {
        trovfw::Command command;
        std::string error;
        if (!trovfw::parse_command(line, &command, &error)) {
            log_.line("err " + std::to_string(++lines_) + " " + line + ": " + error);
            return;
        }
        if (command.kind == trovfw::Command::NONE) {
            return;
        }
        ++lines_;
        bool done = true;
        if (command.kind == trovfw::Command::UNPLUG) {
            done = gadget_.unplug(&error);
        } else if (command.kind == trovfw::Command::REPLUG) {
            keyboard_.power_up();
            done = gadget_.plug(&error);
        } else {
            send(keyboard_.apply(command));
            // A test that ended with the cable pulled leaves the next one a keyboard plugged in.
            if (command.kind == trovfw::Command::RESET && !gadget_.plugged()) {
                done = gadget_.plug(&error);
            }
        }
        log_.line((done ? "ok " : "err ") + std::to_string(lines_) + " " + line + (done ? "" : ": " + error));
    }

private:
    void handle_report(const Bytes &report)
    {
        for (const std::uint8_t byte : trovfw::command_bytes(report.data(), report.size())) {
            log_.line("rx " + trovfw::hex(&byte, 1));
            send(keyboard_.receive(byte));
        }
    }

    void send(const Bytes &bytes)
    {
        for (const Bytes &report : trovfw::input_reports(bytes)) {
            const bool taken = gadget_.write_report(report, arrived_);
            log_.line((taken ? "tx " : "drop ") + trovfw::hex(report.data(), report.size()));
        }
    }

    const Log &log_;
    Gadget gadget_;
    trovfw::Keyboard keyboard_;
    std::deque<Bytes> arrived_;
    int lines_ = 0;
};

bool parse_options(int argc, char **argv, Options *options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        std::string *target = name == "--control"    ? &options->control
                              : name == "--log"      ? &options->log
                              : name == "--hidg"     ? &options->hidg
                              : name == "--udc-file" ? &options->udc_file
                              : name == "--udc"      ? &options->udc_name
                              : name == "--link-dir" ? &options->link_dir
                                                     : nullptr;
        if (target == nullptr) {
            return false;
        }
        *target = argv[i + 1];
    }
    return argc % 2 == 1 && !options->control.empty() && !options->log.empty() &&
           options->udc_file.empty() == options->udc_name.empty();
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse_options(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s --control FIFO --log FILE [--hidg /dev/hidg0] [--udc-file FILE --udc NAME]"
                     " [--link-dir DIR]\n",
                     argv[0]);
        return 2;
    }
    const Log log(options.log);
    if (!log.usable()) {
        std::perror(options.log.c_str());
        return 1;
    }
    // Opened read-write, the FIFO never reports end of file when a writer goes.
    if ((::mkfifo(options.control.c_str(), 0600) != 0 && errno != EEXIST)) {
        std::perror(options.control.c_str());
        return 1;
    }
    const int control = ::open(options.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (control < 0) {
        std::perror(options.control.c_str());
        return 1;
    }
    Firmware firmware(options, log);
    if (!firmware.start()) {
        return 1;
    }
    std::string pending;
    for (;;) {
        pollfd requests[2] = {{control, POLLIN, 0}, {firmware.gadget_fd(), POLLIN, 0}};
        const nfds_t count = firmware.gadget_fd() >= 0 ? 2 : 1;
        if (::poll(requests, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("poll");
            return 1;
        }
        if ((requests[0].revents & POLLIN) != 0) {
            char chunk[512];
            const ssize_t got = ::read(control, chunk, sizeof chunk);
            if (got > 0) {
                pending.append(chunk, static_cast<std::size_t>(got));
            }
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                firmware.run_line(line);
            }
        }
        // Also after a script line: output reports may have come in while it sent input.
        firmware.serve_reports();
    }
}
