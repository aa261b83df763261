#!/usr/bin/env bash
# The one test command: installs what is missing, builds both targets and runs both test
# suites (Linux natively, Windows under Wine), and the Linux suite once more under
# AddressSanitizer with UndefinedBehaviorSanitizer and once under ThreadSanitizer, then runs
# each fuzz target briefly. Prints the time of every stage and a summary. Exits non-zero when
# anything fails.
#
# Usage: scripts/test.sh            (as root: the firewall tests use network namespaces)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUIETWAY_JOBS:-$(nproc)}
failed=()
summary=()
started_all=$SECONDS

# stage NAME COMMAND...: runs one stage, prints and records how long it took and whether it
# failed. Returns the command's status.
stage() {
  local name=$1; shift
  local start=$SECONDS
  printf '\n==== %s ====\n' "$name"
  "$@"
  local status=$?
  local took=$((SECONDS - start))
  local result=ok
  if [ $status -ne 0 ]; then
    result=FAILED
    failed+=("$name")
  fi
  printf '==== %s: %s in %dm%02ds ====\n' "$name" "$result" $((took / 60)) $((took % 60))
  summary+=("$(printf '%-30s %-6s %3dm%02ds' "$name" "$result" $((took / 60)) $((took % 60)))")
  return $status
}

# build DIR CMAKE-ARGS...: configures and builds one tree.
build() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
    cmake --build "$dir" -j "$jobs"
}

# suite NAME DIR CMAKE-ARGS...: builds one tree and runs its tests; $ctest_extra holds
# further ctest arguments for that suite.
ctest_extra=()
suite() {
  local name=$1 dir=$2; shift 2
  if stage "$name build" build "$dir" "$@"; then
    stage "$name tests" ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_extra[@]}"
  fi
}

print_summary() {
  local took=$((SECONDS - started_all))
  printf '\n==== summary ====\n'
  printf '%s\n' "${summary[@]}"
  printf '%-30s %-6s %3dm%02ds\n' "total" "" $((took / 60)) $((took % 60))
}

stage "setup (packages)" "$root/scripts/setup.sh" || { print_summary; exit 1; }
stage "Windows dependencies" "$root/scripts/windows-deps.sh" || { print_summary; exit 1; }

suite "Linux" "$root/build/linux"

# A sanitizer finding fails the test that made it: UBSan is built not to recover, ASan stops at
# its first finding and TSan ends the program with an error status. The deliberate crash tests run here too: their
# victim program is compiled uninstrumented (see tests/common/crash), since UBSan would stop
# its null write before the crash handler under test sees the fault.
# The package install tests run once, on the plain tree: a package of instrumented programs
# needs sanitizer runtimes that the throwaway system root does not have.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest_extra=(-LE package)
suite "Linux ASan+UBSan" "$root/build/linux-asan" -DQUIETWAY_SANITIZE=address,undefined
# The lab tests run under ASan but not under TSan as well: their threads are those of the
# engine, which the engine tests already run under TSan, and the run must stay within its time.
ctest_extra=(-LE "package|lab")
suite "Linux TSan" "$root/build/linux-tsan" -DQUIETWAY_SANITIZE=thread
ctest_extra=()
unset UBSAN_OPTIONS

# Every fuzz target for a few seconds from its seeds (scripts/fuzz.sh SECONDS for longer).
stage "fuzz (short)" "$root/scripts/fuzz.sh" 5

suite "Windows (Wine)" "$root/build/windows" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
# Leave no Wine processes behind.
WINEPREFIX=$root/build/windows/wineprefix wineserver -k >/dev/null 2>&1 || true

print_summary
echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "test: FAILED: ${failed[*]}"
  exit 1
fi
echo "test: all builds and test suites passed"
