#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The demo: builds the library and runs the service tour against the simulated keyboard.
# With --panel it opens the simulated keyboard's window instead, beside a small till that prints what
# the application hears (needs a display).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
panel=0
case "${1:-}" in
  "") ;;
  --panel) panel=1 ;;
  *) echo "usage: demo.sh [--panel]" >&2; exit 2 ;;
esac
"$root/tools/install-deps.sh" "$([ $panel = 1 ] && echo panel || echo demo)"
build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # a scratch working directory, so that a run leaves nothing behind
cp="$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-demo.jar"
# The terminal's settings (the simulator's beep bytes behind sound()) come from the demo's own file.
settings="-Dtrov.jpos.config=$root/tools/demo/trovjpos.properties"
if [ $panel = 1 ]; then
  # The till knows nothing of the simulator: node 0 is a keyboard from the start, and the property opens
  # the window as the services load.
  LD_PRELOAD="$build/libtrovsim.so" TROVSIM_KEYBOARD=0 java -Dtrov.sim.panel=true "$settings" \
    -Djava.library.path="$build" -cp "$cp" com.trov.jpos.demo.PanelTill
else
  LD_PRELOAD="$build/libtrovsim.so" java "$settings" -Djava.library.path="$build" -cp "$cp" com.trov.jpos.demo.Demo
fi
