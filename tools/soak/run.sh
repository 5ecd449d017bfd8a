#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs a reliability tool in a real JVM with -Xcheck:jni against the simulated keyboard, in a scratch
# working directory, and fails on a failed check, on any warning of
# the JNI checker and on a JVM crash.
#   tools/soak/run.sh [--asan] soak|delivery|stream [name=value...]
# soak: duration=120 seed=1 threads=8 objects=3 rate=0 tolerate=<categories>; delivery: keys=1000000
# swipes=10000 seed=1 rates=4000,10000,20000,0; stream: rounds=200 seed=1 burst=300 reconnect=0.
# Build directory: $TROV_BUILD, default build/gcc-x86_64. With --asan the library and the simulator come
# from build/asan-x86_64 (the AddressSanitizer + UBSan build; its tree builds no jars for the JVM tests,
# so the jars come from build/gcc-x86_64), and tools/asan-java.sh preloads the sanitizer runtimes.
# Exit status: 0 passed, 1 a check failed, 2 JNI checker warnings, 3 the JVM crashed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
asan=0
if [ "${1:-}" = --asan ]; then asan=1; shift; fi
mode=${1:?usage: run.sh [--asan] soak|delivery|stream [name=value...]}
shift
build=${TROV_BUILD:-$root/build/gcc-x86_64}
jars=$build
[ $asan = 1 ] && build=${TROV_ASAN_BUILD:-$root/build/asan-x86_64}
for f in "$build/libTrovJPOS.so" "$build/libtrovsim.so" "$jars/TrovJPOS.jar" "$jars/trovsim.jar" "$jars/trov-soak.jar"; do
  [ -e "$f" ] || { echo "missing $f: build that tree first"; exit 1; }
done

launch=(env "LD_PRELOAD=$build/libtrovsim.so")
[ $asan = 1 ] && launch=(env "TROV_GUEST_ENV=LD_PRELOAD=$build/libtrovsim.so" "$root/tools/asan-java.sh")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/run.log"
cd "$work" || exit 1
"${launch[@]}" java -Xcheck:jni -XX:+UseSerialGC -XX:-UseDynamicNumberOfCompilerThreads \
  -XX:ErrorFile="$work/hs_err_%p.log" -Djava.library.path="$build" \
  -cp "$jars/TrovJPOS.jar:$jars/trovsim.jar:$jars/trov-soak.jar" com.trov.jpos.soak.Soak "$mode" "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
if [ $rc -gt 1 ] || ls "$work"/hs_err_*.log >/dev/null 2>&1 || grep -q -E '^==[0-9]+==ERROR|runtime error:' "$log"; then
  cat "$work"/hs_err_*.log 2>/dev/null | head -n 60
  echo "FAIL: the JVM crashed or a sanitizer reported (exit status $rc)"
  exit 3
fi
if grep -n -E '^WARNING|^Warning:|WARNING in native method|FATAL ERROR in native method' "$log"; then
  echo "FAIL: the JNI checker printed warnings (above)"
  exit 2
fi
exit $rc
