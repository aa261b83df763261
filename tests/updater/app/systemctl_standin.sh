#!/usr/bin/env bash
# Plays systemctl for the updater's lab test, where systemd does not run: the engine's unit is
# quietway_service -f started in the background. "start" returns once the engine has logged
# that it runs, as systemctl does for a unit that reports itself ready.
#
# env: ENGINE (the program), ENGINE_PID_FILE, ENGINE_OUT, QUIETWAY_LOG_DIR
set -u
[ "${2:-}" = Quietway2.service ] || { echo "Unit ${2:-} not found." >&2; exit 5; }

# A zombie left by a kill counts as ended.
running() {
    local pid state
    pid=$(cat "$ENGINE_PID_FILE" 2>/dev/null) || return 1
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}
runs_logged() {
    local count
    count=$(grep -c "Quietway2 Service running" "$QUIETWAY_LOG_DIR/QuietwayService.log" 2>/dev/null)
    echo "${count:-0}"
}

case ${1:-} in
is-active)
    if running; then echo active; exit 0; fi
    echo inactive
    exit 3
    ;;
start)
    running && exit 0
    before=$(runs_logged)
    setsid "$ENGINE" -f >>"$ENGINE_OUT" 2>&1 </dev/null &
    echo $! >"$ENGINE_PID_FILE"
    for _ in $(seq 600); do
        [ "$(runs_logged)" -gt "$before" ] && exit 0
        running || exit 1
        sleep 0.1
    done
    exit 1
    ;;
esac
exit 1
