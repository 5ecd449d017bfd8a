// SPDX-License-Identifier: Apache-2.0
// trovjpos-diag: checks, on the terminal, the hiddev nodes that libTrovJPOS opens. See diag.h.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "tools/diag/diag.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onStopSignal(int)
{
    stopRequested.store(true);
}

void installStopHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the watch's sleep ends at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char **argv)
{
    trovdiag::Options options;
#ifdef TROV_UDEV_RULES_INSTALLED
    options.rulesPath = TROV_UDEV_RULES_INSTALLED;
#endif
    std::string error;
    if (!trovdiag::parseArguments(argc, argv, &options, &error)) {
        std::fprintf(stderr, "trovjpos-diag: %s\n%s", error.c_str(), trovdiag::usage(argv[0]).c_str());
        return trovdiag::EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(trovdiag::usage(argv[0]).c_str(), stdout);
        return 0;
    }
    installStopHandlers();
    const auto print = [](const std::string &line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);  // watch lines must show as they happen, also through a pipe
    };
    return trovdiag::run(options, print, stopRequested);
}
