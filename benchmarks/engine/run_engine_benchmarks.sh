#!/usr/bin/env bash
# Runs the engine's benchmarks against a real quietway_service in the lab's client namespace:
# control API get_general throughput and latency, pipe status round trip, then the engine's own
# CPU share and memory over SECONDS idle while stopped and while connected through OpenVPN with
# the kill switch. Builds what is missing, brings the lab up when it is not (and down again if
# it did). Prints figures; it is not a test. Run under the lab's lock, as root:
#
#   flock /tmp/quietway-lab.lock bash benchmarks/engine/run_engine_benchmarks.sh [SECONDS]
#
# QUIETWAY_BUILD_DIR names the build tree (default build/linux).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${QUIETWAY_BUILD_DIR:-$ROOT/build/linux}
SECONDS_IDLE=${1:-60}
if ! [[ $SECONDS_IDLE =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: run_engine_benchmarks.sh [SECONDS]" >&2
    exit 2
fi
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

lab_require_root
[ -f "$BUILD/build.ninja" ] || cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target quietway_service quietway_reg engine_api_benchmark \
    engine_pipe_benchmark engine_idle_benchmark >/dev/null || { echo "build failed" >&2; exit 1; }
SERVICE=$BUILD/service/app/quietway_service
REG=$BUILD/tools/quietway_reg/quietway_reg
BENCH=$BUILD/benchmarks/engine

lab_quiet=1
lab_ensure_up
WORK=$(mktemp -d /tmp/qwengine-bench.XXXXXX)
finish() {
    engine_clean_up
    rm -rf "$WORK"
    lab_down
    [ $failures -eq 0 ]
}
trap 'finish; exit $?' EXIT

lab_export_env
engine_store
engine_start || { fail "quietway_service starts"; exit 1; }
echo "engine: pid $engine_pid in namespace $LAB_CLIENT_NS, OpenVPN mode, kill switch on"

echo "== control API"
C "$BENCH/engine_api_benchmark" 10 || fail "control API benchmark"
echo "== pipe"
"$BENCH/engine_pipe_benchmark" 20000 || fail "pipe benchmark"

echo "== idle, stopped"
"$BENCH/engine_idle_benchmark" "$engine_pid" "$SECONDS_IDLE" "engine stopped" || fail "idle benchmark"

echo "== idle, connected"
reply=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
[ "$(member error "$reply")" = 0 ] || { fail "apply_account: $reply"; exit 1; }
if [ "$(member error "$(rpc start_privacy)")" != 0 ] || ! wait_status 3 60; then
    fail "the engine does not connect"
    exit 1
fi
"$BENCH/engine_idle_benchmark" "$engine_pid" "$SECONDS_IDLE" "engine connected" || fail "idle benchmark"
rpc stop_privacy >/dev/null
wait_status 1 60 || fail "the engine does not stop the tunnel"
engine_stop TERM
