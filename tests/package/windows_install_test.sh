#!/usr/bin/env bash
# The Windows setup program under Wine in a fresh prefix: a silent install (/VERYSILENT)
# leaves the files, the store's values, both services, the event source and the programs the
# engine runs (the setup log tells whether a TAP adapter is there); a second silent
# install of a newer build (/S, the updater's path) keeps the user's settings and drops the
# loopback vendor older setups seeded; the uninstaller removes what the installer added. The
# setup program names its product and version in its version resource.
#
# Usage: windows_install_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2

# Wine wants a display for its first boot; the test brings its own.
if [ -z "${QUIETWAY_PACKAGE_TEST_DISPLAY:-}" ]; then
  QUIETWAY_PACKAGE_TEST_DISPLAY=1 exec xvfb-run -a bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quietway-setup-test.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/package/package_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/package_test_lib.sh"
eventually() { within 10 "$@"; }

old_version=$(project_version "$source_dir")
new_version=${old_version%.*}.$((${old_version##*.} + 1))
for v in "$old_version" "$new_version"; do
  QUIETWAY_PACKAGE_VERSION=$v QUIETWAY_PACKAGE_OUT=$work/out QUIETWAY_WINDOWS_BUILD=$build_dir \
    "$source_dir/scripts/package.sh" windows >/dev/null
done

app=$WINEPREFIX/drive_c/Program\ Files/Quietway
reg() { wine 'C:\Program Files\Quietway\bin\quietway_reg.exe' "$@" 2>/dev/null | tr -d '\r'; }
running() { wine sc query "$1" 2>/dev/null | grep -q 'STATE *: *4 *RUNNING'; }
both_running() { running Quietway2 && running QuietwayUpdater; }
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

# The first boot goes on in the background after wineboot returns; the service manager then
# refuses work ("database locked"). Wait until every process of that boot has ended.
wineboot -i >/dev/null 2>&1
wineserver -w

# The version resource's texts in order, as the updater reads them before a run.
version_texts() { wrestool -x --raw -t 16 "$1" | strings -el | paste -sd ' '; }
check "the setup program names its product and version" \
  bash -c '[[ $1 == *"ProductName Quietway ProductVersion $2"* ]]' _ \
  "$(version_texts "$work/out/quietway-setup-$old_version.exe")" "$old_version"

echo "== silent install"
# A downloads folder that another user made before the installation, open to everyone.
downloads=$WINEPREFIX/drive_c/ProgramData/Quietway/downloads
mkdir -p "$downloads" && chmod 0777 "$downloads"
check "setup /VERYSILENT exits 0" wine "$work/out/quietway-setup-$old_version.exe" /VERYSILENT
check "the programs and the web interface are in place" \
  test -f "$app/bin/quietway_service.exe" -a -f "$app/bin/quietway_updater.exe" \
  -a -f "$app/bin/quietway_tray.exe" -a -f "$app/bin/quietway_reg.exe" -a -f "$app/web/index.html"
check "both services running" eventually both_running
# Wine keeps a folder's access list as its mode: Everyone (other users) must have nothing.
conf_mode=$(stat -c %a "$WINEPREFIX/drive_c/ProgramData/Quietway/conf")
check "the conf folder is closed to other users (mode $conf_mode)" test $((0$conf_mode & 7)) -eq 0
downloads_mode=$(stat -c %a "$downloads")
check "the downloads folder made before is taken over (mode $downloads_mode)" \
  test $((0$downloads_mode & 2)) -eq 0
check "the event source is registered" \
  key_exists 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QuietwayUpdater'
password=$(reg query 'SOFTWARE\Quietway2\http' rpc_password)
check "a generated 32-digit API password" bash -c '[[ $1 =~ ^[0-9A-F]{32}$ ]]' _ "$password"
check "installation values written" \
  test "$(reg query 'SOFTWARE\Quietway2\app' app_dir)|$(reg query 'SOFTWARE\Quietway2\http' rpc_port)|$(reg query 'SOFTWARE\Quietway2\app' app_version)" \
  = "C:\\Program Files\\Quietway|127.0.0.1:8988|$old_version"
check "defaults seeded" test "$(reg query 'SOFTWARE\Quietway2\conf' ssh_port)" = 22

echo "== the programs the engine runs, answering from bin with Debian's versions"
while read -r program argument expected; do
  check "$program $argument answers '$expected'" bash -c \
    'wine "C:\\Program Files\\Quietway\\bin\\$1" $2 2>&1 | tr -d "\r" | grep -Eq "$3"' \
    _ "$program" "$argument" "$expected"
done <<'TOOLS'
openvpn.exe --version ^OpenVPN\ 2\.6\.[0-9]+.*\[LZO\]
plink.exe -V ^plink:\ Release\ 0\.78
curl.exe -V ^curl\ 7\.88\.1.*OpenSSL
TOOLS
check "refresh_ie.exe exits 0" wine "$app/bin/refresh_ie.exe"
setup_log=$WINEPREFIX/drive_c/ProgramData/Quietway/logs/setup.log
check "the setup log says the TAP adapter driver is missing" grep -q \
  "No TAP adapter was found. OpenVPN connections need the TAP-Windows adapter driver" "$setup_log"

echo "== second silent install (newer build, /S)"
reg set 'SOFTWARE\Quietway2\general' user --string alice
reg set 'SOFTWARE\Quietway2\conf' ssh_port --string 2222
# What older setups seeded: their loopback test vendor.
reg set 'SOFTWARE\Quietway2\app' update_server_url \
  --string http://127.0.0.1:8090/updater/quietway_version.txt
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}\0042' \
  /v DriverDesc /d 'TAP-Windows Adapter V9' /f >/dev/null 2>&1
check "setup /S exits 0" wine "$work/out/quietway-setup-$new_version.exe" /S
check "the setup log now names the TAP adapter found" \
  test "$(tail -n 1 "$setup_log" | tr -d '\r')" = "TAP adapter found: TAP-Windows Adapter V9"
check "both services running again" eventually both_running
check "user settings and the password kept" \
  test "$(reg query 'SOFTWARE\Quietway2\general' user)|$(reg query 'SOFTWARE\Quietway2\conf' ssh_port)|$(reg query 'SOFTWARE\Quietway2\http' rpc_password)" \
  = "alice|2222|$password"
check "app_version is the new one" \
  test "$(reg query 'SOFTWARE\Quietway2\app' app_version)" = "$new_version"
check "the older setups' loopback vendor is gone" \
  test -z "$(reg query 'SOFTWARE\Quietway2\app' update_server_url)"

echo "== uninstall"
# The uninstaller copies itself away and returns at once; its work is waited for below.
wine "$app/uninstall.exe" /S >/dev/null 2>&1 || true
uninstalled() { ! key_exists 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quietway'; }
check "the uninstaller finishes" eventually uninstalled
check "the program folder is removed" test ! -e "$app"
check "the store is removed" bash -c "! wine reg query 'HKLM\\SOFTWARE\\Quietway2' >/dev/null 2>&1"
for service in Quietway2 QuietwayUpdater; do
  check "service $service removed" \
    bash -c "! wine reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service' >/dev/null 2>&1"
  check "event source $service removed" \
    bash -c "! wine reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$service' >/dev/null 2>&1"
done

echo "failures: $failures"
[ "$failures" -eq 0 ]
