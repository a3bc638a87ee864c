#!/usr/bin/env bash
# Builds (does not test) every build configuration: Debug, Release, RelWithDebInfo and MinSizeRel,
# with and without the tests, under GCC and under Clang, each in build-matrix/<compiler>-<type>-<tests>.
# Warnings are errors here (MARLIX_WERROR=ON; WERROR=OFF relaxes it). Prints one line per
# configuration with its result and time, and exits 1 when any of them failed.
#   scripts/build-matrix.sh            all 16 configurations
#   TYPES="Release" COMPILERS="clang" scripts/build-matrix.sh
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
TYPES="${TYPES:-Debug Release RelWithDebInfo MinSizeRel}"
COMPILERS="${COMPILERS:-gcc clang}"
TESTS="${TESTS:-ON OFF}"
JOBS="${JOBS:-2}"
WERROR="${WERROR:-ON}"
out="$root/build-matrix"
mkdir -p "$out"
failed=0
for compiler in $COMPILERS; do
  case "$compiler" in
    gcc) cc=gcc; cxx=g++ ;;
    clang) cc=clang; cxx=clang++ ;;
    *) echo "unknown compiler $compiler" >&2; exit 2 ;;
  esac
  for type in $TYPES; do
    for tests in $TESTS; do
      name="$compiler-$type-tests$tests"
      dir="$out/$name"
      start=$(date +%s)
      if cmake -S . -B "$dir" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE="$type" \
        -DMARLIX_TESTS="$tests" -DMARLIX_WERROR="$WERROR" >"$dir.log" 2>&1 &&
        cmake --build "$dir" -j "$JOBS" >>"$dir.log" 2>&1; then
        result=ok
      else
        result="FAILED (see $dir.log)"
        failed=1
      fi
      printf '%-32s %-6s %4ds\n' "$name" "$result" "$(($(date +%s) - start))"
    done
  done
done
exit "$failed"
