#!/bin/bash
# The user-list benchmark: SITE ALUP, GPAL, TRAFFIC and USERS over 1,000
# and 10,000 generated userfiles (ten sections each), each timed from the
# command to its final reply, beside `cat` reading the same files (warm
# cache, median of 5).
#
#   bench/lists/run.sh [PREFIX]
#
# PREFIX: an installed release build; without one the Release build is
# made into build/rel and installed into build/rel-prefix.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
PREFIX=${1:-}
if [ -z "$PREFIX" ]; then
    PREFIX=$REPO/build/rel-prefix
    cmake -S "$REPO" -B "$REPO/build/rel" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLOD_TESTS=OFF \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
    cmake --build "$REPO/build/rel" -j2 >/dev/null
    cmake --install "$REPO/build/rel" >/dev/null
fi
exec python3 "$HERE/lists_bench.py" "$PREFIX"
