#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# `cmake --install` into a scratch prefix: the tree holds what an integrator needs and nothing of the
# simulator or the tests, the installed library needs only the C library, and an application given only
# the installed jar and library runs (the example application, against the simulated keyboard).
# Usage: install_test.sh <build dir> <java> <launcher> <cmake> [multiarch triplet]
set -u
build=$1 java=$2 launcher=${3:-} cmake=${4:-cmake} multiarch=${5:-}
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  fail "cmake --install"; cat "$work/install.log"; finish
fi

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -n "$multiarch" ] && [ "$libdir" != "lib/$multiarch" ]; then
  fail "library directory $libdir, expected lib/$multiarch"
fi
# Everything lands under the prefix given at install time.
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt")
if [ -n "$outside" ]; then fail "installed outside the prefix: $outside"; else echo "ok: all under the prefix"; fi
jnidir=$prefix/$libdir/jni
lib=$jnidir/libTrovJPOS.so
doc=$prefix/share/doc/trovjpos
for f in "$lib" "$prefix/share/java/TrovJPOS.jar" "$prefix/share/java/TrovJPOS-sources.jar" \
         "$prefix/share/java/TrovJPOS-javadoc.jar" "$prefix/bin/trovjpos-diag" \
         "$prefix/lib/udev/rules.d/60-trovjpos.rules" "$doc/integration.md" "$doc/application-guide.md" \
         "$doc/architecture.md" "$doc/simulator.md" "$doc/copyright" "$doc/changelog.gz" \
         "$doc/example/com/trov/jpos/example/KeyboardExample.java"; do
  if [ -f "$f" ]; then echo "ok: installed ${f#"$prefix"/}"; else fail "not installed: ${f#"$prefix"/}"; fi
done
[ -x "$prefix/bin/trovjpos-diag" ] || fail "trovjpos-diag is not executable"
leftovers=$(find "$prefix" \( -name 'libtrovsim*' -o -name 'trovsim.jar' -o -name 'trov-*.jar' -o -name '*test*' \) -print)
if [ -n "$leftovers" ]; then fail "installed but not for integrators: $leftovers"; else echo "ok: no simulator or test files"; fi

needed=$(readelf -d "$lib" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$needed" = "libc.so.6 " ]; then echo "ok: NEEDED $needed"; else fail "installed library needs: '$needed'"; fi

# The application: the installed jar and library only; the simulator comes in by LD_PRELOAD.
cd "$work" || exit 1
out=$work/out
# shellcheck disable=SC2207
opts=($(jvm_options))
run_guest LD_PRELOAD="$build/libtrovsim.so" TROVSIM_KEYBOARD=0 -- "$java" "${opts[@]}" \
  "-Djava.library.path=$jnidir" -cp "$prefix/share/java/TrovJPOS.jar:$build/trov-example.jar" \
  com.trov.jpos.example.KeyboardExample 1 >"$out" 2>&1
expect_status "example on the installed tree" 0 $?
expect_line "example on the installed tree" "$out" "keylock position 1"
expect_line "example on the installed tree" "$out" "closed"

# The installed tool finds the same keyboard.
run_guest LD_PRELOAD="$build/libtrovsim.so" TROVSIM_KEYBOARD=0 -- "$prefix/bin/trovjpos-diag" >"$out" 2>&1
expect_status "installed trovjpos-diag" 0 $?
expect_line "installed trovjpos-diag" "$out" "result: keyboard ready at /dev/usb/hid/hiddev0 "

finish
