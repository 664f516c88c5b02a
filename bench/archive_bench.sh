#!/bin/bash
# Times packing a >= 1 GiB tree with ZipWriter + block map against `zip -1 -r -q`, and
# extracting it with ZipReader against `unzip -q`, with the peak RSS of each.
#   bench/archive_bench.sh [path/to/zip_bench] [work folder]
# The work folder (default /tmp/quendle-archive-bench) is deleted afterwards.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/zip_bench}
work=${2:-/tmp/quendle-archive-bench}
[ -x "$bench" ] || { echo "zip_bench not found at $bench (build the zip_bench target)" >&2; exit 2; }
for tool in zip unzip /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work/tree/text" "$work/tree/binary" "$work/tree/random" "$work/tree/small"
trap 'rm -rf "$work"' EXIT
tree=$work/tree

echo "generating the tree in $tree ..."
# head closes its pipe early on purpose.
set +o pipefail
# Source text: compressible the way real text is (repeats lie beyond deflate's 32 KiB window).
find /usr/include -type f -name '*.h' -print0 | xargs -0 cat 2>/dev/null | head -c $((32 << 20)) > "$work/seed.txt"
for i in $(seq 1 15); do cat "$work/seed.txt"; done | head -c $((450 << 20)) > "$tree/text/big.txt"
# Machine code: moderately compressible.
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +1M -print0 |
    xargs -0 cat 2>/dev/null | head -c $((250 << 20)) > "$tree/binary/big.bin"
# Incompressible.
head -c $((300 << 20)) /dev/urandom > "$tree/random/big.bin"
# Thousands of small files of 1 to 20 KiB.
python3 - "$work/seed.txt" "$tree/small" <<'PY'
import os, random, sys
seed = open(sys.argv[1], "rb").read()
random.seed(1)
for i in range(5000):
    d = os.path.join(sys.argv[2], "d%02d" % (i % 50))
    os.makedirs(d, exist_ok=True)
    n = random.randint(1024, 20 * 1024)
    at = random.randint(0, len(seed) - n)
    with open(os.path.join(d, "f%04d.txt" % i), "wb") as f:
        f.write(seed[at:at + n])
PY
rm -f "$work/seed.txt"
set -o pipefail
total=$(du -sb "$tree" | cut -f1)
files=$(find "$tree" -type f | wc -l)
echo "tree: $files files, $((total >> 20)) MiB"
# Warm the page cache so that both packers read from memory alike.
find "$tree" -type f -print0 | xargs -0 cat > /dev/null

measure() { # label, command...
    local label=$1; shift
    local log=$work/time.log
    /usr/bin/time -v "$@" > /dev/null 2> "$log" || { cat "$log" >&2; exit 1; }
    local elapsed rss
    elapsed=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
    rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
    printf '%-34s %10s  %8d KiB peak RSS\n' "$label" "$elapsed" "$rss"
}

echo
measure "pack: zip_bench (block map)" "$bench" pack "$tree" "$work/quendle.appv"
measure "pack: zip -1 -r -q" sh -c "cd '$tree' && zip -1 -r -q '$work/zip.zip' ."
printf '%-34s %10s\n' "archive sizes (MiB): ours / zip" \
    "$(( $(stat -c %s "$work/quendle.appv") >> 20 )) / $(( $(stat -c %s "$work/zip.zip") >> 20 ))"
measure "extract: zip_bench" "$bench" extract "$work/quendle.appv" "$work/out-ours"
rm -rf "$work/out-ours"
measure "extract: unzip -q (same archive)" unzip -q "$work/quendle.appv" -d "$work/out-unzip"
rm -rf "$work/out-unzip"
if [ -f "$here/../tests/archive/verify_appv.py" ]; then
    measure "verify_appv.py (block map check)" /usr/bin/python3 "$here/../tests/archive/verify_appv.py" \
        "$work/quendle.appv"
fi
