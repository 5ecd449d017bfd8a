#!/bin/bash
# The demo: builds the library and runs the service tour against the simulated keyboard.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" demo
build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # the library makes its input FIFO in the working directory
LD_PRELOAD="$build/libtrovsim.so" java -Djava.library.path="$build" \
  -cp "$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-demo.jar" com.trov.jpos.demo.Demo
