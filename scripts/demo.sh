#!/usr/bin/env bash
# The kill switch at work, end to end, in a throwaway network namespace: builds the Linux
# programs, seeds a private settings store with the default settings and two servers, starts
# quietway_firewall for them and shows which connections still get out. Needs root.
#
# Usage: scripts/demo.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/linux
work=$(mktemp -d /tmp/quietway-demo.XXXXXX)
client=qw-demo-client-$$
server=qw-demo-server-$$
listed=10.98.0.1      # a server in the list: reachable through the kill switch
unlisted=10.98.0.9    # any other address: blocked
port=8080
pids=()

say() { printf '\n--- %s\n' "$*"; }

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$client" 2>/dev/null || true
  ip netns del "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$(id -u)" -ne 0 ]; then
  echo "demo: run as root (it creates network namespaces and firewall tables)" >&2
  exit 1
fi

say "installing what is missing and building"
"$root/scripts/setup.sh" >/dev/null
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quietway_firewall quietway_reg >/dev/null
reg=$build/tools/quietway_reg/quietway_reg
firewall=$build/firewall/program/quietway_firewall

say "a private settings store with the default settings and two servers"
export QUIETWAY_REGISTRY=$work/registry QUIETWAY_LOG_DIR=$work/logs
mkdir -p "$QUIETWAY_REGISTRY" "$QUIETWAY_LOG_DIR"
"$reg" import "$root/packaging/defaults/quietway-defaults.reg"
"$reg" set 'SOFTWARE\Quietway2\servers\1' name --string "Demo server one"
"$reg" set 'SOFTWARE\Quietway2\servers\1' address_ip --string "$listed"
"$reg" set 'SOFTWARE\Quietway2\servers\2' name --string "Demo server two"
"$reg" set 'SOFTWARE\Quietway2\servers\2' address_ip --string 10.98.0.2
"$reg" set 'SOFTWARE\Quietway2\servers' last_index --dword 2
"$reg" query 'SOFTWARE\Quietway2\servers\1'

say "two namespaces joined by a veth pair, a tun device for the tunnel; the server side answers on $listed and $unlisted"
ip netns add "$client"
ip netns add "$server"
ip link add qwd-c$$ netns "$client" type veth peer name qwd-s$$ netns "$server"
ip -n "$client" addr add 10.98.0.100/24 dev qwd-c$$
ip -n "$server" addr add "$listed"/24 dev qwd-s$$
ip -n "$server" addr add "$unlisted"/24 dev qwd-s$$
for ns in "$client" "$server"; do
  ip -n "$ns" link set lo up
done
ip -n "$client" link set qwd-c$$ up
# Our tunnel device (kVpnDeviceName): the kill switch lets everything through it.
ip -n "$client" tuntap add mode tun name qwaytun0
ip -n "$server" link set qwd-s$$ up
ip netns exec "$server" python3 -m http.server "$port" --bind 0.0.0.0 --directory "$work" \
  >/dev/null 2>&1 &
pids+=($!)
sleep 1

try() {
  if ip netns exec "$client" timeout 2 bash -c "exec 3<>/dev/tcp/$1/$port" 2>/dev/null; then
    echo "  connect to $1:$port  -> gets out"
  else
    echo "  connect to $1:$port  -> blocked"
  fi
}

say "without the kill switch"
try "$listed"; try "$unlisted"

say "starting quietway_firewall in the client namespace"
ip netns exec "$client" "$firewall" </dev/null &
pids+=($!)
for _ in $(seq 50); do
  grep -q "Firewall started successfully" "$QUIETWAY_LOG_DIR/Firewall.log" 2>/dev/null && break
  sleep 0.1
done
sed 's/^/  log: /' "$QUIETWAY_LOG_DIR/Firewall.log"

say "with the kill switch"
try "$listed"; try "$unlisted"
echo "  tables in the client namespace:"
ip netns exec "$client" nft list tables | sed 's/^/    /'

say "ending quietway_firewall: its table goes with it"
kill "${pids[-1]}"
wait "${pids[-1]}" 2>/dev/null || true
unset 'pids[-1]'
ip netns exec "$client" nft list tables | sed 's/^/    /'
try "$listed"; try "$unlisted"
