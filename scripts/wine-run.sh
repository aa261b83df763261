#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix. The first call
# starts a persistent wineserver and boots the prefix with all of their standard streams
# on /dev/null: Wine's background processes must not hold the caller's output pipe, or
# ctest waits for them.
set -euo pipefail
build_dir=${QUIETWAY_WINE_BUILD_DIR:-$PWD}
# ctest runs tests from their own binary directories; the prefix belongs to the top one.
while [ "$build_dir" != / ] && [ ! -f "$build_dir/CMakeCache.txt" ]; do
  build_dir=$(dirname "$build_dir")
done
[ -f "$build_dir/CMakeCache.txt" ] || build_dir=${QUIETWAY_WINE_BUILD_DIR:-$PWD}

export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

mkdir -p "$WINEPREFIX"
(
  # The lock must not leak into the servers started here, or it is held as long as they run.
  flock 9
  # A persistent server keeps each start short; it exits 60 s after its last client.
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
  # wineboot creates the prefix the first time and otherwise starts Wine's own services
  # here, detached, instead of inside the program that follows.
  wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX/.quietway-lock"

exec wine "$@"
