#!/usr/bin/env bash
# The Debian package under a real systemd: the package holds both units and the manual pages;
# install, both services running from the packaged units and the API on the loopback, no
# vendor addresses in a package built without a vendor, the engine's log lines in the journal,
# the engine started again after SIGKILL, an upgrade to a newer build keeping the store's
# values, bringing back a tunnel it interrupted and replacing a unit an older package wrote
# into /etc, a masked and a disabled service staying so across an upgrade, apt remove ending a
# running tray and stopping and removing the services, purge removing the data, the downloads
# and the services' enabled state.
#
# Usage: deb_install_test.sh SOURCE_DIR BUILD_DIR   (root)
set -euo pipefail

source_dir=$1
build_dir=$2
# shellcheck source=tests/package/package_test_lib.sh
source "$(dirname "$0")/package_test_lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "needs root (debootstrap, systemd-nspawn)"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quietway-deb-test.XXXXXX")
cleanup() {
  stop_container
  rm -rf "$work"
}
trap cleanup EXIT

# Two builds of the same tree: the project's version and a newer one for the upgrade.
old_version=$(project_version "$source_dir")
new_version=${old_version%.*}.$((${old_version##*.} + 1))
old_deb=$(build_deb "$source_dir" "$build_dir" "$work" "$old_version")
new_deb=$(build_deb "$source_dir" "$build_dir" "$work" "$new_version")

echo "== contents"
# Listed once: grep -q leaving a pipe early would fail its writer under pipefail.
deb_files=$(dpkg-deb -c "$old_deb" | awk '{print $6}')
in_deb() { grep -qxF "./$1" <<<"$deb_files"; }
for file in lib/systemd/system/Quietway2.service lib/systemd/system/QuietwayUpdater.service \
  usr/share/man/man8/quietway_{service,updater,firewall,reg}.8.gz \
  usr/share/man/man1/quietway_{tray,ctl}.1.gz usr/share/bash-completion/completions/quietway_ctl; do
  check "the package holds /$file" in_deb "$file"
done

# A display for the tray.
boot_root_for "$old_deb" "$build_dir" "$work/nspawn.log" xvfb xauth
inside=/proc/$CONTAINER_PID/root
cp "$old_deb" "$inside/tmp/old.deb"
cp "$new_deb" "$inside/tmp/new.deb"

reg() { in_container /opt/quietway/bin/quietway_reg "$@"; }
active() { [ "$(in_container systemctl is-active "$1")" = active ]; }
main_pid() { in_container systemctl show -p MainPID --value "$1"; }
inactive() { ! active "$1"; }
both_active() { active Quietway2.service && active QuietwayUpdater.service; }

# A JSON-RPC call inside the container, the password given on standard input, never as an
# argument.
rpc() { # METHOD PASSWORD
  local password=$2
  printf 'user = "quietway:%s"\n' "$password" |
    in_container curl -sS -m 10 -K - -H 'Content-Type: application/json' \
      --data "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"$1\"}" http://127.0.0.1:8988/
}

# Listening sockets on port 8988 (0x231C) as "address:state" from the container's netns.
listeners_8988() {
  in_container cat /proc/net/tcp /proc/net/tcp6 | awk '$4 == "0A" && $2 ~ /:231C$/ {print $2}'
}

echo "== install"
check "dpkg -i installs" in_container dpkg -i /tmp/old.deb
check "both services active (Type=notify, READY reached)" eventually both_active
check "the engine's unit is the host's Type=notify unit" \
  test "$(in_container systemctl show -p Type --value Quietway2.service)" = notify
check "both enabled" in_container systemctl is-enabled -q Quietway2.service QuietwayUpdater.service
# The unit systemd loaded is the file the package installed, not one in /etc.
from_package() { # UNIT
  local loaded
  loaded=$(in_container systemctl show -p FragmentPath --value "$1")
  [ -n "$loaded" ] && [ "$(in_container readlink -f "$loaded")" = "$(in_container readlink -f "/lib/systemd/system/$1")" ] &&
    in_container dpkg -S "/lib/systemd/system/$1" >/dev/null
}
check "the engine's unit is the package's" from_package Quietway2.service
check "the updater's unit is the package's" from_package QuietwayUpdater.service
password=$(reg query 'SOFTWARE\Quietway2\http' rpc_password)
check "a random 32-digit API password, not the default" \
  bash -c '[[ $1 =~ ^[0-9a-f]{32}$ ]]' _ "$password"
check "app_dir and app_version set" \
  test "$(reg query 'SOFTWARE\Quietway2\app' app_dir)/$(reg query 'SOFTWARE\Quietway2\app' app_version)" \
  = "/opt/quietway/$old_version"
check "defaults seeded" test "$(reg query 'SOFTWARE\Quietway2\conf' vpn_port)" = 1194
check "links to the system's tools" \
  test "$(readlink "$inside/opt/quietway/bin/plink")" = /usr/bin/plink
check "the API listens" eventually test -n "$(listeners_8988)"
check "the API listens on 127.0.0.1 only" test "$(listeners_8988)" = 0100007F:231C
answer=$(rpc get_general "$password" || true)
check "the API answers a call with the machine's password" grep -q '"privacy_status":1' <<<"$answer"
answer=$(rpc get_general quietway || true)
check "the default password is refused" bash -c '! grep -q privacy_status <<<"$1"' _ "$answer"
web_page() { in_container curl -sf -m 10 http://127.0.0.1:8988/ | grep -qi '<html'; }
check "the web interface is served" eventually web_page
no_record_address() { ! reg query 'SOFTWARE\Quietway2\app' update_server_url >/dev/null 2>&1; }
check "no version record address without a vendor" no_record_address
logged() { grep -qF "$2" "$inside/var/log/quietway/$1" 2>/dev/null; }
check "the syncs say there is no vendor" \
  eventually logged QuietwayUpdaterService.log "No vendor configured: notification sync is off"

journal_has() { in_container journalctl -u "$1" --no-pager -o cat | grep -qxF "$2"; }
check "journalctl -u Quietway2 holds the engine's lines" \
  eventually journal_has Quietway2.service "Quietway2 Service running"
check "and its log file too" logged QuietwayService.log "Quietway2 Service running"

# The engine's sandbox as the package's unit sets it, for a transient unit: OpenVPN still
# makes its tunnel device there, the kill switch's table comes and goes, the tunnel's name
# server is set and taken back, and a program runs as another user and is ended.
mapfile -t sandbox < <(sed -n '/^KillMode=/,/^$/{/^KillMode=/d; /^[A-Z]/s/^/--property=/p}' \
  "$inside/lib/systemd/system/Quietway2.service")
boxed() { in_container systemd-run --wait -q "${sandbox[@]}" "$@"; }
check "the engine's unit has its sandbox" test "${#sandbox[@]}" -gt 10
check "OpenVPN makes its tunnel device in the engine's sandbox" \
  boxed openvpn --mktun --dev qwaytun0 --dev-type tun
check "the device is there" in_container test -e /sys/class/net/qwaytun0
# The updater ends firewall programs it did not start unless the kill switch is off.
reg set 'SOFTWARE\Quietway2\general' use_firewall --dword 0 >/dev/null
reg set 'SOFTWARE\Quietway2\servers' last_index --dword 1 >/dev/null
reg set 'SOFTWARE\Quietway2\servers\1' address_ip --string 10.99.9.1 >/dev/null
in_container systemd-run -q --unit=qwfw "${sandbox[@]}" /opt/quietway/bin/quietway_firewall
kill_switch_up() { nsenter -t "$CONTAINER_PID" -n nft list tables | grep -q "^table inet quietway_"; }
kill_switch_gone() { ! kill_switch_up; }
check "the kill switch's table is made in the engine's sandbox" eventually kill_switch_up
in_container systemctl stop qwfw
check "and is gone when the program ends" kill_switch_gone
reg delete 'SOFTWARE\Quietway2\servers\1' >/dev/null
reg set 'SOFTWARE\Quietway2\servers' last_index --dword 0 >/dev/null
reg set 'SOFTWARE\Quietway2\general' use_firewall --dword 1 >/dev/null
# This root has no systemd-resolved: the tunnel's name server goes into /etc/resolv.conf.
dns_state=$(reg query 'SOFTWARE\Quietway2\app' app_data)/dns
check "quietway_dns sets the tunnel's name server in the engine's sandbox" boxed -E dev=qwaytun0 \
  -E "foreign_option_1=dhcp-option DNS 10.8.0.1" /opt/quietway/bin/quietway_dns up "$dns_state"
check "into /etc/resolv.conf" grep -qx 'nameserver 10.8.0.1' "$inside/etc/resolv.conf"
check "and takes it back" boxed /opt/quietway/bin/quietway_dns down "$dns_state"
check "out of /etc/resolv.conf" bash -c '! grep -q 10.8.0.1 "$1"' _ "$inside/etc/resolv.conf"
# The proxy switch runs the desktop's settings tool as the user, and kills it when it hangs.
check "a program runs as another user in the engine's sandbox and is killed" boxed sh -c \
  'setpriv --reuid=nobody --regid=nogroup --init-groups sh -c "echo \$\$; exec sleep 10" |
    { read -r pid && [ "$(stat -c %u "/proc/$pid")" = 65534 ] && kill -KILL "$pid"; }'

echo "== the engine's start fails"
# An API address it cannot listen on ends the engine's start: it exits with a failure, and
# systemd starts it again.
reg set 'SOFTWARE\Quietway2\http' rpc_port --string 127.0.0.1:99999 >/dev/null
in_container systemctl restart Quietway2.service
restarted_by_systemd() { [ "$(in_container systemctl show -p NRestarts --value Quietway2.service)" -gt 0 ]; }
check "systemd restarts an engine whose start failed" eventually restarted_by_systemd
check "the journal says why" journal_has Quietway2.service "start rpc failed"
reg set 'SOFTWARE\Quietway2\http' rpc_port --string 127.0.0.1:8988 >/dev/null
in_container systemctl reset-failed Quietway2.service
in_container systemctl restart Quietway2.service
check "the engine runs again with its address back" eventually active Quietway2.service

echo "== the engine killed"
first_pid=$(main_pid Quietway2.service)
in_container kill -KILL "$first_pid"
restarted() { local p; p=$(main_pid Quietway2.service); [ "$p" != 0 ] && [ "$p" != "$first_pid" ] && active Quietway2.service; }
check "the engine runs again under a new process" eventually restarted

echo "== upgrade"
reg set 'SOFTWARE\Quietway2\general' user --string alice >/dev/null
reg set 'SOFTWARE\Quietway2\general' mode --dword 0 >/dev/null
reg set 'SOFTWARE\Quietway2\conf' vpn_port --string 443 >/dev/null
# As if a tunnel were starting: the upgrade stops it, the new engine starts it again.
reg set 'SOFTWARE\Quietway2\app' privacy_status --dword 2 >/dev/null
# What older packages seeded: their loopback test vendor.
reg set 'SOFTWARE\Quietway2\app' update_server_url \
  --string http://127.0.0.1:8090/updater/quietway_version.txt >/dev/null
# What older packages left: the unit the program's own "-i" wrote into /etc, enabled there,
# and nothing recorded by deb-systemd-helper.
cp "$inside/lib/systemd/system/QuietwayUpdater.service" "$inside/etc/systemd/system/"
ln -sfn /etc/systemd/system/QuietwayUpdater.service \
  "$inside/etc/systemd/system/multi-user.target.wants/QuietwayUpdater.service"
rm -f "$inside"/var/lib/systemd/deb-systemd-helper-enabled/{,multi-user.target.wants/}QuietwayUpdater.service*
in_container systemctl daemon-reload
updater_pid=$(main_pid QuietwayUpdater.service)
check "dpkg -i of the newer build upgrades" in_container dpkg -i /tmp/new.deb
check "both services active after the upgrade" eventually both_active
check "the updater was restarted" test "$(main_pid QuietwayUpdater.service)" != "$updater_pid"
check "user settings kept" \
  test "$(reg query 'SOFTWARE\Quietway2\general' user)/$(reg query 'SOFTWARE\Quietway2\general' mode)/$(reg query 'SOFTWARE\Quietway2\conf' vpn_port)" = "alice/0/443"
check "the API password kept" test "$(reg query 'SOFTWARE\Quietway2\http' rpc_password)" = "$password"
check "app_version is the new one" \
  test "$(reg query 'SOFTWARE\Quietway2\app' app_version)" = "$new_version"
check "the new engine brought the interrupted tunnel back" \
  eventually logged QuietwayService.log "Privacy was on before the upgrade. Restart privacy."
check "and cleared the request" test "$(reg query 'SOFTWARE\Quietway2\app' privacy_resume)" = 0
check "the older packages' loopback vendor is gone" no_record_address
check "the older package's unit in /etc is gone" test ! -e "$inside/etc/systemd/system/QuietwayUpdater.service"
check "the updater runs from the package's unit again" from_package QuietwayUpdater.service
check "and is still enabled" in_container systemctl is-enabled -q QuietwayUpdater.service

echo "== masked and disabled across an upgrade"
in_container systemctl mask Quietway2.service
in_container systemctl disable QuietwayUpdater.service
check "dpkg -i of the same build again" in_container dpkg -i /tmp/new.deb
for unit_state in Quietway2.service:masked QuietwayUpdater.service:disabled; do
  unit=${unit_state%%:*}
  check "$unit is still ${unit_state#*:}" test "$(in_container systemctl is-enabled "$unit")" = "${unit_state#*:}"
  check "and not started" inactive "$unit"
done
in_container systemctl unmask Quietway2.service
in_container systemctl enable --now Quietway2.service QuietwayUpdater.service

echo "== removal"
in_container systemd-run --quiet --unit=tray xvfb-run -a /opt/quietway/bin/quietway_tray
# Paths in /proc/*/exe read right only from inside.
tray_running() {
  in_container sh -c 'for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe")" = /opt/quietway/bin/quietway_tray ] && exit 0; done; exit 1' 2>/dev/null
}
no_tray() { ! tray_running; }
check "a tray runs" eventually tray_running
check "it logs to ~/.local/state/quietway" \
  eventually test -s "$inside/root/.local/state/quietway/Quietway2Tray.log"
check "apt remove removes" in_container apt-get remove -y -q quietway
check "and ended the tray" no_tray
check "no unit files left" bash -c '! ls "$1"/{etc,lib}/systemd/system/Quiet* 2>/dev/null' _ "$inside"
none_active() { ! in_container systemctl is-active -q Quietway2.service QuietwayUpdater.service; }
check "neither service active" none_active
no_programs() { ! in_container sh -c 'cat /proc/[0-9]*/comm 2>/dev/null' | grep -qxE 'quietway_(service|updater)'; }
check "no service process left" eventually no_programs
check "the store is kept after removal" test -d "$inside/var/lib/quietway/registry"
# Where the updater keeps its downloads, as it makes it.
in_container install -d -m 0755 /var/cache/quietway/downloads
check "dpkg --purge purges" in_container dpkg --purge quietway
check "the store is gone after purge" test ! -e "$inside/var/lib/quietway"
check "the services' enabled state is gone after purge" \
  bash -c '! ls "$1"/etc/systemd/system/*.wants/Quiet* 2>/dev/null' _ "$inside"
check "the downloads are gone after purge" test ! -e "$inside/var/cache/quietway"

echo "failures: $failures"
[ "$failures" -eq 0 ]
