#!/usr/bin/env bash
# Account provisioning against the lab's real servers: apply_account run in the client
# namespace fetches the key files over FTPS, writes the credentials and the configuration,
# records the SSH host keys, fails the dead and the refusing server, activates the first ready
# one; the odd account runs nothing its texts spell; an OpenVPN client on each written
# configuration pings the tunnel peer. Brings the lab up when it is not, and down again if it
# did.
#
# usage: privacy_lab_test.sh PRIVACY_LAB_TOOL QUIETWAY_REG     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
LAB_SH=$ROOT/scripts/lab.sh
LAB_DIR=${QUIETWAY_LAB_DIR:-$ROOT/build/lab}
TOOL=$1
REG=$2
failures=0
passed=0
vpn_pid=

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passed=$((passed + 1))
    else fail "$what"; fi
}

[ "$(id -u)" = 0 ] || { echo "FAIL: the lab test needs root"; exit 1; }
brought_up=0
if ! "$LAB_SH" status >/dev/null 2>&1; then
    "$LAB_SH" up || { echo "FAIL: scripts/lab.sh up"; exit 1; }
    brought_up=1
fi
WORK=$(mktemp -d /tmp/qwprivacy-test.XXXXXX)

finish() {
    [ -n "$vpn_pid" ] && kill "$vpn_pid" 2>/dev/null && wait "$vpn_pid" 2>/dev/null
    rm -rf "$WORK"
    if [ $brought_up = 1 ]; then "$LAB_SH" down || fail "scripts/lab.sh down"; fi
    echo "$passed checks passed, $failures failed"
    [ $failures -eq 0 ]
}
trap 'finish; exit $?' EXIT

set -a
# shellcheck source=/dev/null
. "$LAB_DIR/lab.env"
set +a
C() { ip netns exec "$LAB_CLIENT_NS" "$@"; }

# A private store seeded from the lab, with the data directory in the test's own space; plink's
# host-key cache and the log there too.
export QUIETWAY_REGISTRY=$WORK/registry QUIETWAY_LOG_DIR=$WORK/log HOME=$WORK/home
mkdir -p "$QUIETWAY_LOG_DIR" "$HOME"
KEY='HKEY_LOCAL_MACHINE\SOFTWARE\Quietway2'
"$REG" import "$LAB_REG" >/dev/null || { fail "lab.reg imports"; exit 1; }
DATA=$WORK/data
"$REG" set "$KEY\\app" app_data --string "$DATA" || fail "app_data set"
status_of() { "$REG" query "$KEY\\servers\\$1" status; }
activated() { "$REG" query "$KEY\\servers" activated; }

# Programs an interpreter would run for the odd texts (`id`, `x` after `;&|`) leave a mark.
CANARY=$WORK/canary
mkdir -p "$CANARY"
for name in id x; do
    printf '#!/bin/sh\ntouch %s/ran-%s\n' "$WORK" "$name" >"$CANARY/$name"
    chmod 755 "$CANARY/$name"
done

quoted() {
    local s=${1//\\/\\\\}
    printf '"%s"' "${s//\"/\\\"}"
}
# The configuration written for server directory DIR (Linux form), independently of the code.
expected_config() {
    local dir=$1 ip=$2 user=$3
    cat <<END
client
dev qwaytun0
dev-type tun
proto udp
setenv opt block-outside-dns
remote $ip $LAB_VPN_PORT
resolv-retry infinite
nobind
persist-key
persist-tun
ca $(quoted "$dir/ca.crt")
cert $(quoted "$dir/$user.crt")
key $(quoted "$dir/$user.key")
auth-user-pass $(quoted "$dir/auth.cfg")
remote-cert-tls server
tls-auth $(quoted "$dir/ta.key") 1
cipher DES-EDE3-CBC
comp-lzo
verb 3
route-method exe
route-delay 2
tun-mtu 1500
tun-mtu-extra 32
fragment 1468
mssfix 1436
END
}

ping_through() {
    local config=$1 log=$2
    ip netns exec "$LAB_CLIENT_NS" openvpn --config "$config" >"$log" 2>&1 &
    vpn_pid=$!
    for _ in $(seq 300); do
        grep -q -e "Initialization Sequence Completed" -e AUTH_FAILED "$log" && break
        kill -0 "$vpn_pid" 2>/dev/null || break
        sleep 0.1
    done
    local ok=1
    for _ in 1 2 3 4 5; do
        C ping -c 1 -W 2 "$LAB_TUNNEL_PEER" >/dev/null 2>&1 && { ok=0; break; }
    done
    kill "$vpn_pid" 2>/dev/null
    wait "$vpn_pid" 2>/dev/null
    vpn_pid=
    [ $ok = 0 ] || tail -n 15 "$log"
    return $ok
}

printf '%s' "$LAB_PASSWORD" >"$WORK/pw" && chmod 600 "$WORK/pw"
C timeout 30 plink -ssh -batch -P "$LAB_SSH_PORT" -l "$LAB_USER" -pwfile "$WORK/pw" \
    "$LAB_SERVER_IP" exit 2>"$WORK/batch.err"
check "before: plink -batch stops at the unknown host key" \
    grep -q "Cannot confirm a host key in batch mode" "$WORK/batch.err"

for account in user odd; do
    echo "== $account account"
    if [ $account = user ]; then
        uvar=LAB_USER pvar=LAB_PASSWORD files=$LAB_USER_FILES
    else
        uvar=LAB_ODD_USER pvar=LAB_ODD_PASSWORD files=$LAB_ODD_USER_FILES
    fi
    user=${!uvar} password=${!pvar}
    active=$(PATH=$CANARY:$PATH C "$TOOL" "$uvar" "$pvar")
    rc=$?
    check "$account: apply_account succeeds" [ $rc = 0 ]
    check "$account: the first ready server is active (got $active)" [ "$active" = "$LAB_SERVER_ID" ]
    check "$account: activated is stored" [ "$(activated)" = "$LAB_SERVER_ID" ]
    for id in "$LAB_DEAD_ID" "$LAB_REFUSE_ID"; do
        check "$account: unreachable server $id failed" [ "$(status_of "$id")" = 2 ]
        check "$account: log line for server $id" \
            grep -q "apply_account: server $id failed in " "$QUIETWAY_LOG_DIR/QuietwayService.log"
    done
    for pair in "$LAB_SERVER_ID $LAB_SERVER_IP" "$LAB_SERVER2_ID $LAB_SERVER2_IP"; do
        set -- $pair
        id=$1 ip=$2 dir=$DATA/conf/$1
        check "$account: server $id ready" [ "$(status_of "$id")" = 1 ]
        for name in ca.crt ta.key "$user.crt" "$user.key"; do
            check "$account: $name of server $id is the served file" cmp -s "$dir/$name" "$files/$name"
        done
        check "$account: auth.cfg of server $id" cmp -s "$dir/auth.cfg" <(printf '%s\n%s' "$user" "$password")
        check "$account: auth.cfg of server $id is root's only" [ "$(stat -c %a "$dir/auth.cfg")" = 600 ]
        check "$account: vpn_conf.ovpn of server $id" \
            cmp -s "$dir/vpn_conf.ovpn" <(expected_config "$dir" "$ip" "$user")
        check "$account: no password file left in server $id" [ ! -e "$dir/plink.pw" ]
        printf '%s' "$password" >"$WORK/pw" && chmod 600 "$WORK/pw"
        check "$account: plink -batch to $ip finds the host key" \
            C timeout 30 plink -ssh -batch -P "$LAB_SSH_PORT" -l "$user" -pwfile "$WORK/pw" "$ip" exit
        check "$account: log line for server $id" \
            grep -q "apply_account: server $id ready in " "$QUIETWAY_LOG_DIR/QuietwayService.log"
    done
    check "$account: nothing the texts spell ran" bash -c "! ls '$WORK'/ran-* 2>/dev/null"
    check "$account: OpenVPN on the written configuration pings the tunnel peer" \
        ping_through "$DATA/conf/$LAB_SERVER_ID/vpn_conf.ovpn" "$WORK/openvpn-$account.log"
    : >"$QUIETWAY_LOG_DIR/QuietwayService.log"
done
