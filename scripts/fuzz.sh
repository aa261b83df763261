#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ in build/fuzz-clang and runs each for the given
# number of seconds (default 5), starting from the seeds in fuzz/corpus/<target>. New inputs
# go to build/fuzz-clang/corpus/<target>, crashes to build/fuzz-clang/artifacts. Prints each
# target's executions and rate; exits non-zero when a build or any target fails.
#
# Usage: scripts/fuzz.sh [seconds] [target...]     e.g. scripts/fuzz.sh 3600 rpc_request
#        scripts/fuzz.sh build                       builds the targets and runs none
# QUIETWAY_FUZZ_RUNS=N also ends each target after N executions (the long run:
# QUIETWAY_FUZZ_RUNS=10000000 scripts/fuzz.sh 3600).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
shift $(($# > 0 ? 1 : 0))
build=$root/build/fuzz-clang
jobs=${QUIETWAY_JOBS:-2}

build_only=0
case $seconds in build) build_only=1 ;; '' | *[!0-9]*) echo "fuzz: seconds must be a number" >&2; exit 2 ;; esac

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUIETWAY_FUZZ=ON -DQUIETWAY_BUILD_TESTS=OFF >/dev/null &&
  cmake --build "$build" -j "$jobs" --target fuzz_targets || { echo "fuzz: build failed"; exit 1; }
[ $build_only = 1 ] && exit 0

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

mkdir -p "$build/artifacts"
# The targets' stores and logs; a target that stops at a finding cannot clean its own up.
export QUIETWAY_FUZZ_TMP
QUIETWAY_FUZZ_TMP=$(mktemp -d /dev/shm/quietway-fuzz-run.XXXXXX) || exit 1
trap 'rm -rf "$QUIETWAY_FUZZ_TMP"' EXIT
failed=()
for target in "${targets[@]}"; do
  program=$build/fuzz/${target}_fuzz
  [ -x "$program" ] || { echo "fuzz: no target $target"; failed+=("$target"); continue; }
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  log=$build/artifacts/$target.log
  started=$SECONDS
  "$program" -max_total_time="$seconds" -runs="${QUIETWAY_FUZZ_RUNS:--1}" -timeout=10 \
    -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$corpus" "$root/fuzz/corpus/$target" \
    >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ $status -ne 0 ]; then
    failed+=("$target")
    printf '%-18s FAILED (status %d), log: %s\n' "$target" $status "$log"
    grep -m1 -E 'ERROR|property broken' "$log"
  else
    printf '%-18s %12s runs %9s/s %6ds\n' "$target" "${runs:-?}" "${rate:-?}" \
      $((SECONDS - started))
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}"
  exit 1
fi
echo "fuzz: no target found anything"
