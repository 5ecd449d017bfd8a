#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs the test of the simulated keyboard's window (JUnit 5, java.awt.Robot) in an X server of its own:
# Xvfb on a display it picks free, with the simulator preloaded and -Xcheck:jni. Fails on any JNI warning
# but two of the JDK 17 desktop's own, which the checker reports from any Swing window (a plain JFrame
# with a button shows them): its FreeType font scaler reads font files through CallIntMethod without
# checking for an exception (told by the warning's top frame, a native method of the scaler), and its
# Robot leaves SIGPIPE ignored (told by the signal table the checker prints: SIGPIPE now SIG_IGN).
# XRender and pixmap off-screen images are turned off: their glyph and image uploads call JNI inside a
# critical region, a warning of the JDK's own without a stack to tell it by.
# Usage: run_panel_test.sh <build dir> <java> <junit console jar>
# Keeps its log (sim-panel-tests.log) and the window's screenshot (sim-panel-window.png) in the build dir.
set -uo pipefail
build=$1 java=$2 junit=$3
log="$build/sim-panel-tests.log"
if ! command -v Xvfb >/dev/null; then
  echo "SKIP: Xvfb is not installed (Debian package xvfb, brought by tools/install-deps.sh tests)"
  exit 77
fi
if [ ! -e "$(dirname "$(readlink -f "$(command -v "$java")")")/../lib/libawt_xawt.so" ]; then
  echo "SKIP: $java has no X11 toolkit (Debian package openjdk-17-jre, brought by tools/install-deps.sh tests)"
  exit 77
fi
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$work"' EXIT
# Xvfb writes its display number once it accepts clients.
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 $xvfb 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "FAIL: Xvfb did not start within 10 s:"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"
rm -f "$build/sim-panel-window.png"
cd "$work" || exit 1  # the library makes its FIFO in the working directory
LD_PRELOAD="$build/libtrovsim.so" "$java" -Xcheck:jni -Dsun.java2d.xrender=false -Dsun.java2d.pmoffscreen=false "-XX:ErrorFile=$build/hs_err_pid%p.log" \
  "-Djava.library.path=$build" "-Dtrov.test.build=$build" \
  -cp "$junit:$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-panel-tests.jar" \
  org.junit.platform.console.ConsoleLauncher --disable-banner --details=tree --fail-if-no-tests \
  --config=junit.jupiter.execution.timeout.default=2m --select-package=com.trov.jpos.sim.panel >"$log" 2>&1
rc=$?
# Each warning is followed by the Java stack it came from, or by the signal table.
awk '
  skipping && /^[ \t]+(at |- locked )/ { next }
  { skipping = 0 }
  signals { table = table "\n" $0; if ($0 ~ /^ *SIGPIPE: SIG_IGN,/) pipe = 1 }
  signals && /^Consider using jsig library/ {
    if (pipe) ++jdk; else { print table; ++ours }
    signals = 0; next
  }
  signals { next }
  /^Warning: SIGPIPE handler modified!$/ { signals = 1; pipe = 0; table = $0; next }
  /WARNING in native method|^WARNING|FATAL ERROR in native method|^Warning: / { pending = $0; next }
  pending != "" {
    if ($0 ~ /^[ \t]+at sun\.font\.FreetypeFontScaler\.[A-Za-z]+\(java\.desktop@[^)]*\/Native Method\)$/) {
      ++jdk; skipping = 1
    } else {
      print pending; print; ++ours
    }
    pending = ""
    next
  }
  { print }
  END {
    if (pending != "") { print pending; ++ours }
    if (signals) { print table; ++ours }
    printf "JNI checker: %d warning(s) of the JDK'"'"'s own left aside, %d other(s)\n", jdk, ours
    exit ours > 0
  }' "$log"
warnings=$?
if [ "$warnings" -ne 0 ]; then
  echo "FAIL: the JNI checker printed warnings (above; the whole log is $log)"
  exit 1
fi
echo "screenshot of the window: $build/sim-panel-window.png"
exit $rc
