#!/usr/bin/env bash
# Proves the lab with the system's own programs from its client namespace: OpenVPN through to
# the tunnel peer on both servers, the password checks, FTPS downloads of each account's key
# files, the outside and the pushed resolver and the exit-address check, plink with a forward to
# each proxy, the dead and the refusing address, and the store seed. Brings the lab up when it is not, and down again afterwards if it did.
#
# usage: lab_test.sh [QUIETWAY_REG]     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
REG_TOOL=${1:-}
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"

lab_require_root
lab_ensure_up
WORK=$(mktemp -d /tmp/qwlab-test.XXXXXX)

finish() {
    lab_stop_children
    rm -rf "$WORK"
    if lab_down; then
        check "down leaves no namespace" bash -c '! ip netns list | grep -q "^qwlab-"'
        check "down leaves no mount" bash -c "! grep -q -e qwlab -e '$LAB_DIR' /proc/mounts"
        check "down leaves no process" no_lab_process
        check "down leaves no namespace resolver file" [ ! -e "$LAB_NETNS_RESOLV_CONF" ]
    fi
    lab_summary
}
trap 'finish; exit $?' EXIT

no_lab_process() {
    local f
    for f in /proc/[0-9]*/cmdline; do
        if tr '\0' ' ' <"$f" 2>/dev/null | grep -q -e "$LAB_DIR/" -e "$ROOT/scripts/lab/"; then
            echo "left behind: $(tr '\0' ' ' <"$f")"
            return 1
        fi
    done
}

# shellcheck source=/dev/null
. "$LAB_DIR/lab.env"

url_name() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }

# Fetches NAME over FTPS into DIR; the credentials go through standard input, never argv.
fetch() {
    local user=$1 password=$2 ip=$3 name=$4 dir=$5
    mkdir -p "$dir"
    printf 'user = %s\n' "$(quoted "$user:$password")" |
        C curl -sS -K - --ssl-reqd -k --max-time 20 \
            "ftp://$ip:$LAB_FTP_PORT/$(url_name "$name")" -o "$dir/$name"
}

echo "== FTPS: each account's four key files from both servers, byte for byte"
for account in user odd; do
    if [ $account = user ]; then u=$LAB_USER p=$LAB_PASSWORD src=$LAB_USER_FILES; else
        u=$LAB_ODD_USER p=$LAB_ODD_PASSWORD src=$LAB_ODD_USER_FILES
    fi
    for ip in "$LAB_SERVER_IP" "$LAB_SERVER2_IP"; do
        for name in ca.crt ta.key "$u.crt" "$u.key"; do
            check "$account: $name from $ip" fetch "$u" "$p" "$ip" "$name" "$WORK/$account-$ip"
            check "$account: $name from $ip is the served file" \
                cmp -s "$WORK/$account-$ip/$name" "$src/$name"
        done
    done
done
fetch "$LAB_USER" "$LAB_BAD_PASSWORD" "$LAB_SERVER_IP" ca.crt "$WORK/bad" 2>"$WORK/bad.err"
rc=$?
check "bad password: FTPS login refused (curl 67, got $rc)" [ $rc = 67 ]

echo "== OpenVPN: the client configuration the provisioning writes"
# Writes the configuration into DIR, whose key files came over FTPS above.
write_vpn_config() {
    local dir=$1 ip=$2 user=$3 password=$4
    printf '%s\n%s' "$user" "$password" >"$dir/auth.cfg"
    chmod 600 "$dir/auth.cfg"
    lab_vpn_config "$dir" "$ip" "$user" >"$dir/vpn_conf.ovpn"
}

start_vpn() { lab_vpn_start "$1/vpn_conf.ovpn" "$1/openvpn.log"; }

stop_vpn() {
    kill "$vpn_pid" 2>/dev/null
    wait "$vpn_pid" 2>/dev/null
    has_tun && fail "qwaytun0 outlived its client"
    return 0
}

has_tun() { C ip link show qwaytun0 >/dev/null 2>&1; }

for case in "user $LAB_SERVER_IP" "user $LAB_SERVER2_IP" "odd $LAB_SERVER_IP"; do
    set -- $case
    account=$1 ip=$2
    if [ $account = user ]; then u=$LAB_USER p=$LAB_PASSWORD; else u=$LAB_ODD_USER p=$LAB_ODD_PASSWORD; fi
    dir=$WORK/$account-$ip
    write_vpn_config "$dir" "$ip" "$u" "$p"
    start_vpn "$dir"
    check "$account: OpenVPN to $ip completes" \
        grep -q "Initialization Sequence Completed" "$dir/openvpn.log"
    check "$account: the tunnel device is qwaytun0" has_tun
    check "$account: the tunnel peer answers ping through $ip" lab_ping_peer
    stop_vpn
    grep -q "Initialization Sequence Completed" "$dir/openvpn.log" || tail -n 15 "$dir/openvpn.log"
done

dir=$WORK/user-$LAB_SERVER_IP
write_vpn_config "$dir" "$LAB_SERVER_IP" "$LAB_USER" "$LAB_BAD_PASSWORD"
start_vpn "$dir"
check "bad password: OpenVPN reports AUTH_FAILED" grep -q "AUTH_FAILED" "$dir/openvpn.log"
for _ in $(seq 100); do kill -0 "$vpn_pid" 2>/dev/null || break; sleep 0.1; done
check "bad password: the client ends by itself" bash -c "! kill -0 $vpn_pid 2>/dev/null"
stop_vpn

echo "== names: the outside resolver; through a tunnel the pushed one and the exit-address check"
printf 'nameserver %s\n' "$LAB_TUNNEL_PEER" >"$WORK/tunnel-resolv.conf"
ask_tunnel_resolver() {
    C unshare -m sh -c 'mount --bind "$1" /etc/resolv.conf && exec getent hosts "$2"' sh \
        "$WORK/tunnel-resolv.conf" "$LAB_DNS_NAME"
}
address_of() { "$@" 2>/dev/null | awk '{ print $1; exit }'; }
check "the namespace's resolver answers $LAB_DNS_NAME with $LAB_DNS_OUTSIDE_ADDR" \
    [ "$(address_of C getent hosts "$LAB_DNS_NAME")" = "$LAB_DNS_OUTSIDE_ADDR" ]
check "without a tunnel the pushed resolver is out of reach" [ -z "$(address_of ask_tunnel_resolver)" ]
dir=$WORK/user-$LAB_SERVER_IP
write_vpn_config "$dir" "$LAB_SERVER_IP" "$LAB_USER" "$LAB_PASSWORD"
start_vpn "$dir"
check "the VPN server pushes its resolver" grep -q "dhcp-option DNS $LAB_TUNNEL_PEER" "$dir/openvpn.log"
check "through the tunnel it answers with $LAB_DNS_TUNNEL_ADDR" \
    [ "$(address_of ask_tunnel_resolver)" = "$LAB_DNS_TUNNEL_ADDR" ]
tunnel_ip=$(C ip -4 -o address show qwaytun0 | awk '{ split($4, a, "/"); print a[1] }')
check "the exit-address check answers with the tunnel address ($tunnel_ip)" \
    [ "$(C curl -s -m 5 "$LAB_WHOAMI_URL")" = "${tunnel_ip:-no address}" ]
stop_vpn

echo "== SSH: host key, logins, forwards to the proxy and the tor proxy"
# plink's host-key cache; without a .putty there plink would use the account's own.
export HOME=$WORK/home
mkdir -p "$HOME/.putty"
printf '%s' "$LAB_PASSWORD" >"$WORK/user.pw"
printf '%s' "$LAB_ODD_PASSWORD" >"$WORK/odd.pw"
printf '%s' "$LAB_BAD_PASSWORD" >"$WORK/bad.pw"
chmod 600 "$WORK"/*.pw

plink_run() { # USER PWFILE IP COMMAND -- batch mode, bounded
    C timeout 30 plink -ssh -batch -P "$LAB_SSH_PORT" -l "$1" -pwfile "$2" "$3" "$4"
}
for ip in "$LAB_SERVER_IP" "$LAB_SERVER2_IP"; do
    plink_run "$LAB_USER" "$WORK/user.pw" "$ip" exit 2>"$WORK/batch.err"
    check "plink -batch to $ip stops at the unknown host key" \
        grep -q "Cannot confirm a host key in batch mode" "$WORK/batch.err"
    echo y | C timeout 30 plink -ssh -P "$LAB_SSH_PORT" -l "$LAB_USER" -pwfile "$WORK/user.pw" \
        "$ip" exit >/dev/null 2>&1
    check "plink stores the host key of $ip" plink_run "$LAB_USER" "$WORK/user.pw" "$ip" exit
    whoami=$(plink_run "$LAB_ODD_USER" "$WORK/odd.pw" "$ip" "id -un" 2>/dev/null)
    check "odd account logs in to $ip as itself" [ "$whoami" = "$LAB_ODD_USER" ]
    plink_run "$LAB_USER" "$WORK/bad.pw" "$ip" exit 2>"$WORK/bad.err"
    check "bad password: sshd on $ip refuses" \
        grep -q "Configured password was not accepted" "$WORK/bad.err"
done

ip netns exec "$LAB_CLIENT_NS" plink -ssh -batch -N -P "$LAB_SSH_PORT" -l "$LAB_USER" -pwfile "$WORK/user.pw" \
    -L "127.0.0.1:41128:127.0.0.1:$LAB_PROXY_PORT" -L "127.0.0.1:41050:127.0.0.1:$LAB_TOR_PORT" \
    "$LAB_SERVER_IP" >"$WORK/forward.log" 2>&1 &
children+=("$!")
proxy_name() { # the X-Lab-Proxy header of the answer through a local forward
    C curl -sS --max-time 5 -D - -o /dev/null "http://127.0.0.1:$1/" 2>/dev/null |
        tr -d '\r' | sed -n 's/^X-Lab-Proxy: //p'
}
for _ in $(seq 100); do [ -n "$(proxy_name 41128)" ] && break; sleep 0.1; done
check "forward to the proxy port reaches the proxy" [ "$(proxy_name 41128)" = proxy ]
check "forward to the tor port reaches the tor proxy" [ "$(proxy_name 41050)" = tor ]

echo "== the dead and the refusing address"
for port in "$LAB_FTP_PORT" "$LAB_SSH_PORT"; do
    C curl -sS --connect-timeout 3 "ftp://$LAB_DEAD_IP:$port/" -o /dev/null 2>/dev/null
    rc=$?
    check "dead address: port $port times out (curl 28, got $rc)" [ $rc = 28 ]
    C curl -sS --connect-timeout 3 "ftp://$LAB_REFUSE_IP:$port/" -o /dev/null 2>/dev/null
    rc=$?
    check "refusing address: port $port fails at once (curl 7, got $rc)" [ $rc = 7 ]
done
plink_run "$LAB_USER" "$WORK/user.pw" "$LAB_REFUSE_IP" exit 2>"$WORK/refuse.err"
check "refusing address: plink reports the refusal" grep -q "Connection refused" "$WORK/refuse.err"
plink_run "$LAB_USER" "$WORK/user.pw" "$LAB_DEAD_IP" exit 2>"$WORK/dead.err"
check "dead address: plink reports a time-out" grep -q "Connection timed out" "$WORK/dead.err"
check "dead address: no answer to ping" bash -c "! ip netns exec '$LAB_CLIENT_NS' ping -c 1 -W 1 '$LAB_DEAD_IP' >/dev/null"

echo "== the store seed"
if [ -n "$REG_TOOL" ]; then
    export QUIETWAY_REGISTRY=$WORK/registry
    check "lab.reg imports" "$REG_TOOL" import "$LAB_REG"
    key='HKEY_LOCAL_MACHINE\SOFTWARE\Quietway2'
    for expect in "servers\\$LAB_SERVER_ID address $LAB_SERVER_IP" \
        "servers\\$LAB_SERVER2_ID address $LAB_SERVER2_IP" "servers\\$LAB_DEAD_ID address $LAB_DEAD_IP" \
        "servers\\$LAB_REFUSE_ID address $LAB_REFUSE_IP" "conf proxy_port $LAB_PROXY_PORT" \
        "conf tor_port $LAB_TOR_PORT" "http rpc_port 8988" "app app_dir $LAB_APP_DIR" \
        "app app_data $LAB_APP_DATA" "app check_ip_url $LAB_WHOAMI_URL" \
        "app check_dns_name $LAB_DNS_NAME" "app check_dns_address $LAB_DNS_TUNNEL_ADDR"; do
        set -- $expect
        check "store: $1 $2 is $3" [ "$("$REG_TOOL" query "$key\\$1" "$2")" = "$3" ]
    done
    for tool in openvpn plink curl quietway_dns; do
        check "app bin holds $tool" [ -x "$LAB_APP_DIR/bin/$tool" ]
    done
fi
