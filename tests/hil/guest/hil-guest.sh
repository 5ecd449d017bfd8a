#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Guest side of the VM tier, run in the VM chrooted into the guest's root (read-only: the host's on an
# amd64 kernel, a 32-bit Debian userland on the 32-bit kernel; /tmp and /run are the VM's tmpfs; the
# i386 build tree is writable). The steps it runs are in STEPS (written by run.sh for the kernel). With
# the i386 tree's native steps it first runs that tree's tests natively: its ctest (native tests,
# exports, the JVM tests against the simulator with the 32-bit JVM in its normal mode, the tool and
# example tests) and a valgrind leak check of its native tests. Then it makes a configfs HID gadget with
# the keyboard's report descriptor, starts trovkbd-firmware on it (which plugs the cable in: dummy_hcd's
# host side then binds usbhid and makes the hiddev node), checks what the driver answers, and runs the
# JVM scenarios against the firmware with the x86_64 JVM and library, then with the 32-bit ones. Every
# log goes to the output directory; each step leaves one line "STEP rc=N Ss LOG" in steps.log there.
# Argument: the output directory, holding guest.env (paths, written by run.sh) and report-desc.bin.
set -u
OUT=$1
. "$OUT/guest.env"
up() { cut -d' ' -f1 /proc/uptime; }
say() { echo "HIL: $* (uptime $(up)s)"; }
RC=0
# step NAME LOG COMMAND...: runs the command with its output in LOG, records its result.
step() {
  name=$1 log=$2
  shift 2
  say "$name"
  begin=$(cut -d. -f1 /proc/uptime)
  "$@" >"$OUT/$log" 2>&1
  step_rc=$?
  if [ $step_rc -eq 0 ] && grep -q -E '^WARNING|^Warning:|WARNING in native method|FATAL ERROR in native method' "$OUT/$log"; then
    echo "the JNI checker printed warnings" >>"$OUT/$log"
    step_rc=1
  fi
  echo "$name rc=$step_rc $(($(cut -d. -f1 /proc/uptime) - begin))s $log" >>"$OUT/steps.log"
  say "$name rc=$step_rc"
  [ $step_rc -ne 0 ] && [ $RC -eq 0 ] && RC=$step_rc
}
finish() {
  [ -n "${FW_PID:-}" ] && kill "$FW_PID" 2>/dev/null
  cp /tmp/firmware.log "$OUT/firmware.log" 2>/dev/null
  dmesg > "$OUT/dmesg.log"
  say "guest done, rc=$1"
  exit "$1"
}
: >"$OUT/steps.log"
# wanted STEP: whether the run includes that step (those of STEPS, or those ONLY names).
wanted() {
  case " ${ONLY:-$STEPS} " in *" $1 "*) return 0 ;; esac
  return 1
}

# The benchmark alone (bench/run.sh --vm), with the 32-bit JVM.
if [ -n "$BENCH32" ]; then
  mkdir -p /tmp/bench && cd /tmp/bench || finish 16
  # shellcheck disable=SC2086
  step "i386 benchmark" bench.log env "LD_PRELOAD=$BENCH32/libtrovsim.so:$BENCH32/libtrovbench.so" "$JAVA32" \
    "-Djava.library.path=$BENCH32" -cp "$BENCH32/TrovJPOS.jar:$BENCH32/trovsim.jar:$BENCH32/trov-bench.jar" \
    com.trov.jpos.bench.KeyboardPipelineBench $BENCH_ARGS
  finish $RC
fi

# -- the 32-bit target, natively, before any keyboard is plugged in (the tool's tests expect none) -----
if [ -n "$BUILD32" ] && { wanted i386-ctest || wanted i386-valgrind; }; then
  export TROV_I386_MODE=native
  # The tests of the Java classes over a stand-in native layer (tag "stand-in") touch neither the library
  # nor the driver: the host's tiers run them; here they would only cost minutes of emulation.
  export TROV_JVM_EXCLUDE_TAG=stand-in
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || { say "this kernel does not run 32-bit programs"; finish 17; }
  if wanted i386-ctest; then
    # The product jars hold no native code: the host's tiers check them (with the host's jar tool).
    step "i386 ctest" ctest-i386.log ctest --test-dir "$BUILD32" --output-on-failure --timeout 1800 -E '^product_jars$'
    cp "$BUILD32/jvm-tests.log" "$OUT/jvm-tests-i386.log" 2>/dev/null
    cp "$BUILD32"/hs_err_pid*.log "$OUT/" 2>/dev/null
  fi
  # The native tests under memcheck, in a working directory of their own: a block definitely lost fails the step. The two tests that fork
  # are left out: their children end with _exit while the parent's threads hold heap blocks the child
  # cannot reach, which memcheck counts as the child's leaks (and then fails the child). The test of the
  # group `pos` is left out too: glibc 2.36's 32-bit IPC_SET hands the kernel a converted copy whose
  # padding it never writes, which memcheck (3.19) reports as the caller's error.
  mkdir -p /tmp/valgrind && cd /tmp/valgrind || finish 16
  wanted i386-valgrind && step "i386 valgrind" valgrind-i386.log valgrind --leak-check=full \
    --errors-for-leak-kinds=definite --error-exitcode=1 "$BUILD32/trov_native_tests" --gtest_color=no --gtest_filter='-*AnotherProcess*:*WithTheGroupPos*'
fi

G=/sys/kernel/config/usb_gadget/trovkbd
F=$G/functions/hid.keyboard
mkdir "$G" || finish 10
echo 0x1d6b > "$G/idVendor"
echo 0x0104 > "$G/idProduct"
echo 0x0100 > "$G/bcdDevice"
echo 0x0200 > "$G/bcdUSB"
mkdir "$G/strings/0x409"
echo "Trov" > "$G/strings/0x409/manufacturer"
echo "POS keyboard (trovkbd-firmware)" > "$G/strings/0x409/product"
echo "HIL0001" > "$G/strings/0x409/serialnumber"
mkdir "$F"
echo 0 > "$F/protocol"
echo 0 > "$F/subclass"
echo 8 > "$F/report_length"
cat "$OUT/report-desc.bin" > "$F/report_desc" || finish 11
mkdir "$G/configs/c.1"
echo 100 > "$G/configs/c.1/MaxPower"
ln -s "$F" "$G/configs/c.1/" || finish 12
UDC=$(ls /sys/class/udc | head -n1)
[ -n "$UDC" ] || { say "no UDC"; finish 13; }
say "gadget made on $UDC"

"$FIRMWARE" --control /tmp/firmware.control --log /tmp/firmware.log --hidg /dev/hidg0 \
  --udc-file "$G/UDC" --udc "$UDC" --link-dir /dev/usb/hid 2>"$OUT/firmware.stderr" &
FW_PID=$!
i=0
while ! grep -qE '^(ready|err)' /tmp/firmware.log 2>/dev/null; do
  i=$((i + 1))
  [ $i -lt 300 ] && kill -0 "$FW_PID" 2>/dev/null || { say "the firmware did not start"; finish 14; }
  sleep 0.1
done
grep -q '^ready' /tmp/firmware.log || { cat /tmp/firmware.log; finish 15; }
say "firmware ready: $(grep '^plugged' /tmp/firmware.log); $(ls -l /dev/usb/hid/ | tail -n +2)"

# What the kernel's hiddev driver answers, request by request, before the library meets it.
step "driver facts" driver-facts.log env HIL_FW_CONTROL=/tmp/firmware.control HIL_FW_LOG=/tmp/firmware.log \
  timeout 300 "$DRIVER_FACTS" --gtest_color=no

# The scenarios against the firmware, in the JVM's normal mode, with the JNI checker.
mkdir -p /tmp/work && cd /tmp/work || finish 16
scenarios() {
  java=$1 build=$2
  "$(dirname "$0")/bounded.sh" 1200 "$java" -Xcheck:jni "-XX:ErrorFile=$OUT/hs_err_pid%p.log" \
    -Dtrov.test.keyboard=firmware -Dtrov.hil.control=/tmp/firmware.control -Dtrov.hil.log=/tmp/firmware.log \
    "-Djava.library.path=$build" "-Dtrov.test.build=$build" \
    -cp "$JUNIT:$build/TrovJPOS.jar:$build/trovsim.jar:$build/trov-tests.jar" \
    org.junit.platform.console.ConsoleLauncher --disable-banner --disable-ansi-colors --details=tree \
    --fail-if-no-tests --select-package=com.trov.jpos --exclude-tag=stand-in \
    --config=junit.jupiter.execution.timeout.default=5m \
    --config=junit.jupiter.execution.timeout.thread.mode.default=SEPARATE_THREAD
}
[ -n "$BUILD" ] && wanted x86_64-scenarios && step "x86_64 scenarios" junit-x86_64.log scenarios "$JAVA" "$BUILD"
[ -n "$BUILD32" ] && wanted i386-scenarios && step "i386 scenarios" junit-i386.log scenarios "$JAVA32" "$BUILD32"
finish $RC
