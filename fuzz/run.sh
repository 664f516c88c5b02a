#!/usr/bin/env bash
# Runs one fuzz target for a while on its corpus and prints libFuzzer's final line.
#
#   fuzz/run.sh TARGET SECONDS [build folder]     default build folder: fuzz/build
#
# The corpus grows in <build>/corpus/TARGET (seeded by make_corpus.py when missing); crashes,
# leaks and timeouts are written to <build>/artifacts/TARGET/ and make the script fail. The full
# log is <build>/logs/TARGET.log.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
seconds="$2"
build="${3:-${FUZZ_BUILD:-$root/fuzz/build}}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
binary="$build/$target"
[ -x "$binary" ] || binary="$build/fuzz/$target"
[ -x "$binary" ] || { echo "no $target in $build: run fuzz/build.sh first" >&2; exit 2; }

corpus="$build/corpus"
if [ ! -d "$corpus/$target" ]; then
    tool=""
    for t in "$root"/build/make_demo_package "$root"/build-*/make_demo_package; do
        [ -x "$t" ] && tool="$t" && break
    done
    python3 "$root/fuzz/make_corpus.py" "$corpus" ${tool:+--demo-tool "$tool"} \
        --samples "$root/../shared/samples" >/dev/null
fi
mkdir -p "$corpus/$target" "$build/artifacts/$target" "$build/logs"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
log="$build/logs/$target.log"
status=0
"$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target/" "$corpus/$target" >"$log" 2>&1 || status=$?
grep -E '^#[0-9]+ +DONE|^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed "s/^/$target: /" || true
if [ "$status" -ne 0 ]; then
    echo "$target: FAILED (exit $status), see $log" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || true
fi
exit "$status"
