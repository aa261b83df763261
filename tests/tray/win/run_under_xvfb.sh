#!/usr/bin/env bash
# Runs a test program in a private Xvfb display with a tray area, and takes a screenshot of
# the whole screen whenever the program leaves "<name>.request" in the shot directory: the
# picture appears as "<name>.png" and the request is removed.
# Usage: run_under_xvfb.sh SHOT_DIR PROGRAM [ARGS...]
set -euo pipefail
shots=$1
shift
mkdir -p "$shots"
rm -f "$shots"/*.request
export QUIETWAY_SHOT_DIR=$shots
exec xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  set -u
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 \
    >/dev/null 2>&1 &
  panel=$!
  (
    while sleep 0.2; do
      for request in "$QUIETWAY_SHOT_DIR"/*.request; do
        [ -e "$request" ] || continue
        name=${request%.request}
        /usr/bin/import -window root "png:$name.part" && mv "$name.part" "$name.png"
        rm -f "$request"
      done
    done
  ) &
  watcher=$!
  status=0
  "$@" || status=$?
  kill "$watcher" "$panel" 2>/dev/null || true
  exit "$status"
' run_under_xvfb "$@"
