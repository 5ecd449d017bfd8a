#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# bounded.sh SECONDS COMMAND...: runs COMMAND and, if it has not ended after SECONDS, leaves in the output
# what its process was doing before ending it: a JVM's own thread dump (SIGQUIT, printed on its output),
# then each thread's name, state, kernel wait channel and pending system call, and each thread's native
# stack when gdb is there (the JVM's dump needs a safepoint, which a hung JVM may never reach). Then
# SIGKILL. Exit: the command's status, or 124 after a time-out.
set -u
limit=$1
shift
"$@" &
pid=$!
waited=0
while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt "$limit" ]; do
  sleep 1
  waited=$((waited + 1))
done
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  exit $?
fi
echo "bounded: still running after ${limit}s; its state follows, then it is killed"
kill -QUIT "$pid" 2>/dev/null
sleep 20
for task in /proc/"$pid"/task/*; do
  tid=${task##*/}
  printf 'bounded: thread %s "%s" state=%s wchan=%s syscall=%s\n' "$tid" "$(cat "$task/comm" 2>/dev/null)" \
    "$(awk '{print $3}' "$task/stat" 2>/dev/null)" "$(cat "$task/wchan" 2>/dev/null)" \
    "$(cat "$task/syscall" 2>/dev/null)"
done
if command -v gdb >/dev/null; then
  timeout 300 gdb -batch -nx -p "$pid" -ex 'set pagination off' -ex 'info threads' \
    -ex 'thread apply all bt 30' 2>&1 | grep -v '^\[New LWP'
fi
kill -KILL "$pid" 2>/dev/null
wait "$pid"
exit 124
