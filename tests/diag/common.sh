# SPDX-License-Identifier: Apache-2.0
# Shared by the shell tests of tests/diag: running a program of the target (under the launcher of the
# 32-bit build where there is one) with environment meant for that program only, and the checks.
# shellcheck shell=bash

failures=0

# run_guest NAME=VALUE... -- program args...
run_guest() {
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  if [ -n "${launcher:-}" ]; then
    TROV_GUEST_ENV="${envs[*]}" "$launcher" "$@"
  else
    env "${envs[@]}" "$@"
  fi
}

# exec_guest NAME=VALUE... -- program args...: as run_guest, but replaces the shell, so that
# `exec_guest ... &` leaves the program's own process id in $! for signals.
exec_guest() {
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  if [ -n "${launcher:-}" ]; then
    TROV_GUEST_ENV="${envs[*]}" exec "$launcher" "$@"
  else
    exec env "${envs[@]}" "$@"
  fi
}

# JVM options for the 32-bit JVM under qemu-i386 (see tests/run_jvm_tests.sh).
jvm_options() {
  if [ -n "${launcher:-}" ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "-Xint -Djdk.lang.Process.launchMechanism=FORK"
  fi
}

# signal_and_wait PID SIGNAL SECONDS: sends the signal and waits for the program; one that has not ended
# after SECONDS is killed and counts as a failure. Sets $status to the program's exit status.
signal_and_wait() {
  local pid=$1 sig=$2 seconds=$3 waited=0
  kill -"$sig" "$pid" 2>/dev/null
  while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt $((seconds * 10)) ]; do sleep 0.1; waited=$((waited + 1)); done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the program did not end within $seconds s of SIG$sig"
    kill -KILL "$pid"
  fi
  wait "$pid"
  status=$?
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_status WHAT EXPECTED ACTUAL
expect_status() {
  if [ "$2" != "$3" ]; then fail "$1: exit status $3, expected $2"; else echo "ok: $1: exit status $3"; fi
}

# expect_line WHAT FILE FIXED-TEXT
expect_line() {
  if grep -qF -- "$3" "$2"; then echo "ok: $1: '$3'"; else fail "$1: no line with '$3' in:"; cat "$2"; fi
}

# expect_no_line WHAT FILE FIXED-TEXT
expect_no_line() {
  if grep -qF -- "$3" "$2"; then fail "$1: unexpected line with '$3' in:"; cat "$2"; else echo "ok: $1: no '$3'"; fi
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
  fi
  echo "all passed"
}
