# Running quietway_service in the lab's client namespace and talking to it: a private store
# seeded from the lab, the engine started and stopped, control API calls and status polls.
# Sourced after tests/lab/lab_test_lib.sh, with lab.env exported, WORK made and SERVICE and REG
# naming the programs.
# shellcheck shell=bash
engine_pid=
engine_runs=0

# The lab's store with this run's own data directory, pipe and autostart directory.
engine_store() {
    lab_private_store
    export QUIETWAY_PIPE=$WORK/qwaypipe QUIETWAY_AUTOSTART_DIR=$WORK/autostart
    mkdir -p "$QUIETWAY_AUTOSTART_DIR"
    RPC_URL=http://127.0.0.1:$LAB_RPC_PORT/
    RPC_USER=$("$REG" query "$KEY\\http" rpc_user)
    RPC_PASSWORD=$("$REG" query "$KEY\\http" rpc_password)
}

set_general() { "$REG" set "$KEY\\general" "$1" --dword "$2" >/dev/null; }

# One control API call; prints the reply's JSON. PARAMS is a JSON object or empty.
rpc() {
    local method=$1 params=${2:-}
    local body="{\"jsonrpc\":\"2.0\",\"method\":\"$method\",\"id\":1}"
    [ -z "$params" ] || body="{\"jsonrpc\":\"2.0\",\"method\":\"$method\",\"params\":$params,\"id\":1}"
    printf 'user = %s\n' "$(quoted "$RPC_USER:$RPC_PASSWORD")" |
        C curl -s -m 120 -K - --data-binary "$body" "$RPC_URL"
}

# A flat member of a reply (numbers and strings without quotes in them).
member() {
    sed -n "s/.*\"$1\":\"\{0,1\}\([^\",}]*\).*/\1/p" <<<"$2"
}

# Waits up to SECONDS for the engine's privacy status to be WANT.
wait_status() {
    local want=$1 seconds=$2 got=
    for _ in $(seq $((seconds * 4))); do
        got=$(member privacy_status "$(rpc get_general)")
        [ "$got" = "$want" ] && return 0
        sleep 0.25
    done
    echo "privacy status is '$got', not $want" >&2
    return 1
}

# Starts the engine with a fresh log directory of its own (ENGINE_LOG names its log file) and
# waits until its API answers and it has logged that it runs.
engine_start() {
    engine_runs=$((engine_runs + 1))
    export QUIETWAY_LOG_DIR=$WORK/log.$engine_runs
    mkdir -p "$QUIETWAY_LOG_DIR"
    ENGINE_LOG=$QUIETWAY_LOG_DIR/QuietwayService.log
    # Not through C: the pid of a backgrounded function would be a subshell's, not the engine's.
    ip netns exec "$LAB_CLIENT_NS" "$SERVICE" -f >"$WORK/engine.$engine_runs.out" 2>&1 &
    engine_pid=$!
    for _ in $(seq 120); do
        if ! kill -0 "$engine_pid" 2>/dev/null; then
            wait "$engine_pid"
            echo "quietway_service ended at start (status $?):" >&2
            tail -n 20 "$ENGINE_LOG" "$WORK/engine.$engine_runs.out" >&2 2>/dev/null
            engine_pid=
            return 1
        fi
        if grep -q "Quietway2 Service running" "$ENGINE_LOG" 2>/dev/null &&
            [ -n "$(rpc get_general)" ]; then
            return 0
        fi
        sleep 0.25
    done
    echo "quietway_service did not come up within 30 s" >&2
    return 1
}

# Sends SIGNAL (TERM or KILL) and waits up to 60 s for the engine to end, then kills it.
# ENGINE_STATUS holds its exit status, ENGINE_KILLED 1 when it had to be killed.
# shellcheck disable=SC2034 # both are read by the scripts that source this
engine_stop() {
    local signal=${1:-TERM}
    ENGINE_STATUS='' ENGINE_KILLED=0
    [ -n "$engine_pid" ] || return 1
    kill "-$signal" "$engine_pid" 2>/dev/null
    for _ in $(seq 600); do
        kill -0 "$engine_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$engine_pid" 2>/dev/null; then
        echo "quietway_service still runs 60 s after SIG$signal; killing it" >&2
        kill -KILL "$engine_pid" 2>/dev/null
        ENGINE_KILLED=1
    fi
    wait "$engine_pid" 2>/dev/null
    ENGINE_STATUS=$?
    engine_pid=
}

# The pids of the tunnel programs started for this run's servers (their command lines name a
# file in the data directory).
tunnel_pids() {
    [ -z "${DATA:-}" ] || pgrep -f -- "$DATA/conf/"
}

# Ends what is left of the engine and its tunnel programs, by pid.
engine_clean_up() {
    [ -z "$engine_pid" ] || engine_stop TERM
    local pids
    mapfile -t pids < <(tunnel_pids)
    [ ${#pids[@]} = 0 ] || kill -KILL "${pids[@]}" 2>/dev/null
}

# Whether the client namespace holds no nftables table.
no_filter_table() { [ -z "$(C nft list tables 2>&1)" ]; }
filter_table() { C nft list tables 2>/dev/null | grep -q '^table '; }

# Whether a TCP connection to IP:PORT from the client namespace gets through within 3 s.
reaches() { C timeout 3 bash -c "exec 5<>/dev/tcp/$1/$2" 2>/dev/null; }

# The X-Lab-Proxy name of the proxy that answers through the engine's local forward.
proxy_name() {
    local name
    for _ in $(seq 20); do
        name=$(C curl -s -m 5 -D - -o /dev/null -x http://127.0.0.1:50000 "http://$LAB_SERVER_IP:1/" |
            tr -d '\r' | sed -n 's/^X-Lab-Proxy: //Ip')
        [ -n "$name" ] && { echo "$name"; return; }
        sleep 0.2
    done
}

# The opening every engine lab test shares: root, the lab up, a work directory named after
# PREFIX, and the engine and lab cleaned up when the test exits.
engine_lab_begin() { # PREFIX
    lab_require_root
    lab_quiet=1
    lab_ensure_up
    WORK=$(mktemp -d "/tmp/$1.XXXXXX")
    trap 'engine_clean_up; lab_clean_up; exit $?' EXIT
    lab_export_env
    engine_store
}
