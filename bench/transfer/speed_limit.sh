#!/bin/bash
# speed_limit.sh [SIZE_MB] [LIMIT]: how closely `speed_limit` holds a curl
# download of SIZE_MB (default 20) megabytes to LIMIT bytes/s (default
# 1,000,000). Prints the achieved rate and its deviation from the limit.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
PROJECT=$(cd "$HERE/../.." && pwd)
PREFIX=${MARLOD_PREFIX:-$PROJECT/build-bench/prefix}
SIZE_MB=${1:-20}
LIMIT=${2:-1000000}
TREE=$(mktemp -d /tmp/marlod-speed-tree.XXXXXX)
head -c $((SIZE_MB * 1000000)) /dev/urandom > "$TREE/big.bin"
head -c 1048576 /dev/urandom > "$TREE/small.bin"
mkdir "$TREE/many"
source "$HERE/marlod_site.sh"
trap 'stop_marlod; rm -rf "$TREE" "$MARLOD_SITE"' EXIT
make_marlod_site
echo "speed_limit /* $LIMIT 0 *" >> "$MARLOD_SITE/marlod.conf"
start_marlod
out=$(curl -sS --max-time 600 -u bench:benchpw -o /dev/null -w '%{speed_download} %{time_total}' \
      "ftp://127.0.0.1:$MARLOD_PORT/big.bin")
read -r speed seconds <<<"$out"
awk -v s="$speed" -v l="$LIMIT" -v t="$seconds" -v mb="$SIZE_MB" \
    'BEGIN { printf "speed_limit %d B/s, %d MB in %.2f s: %.0f B/s (%+.1f%%)\n", l, mb, t, s, (s - l) * 100 / l }'
