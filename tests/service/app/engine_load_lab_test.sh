#!/usr/bin/env bash
# Load on the engine in the lab: 10 000 control API calls from two clients and 1 000 pipe
# status queries from four, while the OpenVPN tunnel with the kill switch is started and
# stopped again and again. Every reply well formed, the engine alive and answering afterwards,
# and as many open descriptors and threads as before the load once the tunnel is down. Then,
# with the engine held to 1 024 descriptors, 3 000 idle pipe connections from one unprivileged
# account: the engine still answers its API, stores settings and starts the tunnel.
#
# usage: engine_load_lab_test.sh QUIETWAY_SERVICE QUIETWAY_REG ENGINE_LOAD_CLIENT     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
SERVICE=$1
REG=$2
LOAD_CLIENT=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

engine_lab_begin qwload-test

fd_count() { find "/proc/$engine_pid/fd" -mindepth 1 -maxdepth 1 | wc -l; }
thread_count() { find "/proc/$engine_pid/task" -mindepth 1 -maxdepth 1 | wc -l; }
# Waits up to 20 s for the engine's descriptors and threads to come back to the counts before.
back_to_baseline() {
    for _ in $(seq 80); do
        [ "$(fd_count)" -le "$fds_before" ] && [ "$(thread_count)" -le "$threads_before" ] &&
            return 0
        sleep 0.25
    done
    echo "descriptors $(fd_count) (before $fds_before), threads $(thread_count)" \
        "(before $threads_before); open now:" >&2
    ls -l "/proc/$engine_pid/fd" >&2
    return 1
}

engine_start || { fail "quietway_service -f runs"; exit 1; }
REPLY_JSON=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
check "apply_account: error 0" [ "$(member error "$REPLY_JSON")" = 0 ]

echo "== one connection and one pipe client before counting"
check "start_privacy: error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "connected" wait_status 3 60
check "stop_privacy: error 0" [ "$(member error "$(rpc stop_privacy)")" = 0 ]
check "stopped" wait_status 1 60
C "$LOAD_CLIENT" 2 4 2 >/dev/null
sleep 1
fds_before=$(fd_count)
threads_before=$(thread_count)
echo "before the load: $fds_before descriptors, $threads_before threads"

echo "== load"
check "10 000 API calls and 1 000 pipe commands while the tunnel comes and goes" \
    C timeout 900 "$LOAD_CLIENT" 10000 1000 4

echo "== after"
check "the engine still runs" kill -0 "$engine_pid"
check "get_general answers: stopped" wait_status 1 10
check "descriptors and threads back to the counts before the load" back_to_baseline
echo "after the load: $(fd_count) descriptors, $(thread_count) threads"
no_tunnel_program() { [ -z "$(tunnel_pids)" ]; }
check "no tunnel program left" no_tunnel_program
check "no filter table left" no_filter_table

echo "== 3 000 idle pipe connections from nobody, the engine at 1 024 descriptors"
# Opens COUNT connections to PATH and holds them until it is ended; says how many it got.
FLOOD_PROGRAM='
import socket, sys
path, count, held = sys.argv[1], int(sys.argv[2]), []
try:
    while len(held) < count:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(path)
        held.append(s)
finally:
    print("held", len(held), flush=True)
sys.stdin.read()'
flood_pid=
trap '[ -z "$flood_pid" ] || kill "$flood_pid"; engine_clean_up; lab_clean_up; exit $?' EXIT
general() { "$REG" query "$KEY\\general" "$1"; }
general_with() { # USE_CHANGE_SERVERS: set_general's parameters, the others as stored
    printf '{"auto_privacy":%s,"use_firewall":%s,"use_change_servers":%s}' \
        "$(general auto_privacy)" "$(general use_firewall)" "$1"
}
chmod 711 "$WORK" # the pipe lives here, and nobody must reach it
check "the engine held to 1 024 descriptors" prlimit --pid "$engine_pid" --nofile=1024:1024
coproc FLOOD { exec prlimit --nofile=8192 setpriv --reuid=nobody --regid=nogroup --clear-groups \
    /usr/bin/python3 -c "$FLOOD_PROGRAM" "$QUIETWAY_PIPE" 3000; }
# shellcheck disable=SC2153 # set by coproc
flood_pid=$FLOOD_PID
read -r -t 120 held <&"${FLOOD[0]}"
check "3 000 connections held by nobody (${held:-none})" [ "$held" = "held 3000" ]
check "the engine refused the account's connections beyond its share" \
    grep -q "pipe client refused: user $(id -u nobody) has 16 clients" "$ENGINE_LOG"
echo "while held: $(fd_count) descriptors"
check "get_general answers: stopped" wait_status 1 10
before_change=$(general use_change_servers)
REPLY_JSON=$(rpc set_general "$(general_with $((1 - before_change)))")
check "set_general: error 0, stored" \
    [ "$(member error "$REPLY_JSON")/$(general use_change_servers)" = "0/$((1 - before_change))" ]
REPLY_JSON=$(rpc set_general "$(general_with "$before_change")")
check "start_privacy: error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "connected" wait_status 3 60
check "stop_privacy: error 0" [ "$(member error "$(rpc stop_privacy)")" = 0 ]
check "stopped" wait_status 1 60
kill "$flood_pid" # it may still wait in a connect the engine never accepts
wait "$flood_pid"
flood_pid=
# A status query on the pipe from root; the workers nobody left are dropped as it comes.
pipe_status() {
    /usr/bin/python3 -c '
import socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect(sys.argv[1])
s.sendall(struct.pack("<iHHiIiI", 1935, 1, 0, 3, 0, 0, 0))
print(struct.unpack("<iHHiIiI", s.recv(24, socket.MSG_WAITALL))[5])' "$QUIETWAY_PIPE"
}
check "a pipe status query answered: stopped" [ "$(pipe_status)" = 1 ]
check "descriptors and threads back to the counts before once nobody has left" back_to_baseline
engine_stop TERM
check "a clean stop after the load (status $ENGINE_STATUS)" [ "$ENGINE_KILLED/$ENGINE_STATUS" = 0/1 ]
