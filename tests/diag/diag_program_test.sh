#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# trovjpos-diag as an integrator runs it, with the simulated keyboard preloaded: exit status and output
# with and without a keyboard, bad usage, --help, and --watch ended by time and by SIGINT.
# Usage: diag_program_test.sh <trovjpos-diag> <libtrovsim.so> [launcher]
set -u
tool=$1 sim=$2 launcher=${3:-}
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out

run_guest LD_PRELOAD="$sim" -- "$tool" --bogus >"$out" 2>&1
expect_status "unknown option" 2 $?
expect_line "unknown option" "$out" "unknown argument: --bogus"
expect_line "unknown option" "$out" "Usage:"

run_guest LD_PRELOAD="$sim" -- "$tool" --help >"$out" 2>&1
expect_status "--help" 0 $?
expect_line "--help" "$out" "--watch-seconds N"

run_guest LD_PRELOAD="$sim" -- "$tool" >"$out" 2>&1
expect_status "no keyboard" 1 $?
expect_line "no keyboard" "$out" "/dev/usb/hid/hiddev3: missing: No such file or directory"
expect_line "no keyboard" "$out" "result: no keyboard found"

run_guest LD_PRELOAD="$sim" TROVSIM_KEYBOARD=3 -- "$tool" >"$out" 2>&1
expect_status "keyboard on node 3" 0 $?
expect_line "keyboard on node 3" "$out" "/dev/usb/hid/hiddev3: keyboard: opened, vendor application 0xFFFA00A5 present"
expect_line "keyboard on node 3" "$out" "/dev/usb/hid/hiddev3: name: "
expect_line "keyboard on node 3" "$out" "result: keyboard ready at /dev/usb/hid/hiddev3 "
expect_no_line "keyboard on node 3" "$out" "hint:"

run_guest LD_PRELOAD="$sim" TROVSIM_KEYBOARD=3 -- "$tool" --watch-seconds 1 --interval-ms 50 >"$out" 2>&1
expect_status "watch for 1 s" 0 $?
expect_line "watch for 1 s" "$out" "watch: polling /dev/usb/hid/hiddev0-15 every 50 ms for 1 s"
expect_line "watch for 1 s" "$out" "watch: stopped after"

# Ctrl-C ends the watch, and the verdict still follows.
exec_guest LD_PRELOAD="$sim" TROVSIM_KEYBOARD=3 -- "$tool" --watch >"$out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do grep -q "watch: polling" "$out" && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
signal_and_wait "$pid" INT 20
expect_status "watch ended by SIGINT" 0 "$status"
expect_line "watch ended by SIGINT" "$out" "watch: stopped after"
expect_line "watch ended by SIGINT" "$out" "result: keyboard ready at /dev/usb/hid/hiddev3 "

finish
