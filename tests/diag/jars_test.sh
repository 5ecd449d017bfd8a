#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The product jar and the two built beside it: the manifest names the version, the module, the licence
# and the revision that was built; the sources jar holds every source of com.trov.jpos; the Javadoc jar
# holds the pages of the API.
# Usage: jars_test.sh <build dir> <jar tool> <version> <source dir> [git]
set -u
build=$1 jar=$2 version=$3 source=$4 git=${5:-}
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# manifest JAR: the jar's manifest into $work/<jar>.mf
manifest() {
  local out
  out=$work/$(basename "$1").mf
  (cd "$work" && rm -rf META-INF && "$jar" xf "$1" META-INF/MANIFEST.MF && tr -d '\r' <META-INF/MANIFEST.MF >"$out")
  echo "$out"
}

classes=$(manifest "$build/TrovJPOS.jar")
expect_line "TrovJPOS.jar" "$classes" "Automatic-Module-Name: com.trov.jpos"
expect_line "TrovJPOS.jar" "$classes" "Implementation-Version: $version"
expect_line "TrovJPOS.jar" "$classes" "Bundle-License: Apache-2.0"
# The revision is the one checked out when the jar was packed, not when the build was configured (so a
# commit after the build fails this until the next build).
if [ -n "$git" ] && head=$("$git" -C "$source" rev-parse HEAD 2>/dev/null); then
  expect_line "TrovJPOS.jar (built at HEAD)" "$classes" "Build-Revision: ${head:0:12}"
else
  expect_line "TrovJPOS.jar" "$classes" "Build-Revision: unknown"
fi
# The JDK takes the name for the module, not one derived from the file name.
"$jar" --describe-module --file "$build/TrovJPOS.jar" >"$work/module" 2>&1
expect_line "module of TrovJPOS.jar" "$work/module" "com.trov.jpos automatic"

"$jar" tf "$build/TrovJPOS-sources.jar" >"$work/sources"
for f in "$source"/java/com/trov/jpos/*.java; do
  grep -qx "com/trov/jpos/$(basename "$f")" "$work/sources" || fail "TrovJPOS-sources.jar lacks $(basename "$f")"
done
expect_no_line "TrovJPOS-sources.jar" "$work/sources" ".class"

"$jar" tf "$build/TrovJPOS-javadoc.jar" >"$work/javadoc"
expect_line "TrovJPOS-javadoc.jar" "$work/javadoc" "com/trov/jpos/TrovKeylockService.html"
expect_line "TrovJPOS-javadoc.jar" "$work/javadoc" "index.html"
javadoc_manifest=$(manifest "$build/TrovJPOS-javadoc.jar")
expect_line "TrovJPOS-javadoc.jar" "$javadoc_manifest" "Implementation-Version: $version"
expect_line "TrovJPOS-javadoc.jar" "$javadoc_manifest" "Bundle-License: Apache-2.0"
expect_no_line "TrovJPOS-javadoc.jar" "$javadoc_manifest" "Automatic-Module-Name"

finish
