#!/usr/bin/env bash
# The engine end to end against the lab's real servers: quietway_service -f in the client
# namespace on the lab's store; the account applied through the control API; OpenVPN with the
# kill switch started and stopped through the API and through quietway_ctl; the engine killed
# while connected and started again, which restores the session; a clean stop while connected;
# the SSH tunnel through the API. Brings the lab up when it is not, and down again if it did.
#
# usage: engine_lab_test.sh QUIETWAY_SERVICE QUIETWAY_CTL QUIETWAY_REG     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
SERVICE=$1
CTL=$2
REG=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

engine_lab_begin qwengine-test

ctl() { C "$CTL" "$@"; }
quiet() { "$@" >/dev/null; }
unreachable() { ! reaches "$@"; }
no_tunnel_program() { [ -z "$(tunnel_pids)" ]; }
stored_status() { "$REG" query "$KEY\\app" privacy_status; }
# The state quietway_ctl's status prints, polled until they are WANT (up to 60 s).
ctl_until() {
    for _ in $(seq 240); do
        [ "$(ctl status | head -n 1)" = "state:        $1" ] && return 0
        sleep 0.25
    done
    return 1
}
server_status() {
    python3 -c 'import json, sys
servers = {str(s["id"]): s.get("status") for s in json.loads(sys.stdin.read())["servers"]}
print(servers.get(sys.argv[1]))' "$1" <<<"$REPLY_JSON"
}
# The engine ended by itself after SIGTERM with the host's exit code for a completed run (1),
# its last log line the stopped state.
check_clean_exit() {
    check "$1: ended by itself, exit status 1 (got $ENGINE_STATUS)" \
        [ "$ENGINE_KILLED/$ENGINE_STATUS" = 0/1 ]
    check "$1: the log ends with the stopped state" \
        bash -c "tail -n 1 '$ENGINE_LOG' | grep -q 'service status stopped'"
}
# What has to hold while the OpenVPN tunnel with the kill switch is up.
connected_with_kill_switch() {
    local what=$1
    check "$what: ping through the tunnel" lab_ping_peer
    check "$what: a filter table is in place" filter_table
    check "$what: the active server is still reachable" reaches "$LAB_SERVER_IP" "$LAB_SSH_PORT"
    check "$what: the second server is blocked" unreachable "$LAB_SERVER2_IP" "$LAB_SSH_PORT"
}
# What has to hold once the OpenVPN tunnel is down.
all_lifted() {
    local what=$1
    check "$what: no tunnel program left" no_tunnel_program
    check "$what: no filter table left" no_filter_table
    check "$what: the second server is reachable again" reaches "$LAB_SERVER2_IP" "$LAB_SSH_PORT"
}

echo "== start"
check "before: no filter table in the client namespace" no_filter_table
check "before: the second server is reachable" reaches "$LAB_SERVER2_IP" "$LAB_SSH_PORT"
engine_start || { fail "quietway_service -f runs"; exit 1; }
REPLY_JSON=$(rpc get_general)
check "get_general: stopped in OpenVPN mode" \
    [ "$(member privacy_status "$REPLY_JSON")/$(member privacy_mode "$REPLY_JSON")" = 1/2 ]
check "ctl: no server selected yet" grep -qx 'server: *none selected' <<<"$(ctl status)"

echo "== apply_account"
REPLY_JSON=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
check "apply_account: error 0" [ "$(member error "$REPLY_JSON")" = 0 ]
for id in "$LAB_SERVER_ID" "$LAB_SERVER2_ID"; do
    check "apply_account: server $id ready" [ "$(server_status "$id")" = ready ]
done
for id in "$LAB_DEAD_ID" "$LAB_REFUSE_ID"; do
    check "apply_account: server $id failed" [ "$(server_status "$id")" = failed ]
done
check "get_general: the first server is active" \
    [ "$(member active_server "$(rpc get_general)")" = "$LAB_SERVER_ID" ]

echo "== OpenVPN with the kill switch through the API"
REPLY_JSON=$(rpc start_privacy)
check "start_privacy: error 0, status before the start 1" \
    [ "$(member error "$REPLY_JSON")/$(member privacy_status "$REPLY_JSON")" = 0/1 ]
check "api: connected" wait_status 3 60
check "get_active_server_state: the server's address" \
    [ "$(member server_ip "$(rpc get_active_server_state)")" = "$LAB_SERVER_IP" ]
connected_with_kill_switch api
check "start_privacy while connected: error 1" [ "$(member error "$(rpc start_privacy)")" = 1 ]
REPLY_JSON=$(rpc stop_privacy)
check "stop_privacy: error 0" [ "$(member error "$REPLY_JSON")" = 0 ]
check "api: stopped" wait_status 1 60
all_lifted api

echo "== the same through quietway_ctl"
check "ctl start: answered" quiet ctl start
check "ctl: connected" ctl_until connected
connected_with_kill_switch ctl
check "ctl stop: stopped" [ "$(ctl stop)" = stopped ]
all_lifted ctl

echo "== killed while connected, started again"
check "crash: start_privacy error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "crash: connected" wait_status 3 60
check "crash: privacy_status 3 stored" [ "$(stored_status)" = 3 ]
engine_stop KILL
check "crash: no filter table after SIGKILL" no_filter_table
engine_start || { fail "quietway_service starts again"; exit 1; }
check "crash: the crash line is logged" \
    grep -q "Quietway was crashed!!! Restart privacy." "$ENGINE_LOG"
check "crash: connected again" wait_status 3 60
check "crash: one OpenVPN client, the old one ended" [ "$(tunnel_pids | wc -l)" = 1 ]
connected_with_kill_switch crash

echo "== SIGTERM while connected"
engine_stop TERM
check_clean_exit sigterm
all_lifted sigterm
check "sigterm: privacy_status 1 stored" [ "$(stored_status)" = 1 ]
check "sigterm: no tun device left" bash -c "! ip netns exec $LAB_CLIENT_NS ip link show qwaytun0 >/dev/null 2>&1"

echo "== SSH tunnel (mode 0) through the API"
set_general mode 0 || fail "mode 0 set"
engine_start || { fail "quietway_service starts in mode 0"; exit 1; }
check "ssh: no restore after a clean stop" [ "$(member privacy_status "$(rpc get_general)")" = 1 ]
check "ssh: start_privacy error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "ssh: connected" wait_status 3 60
check "ssh: port 50000 reaches the lab's proxy" [ "$(proxy_name)" = proxy ]
check "ssh: no filter table in the SSH modes" no_filter_table
check "ssh: stop_privacy error 0" [ "$(member error "$(rpc stop_privacy)")" = 0 ]
check "ssh: stopped" wait_status 1 60
check "ssh: port 50000 closed" unreachable 127.0.0.1 50000
check "ssh: no plink left" no_tunnel_program
engine_stop TERM
check_clean_exit ssh
