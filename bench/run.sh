#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Builds a release tree and runs the key pipeline benchmark against the simulated keyboard, printing
# the figures. Arguments are passed to the benchmark as name=value options (keys=20000 warmup=2000
# gapUs=200 trialMs=2000 searchTrials=8 rounds=5000).
#
#   bench/run.sh [name=value...]          x86_64, with the java on PATH (or $JAVA)
#   bench/run.sh --i386 [name=value...]   the 32-bit build with the i386 JVM (under qemu-i386 where the
#                                         kernel cannot run 32-bit programs; interpreted there)
#   bench/run.sh --vm [name=value...]     the 32-bit build with the i386 JVM in its normal mode, natively
#                                         in the VM of tests/hil/run.sh (amd64 kernel, software emulation)
#
# The library's claim table is System V shared memory with a fixed key, so do not run this while the
# test suite runs on the same machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=x86_64
where=here
if [ "${1:-}" = "--i386" ] || [ "${1:-}" = "--vm" ]; then
  arch=i386
  [ "$1" = "--vm" ] && where=vm
  shift
fi

if [ "$arch" = x86_64 ]; then
  build="$root/build/bench"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  build="$root/build/bench-i386"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-linux.cmake" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target TrovJPOS trovsim trovbench trov_bench_jar >/dev/null

if [ "$where" = vm ]; then
  HIL_BENCH="$build" HIL_BENCH_ARGS="$*" "$root/tests/hil/run.sh" >"$root/build/bench-vm.log" 2>&1 \
    || { cat "$root/build/bench-vm.log"; exit 1; }
  cat "$root/build/hil/out/bench.log"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # a scratch working directory, so that a run leaves nothing behind
cp="$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-bench.jar"
main=com.trov.jpos.bench.KeyboardPipelineBench

if [ "$arch" = x86_64 ]; then
  LD_PRELOAD="$build/libtrovsim.so:$build/libtrovbench.so" "${JAVA:-java}" -Djava.library.path="$build" -cp "$cp" "$main" "$@"
else
  java32=/usr/lib/jvm/java-17-openjdk-i386/bin/java
  options=()
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    # Under qemu-i386 the JIT's fault-driven safepoint polls are not reliable: run interpreted, as the
    # JVM tests do.
    options=(-Xint)
  fi
  TROV_GUEST_ENV="LD_PRELOAD=$build/libtrovsim.so:$build/libtrovbench.so" "$root/tools/run-i386.sh" "$java32" "${options[@]}" \
    -Djava.library.path="$build" -cp "$cp" "$main" "$@"
fi
