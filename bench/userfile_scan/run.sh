#!/bin/bash
# Builds the libraries without sanitizers and runs the admission-scan
# benchmark: find_user_by_ip over 1,000 and 10,000 userfiles beside `cat`
# reading the same files. Usage: bench/userfile_scan/run.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${1:-$repo/build/bench}"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLOD_TESTS=OFF >/dev/null
ninja -C "$build" -j2 marlod >/dev/null
g++ -std=c++20 -O2 -I "$repo/src" "$here/userfile_scan_bench.cc" -o "$build/userfile_scan_bench" \
  "$build"/libmarlod_userdb.a "$build"/libmarlod_config.a "$build"/libmarlod_core.a -lcrypt
"$build/userfile_scan_bench"
