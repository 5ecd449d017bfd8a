#!/bin/sh
# Guest side of the real-driver tier, run in the VM chrooted into the host's root (read-only; /tmp and
# /run are the VM's tmpfs). Makes a configfs HID gadget with the keyboard's report descriptor, starts
# trovkbd-firmware on it (which plugs the cable in: dummy_hcd's host side then binds usbhid and makes
# the hiddev node), runs RealDriverTest in a real JVM, and leaves every log in the output directory.
# Argument: the output directory, holding guest.env (paths, written by run.sh) and report-desc.bin.
set -u
OUT=$1
. "$OUT/guest.env"
up() { cut -d' ' -f1 /proc/uptime; }
say() { echo "HIL: $* (uptime $(up)s)"; }
finish() {
  [ -n "${FW_PID:-}" ] && kill "$FW_PID" 2>/dev/null
  cp /tmp/firmware.log "$OUT/firmware.log" 2>/dev/null
  dmesg > "$OUT/dmesg.log"
  say "guest done, rc=$1"
  exit "$1"
}

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
say "driver facts"
HIL_FW_CONTROL=/tmp/firmware.control HIL_FW_LOG=/tmp/firmware.log timeout 300 "$DRIVER_FACTS" --gtest_color=no \
  >"$OUT/driver-facts.log" 2>&1
facts_rc=$?
say "driver facts rc=$facts_rc"

# The library makes its FIFO in the working directory.
mkdir -p /tmp/work && cd /tmp/work || finish 16
say "JVM starts"
timeout 400 "$JAVA" -XX:-UsePerfData -XX:TieredStopAtLevel=1 -Xcheck:jni \
  "-Djava.library.path=$BUILD" -Dtrov.hil.control=/tmp/firmware.control -Dtrov.hil.log=/tmp/firmware.log \
  -cp "$JUNIT:$BUILD/TrovJPOS.jar:$CLASSES" org.junit.platform.console.ConsoleLauncher \
  --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests --select-class=com.trov.jpos.hil.RealDriverTest \
  >"$OUT/junit.log" 2>&1
rc=$?
say "JVM ended, rc=$rc"
if grep -n -E '^WARNING|WARNING in native method|FATAL ERROR in native method' "$OUT/junit.log"; then
  say "the JNI checker printed warnings"
  [ $rc -eq 0 ] && rc=1
fi
[ $rc -eq 0 ] && [ $facts_rc -ne 0 ] && rc=$facts_rc
finish $rc
