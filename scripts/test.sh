#!/usr/bin/env bash
# The one test command: installs what is missing, builds both targets and runs both test
# suites (Linux natively, Windows under Wine), and the Linux suite once more under
# AddressSanitizer with UndefinedBehaviorSanitizer and once under ThreadSanitizer, then runs
# each fuzz target briefly. Prints the time of every stage and a summary. Exits non-zero when
# anything fails.
#
# The test suites spend most of their time waiting on servers, tunnels and Wine, so the other
# trees are built meanwhile at the lowest priority: the tests keep the processor whenever they
# want it and the builds take what is left. Each background stage's output is printed when the
# stage is collected; its time is its own.
#
# Usage: scripts/test.sh            (as root: the firewall tests use network namespaces)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUIETWAY_JOBS:-$(nproc)}
logs=$root/build/test-logs
failed=()
summary=()
started_all=$SECONDS

# record NAME STATUS SECONDS: prints a stage's end and adds it to the summary.
record() {
  local name=$1 status=$2 took=$3 result=ok
  if [ "$status" -ne 0 ]; then
    result=FAILED
    failed+=("$name")
  fi
  printf '==== %s: %s in %dm%02ds ====\n' "$name" "$result" $((took / 60)) $((took % 60))
  summary+=("$(printf '%-30s %-6s %3dm%02ds' "$name" "$result" $((took / 60)) $((took % 60)))")
}

# stage NAME COMMAND...: runs one stage in the foreground. Returns the command's status.
stage() {
  local name=$1; shift
  local start=$SECONDS
  printf '\n==== %s ====\n' "$name"
  "$@"
  local status=$?
  record "$name" $status $((SECONDS - start))
  return $status
}

log_of() { printf '%s/%s' "$logs" "$(tr -c 'A-Za-z0-9\n' '_' <<<"$1")"; }

# logged NAME COMMAND...: runs one stage with its output in a file, for `collect`.
logged() {
  local name=$1; shift
  local file start=$SECONDS
  file=$(log_of "$name")
  "$@" >"$file.log" 2>&1
  echo "$? $((SECONDS - start))" >"$file.status"
}

# collect NAME PID: waits until the stage run by `logged` in process PID has ended, prints its
# output and records it. Returns the stage's status.
collect() {
  local name=$1 pid=$2 file status took
  file=$(log_of "$name")
  while [ ! -e "$file.status" ] && kill -0 "$pid" 2>/dev/null; do sleep 2; done
  printf '\n==== %s ====\n' "$name"
  cat "$file.log" 2>/dev/null
  if [ -e "$file.status" ]; then
    read -r status took <"$file.status"
  else
    echo "(the stage ended without a status)"
    status=1 took=0
  fi
  record "$name" "$status" "$took"
  return "$status"
}

# build DIR CMAKE-ARGS...: configures and builds one tree.
build() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
    cmake --build "$dir" -j "$jobs"
}

# tests NAME DIR CTEST-ARGS...: runs one tree's tests in the foreground.
tests() {
  local name=$1 dir=$2; shift 2
  stage "$name tests" ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" ||
    note_failed_tests "$name" "$dir"
}

# note_failed_tests NAME DIR: keeps the names of a suite's failed tests for the summary, which is
# the part of a long log that is read first.
failed_tests=()
note_failed_tests() {
  local list=$2/Testing/Temporary/LastTestsFailed.log
  [ -f "$list" ] && failed_tests+=("$1: $(cut -d: -f2 "$list" | tr '\n' ' ')")
  return 1
}

print_summary() {
  local took=$((SECONDS - started_all))
  printf '\n==== summary ====\n'
  printf '%s\n' "${summary[@]}"
  printf '%-30s %-6s %3dm%02ds\n' "total" "" $((took / 60)) $((took % 60))
  [ ${#failed_tests[@]} -eq 0 ] || printf 'failed tests in %s\n' "${failed_tests[@]}"
}

windows_toolchain=-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64-x86_64.cmake

# The trees whose tests come later, one after another at the lowest priority.
background_builds() {
  renice -n 19 -p "$BASHPID" >/dev/null
  logged "Linux ASan+UBSan build" build "$root/build/linux-asan" -DQUIETWAY_SANITIZE=address,undefined
  logged "Linux TSan build" build "$root/build/linux-tsan" -DQUIETWAY_SANITIZE=thread
  logged "Windows (Wine) build" build "$root/build/windows" "$windows_toolchain"
  logged "Windows programs" "$root/scripts/windows-deps.sh" --tools
  logged "fuzz build" "$root/scripts/fuzz.sh" build
}

stage "setup (packages)" "$root/scripts/setup.sh" || { print_summary; exit 1; }
stage "Windows dependencies" "$root/scripts/windows-deps.sh" --libraries ||
  { print_summary; exit 1; }

rm -rf "$logs"
mkdir -p "$logs"
# Interrupted, the background stages end with the command.
trap 'trap - INT TERM; kill 0' INT TERM
background_builds &
builds=$!

stage "Linux build" build "$root/build/linux" && tests "Linux" "$root/build/linux"

# A sanitizer finding fails the test that made it: UBSan is built not to recover, ASan stops at
# its first finding and TSan ends the program with an error status. The deliberate crash tests run here too: their
# victim program is compiled uninstrumented (see tests/common/crash), since UBSan would stop
# its null write before the crash handler under test sees the fault.
# The package install tests run once, on the plain tree: a package of instrumented programs
# needs sanitizer runtimes that the throwaway system root does not have.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
collect "Linux ASan+UBSan build" $builds && tests "Linux ASan+UBSan" "$root/build/linux-asan" -LE package

# The Windows suite runs beside the TSan suite and the fuzz run: it mostly waits on Wine.
windows_tests=
# The setup's package tests need the programs it bundles.
if collect "Windows (Wine) build" $builds && collect "Windows programs" $builds; then
  logged "Windows (Wine) tests" ctest --test-dir "$root/build/windows" --output-on-failure -j "$jobs" &
  windows_tests=$!
fi

# The lab tests run under ASan but not under TSan as well: their threads are those of the
# engine, which the engine tests already run under TSan, and the run must stay within its time.
collect "Linux TSan build" $builds && tests "Linux TSan" "$root/build/linux-tsan" -LE "package|lab"
unset UBSAN_OPTIONS

# Every fuzz target for a few seconds from its seeds (scripts/fuzz.sh SECONDS for longer), at
# the lowest priority beside the Windows suite.
collect "fuzz build" $builds && stage "fuzz (short)" nice -n 19 "$root/scripts/fuzz.sh" 5

if [ -n "$windows_tests" ]; then
  collect "Windows (Wine) tests" $windows_tests || note_failed_tests "Windows (Wine)" "$root/build/windows"
  # Leave no Wine processes behind.
  WINEPREFIX=$root/build/windows/wineprefix wineserver -k >/dev/null 2>&1 || true
fi
wait

print_summary
echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "test: FAILED: ${failed[*]}"
  exit 1
fi
echo "test: all builds and test suites passed"
