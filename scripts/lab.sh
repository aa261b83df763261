#!/usr/bin/env bash
# The lab: real OpenVPN, SSH, FTPS and HTTP proxy servers and the vendor's web endpoints inside
# network namespaces of its own, for the tests, the demo and anyone trying the system by hand
# (Linux, root).
#
#   scripts/lab.sh up       build it (idempotent; a lab that is already up is left as it is)
#   scripts/lab.sh down     stop every daemon, remove every namespace
#   scripts/lab.sh status   say what is up (exit 0 only when all of it is)
#
# The lab directory (default build/lab, QUIETWAY_LAB_DIR overrides) receives lab.env
# (shell-sourceable LAB_* values) and lab.reg (a store seed for `quietway_reg import`).
# The vendor's web server (quietway_vendor_server) serves the files below $LAB/vendor and
# records every request line; it is $QUIETWAY_VENDOR_SERVER when that is set, else it is built
# into $LAB/tools (cmake, -j2) the first time. The same goes for quietway_dns
# ($QUIETWAY_DNS_PROGRAM), which the OpenVPN configuration that provisioning writes runs from
# the lab's bin directory.
# Names: the client namespace asks an "outside" resolver (its own /etc/netns/NS/resolv.conf, on
# the client's local network) until a tunnel's name servers take over; the VPN server pushes
# one on its tunnel address. Both answer LAB_DNS_NAME, each with its own address.
# Nothing is configured on the host's own interfaces; daemons that read the account files run
# in a private mount namespace with the lab's own passwd, shadow, group and PAM files.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HELPERS=$ROOT/scripts/lab
LAB=${QUIETWAY_LAB_DIR:-$ROOT/build/lab}
PYTHON=/usr/bin/python3
# The client's version: the project's, from CMakeLists.txt.
CLIENT_VERSION=$(sed -n 's/^project(Quietway VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")

NS_CLIENT=qwlab-c
NS_SERVER=qwlab-s
NS_REFUSE=qwlab-r
NAMESPACES=("$NS_CLIENT" "$NS_SERVER" "$NS_REFUSE")

# Two server addresses (one veth pair each), one that the server side drops, one namespace
# where nothing listens, so connections are refused.
CLIENT_IP=10.99.0.2
SERVER_IP=10.99.0.1
CLIENT2_IP=10.99.1.2
SERVER2_IP=10.99.1.1
DEAD_IP=10.99.2.1
REFUSE_CLIENT_IP=10.99.3.2
REFUSE_IP=10.99.3.1
TUNNEL_NET=10.99.8.0
TUNNEL_PEER=10.99.8.1
# The client's local network on the first link, with its resolver on the server side.
LAN_CLIENT_IP=192.168.99.2
OUTSIDE_DNS_IP=192.168.99.1
DNS_NAME=check.qwlab.test
DNS_TUNNEL_ADDR=10.99.8.53
DNS_OUTSIDE_ADDR=192.168.99.53
NETNS_ETC=/etc/netns/$NS_CLIENT

FTP_PORT=21
VPN_PORT=1194
PROXY_PORT=3128
SSH_PORT=22
TOR_PORT=9050
RPC_PORT=8988
VENDOR_PORT=8090
WHOAMI_PORT=8080

LAB_GID=59900
USER_UID=59901
ODD_UID=59902
USER_NAME=qwlab
USER_PASSWORD=lab-Pass-4711
BAD_PASSWORD=lab-Pass-4712
# vsftpd refuses any user name with a blank or that starts with other than a letter or digit
# (hard-coded), so the blanks are in the odd password only.
ODD_USER=$'odd\'user"q$U`id`;&|x'
ODD_PASSWORD=$'p a"s\'s $PATH `id`;&|%x\\ 5%'

PACKAGES=(openvpn openssh-server openssh-client vsftpd putty-tools curl openssl iproute2
          iputils-ping python3 util-linux procps dnsmasq-base tcpdump)
DAEMONS=(openvpn sshd vsftpd proxy tor vendor dns-outside dns-tunnel whoami)

PKI=$LAB/pki
ETC=$LAB/etc
RUN=$LAB/run
LOGS=$LAB/log
HOMES=$LAB/home
VENDOR_DIR=$LAB/vendor
VENDOR_URL=http://$SERVER_IP:$VENDOR_PORT
VENDOR_BIN=
DNS_BIN=
WHOAMI_URL=http://$TUNNEL_PEER:$WHOAMI_PORT/

say() { printf 'lab: %s\n' "$*"; }
# A failed up takes down what it built (the logs stay), so nothing half-made is left running.
TEARDOWN_ON_FAILURE=0
die() {
    printf 'lab: FAILED: %s\n' "$*" >&2
    if [ $TEARDOWN_ON_FAILURE = 1 ]; then
        TEARDOWN_ON_FAILURE=0
        lab_down >&2 || true
        printf 'lab: the partial lab is down again; logs in %s\n' "$LOGS" >&2
    fi
    exit 1
}

# Runs one step; on failure names the step and shows what the command printed.
step() {
    local what=$1 out
    shift
    if ! out=$("$@" 2>&1); then
        printf '%s\n' "$out" | tail -n 20 >&2
        die "$what"
    fi
}

in_ns() {
    local ns=$1
    shift
    ip netns exec "$ns" "$@"
}

ns_exists() { [ -e "/run/netns/$1" ]; }

# The live pid of a lab daemon, if it runs inside its lab namespace.
daemon_pid() {
    local name=$1 ns=$2 pid
    [ -r "$RUN/$name.pid" ] || return 1
    read -r pid <"$RUN/$name.pid" || return 1
    [[ $pid =~ ^[0-9]+$ ]] && [ -d "/proc/$pid" ] || return 1
    [ "$(ip netns identify "$pid" 2>/dev/null)" = "$ns" ] || return 1
    printf '%s\n' "$pid"
}

# While starting, the recorded pid may still be "ip netns exec" before it entered the
# namespace, so only life is checked here; a dead child lingers as a zombie until reaped.
daemon_alive() {
    local pid stat
    read -r pid <"$RUN/$1.pid" 2>/dev/null && [[ $pid =~ ^[0-9]+$ ]] || return 1
    read -r stat <"/proc/$pid/stat" 2>/dev/null || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

check_root() { [ "$(id -u)" = 0 ] || die "must run as root (namespaces, daemons, mounts)"; }

# Paths go into passwd, OpenVPN's script line and .reg strings unquoted.
check_lab_dir() {
    [[ $LAB = /* ]] || die "lab directory must be absolute: $LAB"
    [[ $LAB =~ ^[A-Za-z0-9_./+-]+$ ]] ||
        die "lab directory may hold only letters, digits and _ . / + -: $LAB"
}

install_packages() {
    local missing=() p installed
    installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${PACKAGES[@]}" 2>/dev/null || true)
    for p in "${PACKAGES[@]}"; do
        grep -qx "$p install ok installed" <<<"$installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    if ! apt-get install -y -o DPkg::Lock::Timeout=900 "${missing[@]}" >"$LOGS/apt.log" 2>&1; then
        step "apt-get update" apt-get update -o DPkg::Lock::Timeout=900
        apt-get install -y -o DPkg::Lock::Timeout=900 "${missing[@]}" >"$LOGS/apt.log" 2>&1 ||
            { tail -n 20 "$LOGS/apt.log" >&2; die "apt-get install ${missing[*]}"; }
    fi
}

# --- keys and certificates (made once, kept across up/down) ---------------------------------

make_cert() {
    local name=$1 cn=$2 usage=$3
    [ -s "$PKI/$name.crt" ] && [ -s "$PKI/$name.key" ] && return 0
    step "certificate $name" openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
        -nodes -days 3650 -subj "/CN=$cn" -CA "$PKI/ca.crt" -CAkey "$PKI/ca.key" \
        -keyout "$PKI/$name.key" -out "$PKI/$name.crt" \
        -addext basicConstraints=critical,CA:FALSE \
        -addext keyUsage=critical,digitalSignature,keyAgreement -addext "extendedKeyUsage=$usage"
}

make_keys() {
    mkdir -p "$PKI"
    chmod 700 "$PKI"
    if [ ! -s "$PKI/ca.crt" ] || [ ! -s "$PKI/ca.key" ]; then
        rm -f "$PKI"/*.crt "$PKI"/*.key
        step "CA certificate" openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
            -nodes -days 3650 -subj "/CN=Quietway lab CA" -keyout "$PKI/ca.key" -out "$PKI/ca.crt"
    fi
    make_cert server "lab-vpn-server" serverAuth
    make_cert user1 "lab-user1" clientAuth
    make_cert user2 "lab-user2" clientAuth
    [ -s "$PKI/ta.key" ] || step "TLS-auth key" openvpn --genkey secret "$PKI/ta.key"
    [ -s "$PKI/ftps.crt" ] ||
        step "FTPS certificate" openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
            -subj "/CN=lab-ftps" -keyout "$PKI/ftps.key" -out "$PKI/ftps.crt"
    [ -s "$PKI/ssh_host_ed25519_key" ] ||
        step "SSH host key" ssh-keygen -q -t ed25519 -N '' -f "$PKI/ssh_host_ed25519_key"
    chmod 600 "$PKI"/*.key "$PKI/ssh_host_ed25519_key"
}

# --- accounts -------------------------------------------------------------------------------

hash_password() { printf '%s\n' "$1" | openssl passwd -6 -stdin; }

# A home holding the account's four key files under the names the client downloads.
fill_home() {
    local dir=$1 uid=$2 user=$3 cert=$4
    mkdir -p "$dir"
    find "$dir" -mindepth 1 -delete
    install -m 644 -o "$uid" -g "$LAB_GID" "$PKI/ca.crt" "$dir/ca.crt"
    install -m 644 -o "$uid" -g "$LAB_GID" "$PKI/ta.key" "$dir/ta.key"
    install -m 644 -o "$uid" -g "$LAB_GID" "$PKI/$cert.crt" "$dir/$user.crt"
    install -m 600 -o "$uid" -g "$LAB_GID" "$PKI/$cert.key" "$dir/$user.key"
    chown "$uid:$LAB_GID" "$dir"
    chmod 755 "$dir"
}

make_accounts() {
    local id
    for id in "$USER_UID" "$ODD_UID"; do
        if getent passwd "$id" >/dev/null; then die "uid $id is taken on this host"; fi
    done
    if getent group "$LAB_GID" >/dev/null; then die "gid $LAB_GID is taken on this host"; fi
    mkdir -p "$ETC/pam.d" "$HOMES" "$LAB/empty"
    chmod 755 "$LAB" "$HOMES"
    chmod 755 "$LAB/empty"
    fill_home "$HOMES/user1" "$USER_UID" "$USER_NAME" user1
    fill_home "$HOMES/user2" "$ODD_UID" "$ODD_USER" user2

    # The host's account names come along (sshd and vsftpd drop privileges to them), never
    # its password hashes: every one of them is locked here.
    {
        grep -v "^$USER_NAME:" /etc/passwd
        printf '%s:x:%s:%s:lab user:%s:/bin/sh\n' "$USER_NAME" "$USER_UID" "$LAB_GID" "$HOMES/user1"
        printf '%s:x:%s:%s:lab odd user:%s:/bin/sh\n' "$ODD_USER" "$ODD_UID" "$LAB_GID" "$HOMES/user2"
    } >"$ETC/passwd"
    {
        cut -d: -f1 /etc/passwd | grep -vx "$USER_NAME" | sed 's/$/:*:19000:0:99999:7:::/'
        printf '%s:%s:19000:0:99999:7:::\n' "$USER_NAME" "$(hash_password "$USER_PASSWORD")"
        printf '%s:%s:19000:0:99999:7:::\n' "$ODD_USER" "$(hash_password "$ODD_PASSWORD")"
    } >"$ETC/shadow"
    { grep -v '^qwlab:' /etc/group; printf 'qwlab:x:%s:\n' "$LAB_GID"; } >"$ETC/group"
    chmod 644 "$ETC/passwd" "$ETC/group"
    chmod 600 "$ETC/shadow"
    printf 'auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so\n' \
        >"$ETC/pam.d/vsftpd"
    printf '%s\t%s\n%s\t%s\n' "$USER_NAME" "$USER_PASSWORD" "$ODD_USER" "$ODD_PASSWORD" \
        >"$ETC/vpn-accounts"
    chmod 600 "$ETC/vpn-accounts"
}

# --- daemon configuration -------------------------------------------------------------------

write_configs() {
    cat >"$ETC/openvpn.conf" <<EOF
# Accepts the client configuration that provisioning writes; comp-lzo and fragment are what
# that configuration needs to pass traffic. multihome: one server answers on both addresses.
port $VPN_PORT
proto udp
multihome
dev qwlabsrv0
dev-type tun
topology subnet
server $TUNNEL_NET 255.255.255.0
ca $PKI/ca.crt
cert $PKI/server.crt
key $PKI/server.key
dh none
tls-auth $PKI/ta.key 0
comp-lzo
fragment 1468
keepalive 10 60
duplicate-cn
persist-key
persist-tun
script-security 2
tmp-dir $RUN
auth-user-pass-verify "$PYTHON $HELPERS/auth_check.py $ETC/vpn-accounts" via-file
push "dhcp-option DNS $TUNNEL_PEER"
verb 3
EOF
    cat >"$ETC/sshd_config" <<EOF
Port $SSH_PORT
ListenAddress $SERVER_IP
ListenAddress $SERVER2_IP
HostKey $PKI/ssh_host_ed25519_key
PidFile none
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PermitRootLogin no
AllowGroups qwlab
AllowTcpForwarding yes
X11Forwarding no
PrintMotd no
UseDNS no
StrictModes no
LogLevel VERBOSE
EOF
    cat >"$ETC/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=NO
pam_service_name=vsftpd
session_support=NO
ssl_enable=YES
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=NO
ssl_ciphers=HIGH
rsa_cert_file=$PKI/ftps.crt
rsa_private_key_file=$PKI/ftps.key
pasv_enable=YES
pasv_min_port=40000
pasv_max_port=40100
seccomp_sandbox=NO
secure_chroot_dir=$LAB/empty
nopriv_user=nobody
xferlog_enable=YES
vsftpd_log_file=$LOGS/vsftpd-transfers.log
EOF
    chmod 600 "$ETC/vsftpd.conf"
}

# --- namespaces -----------------------------------------------------------------------------

make_namespaces() {
    local ns
    for ns in "${NAMESPACES[@]}"; do
        step "namespace $ns" ip netns add "$ns"
        step "loopback in $ns" ip -n "$ns" link set lo up
    done
    step "veth client-server" ip link add c0 netns "$NS_CLIENT" type veth peer name s0 netns "$NS_SERVER"
    step "veth client-server2" ip link add c1 netns "$NS_CLIENT" type veth peer name s1 netns "$NS_SERVER"
    step "veth client-refuse" ip link add c2 netns "$NS_CLIENT" type veth peer name r0 netns "$NS_REFUSE"
    local iface
    for iface in "$NS_CLIENT c0 $CLIENT_IP" "$NS_CLIENT c1 $CLIENT2_IP" "$NS_CLIENT c2 $REFUSE_CLIENT_IP" \
        "$NS_SERVER s0 $SERVER_IP" "$NS_SERVER s1 $SERVER2_IP" "$NS_REFUSE r0 $REFUSE_IP"; do
        set -- $iface
        step "address $3 in $1" ip -n "$1" addr add "$3/24" dev "$2"
        step "link $2 in $1" ip -n "$1" link set "$2" up
    done
    step "local network address in $NS_CLIENT" ip -n "$NS_CLIENT" addr add "$LAN_CLIENT_IP/24" dev c0
    step "local resolver address in $NS_SERVER" ip -n "$NS_SERVER" addr add "$OUTSIDE_DNS_IP/24" dev s0
    # "ip netns exec" mounts this over /etc/resolv.conf for what it runs in the namespace.
    mkdir -p "$NETNS_ETC"
    printf '# The lab: the client namespace'"'"'s resolver outside any tunnel.\nnameserver %s\noptions timeout:2 attempts:1\n' \
        "$OUTSIDE_DNS_IP" >"$NETNS_ETC/resolv.conf"
    # The dead address is routed to the server side, which throws its packets away unanswered.
    step "route to the dead address" ip -n "$NS_CLIENT" route add "$DEAD_IP/32" via "$SERVER_IP"
    step "blackhole for the dead address" ip -n "$NS_SERVER" route add blackhole "$DEAD_IP/32"
    # A dropped connect then gives up after about 7 s instead of 133 s.
    step "client SYN retries" in_ns "$NS_CLIENT" sysctl -qw net.ipv4.tcp_syn_retries=2
}

# --- daemons --------------------------------------------------------------------------------

# A resolver that answers its one name from the command line and nothing else, logging the
# queries it gets.
DNSMASQ_OPTIONS=(--keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts --no-poll
                 --bind-interfaces --pid-file --log-facility=- --log-queries)

# Starts a daemon in the foreground of its own session, its output in the log directory.
# With "accounts" it runs in a private mount namespace that sees the lab's account files.
start_daemon() {
    local name=$1 ns=$2 mode=$3
    shift 3
    local wrap=()
    if [ "$mode" = accounts ]; then
        wrap=(unshare -m --propagation private sh -c '
            mount --bind "$1/passwd" /etc/passwd && mount --bind "$1/shadow" /etc/shadow &&
            mount --bind "$1/group" /etc/group && mount --bind "$1/pam.d" /etc/pam.d &&
            mount -t tmpfs -o mode=755 qwlab-run /run && mkdir -m 755 /run/sshd || exit 111
            shift; exec "$@"' sh "$ETC")
    fi
    ip netns exec "$ns" setsid "${wrap[@]}" "$@" </dev/null >"$LOGS/$name.log" 2>&1 9>&- &
    echo $! >"$RUN/$name.pid"
}

# Waits until CHECK succeeds while the daemon lives; a daemon that dies or never gets ready
# is reported with the end of its log.
await() {
    local name=$1 ns=$2
    shift 2
    local deadline=$((SECONDS + 20))
    until "$@" >/dev/null 2>&1; do
        if ! daemon_alive "$name"; then
            tail -n 20 "$LOGS/$name.log" >&2
            die "$name exited while starting (log: $LOGS/$name.log)"
        fi
        if [ $SECONDS -ge $deadline ]; then
            tail -n 20 "$LOGS/$name.log" >&2
            die "$name not ready after 20 s (log: $LOGS/$name.log)"
        fi
        sleep 0.05
    done
}

listening() { [ -n "$(ip netns exec "$1" ss -Hltn "sport = :$2")" ]; }
listening_on() { [ -n "$(ip netns exec "$1" ss -Hltn "src $2 and sport = :$3")" ]; }

# The project's own programs the lab runs: the vendor's web server and quietway_dns, each the
# one its variable names ($QUIETWAY_VENDOR_SERVER, $QUIETWAY_DNS_PROGRAM), else the project's
# target built into the lab's own build directory.
find_lab_programs() {
    local build=$LAB/tools targets=()
    VENDOR_BIN=${QUIETWAY_VENDOR_SERVER:-}
    DNS_BIN=${QUIETWAY_DNS_PROGRAM:-}
    if [ -z "$VENDOR_BIN" ]; then
        targets+=(quietway_vendor_server)
        VENDOR_BIN=$build/tests/updater/vendor/quietway_vendor_server
    fi
    if [ -z "$DNS_BIN" ]; then
        targets+=(quietway_dns)
        DNS_BIN=$build/service/dns/quietway_dns
    fi
    if [ ${#targets[@]} -gt 0 ]; then
        if [ ! -f "$build/CMakeCache.txt" ]; then
            say "configuring $build for ${targets[*]}"
            step "configure $build" cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
        fi
        step "build ${targets[*]}" cmake --build "$build" --target "${targets[@]}" -j2
    fi
    [ -x "$VENDOR_BIN" ] || die "no vendor server at $VENDOR_BIN"
    [ -x "$DNS_BIN" ] || die "no quietway_dns at $DNS_BIN"
}

list_server() {
    printf '<SERVER><NUMBER>%s</NUMBER><NAME>%s</NAME><ADDRESS>%s</ADDRESS><IP>%s</IP></SERVER>\n' \
        "$1" "$2" "$3" "$3"
}

# The served directory with a published list of the lab's four servers, so that a server-list
# sync against the lab changes nothing until a test publishes its own.
make_vendor_dir() {
    mkdir -p "$VENDOR_DIR/updater/servers_list" "$VENDOR_DIR/updater/notifications_list"
    chmod 755 "$VENDOR_DIR"
    local list=$VENDOR_DIR/updater/servers_list/quietway_servers.xml
    [ -e "$list" ] && return 0
    {
        echo '<?xml version="1.0"?>'
        echo '<QUIETWAY>'
        list_server 1 "Lab server" "$SERVER_IP"
        list_server 2 "Lab server 2" "$SERVER2_IP"
        list_server 3 "Lab dead server" "$DEAD_IP"
        list_server 4 "Lab refusing server" "$REFUSE_IP"
        echo '</QUIETWAY>'
    } >"$list"
}

start_daemons() {
    : >"$LOGS/openvpn.log"
    start_daemon openvpn "$NS_SERVER" plain openvpn --config "$ETC/openvpn.conf"
    start_daemon sshd "$NS_SERVER" accounts /usr/sbin/sshd -D -e -f "$ETC/sshd_config"
    start_daemon vsftpd "$NS_SERVER" accounts /usr/sbin/vsftpd "$ETC/vsftpd.conf"
    start_daemon proxy "$NS_SERVER" plain "$PYTHON" "$HELPERS/proxy.py" --name proxy --port "$PROXY_PORT"
    start_daemon tor "$NS_SERVER" plain "$PYTHON" "$HELPERS/proxy.py" --name tor --port "$TOR_PORT"
    start_daemon vendor "$NS_SERVER" plain "$VENDOR_BIN" --root "$VENDOR_DIR" \
        --listen "$SERVER_IP:$VENDOR_PORT" --requests "$LOGS/vendor-requests.log"
    start_daemon dns-outside "$NS_SERVER" plain dnsmasq "${DNSMASQ_OPTIONS[@]}" \
        --listen-address="$OUTSIDE_DNS_IP" --host-record="$DNS_NAME,$DNS_OUTSIDE_ADDR"
    await openvpn "$NS_SERVER" grep -q "Initialization Sequence Completed" "$LOGS/openvpn.log"
    await sshd "$NS_SERVER" listening "$NS_SERVER" "$SSH_PORT"
    await vsftpd "$NS_SERVER" listening "$NS_SERVER" "$FTP_PORT"
    await proxy "$NS_SERVER" listening "$NS_SERVER" "$PROXY_PORT"
    await tor "$NS_SERVER" listening "$NS_SERVER" "$TOR_PORT"
    await vendor "$NS_SERVER" listening "$NS_SERVER" "$VENDOR_PORT"
    # On the server's tunnel address, which is there once OpenVPN is up: reached only through
    # the tunnel, as the client has no other route to it.
    start_daemon dns-tunnel "$NS_SERVER" plain dnsmasq "${DNSMASQ_OPTIONS[@]}" \
        --listen-address="$TUNNEL_PEER" --host-record="$DNS_NAME,$DNS_TUNNEL_ADDR"
    start_daemon whoami "$NS_SERVER" plain "$PYTHON" "$HELPERS/whoami.py" \
        --listen "$TUNNEL_PEER" --port "$WHOAMI_PORT"
    await dns-outside "$NS_SERVER" listening_on "$NS_SERVER" "$OUTSIDE_DNS_IP" 53
    await dns-tunnel "$NS_SERVER" listening_on "$NS_SERVER" "$TUNNEL_PEER" 53
    await whoami "$NS_SERVER" listening_on "$NS_SERVER" "$TUNNEL_PEER" "$WHOAMI_PORT"
}

# --- the files for tests and the store ------------------------------------------------------

make_app_dir() {
    mkdir -p "$LAB/app/bin" "$LAB/data/conf" "$LAB/data/logs"
    local tool path
    for tool in openvpn plink curl; do
        path=$(command -v "$tool") || die "$tool is not installed"
        ln -sfn "$path" "$LAB/app/bin/$tool"
    done
    ln -sfn "$DNS_BIN" "$LAB/app/bin/quietway_dns"
}

env_line() { printf '%s=%q\n' "$1" "$2"; }

write_env() {
    {
        echo "# Written by scripts/lab.sh up: the lab's addresses and accounts."
        env_line LAB_DIR "$LAB"
        env_line LAB_CLIENT_NS "$NS_CLIENT"
        env_line LAB_SERVER_NS "$NS_SERVER"
        env_line LAB_SERVER_IP "$SERVER_IP"
        env_line LAB_SERVER2_IP "$SERVER2_IP"
        env_line LAB_DEAD_IP "$DEAD_IP"
        env_line LAB_REFUSE_IP "$REFUSE_IP"
        # The ids of those four servers in lab.reg.
        env_line LAB_SERVER_ID 1
        env_line LAB_SERVER2_ID 2
        env_line LAB_DEAD_ID 3
        env_line LAB_REFUSE_ID 4
        env_line LAB_USER "$USER_NAME"
        env_line LAB_PASSWORD "$USER_PASSWORD"
        env_line LAB_BAD_PASSWORD "$BAD_PASSWORD"
        env_line LAB_ODD_USER "$ODD_USER"
        env_line LAB_ODD_PASSWORD "$ODD_PASSWORD"
        env_line LAB_TUNNEL_PEER "$TUNNEL_PEER"
        env_line LAB_FTP_PORT "$FTP_PORT"
        env_line LAB_VPN_PORT "$VPN_PORT"
        env_line LAB_SSH_PORT "$SSH_PORT"
        env_line LAB_PROXY_PORT "$PROXY_PORT"
        env_line LAB_TOR_PORT "$TOR_PORT"
        env_line LAB_RPC_PORT "$RPC_PORT"
        env_line LAB_APP_DIR "$LAB/app"
        env_line LAB_APP_DATA "$LAB/data"
        # What the FTPS server hands out to each account.
        env_line LAB_USER_FILES "$HOMES/user1"
        env_line LAB_ODD_USER_FILES "$HOMES/user2"
        env_line LAB_REG "$LAB/lab.reg"
        # The vendor's web endpoints: the files they serve and the request lines they saw.
        env_line LAB_VENDOR_URL "$VENDOR_URL"
        env_line LAB_VENDOR_DIR "$VENDOR_DIR"
        env_line LAB_VENDOR_REQUESTS "$LOGS/vendor-requests.log"
        # Names: LAB_DNS_NAME is answered with LAB_DNS_TUNNEL_ADDR by the resolver the VPN
        # server pushes and with LAB_DNS_OUTSIDE_ADDR by the client namespace's own resolver
        # (LAB_DNS_OUTSIDE_IP, named in LAB_NETNS_RESOLV_CONF). LAB_WHOAMI_URL, through the
        # tunnel, answers with the address a request came from.
        env_line LAB_DNS_NAME "$DNS_NAME"
        env_line LAB_DNS_TUNNEL_ADDR "$DNS_TUNNEL_ADDR"
        env_line LAB_DNS_OUTSIDE_ADDR "$DNS_OUTSIDE_ADDR"
        env_line LAB_DNS_OUTSIDE_IP "$OUTSIDE_DNS_IP"
        env_line LAB_NETNS_RESOLV_CONF "$NETNS_ETC/resolv.conf"
        env_line LAB_WHOAMI_URL "$WHOAMI_URL"
    } >"$LAB/lab.env.new"
    chmod 600 "$LAB/lab.env.new"
    mv -f "$LAB/lab.env.new" "$LAB/lab.env"
}

reg_server() {
    printf '\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers\\%s]\n' "$1"
    printf '"name"="%s"\n"address"="%s"\n"address_ip"=""\n"status"=dword:00000000\n' "$2" "$3"
}

write_reg() {
    local key='HKEY_LOCAL_MACHINE\SOFTWARE\Quietway2'
    {
        cat <<EOF
Windows Registry Editor Version 5.00

; The lab's store seed, written by scripts/lab.sh up:
;   QUIETWAY_REGISTRY=DIR quietway_reg import $LAB/lab.reg

[$key]

[$key\\app]
"app_dir"="$LAB/app"
"app_data"="$LAB/data"
"app_version"="$CLIENT_VERSION"
"update_server_url"="$VENDOR_URL/updater/quietway_version.txt"
"servers_list_url"="$VENDOR_URL/updater/servers_list/quietway_servers.xml"
"notification_get_url"="$VENDOR_URL/updater/notifications_list/get_notifications.php"
"expiration_url"="$VENDOR_URL/updater/get_account_expires.php"
"notification_set_st_url"="$VENDOR_URL/updater/notifications_list/set_notification_state.php"
"auto_update"=dword:00000000
"privacy_status"=dword:00000000
"privacy_restart"=dword:00000000
"need_update_servers"=dword:00000000
"check_ip_url"="$WHOAMI_URL"
"check_dns_name"="$DNS_NAME"
"check_dns_address"="$DNS_TUNNEL_ADDR"

[$key\\general]
"mode"=dword:00000002
"auto_privacy"=dword:00000000
"auto_tray"=dword:00000000
"use_firewall"=dword:00000001
"use_change_servers"=dword:00000001
"user"="$USER_NAME"
"password"="$USER_PASSWORD"
"account_expires"=""

[$key\\conf]
"ftp_port"="$FTP_PORT"
"vpn_port"="$VPN_PORT"
"proxy_port"="$PROXY_PORT"
"ssh_port"="$SSH_PORT"
"tor_port"="$TOR_PORT"

[$key\\http]
"rpc_port"="$RPC_PORT"
"rpc_user"="quietway"
"rpc_password"="quietway"
"document_root"="$LAB/app/web"
"access_control_list"="-0.0.0.0/0,+127.0.0.1"
"access_log_file"="$LAB/data/logs/http_access.log"
"error_log_file"="$LAB/data/logs/http_error.log"
"enable_directory_listing"="no"

[$key\\servers]
"last_index"=dword:00000004
"activated"=dword:00000000
EOF
        reg_server 1 "Lab server" "$SERVER_IP"
        reg_server 2 "Lab server 2" "$SERVER2_IP"
        reg_server 3 "Lab dead server" "$DEAD_IP"
        reg_server 4 "Lab refusing server" "$REFUSE_IP"
    } >"$LAB/lab.reg"
}

# --- commands -------------------------------------------------------------------------------

# 0 when every namespace and daemon is there; with "print" it says which.
lab_state() {
    local print=${1:-} ok=0 ns name
    for ns in "${NAMESPACES[@]}"; do
        if ns_exists "$ns"; then [ -z "$print" ] || say "namespace $ns: up"; else
            [ -z "$print" ] || say "namespace $ns: missing"
            ok=1
        fi
    done
    for name in "${DAEMONS[@]}"; do
        local pid
        if pid=$(daemon_pid "$name" "$NS_SERVER"); then
            [ -z "$print" ] || say "$name: running (pid $pid)"
        else
            [ -z "$print" ] || say "$name: not running"
            ok=1
        fi
    done
    return $ok
}

lab_down() {
    local ns pids pid left
    for ns in "${NAMESPACES[@]}"; do
        ns_exists "$ns" || continue
        # Everything running inside the lab's namespaces belongs to the lab.
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [ -z "$pids" ] || kill -TERM $pids 2>/dev/null || true
        for _ in $(seq 50); do
            left=$(ip netns pids "$ns" 2>/dev/null || true)
            [ -z "$left" ] && break
            sleep 0.05
        done
        [ -z "$left" ] || kill -KILL $left 2>/dev/null || true
        for _ in $(seq 40); do
            [ -z "$(ip netns pids "$ns" 2>/dev/null || true)" ] && break
            sleep 0.05
        done
        step "remove namespace $ns" ip netns del "$ns"
    done
    rm -f "$RUN"/*.pid "$NETNS_ETC/resolv.conf"
    rmdir "$NETNS_ETC" 2>/dev/null || true
    rmdir /etc/netns 2>/dev/null || true
}

lab_up() {
    local started=$SECONDS
    mkdir -p "$LAB" "$RUN" "$LOGS" "$ETC"
    install_packages
    if lab_state; then
        find_lab_programs
        make_app_dir
        write_env
        write_reg
        say "already up"
    else
        local ns
        for ns in "${NAMESPACES[@]}"; do
            if ns_exists "$ns"; then
                say "partly up: rebuilding"
                break
            fi
        done
        TEARDOWN_ON_FAILURE=1
        lab_down
        make_keys
        make_accounts
        write_configs
        find_lab_programs
        make_app_dir
        make_vendor_dir
        make_namespaces
        start_daemons
        write_env
        write_reg
        TEARDOWN_ON_FAILURE=0
        say "up in $((SECONDS - started)) s"
    fi
    say "lab directory: $LAB (lab.env, lab.reg)"
}

main() {
    local command=${1:-}
    case $command in
        up | down | status) ;;
        *)
            echo "usage: scripts/lab.sh up|down|status" >&2
            exit 2
            ;;
    esac
    check_root
    check_lab_dir
    mkdir -p "$LAB"
    # One command at a time on a lab directory.
    exec 9>"$LAB/.lock"
    flock 9
    case $command in
        up) lab_up ;;
        down)
            lab_down
            say "down"
            ;;
        status)
            say "lab directory: $LAB"
            lab_state print
            ;;
    esac
}

main "$@"
