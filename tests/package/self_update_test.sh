#!/usr/bin/env bash
# The updater's self-update path on the installed package. Without a signing key in the store
# it is off. With one, a newer build signed by another key is refused; signed by the vendor's
# key the running updater downloads it, checks it and installs it with dpkg, and the newer
# version is what runs afterwards. A signed newer build whose preinst fails leaves the old
# version running, both services active, dpkg's exit and output in the updater's log, and is
# not tried again.
#
# Usage: self_update_test.sh SOURCE_DIR BUILD_DIR VENDOR_SERVER   (root)
set -euo pipefail

source_dir=$1
build_dir=$2
vendor_server=$3
# shellcheck source=tests/package/package_test_lib.sh
source "$(dirname "$0")/package_test_lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "needs root (debootstrap, systemd-nspawn)"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quietway-self-update.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  stop_container
  rm -rf "$work"
}
trap cleanup EXIT

installed=$(project_version "$source_dir")
first=${installed%.*}.$((${installed##*.} + 1))
second=${installed%.*}.$((${installed##*.} + 2))
installed_deb=$(build_deb "$source_dir" "$build_dir" "$work" "$installed")
first_deb=$(build_deb "$source_dir" "$build_dir" "$work" "$first")
second_deb=$(build_deb "$source_dir" "$build_dir" "$work" "$second")
boot_root_for "$installed_deb" "$build_dir" "$work/nspawn.log"
inside=/proc/$CONTAINER_PID/root
cp "$installed_deb" "$inside/tmp/installed.deb"

app_key='SOFTWARE\Quietway2\app'
reg() { in_container /opt/quietway/bin/quietway_reg "$@"; }
active() { [ "$(in_container systemctl is-active "$1")" = active ]; }
both_active() { active Quietway2.service && active QuietwayUpdater.service; }
runs_version() { # VERSION: installed, configured and both services up again
  [ "$(in_container dpkg-query -W -f '${Version} ${Status}' quietway)" = \
    "$1 install ok installed" ] && both_active
}
updater_log() { cat "$inside/var/log/quietway/QuietwayUpdaterService.log" 2>/dev/null || true; }
logged() { updater_log | grep -qF "$1"; }

check "the project's version installs" in_container dpkg -i /tmp/installed.deb
check "both services active" eventually both_active

# The container has a network of its own: the vendor server listens on its loopback, serving
# files from here.
site=$work/site
mkdir -p "$site"
nsenter -t "$CONTAINER_PID" -n "$vendor_server" --root "$site" --listen 127.0.0.1:0 \
  --requests "$work/requests.log" --port-file "$work/port" >"$work/server.log" 2>&1 &
server_pid=$!
eventually test -s "$work/port" || { cat "$work/server.log" >&2; exit 1; }
url=http://127.0.0.1:$(cat "$work/port")

# Offers DEB through the version record, signed with KEY when one is given.
publish() { # DEB [KEY]
  local name
  name=$(basename "$1")
  cp "$1" "$site/$name"
  rm -f "$site/$name.sig"
  if [ -n "${2:-}" ]; then
    openssl pkeyutl -sign -inkey "$2" -rawin -in "$site/$name" -out "$site/$name.sig"
  fi
  printf '%s %s %s %s\n' "$(dpkg-deb -f "$1" Version)" "$name" \
    "$(md5sum <"$1" | cut -d' ' -f1)" "$url/$name" >"$site/version.txt"
}
# The updater reads the server's address when it starts and checks at once.
reg set "$app_key" update_server_url --string "$url/version.txt" >/dev/null
restart_updater() { in_container systemctl restart QuietwayUpdater.service; }

check "without a signing key self-update is off" \
  eventually logged "Self-update is OFF: no valid signing key"

for key in vendor other; do
  openssl genpkey -algorithm ed25519 -out "$work/$key.pem" 2>/dev/null
done
public_key=$(openssl pkey -in "$work/vendor.pem" -pubout -outform DER | tail -c 32 |
  od -An -tx1 | tr -d ' \n')
reg set "$app_key" update_public_key --string "$public_key" >/dev/null

echo "== a newer version signed by another key"
publish "$first_deb" "$work/other.pem"
restart_updater
check "a signature by another key is refused" within 60 logged "Installer signature INVALID!"
check "nothing installed then" runs_version "$installed"

echo "== a newer version signed by the vendor"
publish "$first_deb" "$work/vendor.pem"
restart_updater
check "the newer version installed and running" within 120 runs_version "$first"
check "app_version is the newer one" test "$(reg query "$app_key" app_version)" = "$first"
check "the updater logged the download" logged "Download update succesfull!"
check "the updater logged the install" logged "Installing new version!!!"
check "the package and its signature were fetched from the vendor server" \
  grep -qx "GET /$(basename "$first_deb").sig" "$work/requests.log"
check "the new updater logged dpkg's success" \
  within 30 logged "$(basename "$first_deb") finished: dpkg exit code 0"

echo "== a newer version whose preinst fails"
failing=$work/failing
dpkg-deb -R "$second_deb" "$failing"
printf '%s\n' '#!/bin/sh' 'echo "preinst refuses on purpose" >&2' 'exit 1' >"$failing/DEBIAN/preinst"
chmod 0755 "$failing/DEBIAN/preinst"
failing_deb=$work/quietway_${second}_failing.deb
dpkg-deb --root-owner-group -Zgzip --build "$failing" "$failing_deb" >/dev/null
publish "$failing_deb" "$work/vendor.pem"
restart_updater
check "the updater logged dpkg's failure" \
  within 120 logged "$(basename "$failing_deb") finished: dpkg exit code 1"
check "the updater logged dpkg's output" logged "dpkg: preinst refuses on purpose"
check "the updater does not try that version again" \
  within 60 logged "Version $second was installed once and did not take"
check "the old version still installed and running" runs_version "$first"
check "app_version is still the old one" test "$(reg query "$app_key" app_version)" = "$first"

echo "failures: $failures"
[ "$failures" -eq 0 ]
