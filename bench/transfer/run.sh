#!/bin/bash
# run.sh [OUTFILE]: one sitting of the transfer benchmark, side by side on
# loopback: marlod, vsftpd, pure-ftpd and proftpd each serve the same tree
# (/tmp/benchtree from the bench kit) in turn, never together:
#   - a 1 GiB download with curl from the page cache (MB/s, median of 5),
#   - 50 downloads of a 1 MiB file in one session, in $SMALL_SESSIONS (3)
#     sessions (MB/s, the median of the sessions' medians: one session's
#     speed depends on where the scheduler puts its process and varies by a
#     third between sessions of the same server here),
#   - LIST of a directory of 10,000 files (ms, median of 10),
#   - the kit's mixed workload: 8 clients for 20 s, each looping login,
#     TYPE I, CWD, LIST, RETR of the 1 MiB file, QUIT (operations/s),
# and the machine's loopback limit measured with a sendfile sender.
#
# marlod comes from $MARLOD_PREFIX (default build-bench/prefix: a Release
# build, `cmake -B build-bench -DCMAKE_BUILD_TYPE=Release -DMARLOD_TESTS=OFF`,
# `ninja -C build-bench`, `cmake --install build-bench --prefix build-bench/prefix`)
# and runs under systemd-socket-activate on port $MARLOD_PORT (2214), one
# process per connection as in production. Needs root. Only the servers this
# script started are stopped again (a peer that is already running belongs
# to another sitting: it is skipped and left alone).
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
PROJECT=$(cd "$HERE/../.." && pwd)
KIT=${KIT:-$PROJECT/../shared/bench-kit}
PREFIX=${MARLOD_PREFIX:-$PROJECT/build-bench/prefix}
PEERS=${PEERS:-/tmp/peers}
PEERS_LIST=${PEERS_LIST:-"vsftpd pure-ftpd proftpd"}
OUT=${1:-/tmp/marlod-transfer-bench.txt}
TREE=/tmp/benchtree

source "$HERE/marlod_site.sh"

measure() {  # NAME PORT
    local name=$1 port=$2
    echo; echo "## $name (port $port)"
    "$KIT/curl_retr.sh" 127.0.0.1 "$port" bench benchpw big.bin 5 | sed "s/^/[$name] /"
    for _ in $(seq "${SMALL_SESSIONS:-3}"); do
        "$KIT/ftpbench.py" --port "$port" retr --file small.bin --repeat 50 | sed "s/^/[$name] /"
    done
    "$KIT/ftpbench.py" --port "$port" list --dir many --repeat 10 | sed "s/^/[$name] /"
    "$KIT/ftpbench.py" --port "$port" mixed --clients 8 --seconds 20 | sed "s/^/[$name] /"
}

main() {
    STARTED=""
    trap 'stop_marlod; for n in $STARTED; do "$KIT/peers.sh" stop "$n" >/dev/null 2>&1; done' EXIT INT TERM
    echo "# marlod transfer benchmark, $(date -u +%FT%TZ), $(nproc) cpus"
    [ -x "$PREFIX/sbin/marlod" ] || { echo "no marlod under $PREFIX (see the header)"; exit 1; }
    [ -x "$PEERS/vsftpd/usr/sbin/vsftpd" ] || "$KIT/peers.sh" prepare
    BENCH_HASH=sha512 "$KIT/make_tree.sh" | tail -2
    # A tree made just now is still being written out; the first server
    # measured would pay for that alone.
    sync

    echo; echo "## loopback limit (sendfile sender, curl reader)"
    "$KIT/ftpbench.py" loopback --mode sendfile --reader curl --repeat 5

    make_marlod_site
    start_marlod
    measure marlod "$MARLOD_PORT"
    stop_marlod

    for n in $PEERS_LIST; do
        if [ -s "$PEERS/run/$n/pid.bench" ] && kill -0 "$(cat "$PEERS/run/$n/pid.bench")" 2>/dev/null; then
            echo "## $n is running for another sitting: skipped"; continue
        fi
        "$KIT/peers.sh" start "$n" || continue
        STARTED="$n"
        case $n in vsftpd) p=2201 ;; pure-ftpd) p=2202 ;; proftpd) p=2203 ;; esac
        measure "$n" "$p"
        "$KIT/peers.sh" stop "$n"
        STARTED=""
        sleep 2
    done

    echo; echo "## loopback limit (end of sitting)"
    "$KIT/ftpbench.py" loopback --mode sendfile --reader curl --repeat 5
    echo; echo "## summary"
    "$HERE/summary.py" "$OUT.raw"
}

main 2>&1 | tee "$OUT.raw"
"$HERE/summary.py" "$OUT.raw" > "$OUT"
