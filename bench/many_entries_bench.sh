#!/usr/bin/env bash
# Benchmark, not a test: the memory of one edit of a package of many small files. Builds a
# package of 100,000 small files (QUENDLE_BENCH_ENTRIES changes the number), then prints, side by
# side in the same run, the wall time and peak RSS (/usr/bin/time -v) of a quendle Add-File of one
# small file and of `cp` of the package file, and checks that the saved package still tests clean
# with unzip.
#
#   bench/many_entries_bench.sh [build folder] [work folder] [second quendle to compare]
#
# With a second quendle (an older build, say), both save the same package with the same
# SOURCE_DATE_EPOCH and the two saved packages are compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/quendle-many-bench-XXXXXX")}
other=${3:-}
mkdir -p "$work"
work=$(realpath "$work")
count=${QUENDLE_BENCH_ENTRIES:-100000}
trap 'rm -rf "$work"' EXIT
for tool in "$build/quendle" "$build/make_demo_package" /usr/bin/time unzip python3; do
    [ -x "$tool" ] || command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

echo "Generating $count small files in $work ..."
src=$work/source
cp -r demo "$src"
python3 - "$src/Root/VFS/ProgramFilesX86/Demo Notes/many" "$count" <<'PY'
import os, random, sys
random.seed(1)
words = [b"alpha", b"beta", b"gamma", b"delta", b"notes", b"quendle", b"package", b"\n"]
for i in range(int(sys.argv[2])):
    d = os.path.join(sys.argv[1], "d%03d" % (i % 500))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file%06d.txt" % i), "wb") as f:
        f.write(b" ".join(random.choice(words) for _ in range(random.randint(8, 200))))
PY
echo "small edit" > "$work/small.txt"
pkg=$work/pkg.appv
"$build/make_demo_package" "$src" "$pkg" > /dev/null
rm -rf "$src"
cp "$pkg" "$work/base.appv"
echo "package: $(unzip -Z1 "$pkg" | wc -l) entries, $(( $(stat -c %s "$pkg") >> 20 )) MiB"
cat "$pkg" > /dev/null

# Prints "seconds peakRssKiB" of one run.
measure() {
    /usr/bin/time -v -o "$work/time.log" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    echo "$(awk -F': ' '/Elapsed/ {split($2, t, ":"); print t[1] * 60 + t[2]}' "$work/time.log")" \
        "$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time.log")"
}
export SOURCE_DATE_EPOCH=1700000000 NO_COLOR=1
edit="Root\\VFS\\x.txt"
read -r qs qr < <(measure "$build/quendle" /Update "$pkg" Add-File "$edit" "$work/small.txt")
unzip -tq "$pkg" > /dev/null && echo "saved package: unzip -t ok"
mv "$pkg" "$work/ours.appv"
cp "$work/base.appv" "$pkg"
read -r cs cr < <(measure cp "$work/base.appv" "$work/copy.appv")
rm -f "$work/copy.appv"
printf '%-32s %8.2f s  %8d KiB peak RSS\n' "quendle one-edit save" "$qs" "$qr" "cp of the package" "$cs" "$cr"
if [ -n "$other" ]; then
    read -r os or < <(measure "$other" /Update "$pkg" Add-File "$edit" "$work/small.txt")
    printf '%-32s %8.2f s  %8d KiB peak RSS\n' "the other quendle, same edit" "$os" "$or"
    cmp "$pkg" "$work/ours.appv" && echo "the two saved packages are byte-identical"
fi
echo "ratios: one-edit save $(python3 -c "print('%.1f' % ($qs / max($cs, 0.01)))")x the time of cp;" \
    "peak RSS $((qr >> 10)) MiB for $count entries"
