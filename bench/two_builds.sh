#!/usr/bin/env bash
# Benchmark, not a test: the one-edit save of a package of about 1 GiB by two Quendle programs,
# side by side in the same run (alternating, median of 5 each), and their ratio. For a change
# that must not slow the save down, or the Windows build under Wine against the Linux build.
#
#   bench/two_builds.sh "FIRST COMMAND" "SECOND COMMAND" [build folder] [work folder]
#
# e.g. bench/two_builds.sh build/quendle tools/wine-quendle. The build folder gives
# make_demo_package. QUENDLE_BENCH_SCALE=16 divides every size by 16. QUENDLE_BENCH_PACKAGE=FILE
# saves a copy of that package instead (one with the demo's folders, so the edit has a place).
set -euo pipefail
cd "$(dirname "$0")/.."
first=$1 second=$2
shift 2
. bench/bench_lib.sh
bench_setup two-builds "${1:-}" "${2:-}" python3
pkg=$work/pkg.appv
if [ -n "${QUENDLE_BENCH_PACKAGE:-}" ]; then
    cp "$QUENDLE_BENCH_PACKAGE" "$pkg"
else
    src=$work/source
    cp -r demo "$src"
    bench_content "$src/Root/VFS/ProgramFilesX86/Demo Notes/data" 384 256 256 4000
    rm -f "$work/seed.txt"
    "$build/make_demo_package" "$src" "$pkg" >/dev/null
    rm -rf "$src"
fi
echo "small edit" >"$work/small.txt"
# A Wine program starts a Wine server unless one runs, and the server ends 3 s after its last
# program, sooner than the next run comes: each run would pay its start (about 1 s). This one
# stays 30 s after the last.
if [[ "$first $second" == *wine* ]] && command -v wineserver >/dev/null; then
    wineserver -p30 </dev/null >/dev/null 2>&1 || true # (one already running: fine)
fi
echo "package: $(($(stat -c %s "$pkg") >> 20)) MiB"
export QUENDLE_PROGRESS=0
cat "$pkg" >/dev/null
times() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
: >"$work/first.t"
: >"$work/second.t"
for run in 1 2 3 4 5; do
    for side in first second; do
        cp "$pkg" "$work/edit.appv"
        sync # the copy's writeback, and the last run's, is not the timed run's to pay
        start=$(date +%s.%N)
        ${!side} /Update "$work/edit.appv" Add-File 'Root\VFS\ProgramFilesX86\small.txt' "$work/small.txt" >/dev/null
        echo "$(date +%s.%N) - $start" | bc >>"$work/$side.t"
    done
done
a=$(times <"$work/first.t")
b=$(times <"$work/second.t")
printf 'one-edit save, median of 5: %s %.2f s, %s %.2f s; second/first = %.2f\n' \
    "$first" "$a" "$second" "$b" "$(echo "$b / $a" | bc -l)"
