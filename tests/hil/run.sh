#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The VM tier: the library in a real JVM against the real Linux usbhid/hiddev driver, on the kernels a
# till runs. Boots one of Debian 12's kernels under qemu's software emulation; in the VM a configfs HID
# gadget on dummy_hcd is the keyboard's end of a USB cable, trovkbd-firmware (sim/firmware) plays its
# firmware, and the JVM scenarios of tests/java/e2e drive the four services through their public API
# against it (-Dtrov.test.keyboard=firmware). The kernel (--kernel):
#   6.1      Debian's amd64 6.1 kernel (the default), the host's root mounted read-only over virtio-9p:
#            the driver facts, the scenarios with the x86_64 build and with the i386 build (the 32-bit
#            JVM through the kernel's 32-bit compatibility layer).
#   6.12     Debian 12's newest amd64 6.12 kernel, the same steps as 6.1.
#   686-pae  Debian's 32-bit 686-pae kernel under qemu-system-i386 with a 32-bit Debian userland
#            (debootstrap's packages, unpacked into build/hil/i386-root): the i386 build's ctest and a
#            valgrind leak check of its native tests, the driver facts (built for i386), the scenarios
#            with the i386 build. Nothing runs through a compatibility layer.
#
# Usage: tests/hil/run.sh [--kernel 6.1|6.12|686-pae] [BUILD_X86_64 [BUILD_I386]]
#   BUILD_X86_64  a built x86_64 tree (default build/gcc-x86_64; not used on 686-pae)
#   BUILD_I386    a built i386 tree (cmake/i386-linux.cmake); on 686-pae it must be inside the repository
# With HIL_BENCH naming an i386 tree with the benchmark built (bench/run.sh --vm), the VM (6.1) runs only
# the benchmark there, with the options in HIL_BENCH_ARGS, and leaves its figures in build/hil/out/bench.log.
# Exit: 0 passed; 1 a test in the VM failed (the guest's logs are shown); 2 the VM could not be
# prepared or did not report (missing tool, kernel package not fetched, boot failure, time-out).
# Environment: HIL_ONLY (a developer's shortcut: the guest runs only the steps it names, of "i386-ctest
# i386-valgrind x86_64-scenarios i386-scenarios"; the driver facts always run); HIL_TIMEOUT (seconds
# for the whole VM run, default 3000); HIL_KERNEL (a Debian kernel version of the chosen line, such as
# 6.1.0-57-amd64; default the pinned one, or the newest of the line in the mirror when the pinned one has
# left it); HIL_ACCEL (tcg, the default: software emulation; or kvm, for a host whose KVM runs this
# kernel; the nested KVM of the machines CI runs on fails on the kernel's first cmpxchg16b);
# HIL_PREPARE_ONLY=1 (only fetch and unpack what the kernel's VM needs, the kernel and on 686-pae the
# 32-bit userland, and stop: no build tree needed; the test command does it while the host tiers run).
# Everything it makes goes to build/hil/ (6.1) and build/hil/6.12/, build/hil/686-pae/; the kernel
# packages are fetched once into build/hil/kernel, the 32-bit userland once into build/hil/i386-root.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
line=6.1
if [ "${1:-}" = --kernel ]; then
  line=${2:-}
  shift 2 2>/dev/null
fi
build=${1:-$root/build/gcc-x86_64}
build32=${2:-}
hil=$root/build/hil
fail_setup() {
  echo "real-driver tier ($line): FAILED, the VM could not be run: $*" >&2
  exit 2
}
# Per kernel: the version the recipe was verified with (pinned), the pattern of its line's versions,
# the guest's architecture, the emulator, the working directory and the guest's steps. Debian's mirror
# keeps only the current kernels of a line, so when the pinned one is gone from it, the newest of the
# line it has is taken instead (HIL_KERNEL names one).
case "$line" in
  6.1) pinned=6.1.0-57-amd64 pattern='6\.1\.0-[0-9]+-amd64' arch=amd64 work=$hil
    steps="x86_64-scenarios i386-scenarios" ;;
  6.12) pinned=6.12.118+deb12-amd64 pattern='6\.12\.[0-9]+\+deb12-amd64' arch=amd64 work=$hil/6.12
    steps="x86_64-scenarios i386-scenarios" ;;
  686-pae) pinned=6.1.0-50-686-pae pattern='6\.1\.0-[0-9]+-686-pae' arch=i386 work=$hil/686-pae
    steps="i386-ctest i386-valgrind i386-scenarios" build= ;;
  *) fail_setup "--kernel: '$line' is none of 6.1, 6.12, 686-pae" ;;
esac
if [ "$arch" = i386 ]; then qemu=qemu-system-i386 package_arch=:i386; else qemu=qemu-system-x86_64 package_arch=; fi
kv=${HIL_KERNEL:-$pinned}
if [ -z "${HIL_KERNEL:-}" ] && [ ! -d "$hil/kernel/$kv" ] \
   && ! apt-cache show "linux-image-$kv$package_arch" >/dev/null 2>&1; then
  newest=$(apt-cache search --names-only "^linux-image-$pattern\$" | awk '{print $1}' | sort -V | tail -n1)
  [ -n "$newest" ] && kv=${newest#linux-image-}
fi
[[ $kv =~ ^$pattern$ ]] || fail_setup "kernel $kv is not of the $line line"
started=$(date +%s)
# The guest's modules; hid_generic is needed for the hiddev node, overlay for the writable i386 tree,
# the rest for gadget and 9p. tests/hil/guest/init loads them in this order.
modules=(configfs dummy_hcd libcomposite usb_f_hid usbhid hid_generic virtio_pci 9pnet_virtio 9p overlay)

# -- tools and inputs ------------------------------------------------------------------------------
for tool in "$qemu" depmod modprobe dpkg-deb apt-get xz zstd cmake javac; do
  command -v "$tool" >/dev/null || fail_setup "'$tool' is missing (tools/install-deps.sh tests installs it)"
done
# The guest's root: the host's own on amd64; on 686-pae a 32-bit Debian userland (below), since the
# host's amd64 programs (its shell, ctest, the JVM) cannot run on a 32-bit kernel.
userland=
if [ "$arch" = i386 ]; then
  command -v debootstrap >/dev/null || fail_setup "'debootstrap' is missing (tools/install-deps.sh tests installs it)"
  userland=$hil/i386-root
fi
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q "install ok installed" \
  || fail_setup "busybox-static is missing (tools/install-deps.sh tests installs it)"
busybox=/bin/busybox
# The VM sees the guest's root, with its own tmpfs on /tmp and /run, and the repository shared apart;
# the 32-bit userland holds nothing of the host, so there the build trees must be in the repository.
visible() {
  case "$1" in
    "$root"/*) ;;
    /tmp/* | /run/* | /dev/* | /proc/* | /sys/*) fail_setup "$1 is out of the VM's sight: use a build directory in the repository" ;;
    *) [ -z "$userland" ] || fail_setup "$1 is out of the VM's sight: use a build directory in the repository" ;;
  esac
}
bench=${HIL_BENCH:-}
java32=
if [ -n "$bench" ]; then
  [ "$line" = 6.1 ] || fail_setup "HIL_BENCH runs on the 6.1 kernel only"
  bench=$(cd "$bench" && pwd) && visible "$bench"
  build= build32=
  java32=$(sed -n 's/^TROV_TARGET_JAVA:FILEPATH=//p' "$bench/CMakeCache.txt")
  [ -x "$java32" ] || fail_setup "$bench is no i386 tree (no TROV_TARGET_JAVA)"
elif [ -n "${HIL_PREPARE_ONLY:-}" ]; then
  build= build32=
elif [ -n "$build" ]; then
  [ -d "$build" ] && build=$(cd "$build" && pwd)
  visible "$build"
  for f in libTrovJPOS.so TrovJPOS.jar trovsim.jar trov-tests.jar; do
    [ -f "$build/$f" ] || fail_setup "$build/$f is missing: build the x86_64 tree first"
  done
fi
[ "$arch" = i386 ] && [ -z "$build32" ] && [ -z "${HIL_PREPARE_ONLY:-}" ] && fail_setup "the 686-pae kernel runs the i386 build: name BUILD_I386"
if [ -n "$build32" ]; then
  [ -d "$build32" ] && build32=$(cd "$build32" && pwd)
  visible "$build32"
  for f in libTrovJPOS.so TrovJPOS.jar trovsim.jar trov-tests.jar CTestTestfile.cmake; do
    [ -f "$build32/$f" ] || fail_setup "$build32/$f is missing: build the i386 tree first"
  done
  java32=$(sed -n 's/^TROV_TARGET_JAVA:FILEPATH=//p' "$build32/CMakeCache.txt")
  [ -n "$java32" ] || fail_setup "the i386 tree names no 32-bit JVM (TROV_TARGET_JAVA)"
fi
junit=/usr/share/java/junit-platform-console-standalone.jar
mkdir -p "$work" || fail_setup "cannot make $work"

# -- the 32-bit userland: debootstrap's first stage fetches and unpacks Debian's essential packages
# with the dependencies of those named here; the rest are unpacked without their maintainer scripts
# (which would need a 32-bit kernel to run), then the few things those scripts make that the guest
# uses are made by hand: the users and groups, awk (an alternative), the linker's cache.
# Made once; made again when the list changes.
i386_packages=(busybox-static mawk openjdk-17-jre-headless cmake binutils valgrind python3 junit5)
if [ -n "$userland" ] && [ "$(cat "$userland.stamp" 2>/dev/null)" != "bookworm ${i386_packages[*]}" ]; then
  echo "real-driver tier ($line): making the 32-bit userland in ${userland#"$root"/}"
  # The host's own Debian mirror, as its apt sources name it.
  mirror=$(apt-cache policy | sed -n 's|^ *[0-9]* \(http[^ ]*\) bookworm/main amd64 Packages$|\1|p' | head -n1)
  [ -n "$mirror" ] || fail_setup "no Debian mirror for bookworm in the host's apt sources"
  rm -rf "$userland" "$userland.stamp"
  debootstrap --foreign --arch=i386 --variant=minbase --include="$(IFS=,; echo "${i386_packages[*]}")" \
    bookworm "$userland" "$mirror" >"$userland.log" 2>&1 \
    || { tail -n 30 "$userland.log"; fail_setup "debootstrap failed (its log: ${userland#"$root"/}.log)"; }
  for deb in "$userland"/var/cache/apt/archives/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | tar -x --keep-directory-symlink -C "$userland" \
      || fail_setup "cannot unpack $deb"
  done
  # debootstrap's first stage leaves its own files and /proc as a link to the host's /proc.
  rm -rf "$userland"/var/cache/apt/archives/*.deb "$userland/debootstrap" "$userland/proc" \
    && mkdir "$userland/proc" \
    && cp "$userland"/usr/share/base-passwd/passwd.master "$userland/etc/passwd" \
    && cp "$userland"/usr/share/base-passwd/group.master "$userland/etc/group" \
    && ln -sf mawk "$userland/usr/bin/awk" \
    && ldconfig -r "$userland" || fail_setup "cannot finish the 32-bit userland"
  echo "bookworm ${i386_packages[*]}" >"$userland.stamp"
fi
if [ -n "$userland" ]; then
  [ -n "${HIL_PREPARE_ONLY:-}" ] || [ -x "$userland$java32" ] || fail_setup "the 32-bit userland has no $java32"
  guest_busybox=$userland/bin/busybox
  # The mount points of the repository's share, which the read-only root cannot make at boot.
  mkdir -p "$userland$root" || fail_setup "cannot make $userland$root"
  junit=$userland$junit
else
  [ -z "$java32" ] || [ -x "$java32" ] || fail_setup "no 32-bit JVM $java32"
  guest_busybox=/bin/busybox
fi
[ -f "$junit" ] || fail_setup "$junit is missing (Debian's junit5 package)"
junit=${junit#"$userland"}
java_bin=$(readlink -f "$(command -v java)")
[ -x "$java_bin" ] || fail_setup "no java"

# -- kernel: Debian's package, fetched once, only the parts the VM needs unpacked ------------------
kernel_dir=$hil/kernel/$kv
if [ ! -f "$kernel_dir/boot/vmlinuz-$kv" ]; then
  echo "real-driver tier ($line): fetching linux-image-$kv"
  # Only the newest kernel of each line is kept.
  for old in "$hil"/kernel/*; do
    name=${old##*/}
    [[ ${name#vmlinux-} =~ ^$pattern$ ]] && rm -rf "$old"
  done
  mkdir -p "$kernel_dir" || fail_setup "cannot make $kernel_dir"
  log=$hil/kernel/fetch-$kv.log
  fetch() { (cd "$hil/kernel" && apt-get download "linux-image-$kv$package_arch") >"$log" 2>&1; }
  if ! fetch; then
    # The package lists may be missing or stale; refreshing them needs root. An index that failed to
    # download (a mirror in the middle of a sync) leaves the others refreshed: fetch all the same.
    { [ "$(id -u)" = 0 ] && { apt-get update >>"$log" 2>&1; fetch; }; } \
      || { cat "$log" >&2; fail_setup "apt-get download linux-image-$kv$package_arch failed"; }
  fi
  deb=$(ls "$hil"/kernel/linux-image-"${kv}"_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || fail_setup "apt-get download left no package"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel_dir" --wildcards \
    "./boot/vmlinuz-$kv" "./lib/modules/$kv/modules.*" "./lib/modules/$kv/kernel/fs" \
    "./lib/modules/$kv/kernel/net/9p" "./lib/modules/$kv/kernel/drivers/usb" \
    "./lib/modules/$kv/kernel/drivers/hid" "./lib/modules/$kv/kernel/drivers/virtio" \
    || { rm -rf "$kernel_dir"; fail_setup "cannot unpack $deb"; }
  rm -f "$deb"
  depmod -b "$kernel_dir" "$kv" || { rm -rf "$kernel_dir"; fail_setup "depmod failed"; }
fi
# The uncompressed kernel boots directly (PVH), skipping the decompressor, which is slow under TCG. The
# boot protocol's header says where the compressed kernel lies (setup sectors at 0x1f1, payload offset
# and length at 0x248 and 0x24c); its last 4 bytes are the uncompressed size. Debian's 6.1 kernels are
# compressed with xz, its 6.12 kernels with zstd.
vmlinux=$hil/kernel/vmlinux-$kv
if [ ! -s "$vmlinux" ]; then
  vmlinuz=$kernel_dir/boot/vmlinuz-$kv
  field() { od -An -tu"$2" -j"$1" -N"$2" "$vmlinuz" | tr -d ' '; }
  start=$(( ($(field 0x1f1 1) + 1) * 512 + $(field 0x248 4) ))
  payload() { tail -c +$((start + 1)) "$vmlinuz" | head -c $(($(field 0x24c 4) - 4)); }
  case $(payload | head -c 4 | od -An -tx1 | tr -d ' ') in
    fd377a58) payload | xz -dc --single-stream ;;
    28b52ffd) payload | zstd -dcq ;;
    *) fail_setup "vmlinuz-$kv is compressed neither with xz nor with zstd" ;;
  esac >"$vmlinux.part" 2>/dev/null
  [ -s "$vmlinux.part" ] && mv "$vmlinux.part" "$vmlinux" || fail_setup "cannot unpack vmlinuz-$kv"
fi
if [ -n "${HIL_PREPARE_ONLY:-}" ]; then
  echo "real-driver tier ($line): kernel $kv${userland:+ and the 32-bit userland} ready"
  exit 0
fi

# -- the firmware (for the guest's architecture) and the initramfs ------------------------------------
firmware=$work/firmware
toolchain=()
[ "$arch" = i386 ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-linux.cmake")
cmake -S "$root/sim/firmware" -B "$firmware" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${toolchain[@]}" \
  >"$firmware.build.log" 2>&1 \
  && cmake --build "$firmware" -j"$(nproc)" >>"$firmware.build.log" 2>&1 \
  || { tail -n 40 "$firmware.build.log"; fail_setup "the firmware did not build"; }
(cd "$firmware" && ctest --output-on-failure >"$firmware.tests.log" 2>&1) \
  || { cat "$firmware.tests.log"; echo "real-driver tier ($line): FAILED, the firmware's own tests failed"; exit 1; }

initramfs=$work/initramfs
rm -rf "$initramfs" && mkdir -p "$initramfs"/{bin,sbin,proc,sys,dev,tmp,host,lib/modules/$kv} || fail_setup "initramfs"
# The guest's busybox is of its architecture; the host's lists the applets and packs the archive.
cp "$guest_busybox" "$initramfs/bin/busybox" || fail_setup "no busybox in the guest's root"
for applet in $("$busybox" --list); do
  [ -e "$initramfs/bin/$applet" ] || ln -s busybox "$initramfs/bin/$applet"
done
for m in "${modules[@]}"; do
  modprobe -d "$kernel_dir" -S "$kv" --show-depends "$m" || fail_setup "module $m not found in linux-image-$kv"
done | awk '$1 == "insmod" { print $2 }' | sort -u | while read -r ko; do
  rel=${ko#"$kernel_dir"/}
  mkdir -p "$initramfs/$(dirname "$rel")" && cp "$ko" "$initramfs/$rel"
done
cp "$kernel_dir/lib/modules/$kv"/modules.{builtin,builtin.modinfo,order} "$initramfs/lib/modules/$kv/" \
  && depmod -b "$initramfs" "$kv" || fail_setup "initramfs modules"
cp "$root/tests/hil/guest/init" "$initramfs/init"
(cd "$initramfs" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initramfs.cpio.gz" \
  || fail_setup "initramfs archive"

out=$work/out
rm -rf "$out" && mkdir -p "$out"
cat >"$out/guest.env" <<ENV
BUILD='$build'
BUILD32='$build32'
JAVA32='$java32'
BENCH32='$bench'
BENCH_ARGS='${HIL_BENCH_ARGS:-}'
FIRMWARE='$firmware/trovkbd-firmware'
DRIVER_FACTS='$firmware/trovkbd_driver_facts'
JAVA='$java_bin'
JUNIT='$junit'
STEPS='$steps'
ONLY='${HIL_ONLY:-}'
ENV
# The keyboard's HID report descriptor: vendor page 0xFFFA, application 0xA5, report 4 with four 8-bit
# input usages 0xA6..0xA9 and one 8-bit output usage 0xAB, all with logical range -128..127.
#   06 fa ff  09 a5  a1 01  85 04  15 80  25 7f  75 08  95 04  09 a6 09 a7 09 a8 09 a9  81 02
#   95 01  09 ab  91 02  c0
printf '\x06\xfa\xff\x09\xa5\xa1\x01\x85\x04\x15\x80\x25\x7f\x75\x08\x95\x04\x09\xa6\x09\xa7\x09\xa8\x09\xa9\x81\x02\x95\x01\x09\xab\x91\x02\xc0' \
  >"$out/report-desc.bin"
echo "real-driver tier ($line): linux-image-$kv, prepared in $(($(date +%s) - started)) s"

# -- the VM ------------------------------------------------------------------------------------------
accel=${HIL_ACCEL:-tcg}
case "$accel" in
  kvm) accel_options=(-accel kvm -cpu host) ;;
  # Both virtual CPUs on one host thread: with a thread per CPU, qemu 7.2 now and then went on running
  # code another CPU had rewritten (the JVM rewrites the entry of compiled code it retires), and the
  # 32-bit JVM stalled at a safepoint or crashed; on one thread it never did (doc/testing.md, "The VM").
  tcg) accel_options=(-accel tcg,thread=single -cpu max) ;;
  *) fail_setup "HIL_ACCEL: $accel is neither tcg nor kvm" ;;
esac
echo "real-driver tier ($line): booting the VM ($accel)"
booted=$(date +%s)
timeout "${HIL_TIMEOUT:-3000}" "$qemu" "${accel_options[@]}" -m 1536 -smp 2 \
  -nodefaults -no-user-config -machine q35 -display none -no-reboot -serial stdio \
  -kernel "$vmlinux" -initrd "$work/initramfs.cpio.gz" \
  -append "console=ttyS0 quiet panic=-1 hilrepo=$root hilbuild32=$build32 hilscript=$root/tests/hil/guest/hil-guest.sh" \
  -fsdev "local,id=hostroot,path=${userland:-/},security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev "local,id=hilrepo,path=$root,security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hilrepo,mount_tag=hilrepo \
  -fsdev "local,id=hilout,path=$out,security_model=none,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hilout,mount_tag=hilout \
  </dev/null >"$work/console.log" 2>&1
qemu_rc=$?
ran=$(($(date +%s) - booted))
rc=$(sed -n 's/^HIL-RESULT rc=\([0-9]*\).*/\1/p' "$work/console.log" | tail -n1)

show() {
  for f in "$@"; do
    [ -s "$f" ] || continue
    echo "----- ${f#"$root"/}"
    cat "$f"
  done
}
if [ -z "$rc" ]; then
  show "$work/console.log" "$out/guest.log" "$out/steps.log"
  # The step that was running when time ran out: the end of its log.
  for f in "$out"/*.log; do
    grep -q " ${f##*/}\$" "$out/steps.log" 2>/dev/null && continue
    case "${f##*/}" in guest.log | steps.log | jvm-tests-i386.log) continue ;; esac
    echo "----- ${f#"$root"/} (last 200 lines)"
    tail -n 200 "$f"
  done
  fail_setup "the VM gave no verdict (qemu exit $qemu_rc after $ran s; 124 is the time-out)"
fi
# One line per step of the guest: "STEP rc=N Ss LOG".
if [ "$rc" != 0 ]; then
  show "$out/guest.log" "$out/firmware.stderr"
  while read -r step step_rc _ log; do
    [ "$step_rc" = rc=0 ] || show "$out/$log"
  done <"$out/steps.log"
  for f in firmware.log dmesg.log; do
    echo "----- ${out#"$root"/}/$f (last 80 lines)"
    tail -n 80 "$out/$f" 2>/dev/null
  done
  echo "----- steps"
  cat "$out/steps.log"
  echo "real-driver tier ($line): FAILED in the VM (guest rc $rc, VM ran $ran s; the console is in ${work#"$root"/}/console.log)"
  exit 1
fi
grep -hE 'tests (successful|failed|skipped)|tests passed|ERROR SUMMARY|definitely lost' "$out"/*.log | sed 's/^ *//' | sort | uniq -c
cat "$out/steps.log"
echo "real-driver tier ($line): passed (linux-image-$kv, $accel; VM ran $ran s, $(($(date +%s) - started)) s in all; logs in ${out#"$root"/})"
