#!/usr/bin/env bash
# Names through the tunnel, end to end: quietway_service -f in the lab's client namespace
# connects OpenVPN with and without the kill switch; the namespace then resolves the lab's name
# with the pushed resolver's answer and no DNS query leaves by an outside link, and
# check_connection reports the tunnel's exit address and "tunnel". After a stop, after SIGKILL
# of the engine, and after engine and client are killed together and the engine starts again,
# the namespace's resolver file is byte for byte what it was and the name resolves outside
# again. Brings the lab up when it is not, and down again if it did.
#
# usage: dns_lab_test.sh QUIETWAY_SERVICE QUIETWAY_REG QUIETWAY_DNS     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
SERVICE=$1
REG=$2
DNS_TOOL=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

engine_lab_begin qwdns-test
capture_pid=
trap '[ -z "$capture_pid" ] || kill "$capture_pid"; engine_clean_up; lab_clean_up; exit $?' EXIT

# This run's bin directory: the lab's tools and the quietway_dns under test.
mkdir -p "$WORK/app/bin"
for tool in openvpn plink curl; do ln -s "$LAB_APP_DIR/bin/$tool" "$WORK/app/bin/$tool"; done
ln -s "$DNS_TOOL" "$WORK/app/bin/quietway_dns"
"$REG" set "$KEY\\app" app_dir --string "$WORK/app" >/dev/null || fail "app_dir set"
cp "$LAB_NETNS_RESOLV_CONF" "$WORK/resolv.conf.before"

answer() { C getent hosts "$LAB_DNS_NAME" | awk '{ print $1; exit }'; }
file_as_before() { cmp -s "$LAB_NETNS_RESOLV_CONF" "$WORK/resolv.conf.before"; }
ours_in_place() { grep -q "^nameserver $LAB_TUNNEL_PEER\$" "$LAB_NETNS_RESOLV_CONF"; }
bounded() { # TENTHS COMMAND...
    local tries=$1
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}
captured() { grep -q "$1" "$2"; }

captures=0
# How many DNS queries leave by a link other than the loopback and the tunnel while the name is
# looked up once. The capture covers the whole namespace and ends once it has seen a datagram to
# the VPN server sent after the lookup, so nothing of the lookup can still be on its way.
outside_queries() {
    local out=$WORK/capture.$((captures += 1))
    ip netns exec "$LAB_CLIENT_NS" tcpdump -i any -nn -l --immediate-mode \
        "dst port 53 or (udp and dst host $LAB_SERVER_IP and dst port 9)" >"$out" 2>"$out.err" &
    capture_pid=$!
    bounded 100 captured "listening on" "$out.err" || { echo "tcpdump did not start" >&2; return 1; }
    C getent hosts "$LAB_DNS_NAME" >/dev/null
    C bash -c "printf marker >/dev/udp/$LAB_SERVER_IP/9"
    bounded 100 captured "> $LAB_SERVER_IP.9:" "$out" || echo "the marker was not captured" >&2
    kill -INT "$capture_pid"
    wait "$capture_pid" 2>/dev/null
    capture_pid=
    grep '\.53: ' "$out" | grep -c -v -E '^[0-9:.]+ (qwaytun0|lo) '
}

echo "== before: the namespace's own resolver"
check "before: $LAB_DNS_NAME is $LAB_DNS_OUTSIDE_ADDR" [ "$(answer)" = "$LAB_DNS_OUTSIDE_ADDR" ]
check "before: the capture sees the lookup leave" [ "$(outside_queries)" -gt 0 ]
engine_start || { fail "quietway_service -f runs"; exit 1; }
REPLY_JSON=$(rpc apply_account "{\"user\":$(quoted "$LAB_USER"),\"password\":$(quoted "$LAB_PASSWORD")}")
check "apply_account: error 0" [ "$(member error "$REPLY_JSON")" = 0 ]

for firewall in 1 0; do
    what="kill switch $firewall"
    echo "== connected, $what"
    set_general use_firewall $firewall
    check "$what: start_privacy error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
    check "$what: connected" wait_status 3 60
    check "$what: $LAB_DNS_NAME is $LAB_DNS_TUNNEL_ADDR" [ "$(answer)" = "$LAB_DNS_TUNNEL_ADDR" ]
    check "$what: no DNS query leaves outside the tunnel" [ "$(outside_queries)" = 0 ]
    REPLY_JSON=$(rpc check_connection)
    tunnel_ip=$(C ip -4 -o address show qwaytun0 | awk '{ split($4, a, "/"); print a[1] }')
    check "$what: check_connection sees the exit ${tunnel_ip:-?} and the tunnel's resolver" \
        [ "$(member exit_ip "$REPLY_JSON")/$(member dns_resolver "$REPLY_JSON")" = "$tunnel_ip/tunnel" ]
    check "$what: stop_privacy error 0" [ "$(member error "$(rpc stop_privacy)")" = 0 ]
    check "$what: stopped" wait_status 1 60
    check "$what: the resolver file is back byte for byte" file_as_before
    check "$what: $LAB_DNS_NAME is $LAB_DNS_OUTSIDE_ADDR again" [ "$(answer)" = "$LAB_DNS_OUTSIDE_ADDR" ]
done

echo "== SIGKILL of the engine: OpenVPN ends with it and runs its down program"
check "sigkill: start_privacy error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "sigkill: connected" wait_status 3 60
check "sigkill: the tunnel's resolver is in the file" ours_in_place
engine_stop KILL
no_tunnel_program() { [ -z "$(tunnel_pids)" ]; }
check "sigkill: the tunnel program ended" bounded 100 no_tunnel_program
check "sigkill: the resolver file is back byte for byte" file_as_before

echo "== the engine started again reconnects; then engine and OpenVPN are killed together"
engine_start || { fail "quietway_service starts again"; exit 1; }
check "crash: connected again" wait_status 3 60
check "crash: the tunnel's resolver is in the file" ours_in_place
kill -STOP "$engine_pid"
mapfile -t pids < <(tunnel_pids)
[ ${#pids[@]} = 0 ] || kill -KILL "${pids[@]}"
engine_stop KILL
check "crash: nothing put the file back" ours_in_place
# The next start finds no connected session to restore, so what it puts back stays.
"$REG" set "$KEY\\app" privacy_status --dword 1 >/dev/null
engine_start || { fail "quietway_service starts after the crash"; exit 1; }
restored() { grep -q "the resolver configuration a tunnel had replaced is back" "$ENGINE_LOG"; }
check "crash: the start says it put the file back" bounded 100 restored
check "crash: the resolver file is back byte for byte" file_as_before
check "crash: $LAB_DNS_NAME is $LAB_DNS_OUTSIDE_ADDR again" [ "$(answer)" = "$LAB_DNS_OUTSIDE_ADDR" ]
check "crash: no record is left" [ -z "$(ls "$DATA/dns" | grep -v '^lock$')" ]
engine_stop TERM
