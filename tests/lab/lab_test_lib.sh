# Scaffolding the lab test scripts share: counters, fail/check, the root check, bringing the lab
# up and down, and the OpenVPN client the tests run on a configuration. Sourced with ROOT set.
# shellcheck shell=bash
LAB_SH=$ROOT/scripts/lab.sh
LAB_DIR=${QUIETWAY_LAB_DIR:-$ROOT/build/lab}
failures=0
passed=0
children=()
vpn_pid=
lab_quiet=0 # 1: lab.sh's own output is dropped

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passed=$((passed + 1))
    else fail "$what"; fi
}

lab_require_root() {
    [ "$(id -u)" = 0 ] || { echo "FAIL: the lab test needs root"; exit 1; }
}

lab_sh() {
    if [ "$lab_quiet" = 1 ]; then "$LAB_SH" "$@" >/dev/null; else "$LAB_SH" "$@"; fi
}

# Brings the lab up unless it already is; brought_up=1 tells lab_down to take it down again.
lab_ensure_up() {
    brought_up=0
    "$LAB_SH" status >/dev/null 2>&1 && return 0
    lab_sh up || { echo "FAIL: scripts/lab.sh up"; exit 1; }
    brought_up=1
}

lab_stop_children() {
    local pid
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    children=()
}

# Takes the lab down if this test brought it up; returns whether it did.
lab_down() {
    [ "$brought_up" = 1 ] || return 1
    lab_sh down || fail "scripts/lab.sh down"
    return 0
}

# The last words of a finish function: the counts, and its status.
lab_summary() {
    echo "$passed checks passed, $failures failed"
    [ $failures -eq 0 ]
}

# The end of a finish function that checks nothing after the lab is down.
lab_clean_up() {
    rm -rf "$WORK"
    lab_down
    lab_summary
}

C() { ip netns exec "$LAB_CLIENT_NS" "$@"; }

# curl and OpenVPN config strings: backslash and double quote escaped.
quoted() {
    local s=${1//\\/\\\\}
    printf '"%s"' "${s//\"/\\\"}"
}

# The client configuration the provisioning writes for server directory DIR (Linux form: our
# device), spelled out here independently of the code that writes it.
lab_vpn_config() {
    local dir=$1 ip=$2 user=$3
    cat <<END
client
dev qwaytun0
dev-type tun
proto udp
setenv opt block-outside-dns
remote $ip $LAB_VPN_PORT
resolv-retry infinite
nobind
persist-key
persist-tun
ca $(quoted "$dir/ca.crt")
cert $(quoted "$dir/$user.crt")
key $(quoted "$dir/$user.key")
auth-user-pass $(quoted "$dir/auth.cfg")
remote-cert-tls server
tls-auth $(quoted "$dir/ta.key") 1
cipher DES-EDE3-CBC
comp-lzo
verb 3
route-method exe
route-delay 2
tun-mtu 1500
tun-mtu-extra 32
fragment 1468
mssfix 1436
END
}

# The lines provisioning adds to it on Linux: OpenVPN runs quietway_dns from BIN when the tunnel
# comes up and goes down, with its records below DATA (plain paths, no quotes in them).
lab_vpn_dns_lines() {
    local program=$1/quietway_dns state=$2/dns
    printf 'script-security 2\nup "\\"%s\\" up \\"%s\\""\ndown "\\"%s\\" down \\"%s\\""\n' \
        "$program" "$state" "$program" "$state"
}

# Starts an OpenVPN client on CONFIG in the client namespace, logging to LOG, and waits (bounded)
# until it completes, fails authentication or exits. Leaves the pid in vpn_pid and in children.
lab_vpn_start() {
    local config=$1 log=$2
    ip netns exec "$LAB_CLIENT_NS" openvpn --config "$config" >"$log" 2>&1 &
    vpn_pid=$!
    children+=("$vpn_pid")
    for _ in $(seq 300); do
        grep -q -e "Initialization Sequence Completed" -e AUTH_FAILED "$log" && return
        kill -0 "$vpn_pid" 2>/dev/null || return
        sleep 0.1
    done
}

lab_ping_peer() {
    for _ in 1 2 3 4 5; do
        C ping -c 1 -W 2 "$LAB_TUNNEL_PEER" >/dev/null 2>&1 && return 0
    done
    return 1
}

# The lab's addresses and accounts, exported for the programs the test starts.
lab_export_env() {
    set -a
    # shellcheck source=/dev/null
    . "$LAB_DIR/lab.env"
    set +a
}

# A private store seeded from the lab (REG is the store tool), with the data directory DATA in
# the test's own WORK; plink's host-key cache and the log there too.
lab_private_store() {
    export QUIETWAY_REGISTRY=$WORK/registry QUIETWAY_LOG_DIR=$WORK/log HOME=$WORK/home
    # Without a .putty in HOME, plink would use the account's own ~/.putty.
    mkdir -p "$QUIETWAY_LOG_DIR" "$HOME/.putty"
    KEY='HKEY_LOCAL_MACHINE\SOFTWARE\Quietway2'
    "$REG" import "$LAB_REG" >/dev/null || { fail "lab.reg imports"; exit 1; }
    DATA=$WORK/data
    "$REG" set "$KEY\\app" app_data --string "$DATA" || fail "app_data set"
}
