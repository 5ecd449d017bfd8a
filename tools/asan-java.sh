#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs a program (the JVM) with the AddressSanitizer and UBSan runtimes of g++ preloaded ahead of
# everything else, so that the sanitized build of the library (build/asan-x86_64) can be loaded into it:
#   tools/asan-java.sh java [options...]
# Environment meant for the program only (LD_PRELOAD of the simulator) is passed in TROV_GUEST_ENV as
# space-separated NAME=VALUE words, as for tools/run-i386.sh: a sanitized library preloaded into this
# script's own shell would stop it. The JVM takes SIGSEGV, SIGBUS and SIGFPE for its own use (safepoint
# polls, implicit null checks), so the sanitizer leaves those signals to it; leaks are not judged, since
# the JVM keeps what it allocates until it exits.
set -u
preload="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
guest=()
for kv in ${TROV_GUEST_ENV:-}; do
  case "$kv" in
    LD_PRELOAD=*) preload="$preload:${kv#LD_PRELOAD=}" ;;
    *) guest+=("$kv") ;;
  esac
done
exec env "${guest[@]}" LD_PRELOAD="$preload" \
  ASAN_OPTIONS="handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=1" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" "$@"
