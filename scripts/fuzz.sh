#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with Clang in build-fuzz (the core with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one from its seed corpus fuzz/corpus/NAME for
# MARLIX_FUZZ_SECONDS seconds (default 60), MARLIX_FUZZ_JOBS (default 2) at a time. Prints how many
# inputs each target ran; fails when a target finds a fault (its input is kept in
# build-fuzz/run/NAME/artifacts/ and the log beside it). New inputs go to build-fuzz/run/NAME/corpus,
# never into the checked-in seeds.
#   scripts/fuzz.sh [NAME...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

seconds="${MARLIX_FUZZ_SECONDS:-60}"
parallel="${MARLIX_FUZZ_JOBS:-2}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(multipart local_file token_query builders upload_name byte_range cookies relay_frame upload_guards)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_FUZZ=ON \
  -DMARLIX_WERROR=ON -DMARLIX_GUI=OFF -DMARLIX_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

run_one() {
  local name="$1" work="$root/build-fuzz/run/$1"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  local rc=0
  "$root/build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$root/fuzz/corpus/$name" >"$work/log" 2>&1 || rc=$?
  local execs
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")"
  if [ "$rc" -eq 0 ]; then
    echo "fuzz $name: ${execs:-?} executions in ${seconds} s, no fault"
  else
    echo "fuzz $name: FAULT after ${execs:-?} executions (exit $rc); input in $work/artifacts/, log $work/log"
    grep -E "invariant broken|ERROR: |SUMMARY" "$work/log" | head -5
  fi
  return "$rc"
}
export -f run_one
export root seconds
printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one {}'
