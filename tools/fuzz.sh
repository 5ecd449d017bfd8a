#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer harnesses (clang, AddressSanitizer + UBSan, build/fuzz-x86_64) and runs each for
# the given number of seconds, starting from the seed corpus in tests/fuzz/corpus/<name> (new inputs go
# to build/fuzz-x86_64/corpus/<name>). A finding stops that fuzzer, keeps the input in
# build/fuzz-x86_64/artifacts/ and makes the exit status 1.
#   tools/fuzz.sh [seconds per fuzzer, default 60] [names: stream_decoder hiddev_records device_search]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(stream_decoder hiddev_records device_search)
build="$root/build/fuzz-x86_64"

cmake -S "$root" -B "$build" -DTROV_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTROV_SANITIZE=address,undefined -DTROV_FUZZ=ON >"$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
targets=()
for name in "${names[@]}"; do targets+=("trov_fuzz_$name"); done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$build.build.log" 2>&1 \
  || { tail -n 60 "$build.build.log"; exit 1; }

status=0
for name in "${names[@]}"; do
  corpus="$build/corpus/$name"
  mkdir -p "$corpus" "$build/artifacts"
  log="$build/fuzz-$name.log"
  echo "--- fuzzing $name for ${seconds}s"
  options=()
  # The stand-in VM keeps the objects it makes for the library; leak checks would take the time.
  [ "$name" = stream_decoder ] && options=(-detect_leaks=0)
  "$build/trov_fuzz_$name" "${options[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$corpus" "$root/tests/fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" | tr '\n' ' '
  echo "corpus: $(ls "$corpus" | wc -l) inputs"
  if [ $rc -ne 0 ]; then
    grep -E 'broken:|ERROR|SUMMARY|Test unit written' "$log" | head -n 20
    echo "FAIL: fuzzer $name (log: $log)"
    status=1
  fi
done
exit $status
