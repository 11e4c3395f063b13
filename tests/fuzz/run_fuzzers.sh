#!/bin/bash
# Builds the fuzz targets (clang, build/fuzz or $FUZZ_BUILD) and runs each
# one (or only the TARGETs named) for SECONDS (default 3), JOBS at a time
# (default 2), each from a copy of its seed corpus so the tree is never
# written. A run longer than a second on
# one input counts as a hang (the targets are built with -O1: without
# optimisation the sanitized code runs some inputs twenty times slower).
# Prints per target the executions, the final coverage and the findings,
# and keeps the inputs of this run's findings in build/fuzz-findings/TARGET/.
# Exits 1 when any target had a finding.
#
# Everything is inside main, which bash reads whole before it runs, so
# editing this file during a long run does not derail that run.
set -euo pipefail

run_one() {
  local target=$1 seconds=$2 corpus="$work/$1" findings="$repo/build/fuzz-findings/$1"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  cp "tests/fuzz/corpus/$target"/* "$corpus"/
  "$work/bin/${target}_fuzz" "$corpus" -max_total_time="$seconds" -timeout=1 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$work/$target.log" 2>&1 || true
}

report() {
  local failed=0 target log executions coverage found
  printf '%-16s %12s %8s %8s  %s\n' target executions cov ft findings
  for target in "$@"; do
    log="$work/$target.log"
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    found=$(find "build/fuzz-findings/$target" -type f ! -name 'slow-unit-*' | wc -l)
    # A target that did not get to run counts as a finding too.
    if [ -z "$executions" ] || grep -qE '^==[0-9]+==(ERROR|ASan)|ERROR: libFuzzer|runtime error:' "$log"; then
      found=$((found > 0 ? found : 1))
    fi
    printf '%-16s %12s %8s %8s  %s\n' "$target" "${executions:-?}" "$(echo "$coverage" | awk '{print $2}')" \
      "$(echo "$coverage" | awk '{print $4}')" "$found"
    if [ "$found" -gt 0 ]; then
      failed=1
      grep -E 'ERROR|ASan|SUMMARY|runtime error|Test unit written' "$log" | head -5 | sed 's/^/    /'
    fi
  done
  return "$failed"
}

main() {
  local seconds=${1:-3} jobs=${2:-2}
  shift $(($# < 2 ? $# : 2))
  cd "$(dirname "$0")/../.."
  repo=$PWD

  local targets=("$@") source target running=0
  if [ "${#targets[@]}" -eq 0 ]; then
    for source in tests/fuzz/*_fuzz.cc; do targets+=("$(basename "$source" _fuzz.cc)"); done
  fi

  # FUZZ_BUILD names a build configured with MARLOD_FUZZ already (the test
  # command's own); without it the targets get a build of their own.
  local build=${FUZZ_BUILD:-build/fuzz}
  if [ -z "${FUZZ_BUILD:-}" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -gline-tables-only" -DMARLOD_FUZZ=ON -DMARLOD_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j "$jobs" --target "${targets[@]/%/_fuzz}"

  work=$(mktemp -d /tmp/marlod-fuzz-run-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  # In a build of shared layers libFuzzer's link puts the C++ library ahead
  # of the sanitizer runtime's; nothing in it allocates before the runtime
  # is up, so the order check is skipped.
  export ASAN_OPTIONS=abort_on_error=1:symbolize=1:verify_asan_link_order=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer; fi

  # The runs use copies, so a rebuild meanwhile does not pull a binary away.
  mkdir -p "$work/bin"
  for target in "${targets[@]}"; do cp "$build/tests/fuzz/${target}_fuzz" "$work/bin/"; done

  for target in "${targets[@]}"; do
    run_one "$target" "$seconds" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
      wait -n
      running=$((running - 1))
    fi
  done
  wait
  report "${targets[@]}"
}

main "$@"
