#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Every test tier: native tests (GoogleTest) against the simulated keyboard, end-to-end tests in a real
# JVM with -Xcheck:jni, for x86_64 with g++ and clang, and an AddressSanitizer+UBSan build. A
# ThreadSanitizer build checks the hand-offs between the library's threads. The 32-bit x86 target is
# built here and tested natively in a VM with Debian's 32-bit kernel; VMs with three kernels run both
# targets against the real Linux driver.
# Warnings are errors throughout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh" tests
jobs=$(nproc)

built() {
  local name=$1; shift
  local build="$root/build/$name"
  echo "=== $name"
  cmake -S "$root" -B "$build" -DTROV_WERROR=ON "$@" >"$build.configure.log" 2>&1 \
    || { cat "$build.configure.log"; return 1; }
  cmake --build "$build" -j"$jobs" >"$build.build.log" 2>&1 || { tail -n 60 "$build.build.log"; return 1; }
}

tier() {
  built "$@"
  (cd "$root/build/$1" && ctest --output-on-failure --timeout 600)
}

mkdir -p "$root/build"
# The VMs' kernels and the 32-bit userland are downloads and unpacking, not computation: fetched in the
# background while the host tiers build and test, waited for before the VMs boot. A failure here is
# only reported: the VM runs below prepare again what is missing and fail with the cause.
prepare_log=$root/build/hil-prepare.log
( for line in 686-pae 6.1 6.12; do HIL_PREPARE_ONLY=1 "$root/tests/hil/run.sh" --kernel "$line" || exit 1; done ) \
  >"$prepare_log" 2>&1 &
prepare=$!
tier gcc-x86_64 -DCMAKE_BUILD_TYPE=RelWithDebInfo
tier clang-x86_64 -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
tier asan-x86_64 -DCMAKE_BUILD_TYPE=Debug -DTROV_SANITIZE=address,undefined
tier tsan-x86_64 -DCMAKE_BUILD_TYPE=Debug -DTROV_SANITIZE=thread -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# Built here; its tests run in the VM with the 32-bit kernel.
built gcc-i386 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-linux.cmake"

# The Debian packages of the g++ x86_64 and i386 builds above: contents, dependencies, lintian, the
# maintainer scripts, and the example run from the amd64 package unpacked into a scratch root
# (tests/package/package_test.sh). Nothing is installed on this machine.
echo "=== Debian packages (g++ x86_64 and i386 builds)"
"$root/tests/package/package_test.sh" "$root/build/gcc-x86_64" "$root/build/gcc-i386"

# ---- Reliability (doc/reliability.md): short forms of the soak (with one outage beyond 10 s), the
# delivery check and the stream fuzz on the g++ build, each libFuzzer harness for 60 s, and the JVM tests
# and a soak with the AddressSanitizer build of the library loaded into the JVM. TROV_SOAK_TOLERATE names
# soak failure categories that are reported but do not fail the tier (for a known fault still open).
reliability() {
  local gcc="$root/build/gcc-x86_64" asan="$root/build/asan-x86_64" mixed="$root/build/asan-jvm"
  local tolerate=${TROV_SOAK_TOLERATE:+tolerate=$TROV_SOAK_TOLERATE}
  echo "=== reliability"
  "$root/tools/soak/run.sh" soak duration=120 seed=1 $tolerate >"$root/build/soak.log" 2>&1 \
    || { tail -n 80 "$root/build/soak.log"; return 1; }
  grep -E '^(soak|failures)' "$root/build/soak.log" || true
  "$root/tools/soak/run.sh" delivery keys=100000 swipes=1000 seed=1 || return 1
  "$root/tools/soak/run.sh" stream rounds=100 seed=1 || return 1
  "$root/tools/fuzz.sh" 60 || return 1
  # The sanitized library and simulator with the g++ tree's jars (the sanitized tree builds no test jar).
  mkdir -p "$mixed"
  ln -sf "$gcc"/*.jar "$asan/libTrovJPOS.so" "$asan/libtrovsim.so" "$mixed/"
  "$root/tests/run_jvm_tests.sh" "$mixed" java /usr/share/java/junit-platform-console-standalone.jar \
    "$root/tools/asan-java.sh" >"$root/build/asan-jvm-tests.log" 2>&1 \
    || { tail -n 80 "$root/build/asan-jvm-tests.log"; return 1; }
  echo "JVM tests with the AddressSanitizer build: passed"
  "$root/tools/soak/run.sh" --asan soak duration=60 seed=2 $tolerate >"$root/build/soak-asan.log" 2>&1 \
    || { tail -n 80 "$root/build/soak-asan.log"; return 1; }
  grep -E '^(soak|failures)' "$root/build/soak-asan.log" || true
}
reliability
# ---- end of reliability

# The VM (tests/hil/run.sh): the real Linux usbhid/hiddev driver on three of Debian 12's kernels. On
# 6.1 and 6.12 (amd64) the JVM scenarios with the g++ x86_64 build and with the i386 build; on the 32-bit
# 686-pae kernel the i386 tests natively (its ctest, valgrind) and its scenarios. Two VMs at once, each
# on one host thread: the 32-bit one in the background while 6.1 and then 6.12 run.
echo "=== VM: the real driver on Debian's 6.1, 6.12 and 32-bit 686-pae kernels"
wait "$prepare" || { echo "preparing the VMs failed in the background (they try again now):"; tail -n 20 "$prepare_log"; }
vm32_log=$root/build/hil-686-pae.log
"$root/tests/hil/run.sh" --kernel 686-pae "$root/build/gcc-x86_64" "$root/build/gcc-i386" >"$vm32_log" 2>&1 &
vm32=$!
vm_failed=0
"$root/tests/hil/run.sh" --kernel 6.1 "$root/build/gcc-x86_64" "$root/build/gcc-i386" || vm_failed=1
"$root/tests/hil/run.sh" --kernel 6.12 "$root/build/gcc-x86_64" "$root/build/gcc-i386" || vm_failed=1
wait "$vm32" || vm_failed=1
cat "$vm32_log"
[ $vm_failed = 0 ]
echo "=== all tiers passed"
