#!/bin/bash
# The session benchmark: connect, USER, PASS, PWD, QUIT, 300 sessions one at
# a time, 8 in parallel all of one account, and 8 in parallel over 8
# accounts (each client thread its own), against marlod under
# systemd-socket-activate and
# against vsftpd, pure-ftpd and proftpd from Debian, side by side in one
# sitting on loopback ports. Uses the bench kit beside the project (its
# peers, its test user bench/benchpw and its ftpbench.py).
#
#   bench/sessions/run.sh [RESULTS_FILE]
#
# MARLOD_PREFIX: an installed release build (default: built here into
# build-bench/). N (300), PARALLEL ("1 8 8x8": P in parallel, PxK over K
# accounts bench1..benchK, made here for marlod and as system users for the
# peers, with the password and home of bench), MARLOD_PORT (2204), KIT;
# the peers listen on 2211-2213 (VSFTPD_PORT, PUREFTPD_PORT, PROFTPD_PORT).
# Prepare the peers and the user once: $KIT/peers.sh prepare; $KIT/make_tree.sh
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
KIT=${KIT:-$REPO/../shared/bench-kit}
N=${N:-300}
PARALLEL=${PARALLEL:-"1 8 8x8"}
ACCOUNTS=8
MARLOD_PORT=${MARLOD_PORT:-2204}
RESULTS=${1:-/tmp/marlod-sessions-$(date +%Y%m%d-%H%M%S).txt}
PEER_NAMES="vsftpd pure-ftpd proftpd"
# The peers run from their own run directory and ports, so that another
# sitting of the kit (the transfer benchmark) can use the default ones at
# the same time; the unpacked binaries are shared.
SHARED_PEERS=${SHARED_PEERS:-/tmp/peers}
export PEERS=${PEERS:-/tmp/peers-sessions}
export VSFTPD_PORT=${VSFTPD_PORT:-2211} PUREFTPD_PORT=${PUREFTPD_PORT:-2212}
export PROFTPD_PORT=${PROFTPD_PORT:-2213} PASV_MIN=${PASV_MIN:-30000} PASV_MAX=${PASV_MAX:-30999}
declare -A PEER_PORT=([vsftpd]=$VSFTPD_PORT [pure-ftpd]=$PUREFTPD_PORT [proftpd]=$PROFTPD_PORT)
PEERS_DIR=$PEERS

if [ -z "${MARLOD_PREFIX:-}" ]; then
    MARLOD_PREFIX=$REPO/build-bench/prefix
    cmake -S "$REPO" -B "$REPO/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMARLOD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$MARLOD_PREFIX" >/dev/null
    ninja -C "$REPO/build-bench" -j2 marlod marlod-site mkstrings >/dev/null
    cmake --install "$REPO/build-bench" >/dev/null
fi
[ -x "$KIT/peers.sh" ] || { echo "no bench kit at $KIT" >&2; exit 2; }
mkdir -p "$PEERS/run"
for unpacked in vsftpd pure-ftpd proftpd-core; do
    [ -e "$PEERS/$unpacked" ] || ln -s "$SHARED_PEERS/$unpacked" "$PEERS/$unpacked"
    [ -d "$PEERS/$unpacked/usr/sbin" ] || { echo "run $KIT/peers.sh prepare first" >&2; exit 2; }
done
id bench >/dev/null 2>&1 || { echo "run $KIT/make_tree.sh first (user bench)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/marlod-bench-sessions.XXXXXX)
IPC_KEY=$(printf '%x' $(( (RANDOM << 15 | RANDOM) + 0x10000000 )))
LAUNCHER_PID=
STARTED_PEERS=()

cleanup() {
    set +e  # every step runs, whatever the one before returned
    if [ -n "$LAUNCHER_PID" ]; then
        kill -TERM "$LAUNCHER_PID" 2>/dev/null
        wait "$LAUNCHER_PID" 2>/dev/null
    fi
    for peer in "${STARTED_PEERS[@]}"; do "$KIT/peers.sh" stop "$peer" >/dev/null 2>&1 || true; done
    ipcrm -M "0x$IPC_KEY" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# --- the marlod site: one account, no per-user login limit ----------------
"$MARLOD_PREFIX/bin/marlod-site" create "$WORK/root" --config "$WORK/marlod.conf" \
    --ipc-key "$IPC_KEY" --share "$MARLOD_PREFIX/share/marlod" >/dev/null
"$MARLOD_PREFIX/bin/marlod-site" adduser "$WORK/marlod.conf" bench benchpw --ip '*@*' >/dev/null
sed -i 's/^LOGINS .*/LOGINS 0 0 -1 -1/' "$WORK/root/ftp-data/users/bench"
for i in $(seq "$ACCOUNTS"); do
    "$MARLOD_PREFIX/bin/marlod-site" adduser "$WORK/marlod.conf" "bench$i" benchpw --ip '*@*' >/dev/null
    # The peers' accounts: system users beside bench, with its home.
    if ! id "bench$i" >/dev/null 2>&1; then
        useradd -d "$(getent passwd bench | cut -d: -f6)" -M -s /bin/sh "bench$i"
        echo "bench$i:benchpw" | chpasswd -c SHA512
    fi
done
sed -i 's/^max_users .*/max_users 50 10/' "$WORK/marlod.conf"

# -n 0 -I: no reverse lookups and no ident queries, as the peers are set up.
setsid systemd-socket-activate --inetd -a -l "127.0.0.1:$MARLOD_PORT" \
    "$MARLOD_PREFIX/sbin/marlod" -r "$WORK/marlod.conf" -n 0 -I \
    </dev/null >"$WORK/launcher.log" 2>&1 &
LAUNCHER_PID=$!
for _ in $(seq 50); do grep -q "Listening on" "$WORK/launcher.log" && break; sleep 0.1; done

for peer in $PEER_NAMES; do
    pidfile=$PEERS_DIR/run/$peer/pid.bench
    if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
        echo "$peer already running; measuring it as it is"
    else
        "$KIT/peers.sh" start "$peer" >/dev/null
        STARTED_PEERS+=("$peer")
    fi
done

measure() {  # port mode count -> the kit's report (mode: P, or PxK over K accounts)
    local par=${2%x*} accounts=0
    [[ $2 == *x* ]] && accounts=${2#*x}
    SESSION_ACCOUNTS=$accounts /usr/bin/python3 "$HERE/sessions.py" "$KIT" --port "$1" \
        sessions --n "$3" --par "$par" --max-seconds 300
}

{
    echo "# session benchmark $(date -u '+%Y-%m-%d %H:%M:%S UTC') on $(nproc) cores"
    echo "# marlod: $MARLOD_PREFIX/sbin/marlod under systemd-socket-activate (-n 0 -I)"
    echo "# marlod PWD: $(printf 'USER bench\r\nPASS benchpw\r\nPWD\r\nQUIT\r\n' | \
        timeout 10 python3 -c "
import socket,sys
s=socket.create_connection(('127.0.0.1',$MARLOD_PORT),5); s.sendall(sys.stdin.buffer.read())
d=b''
while True:
    c=s.recv(4096)
    if not c: break
    d+=c
print([l for l in d.decode('latin-1').splitlines() if l[:3] in ('257','502','500')][:1])
")"
} | tee "$RESULTS"

# Warm-up (page cache, dynamic loader), unmeasured.
for server in marlod $PEER_NAMES; do
    measure "${PEER_PORT[$server]:-$MARLOD_PORT}" 1 20 >/dev/null || true
done

declare -A RATE P99
for par in $PARALLEL; do
    for server in marlod $PEER_NAMES; do
        port=${PEER_PORT[$server]:-$MARLOD_PORT}
        report=$(measure "$port" "$par" "$N" || true)
        rate=$(sed -n 's/^  sessions\/s: //p' <<<"$report")
        p99=$(sed -n 's/^  latency ms: .*p99 \([0-9.]*\).*/\1/p' <<<"$report")
        RATE[$server.$par]=${rate:-0}
        P99[$server.$par]=${p99:-0}
        { echo "## $server par=$par"; echo "$report"; } | tee -a "$RESULTS"
    done
done

table() {  # TITLE ARRAY BEST (max or min): one row per mode, marlod against the best peer
    local -n values=$2
    echo
    echo "# $1 (N=$N)"
    printf '%-10s' "par"; for server in marlod $PEER_NAMES; do printf '%12s' "$server"; done
    printf '%14s\n' "marlod/best"
    for par in $PARALLEL; do
        printf '%-10s' "$par"
        local peers=()
        for server in marlod $PEER_NAMES; do
            printf '%12s' "${values[$server.$par]}"
            [ "$server" = marlod ] || peers+=("${values[$server.$par]}")
        done
        python3 -c "import sys; best = $3(map(float, sys.argv[2:])); print('%14.2f' % (float(sys.argv[1]) / best if best else 0))" \
            "${values[marlod.$par]}" "${peers[@]}"
    done
}
{
    table "sessions/s" RATE max
    table "p99 session latency, ms (lower is better)" P99 min
} | tee -a "$RESULTS"
echo "results: $RESULTS"
