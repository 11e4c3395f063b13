#!/bin/bash
# Builds and runs the upload CRC benchmark: crc_update against zlib's
# crc32() and a bytewise table over 256 MiB. Usage: bench/crc/run.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${1:-$repo/build/bench}"
mkdir -p "$build"
g++ -std=c++20 -O2 -Wall -Wextra -I "$repo/src" "$here/crc_bench.cc" "$repo/src/transfer/crc32.cc" \
  -o "$build/crc_bench" -lz
"$build/crc_bench"
