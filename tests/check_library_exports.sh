#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Checks the built libTrovJPOS.so as a JVM and other code in the process see it:
#  - the only NEEDED library is the C library (no C++ runtime, no libjvm);
#  - the dynamic symbol table defines exactly the JNI entry points declared by the generated JNI headers
#    of our Java classes and the exported globals, nothing else;
#  - each exported global has the size of its fixed layout on this target.
# Usage: check_library_exports.sh <libTrovJPOS.so> <jni header dir> <pointer size in bytes>
set -euo pipefail
lib=$1 headers=$2 ptr=$3
fail=0
problem() { echo "FAIL: $*"; fail=1; }

needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
[ "$needed" = "libc.so.6 " ] || problem "NEEDED is '$needed', expected only libc.so.6"

# name -> size of every defined dynamic symbol
declare -A size
while read -r _ sz _ name; do
  size[$name]=$((16#$sz))
done < <(nm -D -S --defined-only "$lib" | awk 'NF == 4')
# symbols defined without a size (none expected), reported by name
while read -r _ _ name; do
  problem "exported symbol without size: $name"
done < <(nm -D --defined-only "$lib" | awk 'NF == 3 && $2 != "A"' | while read -r a t n; do
  [ -n "${size[$n]+x}" ] || echo "$a $t $n"; done)

if [ "$ptr" = 8 ]; then long=8; msgbuf=16; else long=4; msgbuf=8; fi
declare -A globals=(
  [JposData]=1052 [ReadKelockPosition]=2
  [bTerminateThread]=1 [bTerminateConnectThread]=1 [bTerminateFifoThread]=1
  [agent]=$long [con_agent]=$long [fifo_agent]=$long
  [shmid]=4 [ucDeviceNoResponse]=1 [msgbuf]=$msgbuf [msgID]=4
)
for g in "${!globals[@]}"; do
  if [ -z "${size[$g]+x}" ]; then problem "exported global $g is missing"
  elif [ "${size[$g]}" != "${globals[$g]}" ]; then problem "$g has size ${size[$g]}, expected ${globals[$g]}"; fi
done

declared=$(grep -ho 'Java_com_trov_jpos_[A-Za-z0-9_]*' "$headers"/com_trov_jpos_*.h | sort -u)
entry_points=0
for name in "${!size[@]}"; do
  [ -n "${globals[$name]+x}" ] && continue
  if grep -qx "$name" <<<"$declared"; then entry_points=$((entry_points + 1)); continue; fi
  problem "unexpected exported symbol: $name"
done
[ "$entry_points" -gt 0 ] || problem "no JNI entry point exported"

[ $fail = 0 ] && echo "OK: NEEDED libc.so.6 only; $entry_points entry points and ${#globals[@]} globals exported with their sizes"
exit $fail
