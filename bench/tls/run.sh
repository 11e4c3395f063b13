#!/bin/bash
# run.sh [OUTFILE]: one sitting of the explicit-TLS benchmark on loopback:
# marlod, vsftpd (ssl_enable, TLS forced for logins and data) and pure-ftpd
# (-Y 2: TLS only) take in turn, never together,
#   - TLS sessions/s, 8 in parallel (AUTH TLS, USER, PASS, PBSZ, PROT P,
#     PWD, QUIT; N=$SESSIONS, default 200),
#   - a 1 GiB TLS download of big.bin (MB/s, median of $REPEAT, default 3,
#     after one unmeasured run),
#   - a 1 GiB TLS upload from memory (MB/s, median of $REPEAT),
# all with the bench kit's ftpbench.py run through tls_bench.py (the same
# client for every server; data connections resume the control session).
# All three use a P-256 certificate. The sitting ends with whether the
# kernel could take over TLS (kernel TLS keeps marlod's downloads on
# sendfile; without it marlod sends full TLS records from a 256 KiB buffer).
#
# marlod comes from $MARLOD_PREFIX (default build-bench/prefix, a release
# build as in ../transfer/run.sh) and runs per connection under
# systemd-socket-activate on $MARLOD_PORT (2224). The peers are the bench
# kit's (`peers.sh prepare`, `make_tree.sh`), configured by `peers.sh
# config` plus their TLS settings, from a run directory of their own on
# ports 2221 and 2222. Needs root. Only what this script started is stopped.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
PROJECT=$(cd "$HERE/../.." && pwd)
KIT=${KIT:-$PROJECT/../shared/bench-kit}
PREFIX=${MARLOD_PREFIX:-$PROJECT/build-bench/prefix}
SHARED_PEERS=${SHARED_PEERS:-/tmp/peers}
OUT=${1:-/tmp/marlod-tls-bench.txt}
TREE=/tmp/benchtree
SESSIONS=${SESSIONS:-200}
REPEAT=${REPEAT:-3}
export MARLOD_PORT=${MARLOD_PORT:-2224}
export VSFTPD_PORT=2221 PUREFTPD_PORT=2222 PASV_MIN=31000 PASV_MAX=31999
WORK=$(mktemp -d /tmp/marlod-tls-bench.XXXXXX)
export PEERS=$WORK/peers
PEER_PID=""

MARLOD_CREATE_OPTIONS=--tls
source "$PROJECT/bench/transfer/marlod_site.sh"

measure() {  # NAME PORT
    local name=$1 port=$2 bench=("$HERE/tls_bench.py" "$KIT" --port "$2")
    echo; echo "## $name (port $port), load average $(cut -d' ' -f1-3 /proc/loadavg)"
    "${bench[@]}" sessions --n 20 --par 1 >/dev/null  # warm-up
    "${bench[@]}" sessions --n "$SESSIONS" --par 8 | sed "s/^/[$name] /"
    "${bench[@]}" retr --file big.bin --repeat "$REPEAT" | sed "s/^/[$name] /"
    "${bench[@]}" stor --size 1024 --repeat "$REPEAT" --remote upload/tls-stor.bin | sed "s/^/[$name] /"
}

start_peer() {  # NAME: the kit's configuration and TLS on top
    local name=$1 base
    base=$("$KIT/peers.sh" config "$name")
    case $name in
    vsftpd)
        { echo "$base"
          printf '%s\n' ssl_enable=YES "rsa_cert_file=$WORK/peer.pem" "rsa_private_key_file=$WORK/peer.key" \
              ssl_ciphers=HIGH force_local_logins_ssl=YES force_local_data_ssl=YES require_ssl_reuse=YES
        } >"$WORK/vsftpd-tls.conf"
        setsid "$PEERS/vsftpd/usr/sbin/vsftpd" "$WORK/vsftpd-tls.conf" </dev/null >"$WORK/vsftpd.log" 2>&1 &
        PEER_PID=$! ;;
    pure-ftpd)
        # shellcheck disable=SC2086
        setsid "$PEERS/pure-ftpd/usr/sbin/pure-ftpd" ${base#pure-ftpd } -Y 2 -2 "$WORK/peer.pem,$WORK/peer.key" \
            </dev/null >"$WORK/pure-ftpd.log" 2>&1 &
        PEER_PID=$! ;;
    esac
    sleep 1
}

stop_peer() {
    [ -n "$PEER_PID" ] || return 0
    kill "$PEER_PID" 2>/dev/null; wait "$PEER_PID" 2>/dev/null
    PEER_PID=""
}

main() {
    trap 'stop_marlod; stop_peer; rm -rf "$WORK"' EXIT INT TERM
    echo "# marlod TLS benchmark, $(date -u +%FT%TZ), $(nproc) cpus, $(openssl version)"
    [ -x "$PREFIX/sbin/marlod" ] || { echo "no marlod under $PREFIX"; exit 1; }
    [ -x "$SHARED_PEERS/vsftpd/usr/sbin/vsftpd" ] || "$KIT/peers.sh" prepare
    BENCH_HASH=sha512 "$KIT/make_tree.sh" | tail -1
    mkdir -p "$PEERS/run"
    for unpacked in vsftpd pure-ftpd proftpd-core; do ln -s "$SHARED_PEERS/$unpacked" "$PEERS/$unpacked"; done
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=bench \
        -keyout "$WORK/peer.key" -out "$WORK/peer.pem" 2>/dev/null

    make_marlod_site
    read -r uid gid < <(awk -F: '$1 == "bench" { print $3, $4 }' "$MARLOD_SITE/root/etc/passwd")
    install -d -m 0755 -o "$uid" -g "$gid" "$MARLOD_SITE/root/upload"
    start_marlod
    measure marlod "$MARLOD_PORT"
    stop_marlod

    for name in vsftpd pure-ftpd; do
        start_peer "$name"
        case $name in vsftpd) port=$VSFTPD_PORT ;; pure-ftpd) port=$PUREFTPD_PORT ;; esac
        measure "$name" "$port"
        stop_peer
    done

    echo
    if grep -qw tls /proc/sys/net/ipv4/tcp_available_ulp 2>/dev/null || modprobe -q tls 2>/dev/null; then
        echo "# kernel TLS: available (marlod sends downloads with SSL_sendfile when OpenSSL enables it)"
    else
        echo "# kernel TLS: not available here (no 'tls' upper-layer protocol); marlod used TLS records from user space"
    fi
}

main 2>&1 | tee "$OUT"
echo "results: $OUT"
