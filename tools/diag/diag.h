// SPDX-License-Identifier: Apache-2.0
// trovjpos-diag: what an integrator needs to know about the hiddev nodes on a terminal. It walks the
// nodes the library walks, with the library's own device channel (HidFunctions), and says for each
// whether it is there, whether this process may open it, whether it carries the keyboard's vendor
// application and what the device and the driver report; then whether the library would find a usable
// keyboard. With watch it goes on and reports plugging and unplugging as they happen.
//
// The output is plain text, one finding per line, each line starting with the path it concerns (or
// with a fixed word: "user:", "group:", "hint:", "watch:", "result:"), so that it can be grepped.
#ifndef TROV_TOOLS_DIAG_DIAG_H
#define TROV_TOOLS_DIAG_DIAG_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace trovdiag {

// Exit status of the tool.
inline constexpr int EXIT_FOUND = 0;      // a usable keyboard: opened, vendor application, output usage set up
inline constexpr int EXIT_NOT_FOUND = 1;  // none
inline constexpr int EXIT_USAGE = 2;      // bad command line

// Where the library looks for the nodes, and where today's udev creates them.
inline constexpr const char *LIBRARY_NODE_DIR = "/dev/usb/hid";
inline constexpr const char *UDEV_NODE_DIR = "/dev/usb";
inline constexpr const char *UDEV_RULES_NAME = "60-trovjpos.rules";
inline constexpr const char *POS_GROUP = "pos";

struct Options {
    bool help = false;
    bool watch = false;
    int watchSeconds = 0;               // 0: until SIGINT or SIGTERM
    int intervalMs = 250;               // poll interval of watch
    std::string udevDir = UDEV_NODE_DIR;
    std::string rulesPath;              // where the installed rules file is; empty: not known
};

// One line of output, without its line end.
using LineSink = std::function<void(const std::string &)>;

// Parses the command line (argv[0] is the program). On a bad command line, returns false with the
// reason in *error.
bool parseArguments(int argc, const char *const *argv, Options *options, std::string *error);

// The usage text, several lines, each ending in a line end.
std::string usage(const char *program);

// What one node path holds.
enum class NodeState {
    Missing,   // open failed with ENOENT (or ENODEV, ENXIO: nothing behind the path)
    Refused,   // open failed with EACCES or EPERM
    Failed,    // open failed otherwise
    NotHiddev, // opened, but it answers no hiddev request
    Other,     // a hiddev device without the keyboard's vendor application
    Keyboard   // a hiddev device carrying the vendor application
};

const char *stateWord(NodeState state);

struct NodeReport {
    std::string path;
    NodeState state = NodeState::Missing;
    int error = 0;                      // errno of the failed open or request
    int driverVersion = -1;
    bool haveInfo = false;              // the device information below was read
    unsigned busType = 0;
    unsigned busNum = 0;
    unsigned devNum = 0;
    unsigned ifNum = 0;
    unsigned numApplications = 0;
    unsigned short vendor = 0;
    unsigned short product = 0;
    unsigned short version = 0;
    std::vector<unsigned> applications; // usages of the application collections, in index order
    std::string name;                   // the device's name string
};

// Opens the node with the library's device channel, asks what it reports and closes it again.
NodeReport probeNode(const std::string &path);

// Describes a report in lines (the first one telling the state).
std::vector<std::string> describeNode(const NodeReport &report);

// "/dev/usb/hid/hiddev<node>" and "<udevDir>/hiddev<node>".
std::string libraryPath(int node);
std::string udevPath(const Options &options, int node);

// The whole run: the report of every node, watch when asked, and the verdict. Returns the exit status.
// Watch ends when stop becomes true, or after watchSeconds.
int run(const Options &options, const LineSink &out, const std::atomic<bool> &stop);

}  // namespace trovdiag

#endif
