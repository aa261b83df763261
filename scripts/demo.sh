#!/usr/bin/env bash
# Quietway doing its job, end to end, against the lab's real VPN servers (network namespaces
# of their own; nothing touches this machine's interfaces): builds the programs, brings the lab
# up, runs the engine (quietway_service) on a private settings store, applies the account,
# connects through OpenVPN with the kill switch, shows traffic and names going through the
# tunnel and a connection outside it blocked, switches to the SSH tunnel and shows the proxy path, stops,
# and leaves nothing behind. Needs root.
#
# Usage: scripts/demo.sh      (QUIETWAY_BUILD_DIR names the build tree; default build/linux)
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QUIETWAY_BUILD_DIR:-$ROOT/build/linux}
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

say() { printf '\n--- %s\n' "$*"; }
show() { sed 's/^/    /'; }
die() {
    echo "demo: FAILED: $*" >&2
    [ -z "${ENGINE_LOG:-}" ] || { echo "the engine's last log lines:" >&2; tail -n 15 "$ENGINE_LOG" | show >&2; }
    exit 1
}
WORK=
cleanup() {
    say "cleaning up: the engine, its tunnels, the private store, the lab"
    engine_clean_up
    local left
    left=$(tunnel_pids)
    [ -z "$WORK" ] || rm -rf "$WORK"
    lab_down >/dev/null && echo "    lab down"
    if [ -z "$left" ]; then echo "    no engine or tunnel program of the demo is left running"; else
        echo "    still running: $left" >&2
    fi
}

if [ "$(id -u)" -ne 0 ]; then
    echo "demo: run as root (the lab uses network namespaces, the kill switch nftables)" >&2
    exit 1
fi

say "installing what is missing and building the engine"
"$ROOT/scripts/setup.sh" | show
[ -f "$BUILD/build.ninja" ] ||
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
    die "cmake configure"
cmake --build "$BUILD" --target quietway_service quietway_reg quietway_ctl >/dev/null || die "build"
SERVICE=$BUILD/service/app/quietway_service
REG=$BUILD/tools/quietway_reg/quietway_reg
CTL=$BUILD/tools/quietway_ctl/quietway_ctl

WORK=$(mktemp -d /tmp/quietway-demo.XXXXXX)
trap cleanup EXIT
lab_quiet=1
brought_up=0
say "bringing up the lab: OpenVPN and SSH servers on 10.99.0.1 and 10.99.1.1, reached from the namespace qwlab-c"
if "$LAB_SH" status >/dev/null 2>&1; then
    echo "    the lab is already up (and stays up afterwards)"
else
    brought_up=1
    "$LAB_SH" up 2>&1 | show
    [ "${PIPESTATUS[0]}" = 0 ] || die "scripts/lab.sh up"
fi
lab_export_env
engine_store
cp "$LAB_NETNS_RESOLV_CONF" "$WORK/resolv.conf.before"
ctl() { C "$CTL" "$@"; }
echo "    a private settings store seeded from the lab: $QUIETWAY_REGISTRY"
echo "    OpenVPN mode (general\\mode 2), kill switch on (general\\use_firewall 1)"

say "starting the engine: quietway_service -f inside the lab's client namespace"
engine_start || die "the engine did not start"
grep -e "Quietway2 Service running" "$ENGINE_LOG" | tail -n 1 | show
echo "    quietway_ctl status: $(ctl status | head -n 1)"

say "applying the account through the control API (JSON-RPC apply_account): fetches each server's keys"
reply=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
[ "$(member error "$reply")" = 0 ] || die "apply_account answered $reply"
python3 -c 'import json, sys
for s in json.loads(sys.stdin.read())["servers"]:
    mark = "  <- activated" if s["activated"] else ""
    print("server %d  %-20s %-10s %s%s" % (s["id"], s["name"], s["address"], s.get("status", "?"), mark))' \
    <<<"$reply" | show

say "names before connecting: the client namespace asks its own resolver ($LAB_DNS_OUTSIDE_IP)"
echo "    getent hosts $LAB_DNS_NAME -> $(C getent hosts "$LAB_DNS_NAME" | awk '{ print $1 }')" \
    "(the outside resolver's answer is $LAB_DNS_OUTSIDE_ADDR)"

say "connecting: start_privacy through the API, OpenVPN with the kill switch"
rpc start_privacy >/dev/null
wait_status 3 60 || die "no connection"
echo "    quietway_ctl status: $(ctl status | head -n 1)"
echo "    connected to $(member server_ip "$(rpc get_active_server_state)")"
C ip -brief address show dev qwaytun0 | show

say "traffic through the tunnel: ping the VPN server's tunnel address $LAB_TUNNEL_PEER"
C ping -c 3 -W 2 "$LAB_TUNNEL_PEER" | grep -e "bytes from" -e "packet loss" | show

say "names through the tunnel: OpenVPN ran quietway_dns with the server's pushed resolver"
echo "    the namespace's /etc/resolv.conf now:"
C cat /etc/resolv.conf | show
echo "    getent hosts $LAB_DNS_NAME -> $(C getent hosts "$LAB_DNS_NAME" | awk '{ print $1 }')" \
    "(the tunnel's resolver answers $LAB_DNS_TUNNEL_ADDR)"
reply=$(rpc check_connection)
echo "    the connection test (check_connection): traffic leaves from $(member exit_ip "$reply")," \
    "names answered by the $(member dns_resolver "$reply") resolver"

try() {
    if reaches "$1" "$2"; then echo "    connect to $1:$2  -> gets out"; else
        echo "    connect to $1:$2  -> blocked"
    fi
}
say "the kill switch: only the tunnel and the active server get out"
try "$LAB_SERVER_IP" "$LAB_SSH_PORT"
try "$LAB_SERVER2_IP" "$LAB_SSH_PORT"
echo "    the engine's nftables table in the client namespace:"
C nft list tables | show

say "stopping the tunnel (stop_privacy): the kill switch goes with it"
rpc stop_privacy >/dev/null
wait_status 1 60 || die "the tunnel did not stop"
echo "    quietway_ctl status: $(ctl status | head -n 1)"
echo "    tables left: $(C nft list tables | wc -l)"
if cmp -s "$LAB_NETNS_RESOLV_CONF" "$WORK/resolv.conf.before"; then
    echo "    the namespace's resolver file is back, byte for byte;" \
        "getent hosts $LAB_DNS_NAME -> $(C getent hosts "$LAB_DNS_NAME" | awk '{ print $1 }')"
else
    die "the namespace's resolver file did not come back"
fi
try "$LAB_SERVER2_IP" "$LAB_SSH_PORT"

say "switching to the SSH tunnel: the engine is restarted with general\\mode 0"
engine_stop TERM
set_general mode 0 || die "mode 0"
engine_start || die "the engine did not start in SSH mode"
rpc start_privacy >/dev/null
wait_status 3 60 || die "the SSH tunnel did not come up"
echo "    quietway_ctl status: $(ctl status | head -n 1)"
echo "    a web request through the engine's local proxy port 127.0.0.1:50000 for http://127.0.0.1:$LAB_PROXY_PORT/,"
echo "    a page only the SSH server itself can reach (its own loopback):"
C curl -s -m 5 -i -x http://127.0.0.1:50000 "http://127.0.0.1:$LAB_PROXY_PORT/" |
    tr -d '\r' | grep -i -e '^HTTP/' -e '^X-Lab-Proxy' -e '^lab proxy' | awk '!seen[$0]++' | show
echo "    (X-Lab-Proxy: the lab's proxy on the server answered, so the request went through the tunnel)"

say "stopping: stop_privacy through the API, then the engine itself (SIGTERM)"
rpc stop_privacy >/dev/null
wait_status 1 60 || die "the SSH tunnel did not stop"
echo "    quietway_ctl status: $(ctl status | head -n 1)"
engine_stop TERM
echo "    quietway_service exited with status $ENGINE_STATUS (the service host's code for a completed run); its last log lines:"
tail -n 4 "$ENGINE_LOG" | show
echo "    quietway_ctl status now: $(ctl status 2>&1)"
