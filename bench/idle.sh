#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Builds a release tree and measures what the library costs at rest (IdleCostBench): idle CPU and thread
# count with all four services open and enabled, the first open() and the last close(), and CPU while the
# keyboard is away. Arguments are passed on as name=value options (idleS=20 rounds=20 awayS=5).
#
# The claim table is System V shared memory with a fixed key: do not run this beside the test suite
# (or run both in private IPC namespaces, `unshare --ipc`).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BENCH_BUILD:-$root/build/bench}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target TrovJPOS trovsim trov_bench_jar >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # a scratch working directory, so that a run leaves nothing behind
LD_PRELOAD="$build/libtrovsim.so" "${JAVA:-java}" -Djava.library.path="$build" \
  -cp "$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-bench.jar" com.trov.jpos.bench.IdleCostBench "$@"
