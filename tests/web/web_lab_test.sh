#!/usr/bin/env bash
# The web interface end to end against the lab: quietway_service -f in the client namespace
# serving web/ as its document root, driven by headless Chromium in the same namespace (the
# account applied, OpenVPN connected and disconnected), then checked through the API and the
# namespace. Brings the lab up when it is not, and down again if it did.
#
# usage: web_lab_test.sh QUIETWAY_SERVICE QUIETWAY_REG SCREENSHOT_DIR     (root)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SERVICE=$1
REG=$2
SHOTS=$3
# shellcheck source=tests/lab/lab_test_lib.sh
. "$ROOT/tests/lab/lab_test_lib.sh"
# shellcheck source=tests/service/app/engine_lab_lib.sh
. "$ROOT/tests/service/app/engine_lab_lib.sh"

engine_lab_begin qwweb-lab
"$REG" set "$KEY\\http" document_root --string "$ROOT/web" >/dev/null || fail "document_root set"
engine_start || { fail "quietway_service -f runs"; exit 1; }

check "the browser applies the account, connects and disconnects" \
    C /usr/bin/python3 "$ROOT/tests/web/web_lab_browser.py" "$RPC_URL" "$LAB_USER" "$LAB_PASSWORD" "$SHOTS"
REPLY_JSON=$(rpc get_general)
check "the engine is stopped afterwards" [ "$(member privacy_status "$REPLY_JSON")" = 1 ]
check "no tunnel program is left" [ -z "$(tunnel_pids)" ]
check "no filter table is left" no_filter_table
