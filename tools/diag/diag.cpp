// SPDX-License-Identifier: Apache-2.0
#include "tools/diag/diag.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <grp.h>
#include <linux/input.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/hidfunctions.h"

#ifndef TROV_DIAG_VERSION
#define TROV_DIAG_VERSION "unknown"
#endif

namespace trovdiag {

namespace {

// A device lists at most this many application collections in the report; more are counted only.
constexpr unsigned LISTED_APPLICATIONS = 32;

// Watch sleeps in slices this long, so that a stop request is seen soon.
constexpr int SLEEP_SLICE_MS = 25;

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string hex32(unsigned value)
{
    return format("0x%08X", value);
}

const char *busName(unsigned busType)
{
    switch (busType) {
    case BUS_USB: return "usb";
    case BUS_BLUETOOTH: return "bluetooth";
    case BUS_VIRTUAL: return "virtual";
    case BUS_I2C: return "i2c";
    default: return "other";
    }
}

std::string driverVersionText(int version)
{
    const unsigned v = static_cast<unsigned>(version);
    return format("%u.%u.%u (0x%06X)", v >> 16, (v >> 8) & 0xFFu, v & 0xFFu, v);
}

bool parseNumber(const char *text, int low, int high, int *out)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool pathExists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// One short phrase for a report, used by watch.
std::string summary(const NodeReport &r)
{
    switch (r.state) {
    case NodeState::Missing: return "missing";
    case NodeState::Refused: return format("refused: %s", std::strerror(r.error));
    case NodeState::Failed: return format("error: %s", std::strerror(r.error));
    case NodeState::NotHiddev: return "not-hiddev";
    case NodeState::Other: return format("other: vendor 0x%04X, product 0x%04X", r.vendor, r.product);
    case NodeState::Keyboard:
        return format("keyboard: vendor 0x%04X, product 0x%04X, name \"%s\"", r.vendor, r.product, r.name.c_str());
    }
    return "unknown";
}

bool sameNode(const NodeReport &a, const NodeReport &b)
{
    return a.state == b.state && a.error == b.error && a.vendor == b.vendor && a.product == b.product &&
           a.name == b.name;
}

void userLines(const LineSink &out)
{
    const uid_t uid = ::geteuid();
    const struct passwd *user = ::getpwuid(uid);
    std::string groups;
    bool inPosGroup = false;
    const struct group *pos = ::getgrnam(POS_GROUP);
    gid_t list[256];
    const int count = ::getgroups(256, list);
    std::vector<gid_t> all(list, list + (count > 0 ? count : 0));
    all.push_back(::getegid());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (const gid_t gid : all) {
        const struct group *g = ::getgrgid(gid);
        groups += groups.empty() ? "" : " ";
        groups += g != nullptr ? std::string(g->gr_name) : std::to_string(gid);
        if (pos != nullptr && gid == pos->gr_gid) {
            inPosGroup = true;
        }
    }
    out(format("user: %s (uid %u), groups: %s", user != nullptr ? user->pw_name : "?", static_cast<unsigned>(uid),
               groups.c_str()));
    if (pos == nullptr) {
        out(format("group: %s: missing (the udev rule %s gives the nodes to this group)", POS_GROUP, UDEV_RULES_NAME));
    } else {
        out(format("group: %s: exists, this process is %sa member", POS_GROUP, inPosGroup ? "" : "not "));
    }
}

void installHint(const Options &options, const LineSink &out)
{
    static const char *const udevReads[] = {"/etc/udev/rules.d/", "/usr/lib/udev/rules.d/", "/lib/udev/rules.d/"};
    std::string installed;
    for (const char *dir : udevReads) {
        if (installed.empty() && pathExists(std::string(dir) + UDEV_RULES_NAME)) {
            installed = std::string(dir) + UDEV_RULES_NAME;
        }
    }
    if (!installed.empty()) {
        out(format("hint: the udev rule %s is installed (%s): apply it with udevadm control --reload && "
                   "udevadm trigger --subsystem-match=usbmisc, or replug the keyboard",
                   UDEV_RULES_NAME, installed.c_str()));
    } else {
        const std::string source = !options.rulesPath.empty() && pathExists(options.rulesPath)
                                       ? options.rulesPath
                                       : std::string("udev/") + UDEV_RULES_NAME + " (source tree)";
        out(format("hint: install the udev rule %s: cp %s /etc/udev/rules.d/ && udevadm control --reload && "
                   "udevadm trigger --subsystem-match=usbmisc",
                   UDEV_RULES_NAME, source.c_str()));
    }
    out(format("hint: the rule links %s/hiddevN to %s/hiddevN where the library looks, and gives the nodes to "
               "group %s with mode 0660; put the POS application's user in it: groupadd --system %s; "
               "usermod -aG %s <user> (then log in again)",
               UDEV_NODE_DIR, LIBRARY_NODE_DIR, POS_GROUP, POS_GROUP, POS_GROUP));
}

// The first node, in the library's order, that carries the vendor application; -1 for none.
int firstKeyboard()
{
    for (int node = 0; node < TROV_DEVICE_NODES; ++node) {
        if (probeNode(libraryPath(node)).state == NodeState::Keyboard) {
            return node;
        }
    }
    return -1;
}

int verdict(const LineSink &out)
{
    // The library's own search: the first node with the vendor application, its output usage set up.
    HidFunctions channel;
    if (channel.bFindAndOpenDevice()) {
        const std::string path = channel.cDevicePath;
        channel.iCloseDevice();
        out(format("result: keyboard ready at %s (vendor application present, output usage %s set up)", path.c_str(),
                   hex32(TROV_OUTPUT_USAGE).c_str()));
        return EXIT_FOUND;
    }
    const int node = firstKeyboard();
    if (node >= 0) {
        out(format("result: keyboard at %s carries the vendor application, but its output usage %s "
                   "(report %d) could not be set up: the library will not use it",
                   libraryPath(node).c_str(), hex32(TROV_OUTPUT_USAGE).c_str(), TROV_COMMAND_REPORT_ID));
    } else {
        out("result: no keyboard found");
    }
    return EXIT_NOT_FOUND;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void sleepSlice(int ms)
{
    struct timespec pause = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    ::nanosleep(&pause, nullptr);  // a signal cuts it short, which is what a stop wants
}

void watch(const Options &options, std::vector<NodeReport> nodes, std::vector<bool> udevNodes, const LineSink &out,
           const std::atomic<bool> &stop)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    if (options.watchSeconds > 0) {
        out(format("watch: polling %s/hiddev0-%d every %d ms for %d s", LIBRARY_NODE_DIR, TROV_DEVICE_NODES - 1,
                   options.intervalMs, options.watchSeconds));
    } else {
        out(format("watch: polling %s/hiddev0-%d every %d ms until interrupted", LIBRARY_NODE_DIR,
                   TROV_DEVICE_NODES - 1, options.intervalMs));
    }
    const auto deadline = start + std::chrono::seconds(options.watchSeconds);
    const auto over = [&] { return stop.load() || (options.watchSeconds > 0 && Clock::now() >= deadline); };
    while (!over()) {
        for (int slept = 0; slept < options.intervalMs && !over(); slept += SLEEP_SLICE_MS) {
            sleepSlice(std::min(SLEEP_SLICE_MS, options.intervalMs - slept));
        }
        if (over()) {
            break;
        }
        for (int node = 0; node < TROV_DEVICE_NODES; ++node) {
            NodeReport now = probeNode(libraryPath(node));
            const NodeReport &before = nodes[static_cast<size_t>(node)];
            if (!sameNode(before, now)) {
                const char *what = before.state == NodeState::Missing ? "plugged"
                                   : now.state == NodeState::Missing  ? "unplugged"
                                                                      : "changed";
                if (now.state == NodeState::Missing) {
                    out(format("watch: %s: %s (+%.2f s)", now.path.c_str(), what, secondsSince(start)));
                } else {
                    out(format("watch: %s: %s: %s (+%.2f s)", now.path.c_str(), what, summary(now).c_str(),
                               secondsSince(start)));
                }
                nodes[static_cast<size_t>(node)] = now;
            }
            const std::string other = udevPath(options, node);
            const bool exists = pathExists(other);
            if (exists != udevNodes[static_cast<size_t>(node)]) {
                out(format("watch: %s: %s (+%.2f s)", other.c_str(), exists ? "appeared" : "disappeared",
                           secondsSince(start)));
                udevNodes[static_cast<size_t>(node)] = exists;
            }
        }
    }
    out(format("watch: stopped after %.2f s", secondsSince(start)));
}

}  // namespace

const char *stateWord(NodeState state)
{
    switch (state) {
    case NodeState::Missing: return "missing";
    case NodeState::Refused: return "refused";
    case NodeState::Failed: return "error";
    case NodeState::NotHiddev: return "not-hiddev";
    case NodeState::Other: return "other";
    case NodeState::Keyboard: return "keyboard";
    }
    return "unknown";
}

std::string usage(const char *program)
{
    return format("Usage: %s [--watch] [--watch-seconds N] [--interval-ms N] [--udev-dir DIR]\n", program) +
           format("Checks the hiddev nodes %s/hiddev0 to hiddev%d that libTrovJPOS opens, and the nodes\n"
                  "that udev creates in %s, for the POS keyboard (vendor application %s).\n",
                  LIBRARY_NODE_DIR, TROV_DEVICE_NODES - 1, UDEV_NODE_DIR, hex32(TROV_APPLICATION_USAGE).c_str()) +
           "  --watch            after the report, report plugging and unplugging until Ctrl-C or SIGTERM\n"
           "  --watch-seconds N  watch for N seconds (1 to 86400), then stop\n"
           "  --interval-ms N    poll interval of watch, 10 to 10000 ms (default 250)\n"
           "  --udev-dir DIR     where udev creates hiddev nodes (default /dev/usb)\n"
           "  --help             this text\n"
           "Exit status: 0 a usable keyboard was found, 1 none, 2 bad command line.\n";
}

bool parseArguments(int argc, const char *const *argv, Options *options, std::string *error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--watch") {
            options->watch = true;
        } else if (arg == "--watch-seconds") {
            if (!parseNumber(value, 1, 86400, &options->watchSeconds)) {
                *error = "--watch-seconds needs a number of seconds from 1 to 86400";
                return false;
            }
            options->watch = true;
            ++i;
        } else if (arg == "--interval-ms") {
            if (!parseNumber(value, 10, 10000, &options->intervalMs)) {
                *error = "--interval-ms needs a number of milliseconds from 10 to 10000";
                return false;
            }
            ++i;
        } else if (arg == "--udev-dir") {
            if (value == nullptr || *value == '\0') {
                *error = "--udev-dir needs a directory";
                return false;
            }
            options->udevDir = value;
            ++i;
        } else {
            *error = "unknown argument: " + arg;
            return false;
        }
    }
    return true;
}

std::string libraryPath(int node)
{
    return format("%s/hiddev%d", LIBRARY_NODE_DIR, node);
}

std::string udevPath(const Options &options, int node)
{
    return format("%s/hiddev%d", options.udevDir.c_str(), node);
}

NodeReport probeNode(const std::string &path)
{
    NodeReport r;
    r.path = path;
    HidFunctions channel;
    errno = 0;
    if (!channel.bOpenDevice(path.c_str())) {
        r.error = errno;
        if (r.error == ENOENT || r.error == ENODEV || r.error == ENXIO) {
            r.state = NodeState::Missing;
        } else if (r.error == EACCES || r.error == EPERM) {
            r.state = NodeState::Refused;
        } else {
            r.state = NodeState::Failed;
        }
        return r;
    }
    errno = 0;
    r.driverVersion = channel.bGetDriverVersion();
    if (r.driverVersion == -1) {
        r.error = errno;
        r.state = NodeState::NotHiddev;
        channel.iCloseDevice();
        return r;
    }
    r.state = channel.bFindTrovApplication(TROV_APPLICATION_USAGE) ? NodeState::Keyboard : NodeState::Other;
    if (channel.bGetDeviceInfo()) {
        r.haveInfo = true;
        r.busType = channel.uiBusType();
        r.busNum = channel.uiBusNum();
        r.devNum = channel.uiDevNum();
        r.ifNum = channel.uiIfNum();
        r.numApplications = channel.uiNumApplications();
        r.vendor = static_cast<unsigned short>(channel.sVendorId());
        r.product = static_cast<unsigned short>(channel.sProductId());
        r.version = static_cast<unsigned short>(channel.sDeviceVersion());
        for (unsigned index = 0; index < r.numApplications && index < LISTED_APPLICATIONS; ++index) {
            r.applications.push_back(static_cast<unsigned>(channel.iApplicationOfIndex(static_cast<int>(index))));
        }
    }
    if (r.state == NodeState::Keyboard) {
        // The library reads the name string of keyboards only.
        r.name = channel.pcGetDeviceName();
    }
    channel.iCloseDevice();
    return r;
}

std::vector<std::string> describeNode(const NodeReport &r)
{
    std::vector<std::string> lines;
    const char *path = r.path.c_str();
    switch (r.state) {
    case NodeState::Missing:
        lines.push_back(format("%s: missing: %s", path, std::strerror(r.error)));
        return lines;
    case NodeState::Refused:
        lines.push_back(format("%s: refused: %s (opening for reading and writing)", path, std::strerror(r.error)));
        return lines;
    case NodeState::Failed:
        lines.push_back(format("%s: error: %s (opening for reading and writing)", path, std::strerror(r.error)));
        return lines;
    case NodeState::NotHiddev:
        lines.push_back(format("%s: not-hiddev: opened, but it answers no hiddev request (%s)", path,
                               std::strerror(r.error)));
        return lines;
    case NodeState::Other:
        lines.push_back(format("%s: other: opened, no vendor application %s: not the keyboard", path,
                               hex32(TROV_APPLICATION_USAGE).c_str()));
        break;
    case NodeState::Keyboard:
        lines.push_back(format("%s: keyboard: opened, vendor application %s present", path,
                               hex32(TROV_APPLICATION_USAGE).c_str()));
        break;
    }
    if (r.haveInfo) {
        lines.push_back(format("%s: bus: %s (type %u), bus %u, device %u, interface %u", path, busName(r.busType),
                               r.busType, r.busNum, r.devNum, r.ifNum));
        lines.push_back(format("%s: id: vendor 0x%04X, product 0x%04X, version 0x%04X", path, r.vendor, r.product,
                               r.version));
        std::string list;
        for (const unsigned usage : r.applications) {
            list += " " + hex32(usage);
        }
        if (r.numApplications > r.applications.size()) {
            list += " ...";
        }
        lines.push_back(format("%s: applications: %u:%s", path, r.numApplications, list.c_str()));
    } else {
        lines.push_back(format("%s: info: the device information could not be read", path));
    }
    if (r.state == NodeState::Keyboard) {
        lines.push_back(format("%s: name: %s", path, r.name.c_str()));
    }
    lines.push_back(format("%s: driver: hiddev %s", path, driverVersionText(r.driverVersion).c_str()));
    return lines;
}

int run(const Options &options, const LineSink &out, const std::atomic<bool> &stop)
{
    out(format("trovjpos-diag %s: the hiddev nodes libTrovJPOS opens (%s/hiddev0-%d)", TROV_DIAG_VERSION,
               LIBRARY_NODE_DIR, TROV_DEVICE_NODES - 1));
    userLines(out);

    std::vector<NodeReport> nodes;
    std::vector<bool> udevNodes;
    bool refused = false;
    bool udevOnly = false;
    bool anyNode = false;
    for (int node = 0; node < TROV_DEVICE_NODES; ++node) {
        NodeReport report = probeNode(libraryPath(node));
        for (const std::string &line : describeNode(report)) {
            out(line);
        }
        refused = refused || report.state == NodeState::Refused;
        anyNode = anyNode || report.state != NodeState::Missing;

        const std::string other = udevPath(options, node);
        const bool exists = pathExists(other);
        udevNodes.push_back(exists);
        if (exists && report.state == NodeState::Missing) {
            // udev made the node, but not where the library looks: say what it is.
            anyNode = true;
            udevOnly = true;
            const NodeReport modern = probeNode(other);
            for (const std::string &line : describeNode(modern)) {
                out(line);
            }
            refused = refused || modern.state == NodeState::Refused;
            out(format("%s: not-linked: the library opens %s only", other.c_str(), report.path.c_str()));
        } else if (exists) {
            out(format("%s: present", other.c_str()));
        }
        nodes.push_back(report);
    }

    if (udevOnly) {
        out(format("hint: udev created hiddev nodes in %s, but the library opens %s/hiddevN", options.udevDir.c_str(),
                   LIBRARY_NODE_DIR));
    }
    if (refused) {
        out("hint: opening a node was refused: the POS application's user needs read and write access to it");
    }
    if (udevOnly || refused) {
        installHint(options, out);
    }
    if (!anyNode) {
        out(format("hint: no hiddev node at all: check that the keyboard is plugged in (lsusb) and that the kernel "
                   "has hiddev support (usbhid, CONFIG_USB_HIDDEV)"));
    }

    if (options.watch) {
        watch(options, std::move(nodes), std::move(udevNodes), out, stop);
    }
    return verdict(out);
}

}  // namespace trovdiag
