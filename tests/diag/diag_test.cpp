// SPDX-License-Identifier: Apache-2.0
// trovjpos-diag's checks, run in-process against the simulated keyboard and hiddev driver.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sim/trovsim.h"
#include "tools/diag/diag.h"

namespace {

using trovdiag::Options;

// Collects the tool's lines; safe to read while a watch runs on another thread.
class Lines {
public:
    trovdiag::LineSink sink()
    {
        return [this](const std::string &line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
            changed_.notify_all();
        };
    }

    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

    bool has(const std::string &text)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return find(text) != nullptr;
    }

    // Waits until a line holds text; false after timeoutMs.
    bool waitFor(const std::string &text, int timeoutMs)
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return find(text) != nullptr; });
    }

    std::string text()
    {
        std::string joined;
        for (const std::string &line : all()) {
            joined += line + "\n";
        }
        return joined;
    }

    int count(const std::string &text)
    {
        int n = 0;
        for (const std::string &line : all()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    const std::string *find(const std::string &text) const
    {
        for (const std::string &line : lines_) {
            if (line.find(text) != std::string::npos) {
                return &line;
            }
        }
        return nullptr;
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

class DiagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        trovsim_reset();
        char pattern[] = "/tmp/trovdiag-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        udevDir = pattern;
        options.udevDir = udevDir;  // an empty directory: no udev nodes unless a test makes one
    }

    void TearDown() override
    {
        for (int node = 0; node < TROVSIM_NODES; ++node) {
            ::unlink(trovdiag::udevPath(options, node).c_str());
        }
        ::rmdir(udevDir.c_str());
        trovsim_reset();
    }

    int run()
    {
        const std::atomic<bool> stop{false};
        return trovdiag::run(options, out.sink(), stop);
    }

    void makeUdevNode(int node)
    {
        const int fd = ::open(trovdiag::udevPath(options, node).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

    int openHandles()
    {
        int total = 0;
        for (int node = 0; node < TROVSIM_NODES; ++node) {
            total += trovsim_open_handles(node);
        }
        return total;
    }

    Options options;
    std::string udevDir;
    Lines out;
};

TEST_F(DiagTest, NoKeyboardReportsEveryNodeMissingAndExitsOne)
{
    EXPECT_EQ(run(), trovdiag::EXIT_NOT_FOUND);
    for (int node = 0; node < TROVSIM_NODES; ++node) {
        EXPECT_TRUE(out.has("/dev/usb/hid/hiddev" + std::to_string(node) + ": missing: No such file or directory"))
            << node;
    }
    EXPECT_TRUE(out.has("hint: no hiddev node at all"));
    EXPECT_EQ(out.all().back(), "result: no keyboard found");
    EXPECT_FALSE(out.has("60-trovjpos.rules: cp")) << "no permission or udev problem to fix";
}

TEST_F(DiagTest, KeyboardOnNodeThreeIsReportedWithItsIdentity)
{
    trovsim_set_kind(3, TROVSIM_KEYBOARD);
    trovsim_set_identity(3, 0x1A2B, 0xC3D4, 0x0207, "Counter Keyboard 7");

    EXPECT_EQ(run(), trovdiag::EXIT_FOUND) << out.text();
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: keyboard: opened, vendor application 0xFFFA00A5 present"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: bus: usb (type 3)"));
    // Vendor and product above 0x7FFF travel as negative shorts through the device channel.
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: id: vendor 0x1A2B, product 0xC3D4, version 0x0207")) << out.text();
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: applications: 1: 0xFFFA00A5"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: name: Counter Keyboard 7"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev3: driver: hiddev 1.0.4 (0x010004)"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev2: missing"));
    EXPECT_EQ(out.all().back(),
              "result: keyboard ready at /dev/usb/hid/hiddev3 (vendor application present, output usage 0xFFFA00AB "
              "set up)");
    EXPECT_EQ(openHandles(), 0) << "the tool leaves no descriptor open";
    EXPECT_EQ(trovsim_count(3, TROVSIM_REQ_OPEN), trovsim_count(3, TROVSIM_REQ_CLOSE));
    EXPECT_EQ(trovsim_count(3, TROVSIM_REQ_SREPORT), 0) << "the tool sends the keyboard nothing";
}

TEST_F(DiagTest, RefusedOpenNamesTheErrorAndTheUdevRule)
{
    trovsim_set_kind(5, TROVSIM_KEYBOARD);
    trovsim_set_faults(5, TROVSIM_FAULT_OPEN_REFUSED);

    EXPECT_EQ(run(), trovdiag::EXIT_NOT_FOUND);
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev5: refused: Permission denied")) << out.text();
    EXPECT_TRUE(out.has("hint: opening a node was refused"));
    EXPECT_TRUE(out.has("60-trovjpos.rules"));
    EXPECT_TRUE(out.has("usermod -aG pos"));
    EXPECT_FALSE(out.has("hint: no hiddev node at all")) << "a refused node is there";
    EXPECT_EQ(out.all().back(), "result: no keyboard found");
}

TEST_F(DiagTest, NodesWithoutTheVendorApplicationAreNotTheKeyboard)
{
    const unsigned ups[] = {0x00840004u, 0x00840024u};
    trovsim_set_kind(1, TROVSIM_OTHER);
    trovsim_set_applications(1, ups, 2);
    trovsim_set_identity(1, 0x0463, 0xFFFF, 0x0001, "UPS");

    EXPECT_EQ(run(), trovdiag::EXIT_NOT_FOUND);
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev1: other: opened, no vendor application 0xFFFA00A5: not the keyboard"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev1: applications: 2: 0x00840004 0x00840024")) << out.text();
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev1: id: vendor 0x0463, product 0xFFFF, version 0x0001"));
    EXPECT_FALSE(out.has("/dev/usb/hid/hiddev1: name:")) << "the library reads names of keyboards only";
    EXPECT_EQ(out.all().back(), "result: no keyboard found");
    EXPECT_EQ(openHandles(), 0);
}

TEST_F(DiagTest, KeyboardAfterAnotherDeviceIsFoundTheWayTheLibraryFindsIt)
{
    trovsim_set_kind(0, TROVSIM_OTHER);
    trovsim_set_kind(4, TROVSIM_KEYBOARD);
    trovsim_set_kind(9, TROVSIM_KEYBOARD);

    EXPECT_EQ(run(), trovdiag::EXIT_FOUND);
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev0: other:"));
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev9: keyboard:")) << "every node is reported";
    EXPECT_TRUE(out.has("result: keyboard ready at /dev/usb/hid/hiddev4 "));
}

TEST_F(DiagTest, KeyboardWhoseOutputUsageCannotBeSetUpIsNotUsable)
{
    // The library takes the first node with the vendor application; if it cannot be set up, a later
    // keyboard is not tried, and the tool must not claim otherwise.
    trovsim_set_kind(2, TROVSIM_KEYBOARD);
    trovsim_set_faults(2, TROVSIM_FAULT_NO_OUTPUT_USAGE);
    trovsim_set_kind(6, TROVSIM_KEYBOARD);

    EXPECT_EQ(run(), trovdiag::EXIT_NOT_FOUND);
    EXPECT_TRUE(out.has("/dev/usb/hid/hiddev2: keyboard:"));
    EXPECT_EQ(out.all().back(), "result: keyboard at /dev/usb/hid/hiddev2 carries the vendor application, but its "
                                "output usage 0xFFFA00AB (report 4) could not be set up: the library will not use it");
    EXPECT_EQ(openHandles(), 0);
}

TEST_F(DiagTest, NodeOnlyWhereUdevPutsItNamesTheRule)
{
    makeUdevNode(3);  // a plain file: present, but no hiddev device behind it

    EXPECT_EQ(run(), trovdiag::EXIT_NOT_FOUND);
    const std::string udevNode = udevDir + "/hiddev3";
    EXPECT_TRUE(out.has(udevNode + ": not-hiddev: opened, but it answers no hiddev request")) << out.text();
    EXPECT_TRUE(out.has(udevNode + ": not-linked: the library opens /dev/usb/hid/hiddev3 only"));
    EXPECT_TRUE(out.has("hint: udev created hiddev nodes in " + udevDir));
    EXPECT_TRUE(out.has("hint: install the udev rule 60-trovjpos.rules") ||
                out.has("hint: the udev rule 60-trovjpos.rules is installed"));
    EXPECT_FALSE(out.has("hint: no hiddev node at all"));
}

TEST_F(DiagTest, UdevNodeBesideALinkedNodeIsOnlyNoted)
{
    trovsim_set_kind(3, TROVSIM_KEYBOARD);
    makeUdevNode(3);

    EXPECT_EQ(run(), trovdiag::EXIT_FOUND);
    EXPECT_TRUE(out.has(udevDir + "/hiddev3: present"));
    EXPECT_FALSE(out.has("hint:")) << out.text();
}

TEST_F(DiagTest, WatchReportsUnplugAndReplugAsTheyHappen)
{
    trovsim_set_kind(3, TROVSIM_KEYBOARD);
    trovsim_set_identity(3, 0x1A2B, 0x0042, 0x0100, "Till 3");
    options.watch = true;
    options.intervalMs = 20;
    std::atomic<bool> stop{false};
    int status = -1;
    std::thread tool([&] { status = trovdiag::run(options, out.sink(), stop); });

    EXPECT_TRUE(out.waitFor("watch: polling", 5000));
    trovsim_unplug(3);
    EXPECT_TRUE(out.waitFor("watch: /dev/usb/hid/hiddev3: unplugged", 5000)) << out.text();
    trovsim_replug(3, 50);
    EXPECT_TRUE(out.waitFor("watch: /dev/usb/hid/hiddev3: plugged: keyboard: vendor 0x1A2B, product 0x0042, "
                            "name \"Till 3\"",
                            5000))
        << out.text();
    // A device that stays as it is is not reported again.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    tool.join();

    EXPECT_EQ(status, trovdiag::EXIT_FOUND);
    EXPECT_EQ(out.count("watch: /dev/usb/hid/hiddev3:"), 2) << out.text();
    EXPECT_EQ(out.count("watch: "), 4) << "polling, unplugged, plugged, stopped";
    EXPECT_TRUE(out.has("watch: stopped after"));
    EXPECT_EQ(out.all().back().rfind("result: keyboard ready at /dev/usb/hid/hiddev3", 0), 0u);
    EXPECT_EQ(openHandles(), 0);
}

TEST_F(DiagTest, WatchSeesAChangeOfKindAndEndsByItselfWithTheVerdictOfThatMoment)
{
    trovsim_set_kind(7, TROVSIM_KEYBOARD);
    options.watch = true;
    options.watchSeconds = 1;
    options.intervalMs = 20;
    std::atomic<bool> stop{false};
    int status = -1;
    const auto start = std::chrono::steady_clock::now();
    std::thread tool([&] { status = trovdiag::run(options, out.sink(), stop); });

    EXPECT_TRUE(out.waitFor("watch: polling", 5000));
    trovsim_set_faults(7, TROVSIM_FAULT_OPEN_REFUSED);
    EXPECT_TRUE(out.waitFor("watch: /dev/usb/hid/hiddev7: changed: refused: Permission denied", 5000)) << out.text();
    tool.join();

    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(status, trovdiag::EXIT_NOT_FOUND);
    EXPECT_EQ(out.all().back(), "result: no keyboard found");
}

TEST(DiagArguments, AcceptsTheDocumentedOptions)
{
    const char *argv[] = {"trovjpos-diag", "--watch-seconds", "30", "--interval-ms", "100", "--udev-dir", "/x"};
    Options options;
    std::string error;
    ASSERT_TRUE(trovdiag::parseArguments(7, argv, &options, &error)) << error;
    EXPECT_TRUE(options.watch) << "--watch-seconds implies --watch";
    EXPECT_EQ(options.watchSeconds, 30);
    EXPECT_EQ(options.intervalMs, 100);
    EXPECT_EQ(options.udevDir, "/x");
}

TEST(DiagArguments, RefusesBadCommandLines)
{
    const std::vector<std::vector<const char *>> bad = {
        {"trovjpos-diag", "--bogus"},          {"trovjpos-diag", "--watch-seconds"},
        {"trovjpos-diag", "--watch-seconds", "0"}, {"trovjpos-diag", "--watch-seconds", "3x"},
        {"trovjpos-diag", "--interval-ms", "5"},   {"trovjpos-diag", "--udev-dir", ""},
        {"trovjpos-diag", "watch"}};
    for (const auto &argv : bad) {
        Options options;
        std::string error;
        EXPECT_FALSE(trovdiag::parseArguments(static_cast<int>(argv.size()), argv.data(), &options, &error))
            << argv[1];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
