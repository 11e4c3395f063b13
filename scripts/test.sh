#!/bin/bash
# Installs every missing package, builds marlod once with clang under
# AddressSanitizer + UndefinedBehaviorSanitizer, with libFuzzer's coverage
# instrumentation, and runs the whole suite against that build: the unit
# tests, each fuzz target for three seconds, and the end-to-end tests against
# the daemon started by the real super-server. The build makes every source
# folder a shared library linked with -z defs, so a call from one folder
# into a folder above it fails to link. It is optimised lightly (-O1): the
# sanitized code runs some fuzz inputs twenty times slower without. (The
# hardened release configuration, built with g++, is what scripts/demo.sh
# builds.) That configuration links the daemon statically, so a short
# release build then runs the end-to-end tests of what a static daemon does
# differently: loading the TLS engine module, name lookups, password checks,
# start-up and uploads.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_missing_packages

jobs=$(nproc)

CC=clang-14 CXX=clang++-14 cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -gline-tables-only" -DMARLOD_FUZZ=ON -DMARLOD_SHARED_LAYERS=ON \
      -DCMAKE_INSTALL_PREFIX="$PWD/build/check-prefix" >/dev/null
cmake --build build/check -j "$jobs"
cmake --install build/check >/dev/null

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/check --output-on-failure -j "$jobs"

# A finding (crash, sanitizer report or an input taking over a second)
# fails the suite, after the end-to-end tests have had their run; its input
# stays in build/fuzz-findings/.
fuzz_status=0
FUZZ_BUILD=build/check bash tests/fuzz/run_fuzzers.sh 3 "$jobs" || fuzz_status=$?

status=0
MARLOD_PREFIX="$PWD/build/check-prefix" /usr/bin/python3 -m pytest -q -n "$jobs" tests/e2e || status=$?
# pytest exits 5 when it collected no test; that is not a failure of ours.
if [ "$status" -ne 0 ] && [ "$status" -ne 5 ]; then exit "$status"; fi

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLOD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$PWD/build/release-prefix" >/dev/null
cmake --build build/release -j "$jobs"
cmake --install build/release >/dev/null
MARLOD_PREFIX="$PWD/build/release-prefix" /usr/bin/python3 -m pytest -q -n "$jobs" \
  tests/e2e/test_tls.py tests/e2e/test_ident_admission.py tests/e2e/test_login.py \
  tests/e2e/test_startup.py tests/e2e/test_upload.py
exit "$fuzz_status"

