#!/usr/bin/env bash
# Leak test: while quietway_service holds the OpenVPN tunnel with the kill switch, a capture on
# the client namespace's outside links sees no packet except to and from the VPN server,
# DNS included, although the namespace keeps trying other addresses. The same attempts with the
# engine stopped are seen on the wire, so the capture would show a leak. After the engine is
# killed with SIGKILL the filter table, the tunnel program and its device are gone.
#
# usage: engine_leak_lab_test.sh QUIETWAY_SERVICE QUIETWAY_CTL QUIETWAY_REG     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SERVICE=$1
REG=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

lab_require_root
command -v tcpdump >/dev/null || { echo "FAIL: tcpdump is missing (scripts/setup.sh)"; exit 1; }
lab_quiet=1
lab_ensure_up
WORK=$(mktemp -d /tmp/qwleak-test.XXXXXX)
capture_pid=

capture_pids=()

capture_stop() {
    local pid
    for pid in "${capture_pids[@]}"; do kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    capture_pids=()
}
finish() {
    capture_stop
    engine_clean_up
    lab_clean_up
}
trap 'finish; exit $?' EXIT

lab_export_env
engine_store
# The client namespace's links to the outside: every one but the loopback (the tunnel's device
# is not there yet).
mapfile -t outside < <(C ip -o link show | sed -n 's/^[0-9]*: \([^:@]*\).*/\1/p' | grep -v '^lo$')
[ ${#outside[@]} -gt 0 ] || { fail "the client namespace has outside links"; exit 1; }

# Captures what the client sends on every outside link into FILE.<link> until capture_stop;
# immediate mode, so that nothing captured is still buffered when the capture is stopped.
capture_start() {
    local link
    for link in "${outside[@]}"; do
        # Not through C: the pid of a backgrounded function would be a subshell's.
        ip netns exec "$LAB_CLIENT_NS" tcpdump -i "$link" -Q out --immediate-mode -nn -U \
            -w "$1.$link" 2>"$1.$link.err" &
        capture_pids+=($!)
    done
    for link in "${outside[@]}"; do
        for _ in $(seq 100); do
            grep -q "listening on" "$1.$link.err" 2>/dev/null && continue 2
            sleep 0.1
        done
        fail "tcpdump listens on $link"
        return 1
    done
}
# Traffic that must not leave while the kill switch holds: DNS through the namespace's
# resolver and straight to other addresses, TCP and ICMP to the second server.
leak_attempts() {
    C timeout 3 getent hosts leak-test.example >/dev/null 2>&1
    for ip in "$LAB_SERVER2_IP" "$LAB_DEAD_IP"; do
        C timeout 2 bash -c "exec 5<>/dev/udp/$ip/53 && printf 'q' >&5" 2>/dev/null
    done
    reaches "$LAB_SERVER2_IP" "$LAB_SSH_PORT"
    C ping -c 1 -W 1 "$LAB_SERVER2_IP" >/dev/null 2>&1
    return 0
}
# Packets on all links captured into FILE.* matching the tcpdump FILTER; with SHOW, printed.
count() {
    local link total=0
    for link in "${outside[@]}"; do
        total=$((total + $(tcpdump -r "$1.$link" -nn "$2" 2>/dev/null | wc -l)))
        [ -z "${3:-}" ] || tcpdump -r "$1.$link" -nn "$2" 2>/dev/null | sed "s/^/$link: /" | head -n 5
    done
    echo "$total"
}
not_server="not arp and not host $LAB_SERVER_IP"

echo "== the capture sees traffic while nothing blocks it"
engine_start || { fail "quietway_service -f runs"; exit 1; }
capture_start "$WORK/open.pcap" || exit 1
leak_attempts
capture_stop
check "without the kill switch the attempts reach the wire" \
    [ "$(count "$WORK/open.pcap" "$not_server")" -gt 0 ]

echo "== OpenVPN with the kill switch"
REPLY_JSON=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
check "apply_account: error 0" [ "$(member error "$REPLY_JSON")" = 0 ]
check "start_privacy: error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "connected" wait_status 3 60
capture_start "$WORK/held.pcap" || exit 1
leak_attempts
check "ping through the tunnel" lab_ping_peer
capture_stop
leaked=$(count "$WORK/held.pcap" "$not_server")
check "nothing but the VPN server on the wire ($leaked other packets)" [ "$leaked" = 0 ]
[ "$leaked" = 0 ] || count "$WORK/held.pcap" "$not_server" show
check "the tunnel's packets are on the wire" \
    [ "$(count "$WORK/held.pcap" "host $LAB_SERVER_IP")" -gt 0 ]

echo "== SIGKILL"
engine_stop KILL
check "the engine was killed (status $ENGINE_STATUS)" [ "$ENGINE_STATUS" = 137 ]
check "no filter table after SIGKILL" no_filter_table
no_tunnel() {
    for _ in $(seq 100); do
        [ -z "$(tunnel_pids)" ] && ! C ip link show qwaytun0 >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
check "no tunnel program and no tunnel device after SIGKILL" no_tunnel
