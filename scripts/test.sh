#!/usr/bin/env bash
# The one test command: installs what is missing, builds both targets and runs both test
# suites (Linux natively, Windows under Wine). Exits non-zero when anything fails.
#
# Usage: scripts/test.sh            (as root: the firewall tests use network namespaces)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QUIETWAY_JOBS:-$(nproc)}
linux_build=$root/build/linux
windows_build=$root/build/windows
failed=()

step() { printf '\n==== %s ====\n' "$*"; }

run() {
  local name=$1; shift
  if ! "$@"; then
    failed+=("$name")
    return 1
  fi
}

step "installing packages"
"$root/scripts/setup.sh" || { echo "test: setup failed"; exit 1; }

step "Windows dependencies"
"$root/scripts/windows-deps.sh" || { echo "test: Windows dependencies failed"; exit 1; }

step "Linux build"
if run linux-build cmake -S "$root" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
   run linux-build cmake --build "$linux_build" -j "$jobs"; then
  step "Linux tests"
  run linux-tests ctest --test-dir "$linux_build" --output-on-failure -j "$jobs"
fi

step "Windows build"
if run windows-build cmake -S "$root" -B "$windows_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" &&
   run windows-build cmake --build "$windows_build" -j "$jobs"; then
  step "Windows tests (Wine)"
  run windows-tests ctest --test-dir "$windows_build" --output-on-failure -j "$jobs"
  # Leave no Wine processes behind.
  WINEPREFIX=$windows_build/wineprefix wineserver -k >/dev/null 2>&1 || true
fi

echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "test: FAILED: ${failed[*]}"
  exit 1
fi
echo "test: both targets built and all tests passed"
