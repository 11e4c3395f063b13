#!/bin/bash
# The long fuzzing run: every target (or the TARGETs named) for SECONDS
# (default 600), two at a time, with the figures of run_fuzzers.sh.
seconds=${1:-600}
shift $(($# > 0 ? 1 : 0))
exec "$(dirname "$0")/run_fuzzers.sh" "$seconds" 2 "$@"
