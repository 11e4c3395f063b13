#!/bin/bash
# Installs every missing package, builds marlod in debug under
# AddressSanitizer + UndefinedBehaviorSanitizer and runs the whole suite
# against that build: the unit tests, and the end-to-end tests against the
# daemon started by the real super-server; then builds the fuzz targets
# with clang and runs each for three seconds. The sanitized build makes every
# source folder a shared library linked with -z defs, so a call from one
# folder into a folder above it fails to link. (The hardened release
# configuration is what scripts/demo.sh builds.)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing_packages

jobs=$(nproc)

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMARLOD_SANITIZE=ON -DMARLOD_SHARED_LAYERS=ON \
      -DCMAKE_INSTALL_PREFIX="$PWD/build/asan-prefix" >/dev/null
cmake --build build/asan -j "$jobs"
cmake --install build/asan >/dev/null

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$jobs"

# A finding (crash, sanitizer report or an input taking over a second)
# fails the suite, after the end-to-end tests have had their run; its input
# stays in build/fuzz-findings/.
fuzz_status=0
bash tests/fuzz/run_fuzzers.sh 3 "$jobs" || fuzz_status=$?

status=0
MARLOD_PREFIX="$PWD/build/asan-prefix" /usr/bin/python3 -m pytest -q -n "$jobs" tests/e2e || status=$?
# pytest exits 5 when it collected no test; that is not a failure of ours.
if [ "$status" -ne 0 ] && [ "$status" -ne 5 ]; then exit "$status"; fi
exit "$fuzz_status"

