#!/usr/bin/env bash
# The two tunnel sessions against the lab's real servers, each run by sessions_lab_tool in the
# client namespace: OpenVPN connects, passes a ping and leaves no client or tun device after
# stop; a wrong password raises the recoverable event; the SSH tunnel in both modes reaches its
# own proxy through port 50000, with the password never on plink's command line; wrong
# password, refusing and dropping addresses end in status 1 with nothing left; the odd account
# connects in both SSH modes. Brings the lab up when it is not, and down again if it did.
#
# usage: sessions_lab_test.sh SESSIONS_LAB_TOOL PRIVACY_LAB_TOOL QUIETWAY_REG     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
TOOL=$1
PROVISION=$2
REG=$3
tool_pid=
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"

lab_require_root
lab_quiet=1
lab_ensure_up
WORK=$(mktemp -d /tmp/qwsessions-test.XXXXXX)

finish() {
    exec 3>&- 2>/dev/null
    [ -n "$tool_pid" ] && wait "$tool_pid" 2>/dev/null
    lab_clean_up
}
trap 'finish; exit $?' EXIT

lab_export_env

lab_private_store
LOG=$QUIETWAY_LOG_DIR/QuietwayService.log
SERVER_DIR=$DATA/conf/$LAB_SERVER_ID
PWFILE=$SERVER_DIR/ssh_tunnel.pw

# A session runs until fd 3 is closed; its observer calls land in $WORK/NAME.out.
begin() {
    local mode=$1 id=$2 name=$3
    rm -f "$WORK/ctl"
    mkfifo "$WORK/ctl"
    C "$TOOL" "$mode" "$id" <"$WORK/ctl" >"$WORK/$name.out" 2>&1 &
    tool_pid=$!
    exec 3>"$WORK/ctl"
    OUT=$WORK/$name.out
}
end() {
    exec 3>&-
    wait "$tool_pid"
    tool_pid=
}
# Waits up to SECONDS for LINE in the session's output.
seen() {
    local line=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        grep -qx "$line" "$OUT" && return 0
        sleep 0.1
    done
    tail -n 20 "$OUT" "$LOG" 2>/dev/null
    return 1
}
statuses() { grep -x 'status [0-9]' "$OUT" | tr '\n' ' '; }
nothing_of() { ! pgrep -f -- "$1" >/dev/null; }
# The name of the proxy that answered a request sent through the local forward.
proxy_name() {
    local name
    for _ in $(seq 20); do
        name=$(C curl -s -m 5 -D - -o /dev/null -x http://127.0.0.1:50000 http://10.99.0.1:1/ |
            tr -d '\r' | sed -n 's/^X-Lab-Proxy: //Ip')
        [ -n "$name" ] && { echo "$name"; return; }
        sleep 0.2
    done
}
port_closed() { ! C bash -c 'exec 5<>/dev/tcp/127.0.0.1/50000' 2>/dev/null; }
provision() {
    C "$PROVISION" "$1" "$2" >/dev/null || fail "provisioning with $1"
    [ "$("$REG" query "$KEY\\servers" activated)" = "$LAB_SERVER_ID" ] || fail "server active"
}

provision LAB_USER LAB_PASSWORD

echo "== OpenVPN"
begin vpn "$LAB_SERVER_ID" vpn
check "vpn: connected" seen "status 3" 60
check "vpn: status 2 then 3" [ "$(statuses)" = "status 2 status 3 " ]
check "vpn: ping through the tunnel" lab_ping_peer
check "vpn: the log holds the completion line" grep -q "Vpn completed token found" "$LOG"
end
check "vpn: stop gives status 1" [ "$(statuses)" = "status 2 status 3 status 1 " ]
check "vpn: no client left" nothing_of "$SERVER_DIR/vpn_conf.ovpn"
check "vpn: tun device gone" bash -c "! ip netns exec $LAB_CLIENT_NS ip link show qwaytun0 >/dev/null 2>&1"

cp "$SERVER_DIR/auth.cfg" "$WORK/auth.cfg"
printf '%s\n%s' "$LAB_USER" "$LAB_BAD_PASSWORD" >"$SERVER_DIR/auth.cfg"
begin vpn "$LAB_SERVER_ID" vpn-bad
check "vpn wrong password: ends in status 1" seen "status 1" 60
check "vpn wrong password: event 2" grep -qx "event 2" "$OUT"
check "vpn wrong password: never connected" bash -c "! grep -qx 'status 3' '$OUT'"
check "vpn wrong password: client gone" nothing_of "$SERVER_DIR/vpn_conf.ovpn"
end
cp "$WORK/auth.cfg" "$SERVER_DIR/auth.cfg"

tunnel() {
    local account=$1 mode=$2 proxy=$3 password=$4
    begin "$mode" "$LAB_SERVER_ID" "$account-$mode"
    check "$account $mode: connected" seen "status 3" 30
    check "$account $mode: status 2 then 3" [ "$(statuses)" = "status 2 status 3 " ]
    check "$account $mode: port 50000 reaches $proxy" [ "$(proxy_name)" = "$proxy" ]
    local plink_pid
    plink_pid=$(pgrep -f -- "$PWFILE" | head -n 1)
    check "$account $mode: plink runs" [ -n "$plink_pid" ]
    check "$account $mode: password not on the command line" \
        bash -c "[ -n '$plink_pid' ] && ! tr '\\0' '\\n' </proc/$plink_pid/cmdline | grep -qxF -- \"\$1\"" _ "$password"
    check "$account $mode: password file is root's only" [ "$(stat -c %a "$PWFILE")" = 600 ]
    end
    check "$account $mode: stop gives status 1" [ "$(statuses)" = "status 2 status 3 status 1 " ]
    check "$account $mode: port closed" port_closed
    check "$account $mode: no plink left" nothing_of "$PWFILE"
    check "$account $mode: password file removed" [ ! -e "$PWFILE" ]
}

echo "== SSH"
tunnel user ssh proxy "$LAB_PASSWORD"
tunnel user tor tor "$LAB_PASSWORD"
check "ssh: the log holds the connected line" grep -q "Ssh connected token found" "$LOG"

"$REG" set "$KEY\\general" password --string "$LAB_BAD_PASSWORD" || fail "password set"
# The failing servers of provisioning made ready, so that the session runs plink against them.
for id in "$LAB_DEAD_ID" "$LAB_REFUSE_ID"; do
    "$REG" set "$KEY\\servers\\$id" status --dword 1 || fail "server $id made ready"
done
for case in "wrong-password $LAB_SERVER_ID" "refusing $LAB_REFUSE_ID" "dropping $LAB_DEAD_ID"; do
    set -- $case
    begin ssh "$2" "ssh-$1"
    check "ssh $1: ends in status 1" seen "status 1" 60
    check "ssh $1: never connected" bash -c "! grep -qx 'status 3' '$OUT'"
    check "ssh $1: no plink left" nothing_of "-pwfile $DATA/conf/$2/"
    check "ssh $1: password file removed" [ ! -e "$DATA/conf/$2/ssh_tunnel.pw" ]
    end
done
check "ssh: the log holds the error line" grep -q "Ssh error token found" "$LOG"

echo "== odd account"
provision LAB_ODD_USER LAB_ODD_PASSWORD
tunnel odd ssh proxy "$LAB_ODD_PASSWORD"
tunnel odd tor tor "$LAB_ODD_PASSWORD"
