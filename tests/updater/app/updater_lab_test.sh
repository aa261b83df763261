#!/usr/bin/env bash
# The updater and the engine together in the lab's client namespace: quietway_updater -f
# watches quietway_service (started through a stand-in for systemctl) and syncs against a
# vendor server of the test's own on the namespace's loopback. A new server in the published
# list reaches the store, the engine is ended, started again and provisions it; while the
# tunnel is up the list is left alone; in OpenVPN mode with use_firewall the firewall program
# runs exactly while the tunnel is up. Brings the lab up when it is not, and down again if it
# did.
#
# usage: updater_lab_test.sh QUIETWAY_UPDATER QUIETWAY_SERVICE QUIETWAY_REG VENDOR_SERVER
#        QUIETWAY_FIREWALL     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
UPDATER=$1
SERVICE=$2
REG=$3
VENDOR=$4
FIREWALL=$5
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

lab_require_root
lab_quiet=1
lab_ensure_up
WORK=$(mktemp -d /tmp/qwupdater-test.XXXXXX)
updater_pid=
vendor_pid=

stop_pid() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null
    for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
finish() {
    stop_pid "$updater_pid"
    # The engine was started by the stand-in, not by this shell.
    local pid
    pid=$(cat "$ENGINE_PID_FILE" 2>/dev/null) && kill -TERM "$pid" 2>/dev/null &&
        for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    [ -z "${pid:-}" ] || kill -KILL "$pid" 2>/dev/null
    firewall_pids | xargs -r kill -KILL 2>/dev/null
    stop_pid "$vendor_pid"
    engine_clean_up
    lab_clean_up
}
trap 'finish; exit $?' EXIT

lab_export_env
engine_store
export QUIETWAY_DOWNLOAD_DIR=$WORK/downloads
export ENGINE=$SERVICE ENGINE_PID_FILE=$WORK/engine.pid ENGINE_OUT=$WORK/engine.out
export QUIETWAY_SYSTEMCTL=$ROOT/tests/updater/app/systemctl_standin.sh
ENGINE_LOG=$QUIETWAY_LOG_DIR/QuietwayService.log
UPDATER_LOG=$QUIETWAY_LOG_DIR/QuietwayUpdaterService.log

# The programs below app_dir: the lab's tools and this build's firewall program.
APP=$WORK/app
mkdir -p "$APP/bin"
cp -P "$LAB_APP_DIR"/bin/* "$APP/bin/"
ln -s "$FIREWALL" "$APP/bin/quietway_firewall"
"$REG" set "$KEY\\app" app_dir --string "$APP" >/dev/null || fail "app_dir set"

# Only this run's firewall program: its command line names this run's program directory.
firewall_pids() { pgrep -f -- "^$APP/bin/quietway_firewall" || true; }
firewall_runs() { [ -n "$(firewall_pids)" ]; }
no_firewall() { [ -z "$(firewall_pids)" ]; }
stored() { "$REG" query "$KEY\\$1" "$2" 2>/dev/null; }
logged() { grep -qF -- "$2" "$1" 2>/dev/null; }
# Polls COMMAND... every 0.25 s for up to SECONDS.
within() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 4))); do
        "$@" && return 0
        sleep 0.25
    done
    return 1
}

# The vendor's server list: the lab's four servers and, after them, the servers named in $@
# (number:name), each on the lab's first server's address.
publish_servers() {
    {
        echo "<QUIETWAY>"
        echo "<SERVER><NUMBER>1</NUMBER><NAME>Lab server</NAME><ADDRESS>$LAB_SERVER_IP</ADDRESS><IP></IP></SERVER>"
        echo "<SERVER><NUMBER>2</NUMBER><NAME>Lab server 2</NAME><ADDRESS>$LAB_SERVER2_IP</ADDRESS><IP></IP></SERVER>"
        echo "<SERVER><NUMBER>3</NUMBER><NAME>Lab dead server</NAME><ADDRESS>$LAB_DEAD_IP</ADDRESS><IP></IP></SERVER>"
        echo "<SERVER><NUMBER>4</NUMBER><NAME>Lab refusing server</NAME><ADDRESS>$LAB_REFUSE_IP</ADDRESS><IP></IP></SERVER>"
        local entry
        for entry in "$@"; do
            echo "<SERVER><NUMBER>${entry%%:*}</NUMBER><NAME>${entry#*:}</NAME><ADDRESS>$LAB_SERVER_IP</ADDRESS><IP>$LAB_SERVER_IP</IP></SERVER>"
        done
        echo "</QUIETWAY>"
    } >"$WORK/vendor/servers.xml.new"
    mv "$WORK/vendor/servers.xml.new" "$WORK/vendor/servers.xml"
}

echo "== vendor server on the client namespace's loopback"
mkdir -p "$WORK/vendor"
publish_servers "5:Lab server 5"
echo "<QUIETWAY></QUIETWAY>" >"$WORK/vendor/notifications.xml"
echo 1893456000 >"$WORK/vendor/expires.txt"
ip netns exec "$LAB_CLIENT_NS" "$VENDOR" --root "$WORK/vendor" --listen 127.0.0.1:0 \
    --requests "$WORK/vendor.requests" --port-file "$WORK/vendor.port" >"$WORK/vendor.out" 2>&1 &
vendor_pid=$!
within 30 test -s "$WORK/vendor.port" || { fail "the vendor server starts"; exit 1; }
VENDOR_URL=http://127.0.0.1:$(cat "$WORK/vendor.port")
for value in servers_list_url:servers.xml notification_get_url:notifications.xml \
    expiration_url:expires.txt update_server_url:version.txt; do
    "$REG" set "$KEY\\app" "${value%%:*}" --string "$VENDOR_URL/${value#*:}" >/dev/null ||
        fail "${value%%:*} set"
done

echo "== the updater starts the engine"
ip netns exec "$LAB_CLIENT_NS" "$UPDATER" -f >"$WORK/updater.out" 2>&1 &
updater_pid=$!
check "the updater runs" within 30 logged "$UPDATER_LOG" "Quietway Update Service running"
check "the watchdog started the engine" within 60 logged "$ENGINE_LOG" "Quietway2 Service running"
check "the API answers" within 30 test -n "$(rpc get_general)"
first_engine=$(cat "$ENGINE_PID_FILE")
check "the expiry from the vendor is stored" within 30 \
    bash -c "[ \"\$('$REG' query '$KEY\\general' account_expires)\" = 1893456000 ]"

echo "== a new server in the published list"
# The first update check leaves the list to the next one, 30 s later.
check "server 5 added" within 60 logged "$UPDATER_LOG" "add server: 5"
check "server 5 stored under its name" [ "$(stored 'servers\5' name)" = "Lab server 5" ]
check "last_index 5" [ "$(stored servers last_index)" = 5 ]
check "the engine was ended and started again" \
    within 60 bash -c "[ \"\$(cat '$ENGINE_PID_FILE')\" != $first_engine ] && grep -c 'Quietway2 Service running' '$ENGINE_LOG' | grep -qx 2"
check "the new engine provisioned server 5" within 120 \
    bash -c "[ \"\$('$REG' query '$KEY\\servers\\5' status)\" = 1 ]"
check "need_update_servers cleared" within 30 bash -c "[ \"\$('$REG' query '$KEY\\app' need_update_servers)\" = 0 ]"

echo "== the tunnel up: the firewall program runs, the list is left alone"
check "no firewall program before the tunnel" no_firewall
check "server 5 activated" [ "$(member error "$(rpc activate_server '{"index":"5"}')")" = 0 ]
check "start_privacy: error 0" [ "$(member error "$(rpc start_privacy)")" = 0 ]
check "connected" wait_status 3 60
check "the updater started the firewall program" within 15 firewall_runs
check "one firewall program" [ "$(firewall_pids | wc -l)" = 1 ]
check "the firewall program keeps running" bash -c "sleep 3; [ -n \"\$(pgrep -f -- '^$APP/bin/quietway_firewall')\" ]"
publish_servers "5:Lab server 5" "6:Lab server 6"
check "privacy on: the list is left alone" within 45 logged "$UPDATER_LOG" \
    "Can't update list of servers. Privacy is ON!"
check "privacy on: server 6 not stored" [ -z "$(stored 'servers\6' name)" ]
check "privacy on: last_index still 5" [ "$(stored servers last_index)" = 5 ]

echo "== the tunnel down: the firewall program is ended"
check "stop_privacy: error 0" [ "$(member error "$(rpc stop_privacy)")" = 0 ]
check "stopped" wait_status 1 60
check "the updater ended the firewall program" within 15 no_firewall
check "privacy off: server 6 added at the next sync" within 45 logged "$UPDATER_LOG" "add server: 6"

stop_pid "$updater_pid"
updater_pid=
check "the updater logged its end" logged "$UPDATER_LOG" "Quietway Update Service terminated"
