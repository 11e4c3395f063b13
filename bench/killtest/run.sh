#!/bin/bash
# The kill test: ROUNDS rounds of SIGKILL to a random session process in the
# middle of uploads, downloads, logins and SITE commands, against marlod
# under systemd-socket-activate; killtest.py checks the files, the logins
# and the credits after every round. Not part of the test suite.
#
#   bench/killtest/run.sh [REPORT_FILE]
#
# PREFIX: an installed build (default: a Release build made here into
# build/rel/prefix). ROUNDS (200), ACCOUNTS (20), MARLOD_PORT (23225), SEED.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
ROUNDS=${ROUNDS:-200}
ACCOUNTS=${ACCOUNTS:-20}
export MARLOD_PORT=${MARLOD_PORT:-23225}
export MARLOD_SITE=${MARLOD_SITE:-/tmp/marlod-killtest.$$}
REPORT=${1:-/tmp/marlod-killtest-$(date +%Y%m%d-%H%M%S).json}

source "$REPO/bench/soak/soak_site.sh"
use_release_build "$REPO"
export PREFIX
# shellcheck source=../transfer/marlod_site.sh
source "$REPO/bench/transfer/marlod_site.sh"
trap 'set +e; stop_marlod' EXIT  # stop_marlod's wait returns the launcher's status

make_soak_site "$ACCOUNTS" 50 10
# GIVE needs the give flag.
sed -i 's/^FLAGS .*/FLAGS 3G/' "$MARLOD_SITE"/root/ftp-data/users/soak*
start_marlod -i -o

/usr/bin/python3 "$HERE/killtest.py" --port "$MARLOD_PORT" --site "$MARLOD_SITE" \
    --launcher "$MARLOD_LAUNCHER_PID" --users "$ACCOUNTS" --rounds "$ROUNDS" \
    ${SEED:+--seed "$SEED"} --report "$REPORT"
