#!/usr/bin/env bash
# The installed Windows engine applies the account to the lab's server under Wine with the
# curl.exe and plink.exe its setup put in bin: the four files over FTPS, the SSH host key
# recorded. Wine's processes are Linux processes, so from the first boot on all runs inside
# the lab's client namespace. Needs root; brings the lab up (and down) when it is not up.
set -euo pipefail # SOURCE_DIR WINDOWS_BUILD_DIR
ROOT=$1
source "$ROOT/tests/lab/lab_test_lib.sh"
if [ -z "${QUIETWAY_IN_LAB_CLIENT:-}" ]; then
  lab_require_root
  lab_ensure_up
  source "$LAB_DIR/lab.env"
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/quietway-provision-test.XXXXXX")
  QUIETWAY_PACKAGE_OUT=$WORK QUIETWAY_WINDOWS_BUILD=$2 "$ROOT/scripts/package.sh" windows >/dev/null
  status=0
  QUIETWAY_IN_LAB_CLIENT=$WORK ip netns exec "$LAB_CLIENT_NS" xvfb-run -a bash "$0" "$@" ||
    status=$?
  rm -rf "$WORK"
  lab_down || true
  exit $status
fi

WORK=$QUIETWAY_IN_LAB_CLIENT
source "$LAB_DIR/lab.env"
export WINEPREFIX=$WORK/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
# The lab's ports and first server, in the store before the setup, which keeps them.
key='HKEY_LOCAL_MACHINE\SOFTWARE\Quietway2'
printf '%s\n' 'Windows Registry Editor Version 5.00' "[$key\\conf]" \
  "\"ftp_port\"=\"$LAB_FTP_PORT\"" "\"ssh_port\"=\"$LAB_SSH_PORT\"" "[$key\\servers]" \
  '"last_index"=dword:00000001' "[$key\\servers\\$LAB_SERVER_ID]" '"name"="Lab server"' \
  "\"address\"=\"$LAB_SERVER_IP\"" '"address_ip"=""' '"status"=dword:00000000' >"$WORK/seed.reg"
wine reg import "$WORK/seed.reg" >/dev/null 2>&1
check "setup /VERYSILENT exits 0" wine "$WORK"/quietway-setup-*.exe /VERYSILENT
bin='C:\Program Files\Quietway\bin'
engine_running() { wine sc query Quietway2 2>/dev/null | grep -q 'STATE *: *4 *RUNNING'; }
for _ in $(seq 300); do engine_running && break || sleep 0.1; done
printf '%s\n' "$LAB_PASSWORD" |
  wine "$bin\\quietway_ctl.exe" account apply "$LAB_USER" --password-stdin
check "the lab server is ready" test "$(wine "$bin\\quietway_reg.exe" query \
  "SOFTWARE\\Quietway2\\servers\\$LAB_SERVER_ID" status 2>/dev/null | tr -d '\r')" = 1
for file in ca.crt ta.key "$LAB_USER.crt" "$LAB_USER.key"; do
  check "$file fetched over FTPS as the server has it" cmp -s "$LAB_USER_FILES/$file" \
    "$WINEPREFIX/drive_c/ProgramData/Quietway/conf/$LAB_SERVER_ID/$file"
done
check "the server's SSH host key is recorded" bash -c \
  'wine reg query "HKCU\Software\SimonTatham\PuTTY\SshHostKeys" 2>/dev/null | grep -q "@$1:$2 "' \
  _ "$LAB_SSH_PORT" "$LAB_SERVER_IP"
lab_summary
