#!/usr/bin/env bash
# The short fuzzing run for CI: builds every target and fuzzes each for SECONDS (default 60),
# two at a time. Fails when any target finds a crash, a leak, a timeout or an undefined-behaviour
# report; the inputs are then under <build>/artifacts/<target>/.
#
#   fuzz/smoke.sh [SECONDS]          build folder: $FUZZ_BUILD or fuzz/build
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
export FUZZ_BUILD="${FUZZ_BUILD:-$root/fuzz/build}"
"$root/fuzz/build.sh" || exit 2

targets=()
for f in "$root"/fuzz/*_fuzzer.cpp; do targets+=("$(basename "$f" .cpp)"); done
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    for t in "${targets[@]:i:2}"; do
        "$root/fuzz/run.sh" "$t" "$seconds" "$FUZZ_BUILD" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do
        wait "$p" || failed=1
    done
done
exit "$failed"
