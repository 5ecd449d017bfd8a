#!/bin/bash
# Runs a reliability tool in a real JVM with -Xcheck:jni against the simulated keyboard, in a scratch
# working directory (the library makes its FIFO there), and fails on a failed check, on any warning of
# the JNI checker and on a JVM crash.
#   tools/soak/run.sh [--asan] soak|delivery|stream [name=value...]
# soak: duration=120 seed=1 threads=8 objects=3 tolerate=<categories>; delivery: keys=1000000
# swipes=10000 seed=1 rates=5000,10000,20000,0; stream: rounds=200 seed=1 burst=300.
# Build directory: $TROV_BUILD, default build/gcc-x86_64; with --asan, build/asan-x86_64 (the
# AddressSanitizer + UBSan build), whose runtimes are then preloaded into the JVM.
# Exit status: 0 passed, 1 a check failed, 2 JNI checker warnings, 3 the JVM crashed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
asan=0
if [ "${1:-}" = --asan ]; then asan=1; shift; fi
mode=${1:?usage: run.sh [--asan] soak|delivery|stream [name=value...]}
shift
build=${TROV_BUILD:-$root/build/gcc-x86_64}
[ $asan = 1 ] && build=${TROV_BUILD:-$root/build/asan-x86_64}
for f in libTrovJPOS.so libtrovsim.so TrovJPOS.jar trovsim.jar trov-soak.jar; do
  [ -e "$build/$f" ] || { echo "missing $build/$f: build that tree first"; exit 1; }
done

preload="$build/libtrovsim.so"
if [ $asan = 1 ]; then
  # The sanitizer runtimes come first; the JVM's own signals (SIGSEGV for its safepoints and null checks)
  # stay the JVM's; leaks are not judged (the JVM keeps what it allocates until exit).
  preload="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so):$preload"
  export ASAN_OPTIONS="handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0:abort_on_error=1:print_summary=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/run.log"
cd "$work" || exit 1
LD_PRELOAD="$preload" java -Xcheck:jni -XX:+UseSerialGC -XX:-UseDynamicNumberOfCompilerThreads \
  -XX:ErrorFile="$work/hs_err_%p.log" -Djava.library.path="$build" \
  -cp "$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-soak.jar" com.trov.jpos.soak.Soak "$mode" "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
if [ $rc -gt 1 ] || ls "$work"/hs_err_*.log >/dev/null 2>&1 || grep -q -E '^==[0-9]+==ERROR|runtime error:' "$log"; then
  cat "$work"/hs_err_*.log 2>/dev/null | head -n 60
  echo "FAIL: the JVM crashed or a sanitizer reported (exit status $rc)"
  exit 3
fi
if grep -n -E '^WARNING|WARNING in native method|FATAL ERROR in native method' "$log"; then
  echo "FAIL: the JNI checker printed warnings (above)"
  exit 2
fi
exit $rc
