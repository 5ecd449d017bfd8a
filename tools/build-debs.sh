#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages trovjpos_<version>_amd64.deb and trovjpos_<version>_i386.deb.
#   tools/build-debs.sh                      configures and builds build/release-x86_64 and
#                                            build/release-i386, then packs them into build/deb
#   tools/build-debs.sh [--out DIR] BUILD... packs build directories configured already (the test
#                                            tiers' builds), after bringing them up to date
# Prints the path of each package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/deb
if [ "${1:-}" = --out ]; then out=$2; shift 2; fi
builds=("$@")

if [ ${#builds[@]} -eq 0 ]; then
  "$root/tools/install-deps.sh" packages
  builds=("$root/build/release-x86_64" "$root/build/release-i386")
  # The prefix the package installs into, so that the paths compiled into trovjpos-diag are the same.
  release=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTROV_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr)
  cmake -S "$root" -B "${builds[0]}" "${release[@]}" >/dev/null
  cmake -S "$root" -B "${builds[1]}" "${release[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-linux.cmake" >/dev/null
fi

mkdir -p "$out"
for build in "${builds[@]}"; do
  cmake --build "$build" -j"$(nproc)" >"$build/build-debs.log" 2>&1 || { tail -n 40 "$build/build-debs.log"; exit 1; }
  rm -rf "$build/deb"
  (cd "$build" && cpack -G DEB) >>"$build/build-debs.log" 2>&1 || { tail -n 40 "$build/build-debs.log"; exit 1; }
  for deb in "$build"/deb/*.deb; do
    cp "$deb" "$out/"
    echo "$out/$(basename "$deb")"
  done
done
