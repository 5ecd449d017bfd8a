#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages a task needs: `install-deps.sh demo`, `install-deps.sh panel` (the demo with
# the simulated keyboard's window), `install-deps.sh packages` (building the Debian packages of both
# architectures) or `install-deps.sh tests`.
# As root it installs what is missing with apt-get; otherwise it prints the exact command and stops.
set -euo pipefail
task=${1:?usage: install-deps.sh demo|panel|packages|tests}

demo_packages=(cmake make g++ openjdk-17-jdk-headless libgtest-dev junit5)
# The simulated keyboard's window needs the JRE with the X11 toolkit; its test runs under Xvfb.
panel_packages=("${demo_packages[@]}" openjdk-17-jre)
test_packages=("${demo_packages[@]}" clang g++-multilib libgtest-dev:i386 openjdk-17-jre-headless:i386
               libc6-dbg:i386 qemu-user valgrind qemu-system-x86 busybox-static kmod xz-utils openjdk-17-jre xvfb
               zstd debootstrap)
# The Debian packages: cpack's DEB generator runs dpkg-shlibdeps and file; dpkg-shlibdeps names the
# i386 package's dependencies after the :i386 libraries installed; the tests check them with lintian.
deb_packages=("${demo_packages[@]}" g++-multilib libgtest-dev:i386 libstdc++6:i386 dpkg-dev file)
test_packages+=(libstdc++6:i386 dpkg-dev file lintian)
case "$task" in
  demo) packages=("${demo_packages[@]}") ;;
  panel) packages=("${panel_packages[@]}") ;;
  packages) packages=("${deb_packages[@]}") ;;
  tests) packages=("${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh demo|panel|packages|tests" >&2; exit 2 ;;
esac

needs_i386=0
for p in "${packages[@]}"; do [[ $p == *:i386 ]] && needs_i386=1; done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command=""
if [ $needs_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  command="dpkg --add-architecture i386 && "
fi
command+="apt-get update && apt-get install -y --no-remove ${missing[*]}"

if [ "$(id -u)" != 0 ]; then
  echo "These Debian packages are missing: ${missing[*]}"
  echo "Install them as root, then run this again:"
  echo "  $command"
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=/tmp/trovjpos-apt.log
: >"$log"
if [ $needs_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails an index now and then: try the update a few times, a while
# apart. If an index still fails, the lists already on this machine may hold every package needed; go on
# when apt-get can plan their installation, and otherwise say that the mirror failed.
updated=0
for attempt in 1 2 3 4; do
  if apt-get update >>"$log" 2>&1; then updated=1; break; fi
  [ $attempt -lt 4 ] && { echo "apt-get update failed (attempt $attempt of 4); trying again in 15 s"; sleep 15; }
done
# When the index that failed is one architecture's part of the security archive, the amd64 and i386
# copies of a library (which must be of one version) have different candidates: the newer security
# version for amd64, the release's version for i386, and nothing can be planned. Preferring the
# release's own archive (-t CODENAME) gives both architectures the same candidate.
release=()
if [ $updated = 0 ]; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if apt-get install -s -y --no-remove "${missing[@]}" >>"$log" 2>&1; then
    echo "apt-get update still fails for an index (see $log); the packages needed can be installed all the same"
  elif [ -n "$codename" ] && apt-get install -s -y --no-remove -t "$codename" "${missing[@]}" >>"$log" 2>&1; then
    release=(-t "$codename")
    echo "apt-get update still fails for an index (see $log); the packages needed are installed from $codename's own archive"
  else
    grep -E '^(E|W):' "$log" | tail -n 10
    echo "The package mirror failed: apt-get update could not fetch its indexes, and the packages needed"
    echo "cannot be installed without them. Nothing was installed; run this again later (log: $log)."
    exit 1
  fi
fi
apt-get install -y --no-remove "${release[@]}" "${missing[@]}" >>"$log" 2>&1 || { tail -n 30 "$log"; exit 1; }
