#!/usr/bin/env bash
# The installed Windows engine applies the account to the lab's server under Wine with the
# programs its setup put in bin: curl.exe fetches the four files over FTPS and plink.exe records
# the SSH host key. Wine's processes are Linux processes, so everything from the first boot on
# runs inside the lab's client namespace, where the servers are. Needs root; brings the lab up
# when it is not, and down again if it did.
#
# Usage: windows_provision_lab_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2
ROOT=$source_dir
# shellcheck source=tests/lab/lab_test_lib.sh
source "$source_dir/tests/lab/lab_test_lib.sh"

if [ -z "${QUIETWAY_IN_LAB_CLIENT:-}" ]; then
  lab_require_root
  lab_ensure_up
  # shellcheck source=/dev/null
  source "$LAB_DIR/lab.env"
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/quietway-provision-test.XXXXXX")
  QUIETWAY_PACKAGE_OUT=$WORK/out QUIETWAY_WINDOWS_BUILD=$build_dir \
    "$source_dir/scripts/package.sh" windows >/dev/null
  status=0
  QUIETWAY_IN_LAB_CLIENT=$WORK ip netns exec "$LAB_CLIENT_NS" xvfb-run -a bash "$0" "$@" ||
    status=$?
  rm -rf "$WORK"
  lab_down || true
  exit $status
fi

WORK=$QUIETWAY_IN_LAB_CLIENT
# shellcheck source=/dev/null
source "$LAB_DIR/lab.env"
export WINEPREFIX=$WORK/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w

# The lab's ports and its first server, in the store before the setup, which keeps them.
cat >"$WORK/seed.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\conf]
"ftp_port"="$LAB_FTP_PORT"
"vpn_port"="$LAB_VPN_PORT"
"ssh_port"="$LAB_SSH_PORT"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers]
"last_index"=dword:00000001
"activated"=dword:00000000

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers\\$LAB_SERVER_ID]
"name"="Lab server"
"address"="$LAB_SERVER_IP"
"address_ip"=""
"status"=dword:00000000
EOF
wine reg import "$WORK/seed.reg" >/dev/null 2>&1
setup=$(ls "$WORK"/out/quietway-setup-*.exe)
check "setup /VERYSILENT exits 0" wine "$setup" /VERYSILENT

bin='C:\Program Files\Quietway\bin'
reg() { wine "$bin\\quietway_reg.exe" "$@" 2>/dev/null | tr -d '\r'; }
engine_running() { wine sc query Quietway2 2>/dev/null | grep -q 'STATE *: *4 *RUNNING'; }
for _ in $(seq 300); do engine_running && break || sleep 0.1; done
check "the engine runs" engine_running

echo "== account applied by the installed engine"
printf '%s\n' "$LAB_PASSWORD" |
  wine "$bin\\quietway_ctl.exe" account apply "$LAB_USER" --password-stdin 2>&1 | tr -d '\r'
check "the lab server is ready" \
  test "$(reg query "SOFTWARE\\Quietway2\\servers\\$LAB_SERVER_ID" status)" = 1
conf=$WINEPREFIX/drive_c/ProgramData/Quietway/conf/$LAB_SERVER_ID
for file in ca.crt ta.key "$LAB_USER.crt" "$LAB_USER.key"; do
  check "$file fetched over FTPS as the server has it" cmp -s "$LAB_USER_FILES/$file" "$conf/$file"
done
check "the server's SSH host key is recorded" bash -c \
  'wine reg query "HKCU\Software\SimonTatham\PuTTY\SshHostKeys" 2>/dev/null | grep -q "@$1:$2 "' \
  _ "$LAB_SSH_PORT" "$LAB_SERVER_IP"
lab_summary
