#!/usr/bin/env bash
# quietway_ctl drives a whole session against quietway_service -f in the lab, through the tool
# only: the account applied, the servers listed and edited, OpenVPN with the kill switch, the
# status in words and JSON, a switch of server, a disconnect, a setting off and on; and the
# console user through the web page's credential; the refusals: bad words, a password as an
# argument, another local account, the engine stopped.
#
# usage: ctl_lab_test.sh QUIETWAY_SERVICE QUIETWAY_CTL QUIETWAY_REG     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
SERVICE=$1
CTL=$2
REG=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

engine_lab_begin qwctl-test

# Runs the tool in the client namespace: OUT and ERR what it printed, RC its exit status.
run() {
    OUT=$(C "$CTL" "$@" 2>"$WORK/ctl.err")
    RC=$?
    ERR=$(cat "$WORK/ctl.err")
}
# WHAT STATUS TEXT WORDS...: the tool exits with STATUS and prints TEXT (a whole line).
expect() {
    local what=$1 status=$2 text=$3
    shift 3
    run "$@"
    check "$what: exit status $status (got $RC)" [ "$RC" = "$status" ]
    check "$what: prints '$text'" grep -qxF -- "$text" <<<"$OUT"$'\n'"$ERR"
}
# A member of the JSON object the tool printed, by a Python expression on `j`.
json() { python3 -c 'import json, sys; j = json.loads(sys.stdin.read()); print(eval(sys.argv[1]))' "$1" <<<"$OUT"; }
server() { echo "$1 $2 ($3)"; }
lacks() { ! grep -qF -- "$1" <<<"$OUT"; }

# The engine sees CONSOLE_USER active at seat0: a mount namespace of its own with a tmpfs over
# /run/systemd holding the seat's and the session's state files, which is where sd-login looks.
CONSOLE_USER=daemon
cat >"$WORK/seated_service" <<END
#!/usr/bin/env bash
exec unshare -m --propagation private bash -c 'mount -t tmpfs -o mode=0755 tmpfs /run/systemd &&
    mkdir /run/systemd/seats /run/systemd/sessions &&
    printf "ACTIVE=c1\nACTIVE_UID=$(id -u $CONSOLE_USER)\n" >/run/systemd/seats/seat0 &&
    printf "CLASS=user\n" >/run/systemd/sessions/c1 && exec "\$0" "\$@"' "$SERVICE" "\$@"
END
chmod 755 "$WORK/seated_service"
SERVICE=$WORK/seated_service
engine_start || { fail "quietway_service -f runs"; exit 1; }
S1=$(server "$LAB_SERVER_ID" "Lab server" "$LAB_SERVER_IP")
S2=$(server "$LAB_SERVER2_ID" "Lab server 2" "$LAB_SERVER2_IP")

echo "== bad usage"
expect "unknown command" 2 "quietway_ctl: unknown command 'restart'" restart
expect "missing argument" 2 "quietway_ctl: account apply needs the USER name" account apply
expect "password as an argument" 2 "quietway_ctl: a password is never taken as an argument (other users can read it): type it at the prompt or give it with --password-stdin" \
    account apply "$LAB_USER" "$LAB_PASSWORD"
check "password as an argument: usage shown" grep -q '^usage: quietway_ctl' <<<"$ERR"

echo "== account and servers"
expect "account apply" 0 "the account is applied" account apply "$LAB_USER" --password-stdin <<<"$LAB_PASSWORD"
for line in "$S1: ready" "$S2: ready" "active server: $S1"; do
    check "account apply: prints '$line'" grep -qxF -- "$line" <<<"$OUT"
done
check "account apply: the dead server failed" grep -qx "$LAB_DEAD_ID Lab dead server (.*): failed" <<<"$OUT"
expect "servers" 0 "* $S1 ready" servers
run --json servers
check "servers --json: four servers, the first active" \
    [ "$(json '[s["id"] for s in j["servers"] if s["activated"]] + [len(j["servers"])]')" = "[1, 4]" ]
expect "servers add" 0 "  5 Lab extra (10.99.0.250) not prepared" servers add "Lab extra" 10.99.0.250
expect "servers edit" 0 "  5 Lab extra B (10.99.0.250) not prepared" servers edit 5 --name "Lab extra B"
expect "servers delete" 0 "* $S1 ready" servers delete "Lab extra B"
check "servers delete: gone" lacks "Lab extra"

echo "== OpenVPN with the kill switch"
expect "set kill-switch on" 0 "kill switch:     on" set kill-switch on
expect "connect" 0 "server:       $S1, connected to $LAB_SERVER_IP" connect --type openvpn
check "connect: ping through the tunnel" lab_ping_peer
check "connect: a filter table is in place" filter_table
expect "status" 0 "state:        connected" status
for line in "type:         openvpn" "kill switch:  on" "elsewhere:    the account is not in use elsewhere"; do
    check "status: prints '$line'" grep -qxF -- "$line" <<<"$OUT"
done
run --json status
check "status --json: one object with the session" \
    [ "$(json '(j["state"], j["type"], j["server"]["id"], j["server"]["connected_to"], j["kill_switch"], j["same_account_elsewhere"])')" = \
      "('connected', 'openvpn', 1, '$LAB_SERVER_IP', True, False)" ]
expect "set while connected: the engine's sentence" 1 \
    "quietway_ctl: This can only be changed while disconnected. Disconnect first, then try again." \
    set kill-switch off

echo "== switch server, disconnect"
expect "connect --server NAME" 0 "server:       $S2, connected to $LAB_SERVER2_IP" connect --server "Lab server 2"
check "switched: ping through the tunnel" lab_ping_peer
expect "disconnect" 0 "disconnected" disconnect
check "disconnect: no filter table left" no_filter_table
expect "status after disconnect" 0 "state:        stopped" status

echo "== a setting off and on"
expect "set auto-connect off" 0 "auto-connect:    off" set auto-connect off
expect "set auto-connect on" 0 "auto-connect:    on" set auto-connect on
run --json settings
check "settings --json: auto-connect and kill switch on" \
    [ "$(json '(j["auto_connect"], j["kill_switch"])')" = "(True, True)" ]

echo "== the console user and another local account"
BIN=$(mktemp -d /tmp/qwctl-bin.XXXXXX)
chmod 755 "$BIN" && cp "$CTL" "$BIN/"
as() { # USER WORDS...: the tool as USER, what it printed in OUT
    local user=$1
    shift
    OUT=$(C runuser -u "$user" -- "$BIN/quietway_ctl" "$@" 2>&1)
    RC=$?
}
as "$CONSOLE_USER" status
check "console user: status answered (exit $RC)" [ "$RC" = 0 ]
check "console user: the state in words" grep -qxF "state:        stopped" <<<"$OUT"
as nobody status
check "nobody: exit status 1 (got $RC)" [ "$RC" = 1 ]
check "nobody: refused in words" grep -qxF "quietway_ctl: Only root (an administrator on Windows) or the user of the active console session may control Quietway." <<<"$OUT"
rm -rf "$BIN"

echo "== the engine stopped"
engine_stop TERM
expect "engine stopped" 1 "quietway_ctl: The Quietway service does not answer. Check that it is running." status
