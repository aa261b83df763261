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
  flock 9
  if [ ! -f "$WINEPREFIX/.quietway-booted" ]; then
    wineserver -p60 </dev/null >/dev/null 2>&1 || true
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.quietway-booted"
  fi
  # A persistent server keeps each test start short; it exits 60 s after the last client.
  wineserver -p60 </dev/null >/dev/null 2>&1 || true
) 9>"$WINEPREFIX/.quietway-lock"

exec wine "$@"
