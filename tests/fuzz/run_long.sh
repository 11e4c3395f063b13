#!/bin/bash
# The long fuzzing run: every target for SECONDS (default 600), two at a
# time, with the figures of run_fuzzers.sh.
exec "$(dirname "$0")/run_fuzzers.sh" "${1:-600}" 2
