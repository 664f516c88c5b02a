#!/usr/bin/env bash
# Benchmark, not a test: /Diff of two packages of about 1 GiB that differ in one file, beside
# `cmp` of the two package files (which stops at the first byte that differs) and `cmp` of the
# package against an identical copy (which reads both files whole). Each time is the median of
# 3 runs with a warm page cache; /Diff reads only the directories, the block maps and the small
# parts, so its time does not grow with the size of the files.
#
#   bench/diff_bench.sh [build folder] [work folder]
#
# Needs about 4 GiB free under the work folder; the work folder is deleted afterwards.
# QUENDLE_BENCH_SCALE=16 divides every size by 16, for a quick try of the script itself.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/bench_lib.sh
bench_setup diff "${1:-}" "${2:-}" cmp python3

echo "Generating the package content in $work ..."
src=$work/source
cp -r demo "$src"
root="$src/Root/VFS/ProgramFilesX86/Demo Notes/data"
bench_content "$root" 256 128 904 2000
rm -f "$work/seed.txt"
old=$work/old.appv new=$work/new.appv copy=$work/copy.appv
"$build/make_demo_package" "$src" "$old" > /dev/null
rm -rf "$src"
cp "$old" "$copy"
cp "$old" "$new"
echo "one changed line" > "$work/changed.txt"
NO_COLOR=1 "$build/quendle" /Update "$new" Update-File \
    'Root\VFS\ProgramFilesX86\Demo Notes\data\small\d20\f0100.txt' "$work/changed.txt" > /dev/null
echo "packages: $(( $(stat -c %s "$old") >> 20 )) MiB and $(( $(stat -c %s "$new") >> 20 )) MiB," \
    "$(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' "$old") entries"
cat "$old" "$new" "$copy" > /dev/null # warm the page cache alike for every contender

# The median wall time of 3 runs, in seconds; the command's exit status 0 or 1 both count.
median() {
    python3 - "$@" <<'PY'
import subprocess, sys, time
times = []
for _ in range(3):
    start = time.perf_counter()
    r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
    if r.returncode not in (0, 1):
        sys.exit("failed: %s (exit %d)" % (" ".join(sys.argv[1:]), r.returncode))
print("%.3f" % sorted(times)[1])
PY
}

echo "What /Diff reports:"
NO_COLOR=1 "$build/quendle" /Diff "$old" "$new" | sed 's/^/    /' || true
ours=$(median "$build/quendle" /Diff "$old" "$new")
ours_json=$(median "$build/quendle" /Diff "$old" "$new" -json)
cmp_diff=$(median cmp -s "$old" "$new")
cmp_same=$(median cmp -s "$old" "$copy")
printf '%-44s %8s s\n' "quendle /Diff old new" "$ours" "quendle /Diff old new -json" "$ours_json" \
    "cmp old new (stops at the first difference)" "$cmp_diff" "cmp old copy (reads both whole)" "$cmp_same"
python3 -c 'import sys; o, c = map(float, sys.argv[1:]); print("ratio /Diff : cmp of identical files = %.3f" % (o / c)); sys.exit(0 if o < 1 else 1)' \
    "$ours" "$cmp_same" || { echo "/Diff took 1 s or more" >&2; exit 1; }
