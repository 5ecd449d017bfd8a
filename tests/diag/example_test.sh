#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The example application in a JVM against the simulated keyboard of node 0: it sees the keylock
# position its enabling asks for, the key presses and keylock turns that follow, closes after the given
# time or on SIGTERM, and reports a missing keyboard with the error code.
# Usage: example_test.sh <build dir> <java> [launcher]
set -u
build=$1 java=$2 launcher=${3:-}
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1  # a scratch working directory, so that a run leaves nothing behind
out=$work/out
# shellcheck disable=SC2207
opts=($(jvm_options))
sim=$build/libtrovsim.so

run_guest LD_PRELOAD="$sim" TROVSIM_KEYBOARD=0 -- "$java" "${opts[@]}" "-Djava.library.path=$build" \
  -cp "$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-example.jar:$build/trov-example-driver.jar" \
  com.trov.jpos.exampletest.ExampleDriver 3 >"$out" 2>&1
expect_status "example for 3 s" 0 $?
expect_line "example for 3 s" "$out" "ready: turn the key or press keys for 3 s"
expect_line "example for 3 s" "$out" "keylock position 1"
expect_line "example for 3 s" "$out" "key 0x41 down"
expect_line "example for 3 s" "$out" "key 0x41 up"
expect_line "example for 3 s" "$out" "keylock position 4"
expect_line "example for 3 s" "$out" "closed"
expect_no_line "example for 3 s" "$out" "Exception"

# Without a time limit it runs until it is told to stop; SIGTERM runs the shutdown hook, which closes.
exec_guest LD_PRELOAD="$sim" TROVSIM_KEYBOARD=0 -- "$java" "${opts[@]}" "-Djava.library.path=$build" \
  -cp "$build/TrovJPOS.jar:$build/trov-example.jar" com.trov.jpos.example.KeyboardExample >"$out" 2>&1 &
pid=$!
for _ in $(seq 1 1200); do grep -q "keylock position" "$out" && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
signal_and_wait "$pid" TERM 60
if [ "$status" -ne 0 ] && [ "$status" -ne 143 ]; then fail "example ended by SIGTERM: exit status $status"; fi
expect_line "example ended by SIGTERM" "$out" "keylock position 1"
expect_line "example ended by SIGTERM" "$out" "closed"

run_guest LD_PRELOAD="$sim" -- "$java" "${opts[@]}" "-Djava.library.path=$build" \
  -cp "$build/TrovJPOS.jar:$build/trov-example.jar" com.trov.jpos.example.KeyboardExample 1 >"$out" 2>&1
expect_status "example without a keyboard" 1 $?
expect_line "example without a keyboard" "$out" "error 104: "
expect_line "example without a keyboard" "$out" "hint: run trovjpos-diag"

finish
