#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages, packed by tools/build-debs.sh from the x86_64 and i386 builds of the test tiers:
# what each holds and depends on, lintian, the maintainer scripts as packaged, and the example
# application compiled from the package's copy of its source and run, against the simulated keyboard,
# from the amd64 package unpacked into a scratch root. Nothing is installed on this machine: dpkg-deb -x
# unpacks the files as dpkg would, and the maintainer scripts run against stand-ins
# (maintainer_scripts_test.sh). `dpkg --root` is no help: it runs the maintainer scripts chrooted into
# the scratch root, which has no shell, groupadd or dpkg database, and with --force-script-chrootless
# it runs them on this machine, where groupadd would change its groups.
# Usage: package_test.sh <x86_64 build dir> <i386 build dir>
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
amd64_build=$(cd "$1" && pwd) i386_build=$(cd "$2" && pwd)
. "$root/tests/diag/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! "$root/tools/build-debs.sh" --out "$work/debs" "$amd64_build" "$i386_build" >"$work/built" 2>&1; then
  fail "tools/build-debs.sh"; cat "$work/built"; finish
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$amd64_build/CMakeCache.txt")

# same WHAT EXPECTED ACTUAL
same() {
  if [ "$2" = "$3" ]; then echo "ok: $1 '$3'"; else fail "$1 '$3', expected '$2'"; fi
}

# What every package holds besides the library, as a sorted list of files.
common_files() {
  printf '%s\n' usr/bin/trovjpos-diag usr/share/man/man1/trovjpos-diag.1.gz \
    usr/lib/udev/rules.d/60-trovjpos.rules usr/share/lintian/overrides/trovjpos \
    usr/share/java/TrovJPOS.jar usr/share/java/TrovJPOS-sources.jar usr/share/java/TrovJPOS-javadoc.jar \
    usr/share/doc/trovjpos/copyright usr/share/doc/trovjpos/changelog.gz \
    usr/share/doc/trovjpos/example/com/trov/jpos/example/KeyboardExample.java \
    etc/trovjpos/trovjpos.properties
  for f in "$root"/doc/*.md; do [ "$(basename "$f")" = testing.md ] && continue; echo "usr/share/doc/trovjpos/$(basename "$f")"; done
}

for arch in amd64 i386; do
  case $arch in
    amd64) triplet=x86_64-linux-gnu elf="ELF64 Advanced Micro Devices X86-64" ;;
    i386) triplet=i386-linux-gnu elf="ELF32 Intel 80386" ;;
  esac
  deb=$work/debs/trovjpos_${version}_$arch.deb
  if [ ! -f "$deb" ]; then fail "no package $(basename "$deb") in:"; cat "$work/built"; continue; fi
  echo "--- $(basename "$deb")"

  same "$arch: fields" "Package: trovjpos Architecture: $arch Version: $version " \
    "$(dpkg-deb -f "$deb" Package Architecture Version | tr '\n' ' ')"
  # The C library for the library, the C++ runtime for the tool, passwd for groupadd; versions as
  # dpkg-shlibdeps reads them from the binaries.
  same "$arch: depends on" "libc6 libgcc-s1 libstdc++6 passwd " \
    "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort | tr '\n' ' ')"

  dpkg-deb -c "$deb" >"$work/listing"
  sed -n 's|^-[^ ]* [^ ]* .* \./||p' "$work/listing" | sort >"$work/files"
  { common_files; echo "usr/lib/$triplet/jni/libTrovJPOS.so"; } | sort >"$work/expected"
  if diff "$work/expected" "$work/files" >"$work/diff"; then echo "ok: $arch: exactly the expected files"
  else fail "$arch: files differ from the expected ones (< missing, > unexpected):"; cat "$work/diff"; fi
  grep -v ' root/root ' "$work/listing" && fail "$arch: files not owned by root"
  grep -q '^-rwxr-xr-x .* \./usr/bin/trovjpos-diag$' "$work/listing" || fail "$arch: trovjpos-diag is not mode 0755"
  # The terminal's settings file is a conffile: dpkg keeps an integrator's edits across upgrades.
  same "$arch: conffiles" "/etc/trovjpos/trovjpos.properties" "$(dpkg-deb -I "$deb" conffiles)"

  unpacked=$work/root-$arch
  dpkg-deb -x "$deb" "$unpacked"
  dpkg-deb -e "$deb" "$work/control-$arch"
  for binary in "usr/lib/$triplet/jni/libTrovJPOS.so" usr/bin/trovjpos-diag; do
    same "$binary" "$elf " "$(readelf -h "$unpacked/$binary" | sed -n 's/^ *\(Class\|Machine\): *//p' | tr '\n' ' ')"
  done
  same "$arch: the library needs" "libc.so.6 " \
    "$(readelf -d "$unpacked/usr/lib/$triplet/jni/libTrovJPOS.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

  if lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1; then echo "ok: lintian: no error, no warning"
  else fail "$arch: lintian:"; fi
  grep -v 'running with root privileges' "$work/lintian"
done

echo "--- maintainer scripts (amd64)"
"$root/tests/package/maintainer_scripts_test.sh" "$work/control-amd64/postinst" "$work/control-amd64/postrm" \
  || fail "maintainer scripts"

echo "--- the example application from the amd64 package"
pkg=$work/root-amd64/usr
app=$work/app
mkdir -p "$app/classes"
javac -d "$app/classes" -cp "$pkg/share/java/TrovJPOS.jar" \
  "$pkg/share/doc/trovjpos/example/com/trov/jpos/example/KeyboardExample.java" >"$app/javac.log" 2>&1 \
  || { fail "the example's source does not compile against the packaged jar:"; cat "$app/javac.log"; }
cd "$app" || exit 1
LD_PRELOAD="$amd64_build/libtrovsim.so" TROVSIM_KEYBOARD=0 java -Xcheck:jni \
  -Djava.library.path="$pkg/lib/x86_64-linux-gnu/jni" -cp "$pkg/share/java/TrovJPOS.jar:$app/classes" \
  com.trov.jpos.example.KeyboardExample 1 >"$app/out" 2>&1
expect_status "example from the package" 0 $?
expect_line "example from the package" "$app/out" "keylock position 1"
expect_line "example from the package" "$app/out" "closed"
expect_no_line "example from the package" "$app/out" "WARNING"

finish
