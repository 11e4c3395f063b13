#!/bin/bash
# The soak: SESSIONS concurrent sessions over ACCOUNTS accounts for SECONDS,
# against marlod under systemd-socket-activate; then the checks of soak.py
# (errors, books against the clients' ledgers, online table, descriptors
# and memory per process). Not part of the test suite.
#
#   bench/soak/run.sh [REPORT_FILE]
#
# PREFIX: an installed build (default: a Release build made here into
# build/rel/prefix). SESSIONS (500), ACCOUNTS (500), SECONDS (300),
# MARLOD_PORT (23224). For a sanitized build, sanitizer reports land in
# $MARLOD_SITE/root/tmp/sanitizer.*; the run fails when there are any.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
SESSIONS=${SESSIONS:-500}
ACCOUNTS=${ACCOUNTS:-500}
SECONDS_TO_RUN=${SECONDS:-300}
export MARLOD_PORT=${MARLOD_PORT:-23224}
export MARLOD_SITE=${MARLOD_SITE:-/tmp/marlod-soak.$$}
REPORT=${1:-/tmp/marlod-soak-$(date +%Y%m%d-%H%M%S).json}

source "$HERE/soak_site.sh"
use_release_build "$REPO"
export PREFIX
# shellcheck source=../transfer/marlod_site.sh
source "$REPO/bench/transfer/marlod_site.sh"
trap 'set +e; stop_marlod' EXIT  # stop_marlod's wait returns the launcher's status

# A cut session's process finishes its logout after its client has moved on
# to the next session; with hundreds of sessions on a few cores that can
# take a while, so the site admits twice the sessions the clients keep.
make_soak_site "$ACCOUNTS" $((2 * SESSIONS)) 100
ulimit -n "$(ulimit -Hn)"  # 500 sessions and their data connections
# A sanitized build writes its reports into the root's /tmp.
export MARLOD_LAUNCHER_OPTIONS="-E ASAN_OPTIONS=detect_leaks=0:log_path=/tmp/sanitizer
    -E UBSAN_OPTIONS=print_stacktrace=1:log_path=/tmp/sanitizer"
start_marlod -i -o

status=0
/usr/bin/python3 "$HERE/soak.py" --port "$MARLOD_PORT" --site "$MARLOD_SITE" \
    --launcher "$MARLOD_LAUNCHER_PID" --ipc-key "$MARLOD_IPC_KEY" --users "$ACCOUNTS" \
    --sessions "$SESSIONS" --slots $((2 * SESSIONS + 100)) --seconds "$SECONDS_TO_RUN" \
    --report "$REPORT" || status=$?
# The daemon's error log goes beside the report (the site is removed).
cp "$MARLOD_SITE/root/ftp-data/logs/error.log" "${REPORT%.json}.error.log" 2>/dev/null || true
if ls "$MARLOD_SITE"/root/tmp/sanitizer* >/dev/null 2>&1; then
    echo "sanitizer reports:"; cat "$MARLOD_SITE"/root/tmp/sanitizer*; status=1
fi
grep -v 'Listening on\|Communication attempt\|Connection from\|Execing\|Spawned' \
    "$MARLOD_SITE/launcher.log" | sort | uniq -c | sort -rn | head -5 || true
echo "report: $REPORT"
exit $status
