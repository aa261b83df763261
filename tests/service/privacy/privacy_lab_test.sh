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
TOOL=$1
REG=$2
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"

lab_require_root
lab_ensure_up
WORK=$(mktemp -d /tmp/qwprivacy-test.XXXXXX)

finish() {
    lab_stop_children
    lab_clean_up
}
trap 'finish; exit $?' EXIT

lab_export_env

lab_private_store
status_of() { "$REG" query "$KEY\\servers\\$1" status; }
activated() { "$REG" query "$KEY\\servers" activated; }

# Programs an interpreter would run for the odd texts (`id`, `x` after `;&|`) leave a mark.
CANARY=$WORK/canary
mkdir -p "$CANARY"
for name in id x; do
    printf '#!/bin/sh\ntouch %s/ran-%s\n' "$WORK" "$name" >"$CANARY/$name"
    chmod 755 "$CANARY/$name"
done

# Runs an OpenVPN client on CONFIG until the tunnel peer answers ping through it (or not).
ping_through() {
    local config=$1 log=$2
    lab_vpn_start "$config" "$log"
    local ok=1
    lab_ping_peer && ok=0
    lab_stop_children
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
            cmp -s "$dir/vpn_conf.ovpn" <(lab_vpn_config "$dir" "$ip" "$user"
                lab_vpn_dns_lines "$LAB_APP_DIR/bin" "$DATA")
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
