#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The package's postinst and postrm against stand-ins for getent, groupadd, groupdel and udevadm that
# keep a group file and a log in a scratch directory; DPKG_ROOT puts the scripts' own state there too.
# Usage: maintainer_scripts_test.sh <postinst> <postrm>
set -u
postinst=$1 postrm=$2
. "$(dirname "$0")/../diag/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/bin
mkdir -p "$stubs"
for tool in mkdir touch rm rmdir; do ln -s "$(command -v "$tool")" "$stubs/$tool"; done
cat >"$stubs/getent" <<'STUB'
#!/bin/sh
exec /bin/grep "^$2:" "$STUB_GROUPS"
STUB
cat >"$stubs/groupadd" <<'STUB'
#!/bin/sh
echo "groupadd $*" >>"$STUB_LOG"; echo "pos:x:999:" >>"$STUB_GROUPS"
STUB
cat >"$stubs/groupdel" <<'STUB'
#!/bin/sh
echo "groupdel $*" >>"$STUB_LOG"; /bin/sed -i "/^$1:/d" "$STUB_GROUPS"
STUB
cat >"$stubs/udevadm" <<'STUB'
#!/bin/sh
[ "$*" = "control --ping" ] && exit "$STUB_UDEV_PING"
echo "udevadm $*" >>"$STUB_LOG"
STUB
chmod +x "$stubs"/*
state=$work/root/var/lib/trovjpos/created-group-pos

# run SCRIPT ARG GROUPS UDEV: runs the script with the group file holding GROUPS and udev "running",
# "stopped" or "absent"; the log of the stand-ins goes to $work/log.
run() {
  local script=$1 arg=$2 groups=$3 udev=$4
  printf '%s' "$groups" >"$work/groups"
  : >"$work/log"
  [ "$udev" = absent ] && mv "$stubs/udevadm" "$work/udevadm.off"
  env -i PATH="$stubs" DPKG_ROOT="$work/root" STUB_GROUPS="$work/groups" STUB_LOG="$work/log" \
    STUB_UDEV_PING="$([ "$udev" = running ] && echo 0 || echo 1)" /bin/sh "$script" "$arg" >"$work/out" 2>&1
  status=$?
  [ "$udev" = absent ] && mv "$work/udevadm.off" "$stubs/udevadm"
  cat "$work/out" >>"$work/log"
}

# check WHAT EXPECTED-LOG: exit status 0 and exactly this log.
check() {
  expect_status "$1" 0 "$status"
  if [ "$(cat "$work/log")" = "$2" ]; then echo "ok: $1"; else fail "$1: log:"; cat "$work/log"; fi
}
reload=$'udevadm control --reload-rules\nudevadm trigger --subsystem-match=usbmisc --action=change'

run "$postinst" configure "root:x:0:"$'\n' running
check "install, group missing" "groupadd --system pos"$'\n'"$reload"
[ -e "$state" ] || fail "the postinst did not record that it created the group"
run "$postinst" configure "pos:x:999:"$'\n' running
check "upgrade: the group is there" "$reload"
run "$postrm" remove "pos:x:999:"$'\n' running
check "remove: udev reloads" "$reload"
run "$postrm" purge "pos:x:999:"$'\n' stopped
check "purge of the group it created" "groupdel pos"
[ -e "$state" ] || [ -e "$(dirname "$state")" ] && fail "the postrm left its state behind"

run "$postinst" configure "pos:x:999:"$'\n' absent
check "install, group there before, no udevadm" ""
[ -e "$state" ] && fail "the postinst recorded a group it did not create"
run "$postrm" purge "pos:x:999:"$'\n' absent
check "purge of a group it did not create" ""

run "$postinst" configure "" stopped
check "install, udev not running" "groupadd --system pos"
run "$postrm" purge "pos:x:999:cashier"$'\n' stopped
check "purge: the group has a member" "trovjpos: the group pos is kept: it has members (cashier)"
[ -e "$state" ] && fail "the postrm left its state behind"

finish
