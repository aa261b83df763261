#!/usr/bin/env bash
# The systemd-resolved path: in a booted throwaway Debian root running systemd-resolved, an
# OpenVPN client connects to the lab's VPN server (through a veth pair from the root's own
# network into the lab's server namespace) on the configuration provisioning writes, and runs
# quietway_dns. resolvectl then shows the pushed server, the "~." routing domain and the default
# route on the tunnel device, the lab's name resolves through it, and the resolver file stays
# resolved's own. quietway_dns down (what the engine runs for a tunnel that ended without it)
# takes it all away while the device is still there; after the client's stop nothing is left.
# Brings the lab up when it is not, and down again if it did.
#
# usage: dns_resolved_root_test.sh BUILD_DIR QUIETWAY_DNS     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
BUILD=$1
DNS_TOOL=$2
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/package/systemd_root.sh
. "$ROOT/tests/package/systemd_root.sh"

lab_require_root
lab_quiet=1
lab_ensure_up
lab_export_env
WORK=$(mktemp -d /tmp/qwdns-root.XXXXXX)
vpn_pid=
# nsenter forked the client into the root's process namespace: the client is its child, and
# nsenter ends with it.
stop_client() {
    [ -n "$vpn_pid" ] || return 0
    local client
    client=$(ps -o pid= --ppid "$vpn_pid" | tr -d ' ')
    [ -z "$client" ] || kill "$client"
    wait "$vpn_pid" 2>/dev/null
    vpn_pid=
}
finish() {
    stop_client
    stop_container
    ip -n "$LAB_SERVER_NS" link del qwdnsr1 2>/dev/null
    lab_clean_up
}
trap 'finish; exit $?' EXIT

root=$(systemd_root "$BUILD/package-root" systemd-resolved openvpn iproute2) ||
    { fail "a Debian root with systemd-resolved"; exit 1; }
boot_container "$root" "$WORK/nspawn.log" || { fail "the root boots"; exit 1; }
R() { in_container "$@" 2>&1; }
until_true() { # TENTHS COMMAND...
    local tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}
check "systemd-resolved runs in the root" until_true 300 R systemctl is-active systemd-resolved

# The root's network meets the lab's VPN server on a link of its own.
ip link add qwdnsr0 type veth peer name qwdnsr1 &&
    ip link set qwdnsr0 netns "$CONTAINER_PID" && ip link set qwdnsr1 netns "$LAB_SERVER_NS" &&
    R ip address add 10.99.6.2/24 dev qwdnsr0 && R ip link set qwdnsr0 up &&
    ip -n "$LAB_SERVER_NS" address add 10.99.6.1/24 dev qwdnsr1 &&
    ip -n "$LAB_SERVER_NS" link set qwdnsr1 up || { fail "the link to the lab"; exit 1; }

# The configuration provisioning writes, with the account's key files, and quietway_dns.
top=/proc/$CONTAINER_PID/root
mkdir -p "$top/etc/qwtest" "$top/opt/qwtest/bin" "$top/var/lib/qwtest"
cp "$DNS_TOOL" "$top/opt/qwtest/bin/quietway_dns"
for name in ca.crt ta.key "$LAB_USER.crt" "$LAB_USER.key"; do cp "$LAB_USER_FILES/$name" "$top/etc/qwtest/"; done
printf '%s\n%s' "$LAB_USER" "$LAB_PASSWORD" >"$top/etc/qwtest/auth.cfg"
{
    lab_vpn_config /etc/qwtest 10.99.6.1 "$LAB_USER"
    lab_vpn_dns_lines /opt/qwtest/bin /var/lib/qwtest
} >"$top/etc/qwtest/vpn_conf.ovpn"
resolv_before=$(R readlink /etc/resolv.conf)

in_container openvpn --config /etc/qwtest/vpn_conf.ovpn >"$WORK/openvpn.log" 2>&1 &
vpn_pid=$!
check "OpenVPN connects from the root" \
    until_true 300 grep -q "Initialization Sequence Completed" "$WORK/openvpn.log"
grep -q "Initialization Sequence Completed" "$WORK/openvpn.log" || tail -n 20 "$WORK/openvpn.log"
link_says() { R resolvectl "$1" qwaytun0 | grep -q "(qwaytun0): *$2\$"; }
resolves_to() { R resolvectl query "$LAB_DNS_NAME" | grep -q ": $1 "; }
not() { ! "$@"; }
# resolved applies link changes and drops its cache asynchronously: each state is awaited.
check "connected: resolvectl dns qwaytun0 is $LAB_TUNNEL_PEER" until_true 50 link_says dns "$LAB_TUNNEL_PEER"
check "connected: resolvectl domain qwaytun0 is ~." until_true 50 link_says domain "~\."
check "connected: resolvectl default-route qwaytun0 is yes" until_true 50 link_says default-route yes
check "connected: $LAB_DNS_NAME resolves to $LAB_DNS_TUNNEL_ADDR" until_true 50 resolves_to "$LAB_DNS_TUNNEL_ADDR"
check "connected: /etc/resolv.conf is still resolved's ($resolv_before)" \
    [ "$(R readlink /etc/resolv.conf)" = "$resolv_before" ]

R /opt/qwtest/bin/quietway_dns down /var/lib/qwtest/dns >"$WORK/down.log"
check "after down: no server on qwaytun0" until_true 50 link_says dns ""
check "after down: no domain on qwaytun0" until_true 50 link_says domain ""
check "after down: $LAB_DNS_NAME does not resolve" until_true 50 not R resolvectl query "$LAB_DNS_NAME"

stop_client
link_listed() { R resolvectl status | grep -q qwaytun0; }
# resolved drops the link a moment after the device goes.
check "stopped: resolved has no link qwaytun0" until_true 100 not link_listed
check "stopped: no record is left" [ -z "$(ls "$top/var/lib/qwtest/dns" | grep -v '^lock$')" ]
