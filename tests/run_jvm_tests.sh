#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs the JUnit 5 tests in a real JVM with -Xcheck:jni and the simulated keyboard preloaded, and fails
# on any warning the JNI checker prints, not only on failed tests.
# Usage: run_jvm_tests.sh <build dir> <java> <junit console jar> [launcher]
# The launcher (for the i386 build, tools/run-i386.sh) runs the JVM; the simulator's LD_PRELOAD is then
# passed to the JVM alone through TROV_GUEST_ENV.
set -uo pipefail
build=$1 java=$2 junit=$3 launcher=${4:-}
log="$build/jvm-tests.log"
cp="$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-tests.jar"
jvm_options=()
if [[ $launcher == *run-i386.sh ]] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  # The 32-bit JVM runs under qemu-i386 here. Its JIT-compiled code relies on fault-driven safepoint
  # polls that qemu's signal emulation does not always deliver precisely, so the JVM runs interpreted;
  # and it must fork child processes itself, since its spawn helper is a 32-bit program the kernel
  # cannot start.
  jvm_options=(-Xint -Djdk.lang.Process.launchMechanism=FORK)
fi
# A JVM that crashes leaves its report beside the log rather than in the throw-away working directory.
props=("${jvm_options[@]}" -Xcheck:jni "-XX:ErrorFile=$build/hs_err_pid%p.log"
       "-Djava.library.path=$build" "-Dtrov.test.build=$build" "-Dtrov.test.launcher=$launcher" "-Dtrov.test.jvmOptions=${jvm_options[*]}")
# A test that never returns fails after 5 minutes, named, and the others still run: far beyond what any
# test takes, also in the VM's software emulation.
guard=(--config=junit.jupiter.execution.timeout.default=5m
       --config=junit.jupiter.execution.timeout.thread.mode.default=SEPARATE_THREAD)
# TROV_JVM_EXCLUDE_TAG leaves out the tests of one tag: the VM leaves out "stand-in", the tests of the Java
# classes over a stand-in native layer, which prove the same on every JVM and take long under emulation.
[ -n "${TROV_JVM_EXCLUDE_TAG:-}" ] && guard+=("--exclude-tag=$TROV_JVM_EXCLUDE_TAG")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

if [ -n "$launcher" ]; then
  TROV_GUEST_ENV="LD_PRELOAD=$build/libtrovsim.so" "$launcher" "$java" "${props[@]}" -cp "$junit:$cp" \
    org.junit.platform.console.ConsoleLauncher --disable-banner --details=tree --fail-if-no-tests "${guard[@]}" \
    --select-package=com.trov.jpos >"$log" 2>&1
else
  LD_PRELOAD="$build/libtrovsim.so" "$java" "${props[@]}" -cp "$junit:$cp" \
    org.junit.platform.console.ConsoleLauncher --disable-banner --details=tree --fail-if-no-tests "${guard[@]}" \
    --select-package=com.trov.jpos >"$log" 2>&1
fi
rc=$?
cat "$log"
if grep -n -E '^WARNING|^Warning:|WARNING in native method|FATAL ERROR in native method' "$log"; then
  echo "FAIL: the JNI checker printed warnings (above)"
  exit 1
fi
exit $rc
