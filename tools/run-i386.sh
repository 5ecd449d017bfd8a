#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs a 32-bit x86 program: directly where the kernel executes i386 binaries, otherwise under qemu-i386
# (some sandboxed kernels refuse 32-bit executables with "Exec format error"). qemu-i386 is the quick
# local fallback; the i386 verdict of ./tools/test.sh comes from the VM (tests/hil/run.sh), which sets
# TROV_I386_MODE=native.
# Environment meant for the program only (for example LD_PRELOAD of a 32-bit library) is passed in
# TROV_GUEST_ENV as a space-separated list of NAME=VALUE words, so that it never reaches qemu itself.
set -u
if [ -z "${TROV_I386_MODE:-}" ]; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then TROV_I386_MODE=native; else TROV_I386_MODE=qemu; fi
fi
if [ "$TROV_I386_MODE" = native ]; then
  # shellcheck disable=SC2086
  exec env ${TROV_GUEST_ENV:-} "$@"
fi
args=()
for kv in ${TROV_GUEST_ENV:-}; do args+=(-E "$kv"); done
exec qemu-i386 -L / "${args[@]}" "$@"
